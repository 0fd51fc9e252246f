#include "engine/file_system.h"

#include "support/temp_dir.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace tagsnip::test {
namespace {

// Another instance's new content carries the temporary name between its naming and its rename;
// a clean-up in the same folder meanwhile must not take it for a leftover, whichever way it was
// made. Once its maker has let go, it is one.
TEST(Leftover, ACopyStillHeldByItsMakerStaysAndIsRemovedOnceLetGo) {
    TempDir dir;
    FileSystem fileSystem;
    const int folder = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    const std::string name = "ID3_TEMP.$$$";
    int fd = -1;
    bool named = false;
    ASSERT_FALSE(fileSystem.createTemporary(folder, name, 0600, fd, named));
    ASSERT_FALSE(fileSystem.markTemporary(fd));
    if (!named) {
        ASSERT_FALSE(fileSystem.linkTemporary(fd, folder, name));
    }
    EXPECT_EQ(fileSystem.removeLeftover(folder, name), Leftover::kept);
    EXPECT_EQ(listNames(dir.path()), name);
    fileSystem.close(fd);
    EXPECT_EQ(fileSystem.removeLeftover(folder, name), Leftover::removed);
    EXPECT_EQ(listNames(dir.path()), "");
    close(folder);
}

}  // namespace
}  // namespace tagsnip::test
