#!/usr/bin/env bash
# End-to-end throughput, cached: tamsel on a folder and on a UDF image against openssl dgst and cat of the
# same clips, SHA-1 and SHA-256, median of several rounds, plus each tamsel run's peak resident memory.
#   bench/e2e.sh [BUILD_DIR]     environment: BENCH_DIR (scratch, default /tmp/tamsel-bench),
#                                BENCH_GIB (clip data per disc, default 2), BENCH_ROUNDS (default 5)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
work=${BENCH_DIR:-/tmp/tamsel-bench}
gib=${BENCH_GIB:-2}
rounds=${BENCH_ROUNDS:-5}
tamsel=$build/app/tamsel
maker=$build/tools/tamsel-sampledisc
[ -x "$tamsel" ] && [ -x "$maker" ] || { echo "build tamsel first: cmake --build $build" >&2; exit 1; }

clipBytes=$((gib * 1024 * 1024 * 1024 / 8))
clipArgs=()
for i in 1 2 3 4 5 6 7 8; do clipArgs+=(--clip "0000$i.m2ts:$clipBytes"); done

rm -rf "$work"
mkdir -p "$work"
for digest in sha256 sha1; do
    flag=""
    [ $digest = sha1 ] && flag=--sha1
    "$maker" "$work/$digest" --seed 7 $flag "${clipArgs[@]}" --udf metadata250 "$work/$digest.iso"
done
clips=("$work"/sha256/BDMV/STREAM/*.m2ts)
total=$(cat "${clips[@]}" | wc -c)
# Warm the page cache for every input, so the figures compare hashing and reading, not the disk.
cat "${clips[@]}" "$work"/sha1/BDMV/STREAM/*.m2ts "$work"/*.iso >/dev/null

seconds() { # command... -> elapsed seconds of one run
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null || true
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }

declare -A result
run_case() { # name command...
    local name=$1
    shift
    local times=()
    for _ in $(seq "$rounds"); do times+=("$(seconds "$@")"); done
    local med
    med=$(printf '%s\n' "${times[@]}" | median)
    result[$name]=$(echo "$total / $med / 1000000" | bc -l)
    printf '%-26s %8.0f MB/s  (median of %d, %.3f s)\n' "$name" "${result[$name]}" "$rounds" "$med"
}

echo "clip data: $total bytes in 8 clips; $(nproc) cores; $(lscpu | sed -n 's/^Model name: *//p')"
for digest in sha1 sha256; do
    run_case "tamsel folder $digest" "$tamsel" -nologo "$work/$digest"
    run_case "tamsel image $digest" "$tamsel" -nologo "$work/$digest.iso"
    run_case "openssl dgst $digest" openssl dgst -"$digest" "${clips[@]}"
done
run_case "cat > /dev/null" cat "${clips[@]}"

echo
for digest in sha1 sha256; do
    printf 'ratio %-7s folder/openssl %.2f   image/openssl %.2f   image/folder %.2f\n' "$digest" \
        "$(echo "${result[tamsel folder $digest]} / ${result[openssl dgst $digest]}" | bc -l)" \
        "$(echo "${result[tamsel image $digest]} / ${result[openssl dgst $digest]}" | bc -l)" \
        "$(echo "${result[tamsel image $digest]} / ${result[tamsel folder $digest]}" | bc -l)"
done
echo
for digest in sha1 sha256; do
    echo "peak resident memory, tamsel folder $digest: $(peak_kib "$tamsel" -nologo "$work/$digest") KiB"
    echo "peak resident memory, tamsel image $digest:  $(peak_kib "$tamsel" -nologo "$work/$digest.iso") KiB"
done
[ -n "${BENCH_KEEP:-}" ] || rm -rf "$work"
