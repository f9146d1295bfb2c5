#!/usr/bin/env bash
# Builds and runs every test: the normal build with warnings as errors, then the sanitizer build.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

run_build() {
    local dir=$1
    shift
    cmake -S "$here" -B "$dir" -DTAMSEL_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
    (cd "$dir" && ctest --output-on-failure -j"$jobs")
}

echo "== native build and tests"
run_build "$here/build-ci" -DCMAKE_BUILD_TYPE=Release
echo "== address and undefined-behaviour sanitizers"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    run_build "$here/build-ci-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMSEL_SANITIZE=ON
