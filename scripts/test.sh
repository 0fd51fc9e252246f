#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: the normal and the Release build, the Debian
# package and its checks, a sanitizer build of the Qt-free core, a bounded fuzzing run, and the
# formatting check.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
"$here/scripts/setup.sh"

echo "== build and test"
"$here/scripts/build.sh" build -DWARNINGS_AS_ERRORS=ON
ctest --test-dir build --output-on-failure --no-tests=error -j"$(nproc)"

# Optimisation brings its own warnings (GCC's -Wrestrict at -O3 among them), and the package is
# built this way.
echo "== Release build and test"
"$here/scripts/build.sh" build-release -DCMAKE_BUILD_TYPE=Release -DWARNINGS_AS_ERRORS=ON
ctest --test-dir build-release --output-on-failure --no-tests=error -j"$(nproc)"

echo "== Debian package, desktop entry and AppStream data"
"$here/scripts/check-package.sh" build-release

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build of the Qt-free core"
"$here/scripts/build.sh" build-asan -DBUILD_GUI=OFF -DENABLE_SANITIZERS=ON -DWARNINGS_AS_ERRORS=ON
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure --no-tests=error -j"$(nproc)"

echo "== fuzzing (bounded run; tests/fuzz/run.sh 3600 for a long one)"
"$here/tests/fuzz/run.sh" 20

echo "== formatting"
git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run --Werror
echo "All tests passed."
