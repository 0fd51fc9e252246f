// Random files through the ID3 work, with faults injected at the stages of an ID3v2 removal:
// the file afterwards holds exactly what the removal rules give or, when a fault hit the
// removal, exactly what it held before; no temporary file survives and the mode is kept.

#include "engine/file_system.h"
#include "engine/id3_header.h"
#include "engine/id3_work.h"
#include "engine/run_state.h"
#include "fuzz_require.h"
#include "support/recording_host.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using tagsnip::FileSystem;

enum class Fault { none, shortCopy, failedSync, failedRename };

class FaultyFileSystem final : public FileSystem {
public:
    FaultyFileSystem(Fault fault, std::uint64_t copyLimit) : m_fault(fault), m_limit(copyLimit) {}

    bool hit = false;

    std::error_code copyRange(int from, std::uint64_t offset, std::uint64_t length, int to,
                              std::uint64_t toOffset) override {
        if (m_fault != Fault::shortCopy || length <= m_limit) {
            return FileSystem::copyRange(from, offset, length, to, toOffset);
        }
        hit = true;
        (void)FileSystem::copyRange(from, offset, m_limit, to, toOffset);
        return std::error_code(ENOSPC, std::generic_category());
    }
    std::error_code sync(int fd) override {
        if (m_fault == Fault::failedSync) {
            hit = true;
            return std::error_code(EIO, std::generic_category());
        }
        return FileSystem::sync(fd);
    }
    void syncTogether(const std::vector<int>& files, const std::vector<int>& directories,
                      std::vector<std::error_code>& errors) override {
        FileSystem::syncTogether(files, directories, errors);
        if (m_fault == Fault::failedSync && !files.empty()) {
            hit = true;
            std::fill_n(errors.begin(), files.size(),
                        std::error_code(EIO, std::generic_category()));
        }
    }
    std::error_code renameAt(int directory, const std::string& from,
                             const std::string& to) override {
        if (m_fault == Fault::failedRename) {
            hit = true;
            return std::error_code(EXDEV, std::generic_category());
        }
        return FileSystem::renameAt(directory, from, to);
    }

private:
    Fault m_fault;
    std::uint64_t m_limit;
};

// The rules of the ID3 work, written out plainly: the trailer test at the end (or at offset 0 in
// a file under 128 bytes), the ID3v2 test on what the trailer cut leaves.
std::string expectedContent(const std::string& in, bool remove1, bool remove2) {
    const std::size_t size = in.size();
    if (size < 3) {
        return in;
    }
    std::size_t end = size;
    const std::size_t trailerAt = size > 128 ? size - 128 : 0;
    if (remove1 && in.compare(trailerAt, 3, "TAG") == 0) {
        end = size >= 128 ? size - 128 : 0;
    }
    if (remove2 && end >= 10 && in.compare(0, 3, "ID3") == 0) {
        const auto keepFrom =
            tagsnip::id3v2KeepFrom(reinterpret_cast<const unsigned char*>(in.data()));
        return keepFrom > end ? in : in.substr(keepFrom, end - keepFrom);
    }
    return in.substr(0, end);
}

const std::string& workDirectory() {
    static const std::string directory = [] {
        const char* base = std::getenv("TAGSNIP_FUZZ_DIR");
        std::string pattern =
            std::string(base != nullptr ? base : "/dev/shm") + "/tagsnip-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        return pattern + "/";
    }();
    return directory;
}

int entriesIn(const std::string& directory) {
    int count = 0;
    DIR* dir = opendir(directory.c_str());
    while (const dirent* entry = readdir(dir)) {
        count += entry->d_name[0] != '.' ? 1 : 0;
    }
    closedir(dir);
    return count;
}

void writeWhole(const std::string& path, const std::string& bytes, mode_t mode) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
        fchmod(fd, mode) != 0) {
        std::abort();
    }
    close(fd);
}

std::string readWhole(const std::string& path, mode_t& mode) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        std::abort();
    }
    mode = st.st_mode & 07777;
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    if (read(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        std::abort();
    }
    close(fd);
    return bytes;
}

}  // namespace

// Byte 0 picks the switches and the fault, byte 1 where a short copy stops; the rest is the file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const bool remove1 = (data[0] & 1) != 0;
    const bool remove2 = (data[0] & 2) != 0;
    const auto fault = static_cast<Fault>((data[0] >> 2) & 3);
    const mode_t mode = (data[0] & 16) != 0 ? 0640 : 0604;
    const std::string content(reinterpret_cast<const char*>(data) + 2, size - 2);
    const std::string path = workDirectory() + "f.mp3";
    writeWhole(path, content, mode);

    tagsnip::test::RecordingHost host;
    host.set(tagsnip::JobSwitch::remove1, remove1);
    host.set(tagsnip::JobSwitch::remove2, remove2);
    FaultyFileSystem fileSystem(fault, data[1]);
    tagsnip::RunState state;
    tagsnip::Id3Work work(host, fileSystem, state);
    const std::string name = "f.mp3";
    const int directoryFd = open(workDirectory().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    require(directoryFd >= 0, "work directory opens");
    const tagsnip::FileResult result = work.checkID3({directoryFd, name, path}, false);
    work.commitPending();
    close(directoryFd);

    mode_t modeAfter = 0;
    const std::string after = readWhole(path, modeAfter);
    // A fault leaves the file as it was, but a flush that fails after a trailer was cut in place
    // cannot bring the trailer back: the file is then as the work left it, and reported.
    const std::string expected = expectedContent(content, remove1, remove2);
    require(after == expected || (fileSystem.hit && after == content), "content after the work");
    require(modeAfter == mode, "mode kept");
    require(entriesIn(workDirectory()) == 1, "no temporary file left");
    // A failure on the file comes back with its result, one at the batch's commit through the host.
    require(!fileSystem.hit || !result.errors.empty() || !host.errors.empty(),
            "a failed removal is reported");
    unlink(path.c_str());
    return 0;
}
