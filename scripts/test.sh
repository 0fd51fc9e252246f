#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: the normal build, a sanitizer build of the
# Qt-free core, a bounded fuzzing run, and the formatting check.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
"$here/scripts/setup.sh"

echo "== build and test"
"$here/scripts/build.sh" build
ctest --test-dir build --output-on-failure --no-tests=error

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build of the Qt-free core"
"$here/scripts/build.sh" build-asan -DBUILD_GUI=OFF -DENABLE_SANITIZERS=ON
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure --no-tests=error

echo "== fuzzing (bounded run; tests/fuzz/run.sh 3600 for a long one)"
"$here/tests/fuzz/run.sh" 20

echo "== formatting"
git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run --Werror
echo "All tests passed."
