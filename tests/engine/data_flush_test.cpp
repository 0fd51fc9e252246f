#include "engine/data_flush.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>

namespace tagsnip::test {
namespace {

// One good file's descriptor many times over, with a closed one at the given positions: more
// than one submission's worth, so each outcome must land on its own position.
class DataFlushTest : public ::testing::Test {
protected:
    DataFlushTest() {
        writeFile(dir / "a", "content");
        fd = open((dir / "a").c_str(), O_RDWR | O_CLOEXEC);
    }
    ~DataFlushTest() override { close(fd); }

    std::vector<int> descriptors(std::size_t count, std::size_t closedAt) const {
        std::vector<int> fds(count, fd);
        fds[closedAt] = closedFd;
        return fds;
    }

    TempDir dir;
    int fd = -1;
    static constexpr int closedFd = 1000;
};

TEST_F(DataFlushTest, EachOutcomeBelongsToItsDescriptor) {
    for (const std::size_t closedAt : {std::size_t{0}, std::size_t{299}, std::size_t{257}}) {
        const std::vector<int> fds = descriptors(300, closedAt);
        std::vector<std::error_code> errors;
        flushDataOfEach(fds, errors);
        ASSERT_EQ(errors.size(), fds.size());
        for (std::size_t i = 0; i < fds.size(); ++i) {
            EXPECT_EQ(errors[i].value(), i == closedAt ? EBADF : 0) << i << " of " << closedAt;
        }
    }
}

// Where io_uring is refused, as a container's seccomp policy does, every file still gets its own
// fdatasync: the filter answers those with EXDEV, so that each error shows a flush was tried.
int flushUnderPolicyRefusingIoUring(const std::vector<int>& fds) {
    sock_filter rules[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_io_uring_setup, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fdatasync, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EXDEV),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(rules)), rules};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        return 2;
    }
    std::vector<std::error_code> errors;
    flushDataOfEach(fds, errors);
    for (const std::error_code& error : errors) {
        if (error.value() != EXDEV) {
            return 1;
        }
    }
    return errors.size() == fds.size() ? 0 : 1;
}

TEST_F(DataFlushTest, WithoutIoUringEveryFileIsFlushedInTurn) {
    // A fresh process, so that no ring set up by an earlier test is inherited.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::vector<int> fds(70, fd);
    EXPECT_EXIT(std::exit(flushUnderPolicyRefusingIoUring(fds)), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace tagsnip::test
