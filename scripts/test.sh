#!/usr/bin/env bash
# Builds and runs every test: the normal build with warnings as errors, the sanitizer builds, then the cross
# builds: Windows x64 under Wine, Linux arm64 under qemu, a compile check for Windows on Arm64, and a short
# run of every fuzz target.
# A cross stage whose tools are missing is skipped with a message; .ci/run installs them all.
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

# Names the first of these commands or paths that is missing, if any.
missing_tool() {
    local tool
    for tool in "$@"; do
        if [[ $tool == /* ]]; then
            [ -e "$tool" ] || { echo "$tool"; return; }
        else
            command -v "$tool" >/dev/null || { echo "$tool"; return; }
        fi
    done
}

stage_wine() {
    local lacking
    lacking=$(missing_tool x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-gcc-posix wine wineserver wineboot \
        /usr/src/googletest/CMakeLists.txt)
    if [ -n "$lacking" ]; then
        echo "-- skipped: $lacking not found (packages g++-mingw-w64-x86-64-posix wine wine64 googletest)"
        return
    fi
    # Headless, quiet, without the .NET and HTML installers; one persistent server, or every test start pays for
    # a new one and test discovery may hang.
    unset DISPLAY
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    # It refuses to start when a server of this prefix already runs, which serves as well.
    wineserver -p </dev/null >/dev/null 2>&1 || true
    trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
    wineboot --init </dev/null >/dev/null 2>&1
    run_build "$here/build-ci-mingw" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchains/mingw-w64-x86_64.cmake"
    wineserver -k >/dev/null 2>&1 || true
    trap - EXIT
}

stage_qemu() {
    local lacking
    lacking=$(missing_tool aarch64-linux-gnu-g++ aarch64-linux-gnu-gcc qemu-aarch64 /usr/aarch64-linux-gnu \
        /usr/src/googletest/CMakeLists.txt)
    if [ -n "$lacking" ]; then
        echo "-- skipped: $lacking not found (packages g++-aarch64-linux-gnu qemu-user googletest)"
        return
    fi
    run_build "$here/build-ci-arm64" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchains/aarch64-linux-gnu.cmake"
}

stage_windows_arm64() {
    local lacking
    lacking=$(missing_tool clang-14 llvm-objdump-14 /usr/lib/gcc/x86_64-w64-mingw32/12-posix/include/c++ \
        /usr/share/mingw-w64/include)
    if [ -n "$lacking" ]; then
        echo "-- skipped: $lacking not found (packages clang-14 llvm-14 g++-mingw-w64-x86-64-posix)"
        return
    fi
    "$here/scripts/check_windows_arm64.sh" "$here/build-ci-winarm64"
}

# Runs one stage under a heading and reports how long it took.
stage() {
    local title=$1
    shift
    echo "== $title"
    local start=$SECONDS
    "$@"
    echo "-- $title: $((SECONDS - start)) s"
}

stage "native build and tests" run_build "$here/build-ci" -DCMAKE_BUILD_TYPE=Release
stage "no circle between the product's object files" "$here/scripts/check_layers.sh" "$here/build-ci"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    stage "address and undefined-behaviour sanitizers" \
    run_build "$here/build-ci-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMSEL_SANITIZE=ON
# The threads of a run: the pipeline's own tests and every whole run through the real executable.
stage_tsan() {
    local dir="$here/build-ci-tsan"
    cmake -S "$here" -B "$dir" -DTAMSEL_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMSEL_SANITIZE_THREAD=ON \
        >/dev/null
    cmake --build "$dir" -j"$jobs" --target tamsel tamsel-sampledisc tamsel_aacs_tests tamsel_app_tests
    TSAN_OPTIONS=halt_on_error=1 "$dir/tests/tamsel_aacs_tests"
    TSAN_OPTIONS=halt_on_error=1 "$dir/tests/tamsel_app_tests"
}
stage "thread sanitizer" stage_tsan
stage "Windows x64 build, tests under Wine" stage_wine
stage "Linux arm64 build, tests under qemu" stage_qemu
stage "Windows on Arm64 compile check" stage_windows_arm64

stage_fuzz() {
    local lacking
    lacking=$(missing_tool clang++-14)
    if [ -n "$lacking" ] && ! command -v clang++ >/dev/null; then
        echo "-- skipped: no clang++ (packages clang-14 libclang-rt-14-dev)"
        return
    fi
    "$here/scripts/fuzz.sh" "${TAMSEL_FUZZ_SECONDS:-60}"
}
stage "fuzz targets, briefly" stage_fuzz
