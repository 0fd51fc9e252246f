#include "engine_fixture.h"
#include "faulty_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

namespace tagsnip::test {
namespace {

using Fault = FaultyFileSystem::Fault;

class Id3WorkTest : public EngineTest {
protected:
    std::string audio = mpegAudio(30);

    std::string only(const std::string& name) { return readFile(dir / name); }
};

TEST_F(Id3WorkTest, FileWithoutTagsIsExaminedAndLeftAlone) {
    writeFile(dir / "a.mp3", audio);
    removeBoth();
    run();
    EXPECT_BYTES(only("a.mp3"), audio);
    EXPECT_EQ(rowSummaries(), std::vector<std::string>{"-- a.mp3"});
    EXPECT_EQ(state().counters.id3v1Tags, 0u);
    EXPECT_EQ(state().counters.id3v2Tags, 0u);
    EXPECT_FALSE(host.rows.back().modified);
}

TEST_F(Id3WorkTest, TagsAreCountedButKeptWhenTheirRemovalIsOff) {
    const std::string content = id3v2Tag(100) + audio + id3v1Tag();
    writeFile(dir / "a.mp3", content);
    run();
    EXPECT_BYTES(only("a.mp3"), content);
    EXPECT_EQ(rowSummaries(), std::vector<std::string>{"XX a.mp3"});
    EXPECT_EQ(host.counts[CountLabel::id3v1tags], "1");
    EXPECT_EQ(host.counts[CountLabel::id3v2tags], "1");
    EXPECT_FALSE(host.rows.back().modified);
}

TEST_F(Id3WorkTest, MarkersAreCaseSensitive) {
    std::string lowerTrailer = id3v1Tag();
    lowerTrailer.replace(0, 3, "tag");
    std::string mixedTrailer = id3v1Tag();
    mixedTrailer.replace(0, 3, "Tag");
    std::string lowerHeader = id3v2Tag(20);
    lowerHeader.replace(0, 3, "id3");
    writeFile(dir / "a.mp3", lowerHeader + audio + lowerTrailer);
    writeFile(dir / "b.mp3", audio + mixedTrailer);
    removeBoth();
    run();
    EXPECT_BYTES(only("a.mp3"), lowerHeader + audio + lowerTrailer);
    EXPECT_EQ(state().counters.id3v1Tags + state().counters.id3v2Tags, 0u);
}

TEST_F(Id3WorkTest, BothTagsRemovedLeaveExactlyTheAudio) {
    writeFile(dir / "a.mp3", id3v2Tag(500) + audio + id3v1Tag(), 0640);
    removeBoth();
    run();
    EXPECT_BYTES(only("a.mp3"), audio);
    EXPECT_EQ(modeOf(dir / "a.mp3"), 0640u);
    EXPECT_EQ(rowSummaries(), std::vector<std::string>{"XX a.mp3"});
    EXPECT_TRUE(host.rows.back().modified);
    EXPECT_EQ(listNames(dir.path()), "a.mp3");
    EXPECT_TRUE(host.errors.empty());
}

TEST_F(Id3WorkTest, OnlyTheRequestedTagIsRemoved) {
    const std::string v2 = id3v2Tag(64);
    writeFile(dir / "a.mp3", v2 + audio + id3v1Tag());
    host.set(JobSwitch::remove1, true);
    run();
    EXPECT_BYTES(only("a.mp3"), v2 + audio);

    writeFile(dir / "a.mp3", v2 + audio + id3v1Tag(), 0600);
    host.set(JobSwitch::remove1, false);
    host.set(JobSwitch::remove2, true);
    run();
    EXPECT_BYTES(only("a.mp3"), audio + id3v1Tag());
    EXPECT_EQ(modeOf(dir / "a.mp3"), 0600u);
}

struct HeaderCase {
    unsigned char flags;
    std::string sizeBytes;
    std::size_t dropped;
};

class Id3v2HeaderTest : public Id3WorkTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(Id3v2HeaderTest, DropsTagSizePlusHeaderAndFooter) {
    const HeaderCase& header = GetParam();
    std::string front =
        std::string("ID3\x04\x00", 5) + static_cast<char>(header.flags) + header.sizeBytes;
    front.resize(header.dropped, 'T');
    writeFile(dir / "a.mp3", front + audio);
    host.set(JobSwitch::remove2, true);
    run();
    EXPECT_BYTES(only("a.mp3"), audio);
}

INSTANTIATE_TEST_SUITE_P(
    FlagsAndSizes, Id3v2HeaderTest,
    ::testing::Values(HeaderCase{0x10, std::string("\x00\x00\x02\x01", 4), 277},
                      HeaderCase{0x00, std::string("\x00\x00\x02\x01", 4), 267},
                      HeaderCase{0x80, std::string("\x00\x00\x02\x01", 4), 267},
                      HeaderCase{0x40, std::string("\x00\x00\x02\x01", 4), 267},
                      HeaderCase{0x20, std::string("\x00\x00\x02\x01", 4), 267},
                      HeaderCase{0x00, std::string("\x00\x00\x00\x81", 4), 11},
                      HeaderCase{0x00, std::string("\x01\x00\x00\x00", 4), 2097162}));

TEST_F(Id3WorkTest, TagEndingExactlyAtEndOfFileLeavesAnEmptyFile) {
    writeFile(dir / "a.mp3", id3v2Tag(190));
    host.set(JobSwitch::remove2, true);
    run();
    EXPECT_BYTES(only("a.mp3"), "");
    EXPECT_TRUE(host.errors.empty());
}

TEST_F(Id3WorkTest, TagSizeBeyondEndOfFileIsDamageAndChangesNothing) {
    const std::string content = id3v2Tag(200).substr(0, 150) + id3v1Tag();
    writeFile(dir / "a.mp3", content);
    removeBoth();
    writeFile(dir / "b.mp3", id3v1Tag() + audio);
    run();
    EXPECT_BYTES(only("a.mp3"), content);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_NE(host.errors[0].find(dir / "a.mp3"), std::string::npos);
    EXPECT_EQ(state().counters.mp3Files, 2u);
    EXPECT_EQ(host.startCaption, "继续");
}

TEST_F(Id3WorkTest, TrailerOnlyFileIsCutToNothingWithoutError) {
    writeFile(dir / "a.mp3", id3v1Tag());
    removeBoth();
    run();
    EXPECT_BYTES(only("a.mp3"), "");
    EXPECT_EQ(rowSummaries(), std::vector<std::string>{"X- a.mp3"});
    EXPECT_TRUE(host.errors.empty());
}

TEST_F(Id3WorkTest, HeaderCutShortByTheTrailerCutIsAnErrorAndTheRunGoesOn) {
    writeFile(dir / "a.mp3", std::string("ID3\x03\x00\x00\x00", 7) + id3v1Tag());
    writeFile(dir / "b.mp3", id3v2Tag(30) + audio);
    removeBoth();
    run();
    EXPECT_EQ(host.errors, std::vector<std::string>{dir / "a.mp3" + " - Read beyond end of file"});
    EXPECT_BYTES(only("a.mp3"), std::string("ID3\x03\x00\x00\x00", 7));
    EXPECT_BYTES(only("b.mp3"), audio);
    EXPECT_EQ(host.startCaption, "继续");
}

TEST_F(Id3WorkTest, FailedOpenIsTriedTwiceAndReportedWithErrno) {
    auto faulty = std::make_unique<FaultyFileSystem>(Fault::open, EACCES);
    FaultyFileSystem& fs = *faulty;
    useFileSystem(std::move(faulty));
    writeFile(dir / "a.mp3", id3v2Tag(10) + audio);
    writeFile(dir / "b.mp3", audio);
    removeBoth();
    run();
    EXPECT_EQ(fs.openAttempts, 4);
    EXPECT_EQ(host.errors.size(), 2u);
    EXPECT_EQ(host.errors[0].substr(0, 13), "Could not ope");
    for (const auto& error : host.errors) {
        EXPECT_NE(error.find(" - Error #13"), std::string::npos) << error;
    }
    EXPECT_EQ(rowSummaries().size(), 2u);
    EXPECT_EQ(host.rows[0].id3v1Mark + host.rows[0].id3v2Mark, "??");
}

// A failure anywhere between the temporary file and the rename leaves the original as it was,
// including the trailer, and nothing behind in the directory.
struct FaultCase {
    Fault fault;
    std::string message;
};

class ReplacementFaultTest : public Id3WorkTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(ReplacementFaultTest, OriginalStaysIntactAndTheErrorNamesIt) {
    useFileSystem(std::make_unique<FaultyFileSystem>(GetParam().fault));
    const std::string content = id3v2Tag(100) + mpegAudio(4000) + id3v1Tag();
    writeFile(dir / "big.mp3", content, 0604);
    writeFile(dir / "next.mp3", audio + id3v1Tag());
    removeBoth();
    run();
    EXPECT_BYTES(only("big.mp3"), content);
    EXPECT_EQ(modeOf(dir / "big.mp3"), 0604u);
    EXPECT_BYTES(only("next.mp3"), audio);
    EXPECT_EQ(listNames(dir.path()), "big.mp3 next.mp3");
    ASSERT_EQ(host.errors.size(), 1u);
    std::string expected = GetParam().message;
    expected.replace(expected.find('@'), 1, dir / "big.mp3");
    EXPECT_EQ(host.errors[0], expected);
    EXPECT_EQ(state().fileErrors, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ReplacementFaultTest,
    ::testing::Values(
        FaultCase{Fault::copy, "Could not copy @ - Disk full - ID3v2 Tag not removed!"},
        FaultCase{Fault::writeThroughBuffer,
                  "Could not copy @ - Disk full - ID3v2 Tag not removed!"},
        FaultCase{Fault::syncFirst, "Could not copy @ - Disk full - ID3v2 Tag not removed!"},
        FaultCase{Fault::rename, "Could not delete @ - ID3v2 Tag not removed!"}));

// Leases, inode flags and metadata calls, for a file losing both tags (rewritten) and one losing
// only its trailer (cut in place): the file is changed exactly when nothing forbids it.
struct SharingCase {
    Fault fault;
    bool changed;
    const char* error;
};

class SharingTest : public Id3WorkTest, public ::testing::WithParamInterface<SharingCase> {};

TEST_P(SharingTest, FileChangesOnlyWhenNothingForbidsIt) {
    useFileSystem(std::make_unique<FaultyFileSystem>(GetParam().fault, ENOSYS));
    host.wording = MessageStyle::words;
    const std::string both = id3v2Tag(100) + audio + id3v1Tag();
    const std::string trailer = audio + id3v1Tag();
    writeFile(dir / "both.mp3", both, 0600);
    writeFile(dir / "trailer.mp3", trailer, 0600);
    removeBoth();
    run();
    EXPECT_BYTES(only("both.mp3"), GetParam().changed ? audio : both);
    EXPECT_BYTES(only("trailer.mp3"), GetParam().changed ? audio : trailer);
    EXPECT_EQ(listNames(dir.path()), "both.mp3 trailer.mp3");
    std::vector<std::string> expected;
    if (*GetParam().error != '\0') {
        expected = {dir / "both.mp3" + GetParam().error, dir / "trailer.mp3" + GetParam().error};
    }
    std::vector<std::string> errors = host.errors;
    std::sort(errors.begin(), errors.end());
    EXPECT_EQ(errors, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SharingTest,
    ::testing::Values(
        SharingCase{Fault::leaseRefused, false, " - in use by another program, file not changed!"},
        SharingCase{Fault::leaseBroken, false, " - in use by another program, file not changed!"},
        SharingCase{Fault::immutable, false, " - immutable or append-only, file not changed!"},
        SharingCase{Fault::leaseUnavailable, true, ""},
        SharingCase{Fault::metadataCallsFail, true, ""}));

// A batch whose flush fails names each file it hit and goes on: a new file that may not be on
// disk is never renamed over its original, and a failed directory flush is named too.
struct FlushFaultCase {
    Fault fault;
    std::vector<std::string> errors;
    bool replacedFilesKept;
    // Each replacement then is flushed and renamed on its own; its folder still is flushed.
    bool namedTemporaries = false;
};

class FlushFaultTest : public Id3WorkTest, public ::testing::WithParamInterface<FlushFaultCase> {};

TEST_P(FlushFaultTest, EachAffectedFileIsNamedAndTheRunGoesOn) {
    auto faulty = std::make_unique<FaultyFileSystem>(GetParam().fault, EIO);
    faulty->namedTemporaries = GetParam().namedTemporaries;
    useFileSystem(std::move(faulty));
    const std::string a = id3v2Tag(20) + audio;
    const std::string b = id3v2Tag(30) + audio + id3v1Tag();
    writeFile(dir / "a.mp3", a);
    writeFile(dir / "b.mp3", b);
    writeFile(dir / "c.mp3", audio + id3v1Tag());
    writeFile(dir / "d.mp3", audio);
    removeBoth();
    run();
    const bool kept = GetParam().replacedFilesKept;
    EXPECT_BYTES(only("a.mp3"), kept ? a : audio);
    EXPECT_BYTES(only("b.mp3"), kept ? b : audio);
    EXPECT_BYTES(only("c.mp3"), audio);
    EXPECT_EQ(listNames(dir.path()), "a.mp3 b.mp3 c.mp3 d.mp3");
    std::vector<std::string> errors = host.errors;
    std::sort(errors.begin(), errors.end());
    std::vector<std::string> expected;
    for (std::string error : GetParam().errors) {
        expected.push_back(error.replace(error.find('@'), 1, dir.path()));
    }
    EXPECT_EQ(errors, expected);
    EXPECT_EQ(host.rows.size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FlushFaultTest,
    ::testing::Values(
        FlushFaultCase{
            Fault::sync,
            {"Could not copy @a.mp3 - I/O error 5 - ID3v2 Tag not removed!",
             "Could not copy @b.mp3 - I/O error 5 - ID3v2 Tag not removed!",
             "Could not flush @c.mp3 - I/O error 5 - ID3v1 Tag removed, may not be on disk!"},
            true},
        FlushFaultCase{Fault::syncDirectory, {"Could not flush directory @ - Error #5"}, false},
        FlushFaultCase{
            Fault::syncDirectory, {"Could not flush directory @ - Error #5"}, false, true}));

TEST_F(Id3WorkTest, UncreatableTemporaryFileKeepsTheId3v2TagButCutsTheTrailer) {
    useFileSystem(std::make_unique<FaultyFileSystem>(Fault::createTemporary, EACCES));
    const std::string v2 = id3v2Tag(50);
    writeFile(dir / "a.mp3", v2 + audio + id3v1Tag());
    removeBoth();
    run();
    EXPECT_EQ(host.errors, std::vector<std::string>{"Could not create " + dir.path() +
                                                    "ID3_TEMP.$$$ - ID3v2 Tag not removed!"});
    EXPECT_BYTES(only("a.mp3"), v2 + audio);
    EXPECT_TRUE(host.rows.back().modified);
}

TEST_F(Id3WorkTest, BufferedCopyGivesTheSameBytesAcrossSeveralBlocks) {
    auto faulty = std::make_unique<FaultyFileSystem>(Fault::none);
    faulty->forceBufferCopy = true;
    useFileSystem(std::move(faulty));
    const std::string longAudio = mpegAudio(6000);
    ASSERT_GT(longAudio.size(), 2'000'002u);
    writeFile(dir / "a.mp3", id3v2Tag(1000) + longAudio + id3v1Tag());
    removeBoth();
    run();
    EXPECT_BYTES(only("a.mp3"), longAudio);
}

TEST_F(Id3WorkTest, PlantedTemporaryLinkIsNeverWrittenThrough) {
    TempDir outside;
    writeFile(outside / "victim", "precious");
    makeDirectory(outside / "folder");
    ASSERT_EQ(symlink((outside / "victim").c_str(), (dir / "ID3_TEMP.$$$").c_str()), 0);
    makeDirectory(dir / "sub");
    ASSERT_EQ(symlink((outside / "folder").c_str(), (dir / "sub/ID3_TEMP.$$$").c_str()), 0);
    writeFile(dir / "a.mp3", id3v2Tag(40) + audio);
    writeFile(dir / "sub/b.mp3", id3v2Tag(40) + audio);
    host.set(JobSwitch::remove2, true);
    host.set(JobSwitch::subdirectories, true);
    run();
    EXPECT_BYTES(only("a.mp3"), audio);
    EXPECT_BYTES(only("sub/b.mp3"), audio);
    EXPECT_BYTES(readFile(outside / "victim"), "precious");
    EXPECT_EQ(listNames(outside / "folder"), "");
    EXPECT_EQ(listNames(dir.path()), "ID3_TEMP.$$$ a.mp3 sub");
    EXPECT_TRUE(host.errors.empty());
}

// A size that reaches into the trailer is not "beyond the end": the two tags overlap, and the
// file is left as it is either way, with the same words and marks whether every tag kind goes or
// only the two.
class DamagedTagSizeTest : public Id3WorkTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DamagedTagSizeTest, IsReportedByHowFarItReachesAndMarksWhatIsThere) {
    const auto header = [](std::size_t claimed) {
        return id3v2Tag(0).substr(0, 6) + syncsafe(static_cast<std::uint32_t>(claimed));
    };
    const std::string intoTrailer = header(audio.size() + 60) + audio + id3v1Tag();
    const std::string beyondEnd = header(audio.size() + 200) + audio + id3v1Tag();
    const std::string toTheEnd = header(audio.size() + 128) + audio + id3v1Tag();
    writeFile(dir / "a.mp3", intoTrailer);
    writeFile(dir / "b.mp3", beyondEnd);
    writeFile(dir / "c.mp3", toTheEnd);
    host.allTags = GetParam();
    removeBoth();
    run();
    EXPECT_BYTES(only("a.mp3"), intoTrailer);
    EXPECT_BYTES(only("b.mp3"), beyondEnd);
    EXPECT_BYTES(only("c.mp3"), toTheEnd);
    std::vector<std::string> errors = host.errors;
    std::sort(errors.begin(), errors.end());
    EXPECT_EQ(errors,
              (std::vector<std::string>{
                  dir / "a.mp3 - ID3v2 Tag size reaches into the ID3v1 tag, file not changed!",
                  dir / "b.mp3 - ID3v2 Tag size reaches beyond end of file, file not changed!",
                  dir / "c.mp3 - ID3v2 Tag size reaches into the ID3v1 tag, file not changed!"}));
    ASSERT_EQ(host.rows.size(), 3u);
    for (const ResultRow& row : host.rows) {
        EXPECT_EQ(row.id3v1Mark + row.id3v2Mark, "XX") << row.RowPath;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, DamagedTagSizeTest, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "EveryTagKind" : "TwoTags");
});

// A read-only file is replaced, never made writable, whichever tag goes; its holes, extended
// attributes and mode come along.
TEST_F(Id3WorkTest, ReadOnlySparseFileKeepsItsIdentity) {
    const std::string path = dir / "ro.mp3";
    const off_t size = off_t{1} << 30;
    const std::string head = id3v2Tag(30) + audio;
    {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(pwrite(fd, head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
        ASSERT_EQ(pwrite(fd, id3v1Tag().data(), 128, size - 128), 128);
        close(fd);
    }
    const bool hasAttribute = setxattr(path.c_str(), "user.note", "kept", 4, 0) == 0;
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    for (const auto which : {JobSwitch::remove1, JobSwitch::remove2}) {
        host.set(which, true);
        host.set(JobSwitch::ignoreattributes, true);
        run();
    }
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    EXPECT_EQ(st.st_size, static_cast<off_t>(size - 128 - (head.size() - audio.size())));
    EXPECT_LT(st.st_blocks * 512, 1 << 20) << "holes filled in";
    char note[8] = {};
    if (hasAttribute) {
        EXPECT_EQ(getxattr(path.c_str(), "user.note", note, sizeof note), 4);
        EXPECT_STREQ(note, "kept");
    }
    std::string start(audio.size(), '\0');
    const int fd = open(path.c_str(), O_RDONLY);
    ASSERT_EQ(pread(fd, start.data(), start.size(), 0), static_cast<ssize_t>(start.size()));
    close(fd);
    EXPECT_BYTES(start, audio);
    EXPECT_TRUE(host.errors.empty());
}

// Another program writes to the file while its copy is made: its update wins, whichever way it
// wrote, and the file is reported. The check happens when the batch commits, long after the copy.
class WriterDuringCopy : public FileSystem {
public:
    explicit WriterDuringCopy(std::function<void()> write) : m_write(std::move(write)) {}
    std::error_code copyRange(int from, std::uint64_t offset, std::uint64_t length, int to,
                              std::uint64_t toOffset) override {
        const std::error_code error = FileSystem::copyRange(from, offset, length, to, toOffset);
        m_write();
        return error;
    }

private:
    std::function<void()> m_write;
};

TEST_F(Id3WorkTest, UpdateMadeDuringTheCopyIsNeverOverwritten) {
    const std::string path = dir / "a.mp3";
    const std::string original = id3v2Tag(40) + audio;
    const std::string appended = original + "appended by another program";
    const std::string saved = id3v2Tag(10) + "saved anew by another program";
    const std::vector<std::function<void()>> writers{
        [&] { writeFile(path, appended); },
        [&] {
            writeFile(path + ".new", saved);
            ASSERT_EQ(rename((path + ".new").c_str(), path.c_str()), 0);
        }};
    for (std::size_t i = 0; i < writers.size(); ++i) {
        writeFile(path, original);
        useFileSystem(std::make_unique<WriterDuringCopy>(writers[i]));
        host.set(JobSwitch::remove2, true);
        host.errors.clear();
        run();
        EXPECT_BYTES(only("a.mp3"), i == 0 ? appended : saved);
        // Writing through the path breaks the lease; a rename over it does not, and only the
        // unchanged-check sees it.
        const std::string found =
            i == 0 ? "in use by another program" : "changed by another program meanwhile";
        EXPECT_EQ(host.errors,
                  std::vector<std::string>{path + " - " + found + ", file not changed!"});
        EXPECT_EQ(listNames(dir.path()), "a.mp3");
    }
}

TEST_F(Id3WorkTest, SecondTagBehindTheFirstIsRemovedByTheNextRun) {
    writeFile(dir / "a.mp3", id3v2Tag(30) + id3v2Tag(20) + audio);
    host.set(JobSwitch::remove2, true);
    run();
    EXPECT_BYTES(only("a.mp3"), id3v2Tag(20) + audio);
    run();
    EXPECT_BYTES(only("a.mp3"), audio);
}

TEST_F(Id3WorkTest, ReplacedFileKeepsItsOwnerWhereAllowed) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "changing a file's owner needs root";
    }
    writeFile(dir / "a.mp3", id3v2Tag(30) + audio, 0640);
    ASSERT_EQ(chown((dir / "a.mp3").c_str(), 1234, 4321), 0);
    host.set(JobSwitch::remove2, true);
    run();
    struct stat st {};
    ASSERT_EQ(stat((dir / "a.mp3").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 4321u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_BYTES(only("a.mp3"), audio);
}

TEST_F(Id3WorkTest, SparseFileBeyondFourGibibytesIsHandled) {
    const std::string path = dir / "huge.mp3";
    const off_t size = (off_t{5} << 30) + 1000;
    {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        const std::string head = id3v2Tag(30) + audio;
        ASSERT_EQ(pwrite(fd, head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
        const std::string tail = id3v1Tag();
        ASSERT_EQ(pwrite(fd, tail.data(), tail.size(), size - 128), 128);
        close(fd);
    }
    host.set(JobSwitch::remove1, true);
    run();
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, size - 128);
    EXPECT_EQ(rowSummaries(), std::vector<std::string>{"XX huge.mp3"});
    EXPECT_TRUE(host.errors.empty());
}

}  // namespace
}  // namespace tagsnip::test
