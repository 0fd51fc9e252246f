#pragma once

#include <system_error>
#include <vector>

namespace tagsnip {

// Flushes the data of each of files (fdatasync) and the whole of each of directories (fsync),
// all issued at once through io_uring so that they wait together and the journal commits them
// in one go. Where io_uring cannot be had (disabled by the system, refused by a seccomp policy,
// an old kernel) each is flushed in turn; which way applies is found out once per process.
// errors holds the outcome for each of files, then for each of directories.
void flushTogether(const std::vector<int>& files, const std::vector<int>& directories,
                   std::vector<std::error_code>& errors);

// Closes each of fds, all in one submission through io_uring where it can, each in turn otherwise.
void closeTogether(const std::vector<int>& fds);

}  // namespace tagsnip
