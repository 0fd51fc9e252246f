#include "mp3_library.h"

#include "support/mp3_bytes.h"
#include "support/temp_dir.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

namespace tagsnip::fault {
namespace {

constexpr std::size_t frameSize = 417;

}  // namespace

Mp3File makeMp3(const std::string& path, Tags tags, std::size_t size, unsigned seed,
                std::size_t padding, mode_t mode) {
    const std::string audio = test::mpegAudio(std::max<std::size_t>(size / frameSize, 1), seed);
    const auto paddingSize = static_cast<std::uint32_t>(padding);
    std::string original;
    switch (tags) {
        case Tags::none:
            original = audio;
            break;
        case Tags::v1:
            original = audio + test::id3v1Tag();
            break;
        case Tags::v2:
            original = test::id3v2Tag(paddingSize) + audio;
            break;
        case Tags::v2Footer:
            // The footer is not parsed, only skipped: any 10 bytes do.
            original =
                test::id3v2Tag(paddingSize, 0x10, 4) + std::string("3DI\4\0\0\0\0\0\0", 10) + audio;
            break;
        case Tags::both:
            original = test::id3v2Tag(paddingSize) + audio + test::id3v1Tag();
            break;
    }
    return {path, original, audio, mode};
}

void writeOriginal(const Mp3File& file) {
    test::writeFile(file.path, file.original, file.mode);
}

Content contentOf(const Mp3File& file) {
    struct stat st {};
    if (lstat(file.path.c_str(), &st) != 0) {
        return Content::missing;
    }
    if (!S_ISREG(st.st_mode) || (st.st_mode & 07777) != file.mode) {
        return Content::other;
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    if (size != file.original.size() && size != file.stripped.size()) {
        return Content::other;
    }
    const std::string bytes = test::readFile(file.path);
    if (bytes == file.stripped) {
        return Content::stripped;
    }
    return bytes == file.original ? Content::original : Content::other;
}

const char* contentName(Content content) {
    switch (content) {
        case Content::original:
            return "original";
        case Content::stripped:
            return "stripped";
        case Content::other:
            return "other";
        case Content::missing:
            return "missing";
    }
    return "?";
}

void PrintTo(Content content, std::ostream* out) {
    *out << contentName(content);
}

std::vector<std::string> strangers(const std::string& directory,
                                   const std::vector<Mp3File>& library) {
    std::vector<std::string> names;
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        const std::string path = directory + name;
        const bool own = std::any_of(library.begin(), library.end(),
                                     [&](const Mp3File& file) { return file.path == path; });
        if (name != "." && name != ".." && !own && entry->d_type != DT_DIR) {
            names.push_back(name);
        }
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace tagsnip::fault
