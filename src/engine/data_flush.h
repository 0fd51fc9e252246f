#pragma once

#include <system_error>
#include <vector>

namespace tagsnip {

// Flushes the data of every descriptor (fdatasync), all issued at once through io_uring so that
// they wait together and the journal commits them in one go. Where io_uring cannot be had
// (disabled by the system, refused by a seccomp policy, an old kernel) each is flushed in turn;
// which way applies is found out once per process. errors[i] is the outcome for fds[i].
void flushDataOfEach(const std::vector<int>& fds, std::vector<std::error_code>& errors);
// As flushDataOfEach, with a full fsync of each: for directories, whose names are what must last.
void flushEach(const std::vector<int>& fds, std::vector<std::error_code>& errors);

}  // namespace tagsnip
