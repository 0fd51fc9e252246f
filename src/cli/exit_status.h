#pragma once

namespace tagsnip::cli {

inline constexpr int exitDone = 0;
inline constexpr int exitFileErrors = 1;
inline constexpr int exitUsage = 2;
inline constexpr int exitOutputFailed = 1;
// As a shell reports a program ended by a signal; the run was stopped, not killed.
inline constexpr int exitSignalBase = 128;

}  // namespace tagsnip::cli
