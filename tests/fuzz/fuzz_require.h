#pragma once

#include <cstdio>
#include <cstdlib>

// A property every input must keep: a violation is reported by name and ends the run as a crash,
// so that libFuzzer keeps the input.
inline void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "violated: %s\n", what);
        std::abort();
    }
}
