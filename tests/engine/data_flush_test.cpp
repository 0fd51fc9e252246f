#include "engine/data_flush.h"

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace tagsnip::test {
namespace {

// A seccomp policy that refuses io_uring, as containers' do, and answers fdatasync and fsync
// with EXDEV: the exit status counts the files that got no flush of their own, of either kind.
int filesNotFlushedWithoutIoUring() {
    sock_filter rules[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_io_uring_setup, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fdatasync, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EXDEV),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fsync, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EXDEV),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program{static_cast<unsigned short>(std::size(rules)), rules};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        return 100;
    }
    const std::vector<int> fds(70, STDOUT_FILENO);
    std::vector<std::error_code> errors;
    flushTogether(fds, fds, errors);
    if (errors.size() != 2 * fds.size()) {
        return 101;
    }
    return static_cast<int>(std::count_if(errors.begin(), errors.end(),
                                          [](std::error_code e) { return e.value() != EXDEV; }));
}

TEST(DataFlushTest, WithoutIoUringEveryFileIsFlushedInTurn) {
    // A fresh process, so that no ring an earlier test set up is inherited.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(filesNotFlushedWithoutIoUring()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace tagsnip::test
