#!/usr/bin/env bash
# fuzz.sh [SECONDS [LIBFUZZER-FLAG...]]
# Builds the fuzz targets with clang (libFuzzer, address and undefined-behaviour sanitizers) in build-fuzz,
# makes their seed corpora from sample discs, and runs each target for SECONDS (default 60). Each input may
# take at most 256 MiB and a few seconds, so a memory or time bomb is a finding like a crash. Exits non-zero
# when a target crashes, leaks, times out or runs out of memory; the input that did it is left in
# build-fuzz/artifacts/. FUZZ_BUILD_DIR and CXX_FUZZ (default clang++, else clang++-14) choose another build
# folder or compiler.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
build=${FUZZ_BUILD_DIR:-$here/build-fuzz}
compiler=${CXX_FUZZ:-$(command -v clang++ || command -v clang++-14 || echo clang++)}

cmake -S "$here/fuzz" -B "$build" -DCMAKE_CXX_COMPILER="$compiler" -DTAMSEL_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

rm -rf "$build/seeds"
"$here/fuzz/make_seeds.sh" "$build" "$build/seeds"
mkdir -p "$build/artifacts"

failed=0
for target in fuzz_udf_mount fuzz_content_pair fuzz_find_node fuzz_disc_run; do
    corpus=$build/corpus/$target
    # The whole run reads the same inputs as the mount.
    seeds=$build/seeds/$target
    [ "$target" = fuzz_disc_run ] && seeds=$build/seeds/fuzz_udf_mount
    mkdir -p "$corpus"
    log=$build/$target.log
    echo "== $target for ${seconds}s"
    # -close_fd_mask=1 drops the verbose dumps and match lines the content-pair target prints.
    # The sanitizer's quarantine of freed memory counts in the resident size; kept small, it leaves the
    # limit to what the code under test holds.
    if ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16} \
        "$build/$target" "$corpus" "$seeds" -max_total_time="$seconds" -timeout=5 \
        -rss_limit_mb=256 -malloc_limit_mb=256 -close_fd_mask=1 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$target-" "$@" >"$log" 2>&1; then
        grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units)' "$log" || true
    else
        echo "FAIL $target (log: $log)"
        grep -E 'ERROR|SUMMARY|Test unit written' "$log" || tail -20 "$log"
        failed=1
    fi
done
exit $failed
