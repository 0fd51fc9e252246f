#include "support/lame_corpus.h"
#include "engine/file_byte_source.h"
#include "engine/tag_blocks.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace tagsnip::test {
namespace {

// Real encoder output carries no tag of its own, so every layout built around it must come back
// to exactly these bytes.
TEST(LameCorpus, EveryLayoutKeepsExactlyTheEncodedAudio) {
    std::string failure;
    const std::string& audio = lameAudio(failure);
    ASSERT_TRUE(failure.empty()) << failure;
    ASSERT_GT(audio.size(), 10000u);
    ASSERT_EQ(static_cast<unsigned char>(audio[0]), 0xFF);
    TempDir dir;
    FileSystem fileSystem;
    for (const CorpusFile& file : writeTagCorpus(dir.path(), audio)) {
        const std::string bytes = readFile(file.path);
        const int fd = open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0) << file.path;
        FileByteSource source(fileSystem, fd);
        TagLayout layout;
        EXPECT_FALSE(findTagBlocks(source, bytes.size(), layout)) << file.layout.name;
        close(fd);
        EXPECT_FALSE(layout.problem) << file.layout.name;
        EXPECT_TRUE(bytes.substr(layout.keepBegin, layout.keepEnd - layout.keepBegin) == audio)
            << file.layout.name << ": kept [" << layout.keepBegin << ", " << layout.keepEnd << ")";
    }
}

}  // namespace
}  // namespace tagsnip::test
