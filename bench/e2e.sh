#!/usr/bin/env bash
# End-to-end throughput: tamsel on a folder and on a UDF image, hashing on one thread (-t1) and on the default
# number, against one openssl dgst process (page cache warm) and against cat (page cache cold) over the same
# clips, SHA-1 and SHA-256, median of several rounds, plus each tamsel run's peak resident memory.
#   bench/e2e.sh [BUILD_DIR]     environment: BENCH_DIR (scratch, default /tmp/tamsel-bench),
#                                BENCH_GIB (clip data per disc, default 2), BENCH_ROUNDS (default 3),
#                                BENCH_COLD (0 skips the cold runs), BENCH_KEEP (keep the scratch folder),
#                                BENCH_BASELINE (another tamsel executable to time beside this one)
# Cold runs evict the inputs from the page cache before each round with posix_fadvise(DONTNEED), which needs
# no root; a cache below the page cache (a virtual disk's host) may still hold them.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
work=${BENCH_DIR:-/tmp/tamsel-bench}
gib=${BENCH_GIB:-2}
rounds=${BENCH_ROUNDS:-3}
cold=${BENCH_COLD:-1}
tamsel=$build/app/tamsel
maker=$build/tools/tamsel-sampledisc
[ -x "$tamsel" ] && [ -x "$maker" ] || { echo "build tamsel first: cmake --build $build" >&2; exit 1; }

clipBytes=$((gib * 1024 * 1024 * 1024 / 8))
clipArgs=()
for i in 1 2 3 4 5 6 7 8; do clipArgs+=(--clip "0000$i.m2ts:$clipBytes"); done

if [ ! -f "$work/ready" ]; then
    rm -rf "$work"
    mkdir -p "$work"
    for digest in sha256 sha1; do
        flag=""
        [ $digest = sha1 ] && flag=--sha1
        "$maker" "$work/$digest" --seed 7 $flag "${clipArgs[@]}" --udf metadata250 "$work/$digest.iso"
    done
    touch "$work/ready"
fi
total=$(cat "$work"/sha256/BDMV/STREAM/*.m2ts | wc -c)

evict() { # files... -> dropped from the page cache
    python3 -c 'import os, sys
for p in sys.argv[1:]:
    fd = os.open(p, os.O_RDONLY)
    os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
    os.close(fd)' "$@"
}
warm() { cat "$@" >/dev/null; }

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
run_case() { # name prepare-command -- command...
    local name=$1 prepare=$2
    shift 3
    local times=()
    for _ in $(seq "$rounds"); do
        $prepare
        times+=("$(seconds "$@")")
    done
    local med
    med=$(printf '%s\n' "${times[@]}" | median)
    result[$name]=$(echo "$total / $med / 1000000" | bc -l)
    printf '%-34s %8.0f MB/s  (median of %d, %.3f s)\n' "$name" "${result[$name]}" "$rounds" "$med"
}

echo "clip data: $total bytes in 8 clips per disc; $(nproc) logical processors; $(lscpu | sed -n 's/^Model name: *//p')"
for digest in sha1 sha256; do
    clips=("$work/$digest"/BDMV/STREAM/*.m2ts)
    image=$work/$digest.iso
    warmAll() { warm "${clips[@]}" "$image"; }
    echo "-- $digest, page cache warm"
    run_case "tamsel folder $digest" warmAll -- "$tamsel" -nologo "$work/$digest"
    run_case "tamsel folder $digest -t1" warmAll -- "$tamsel" -nologo -t1 "$work/$digest"
    run_case "tamsel image $digest" warmAll -- "$tamsel" -nologo "$image"
    run_case "tamsel image $digest -t1" warmAll -- "$tamsel" -nologo -t1 "$image"
    run_case "openssl dgst $digest" warmAll -- openssl dgst -"$digest" "${clips[@]}"
    if [ -n "${BENCH_BASELINE:-}" ]; then
        run_case "baseline folder $digest" warmAll -- "$BENCH_BASELINE" -nologo "$work/$digest"
        run_case "baseline image $digest" warmAll -- "$BENCH_BASELINE" -nologo "$image"
    fi
    if [ "$cold" != 0 ]; then
        evictClips() { evict "${clips[@]}"; }
        evictImage() { evict "$image"; }
        echo "-- $digest, page cache cold"
        run_case "cold tamsel folder $digest" evictClips -- "$tamsel" -nologo "$work/$digest"
        run_case "cold tamsel folder $digest -t1" evictClips -- "$tamsel" -nologo -t1 "$work/$digest"
        run_case "cold cat folder $digest" evictClips -- cat "${clips[@]}"
        run_case "cold tamsel image $digest" evictImage -- "$tamsel" -nologo "$image"
        run_case "cold tamsel image $digest -t1" evictImage -- "$tamsel" -nologo -t1 "$image"
        run_case "cold cat image $digest" evictImage -- cat "$image"
        if [ -n "${BENCH_BASELINE:-}" ]; then
            run_case "cold baseline folder $digest" evictClips -- "$BENCH_BASELINE" -nologo "$work/$digest"
            run_case "cold baseline image $digest" evictImage -- "$BENCH_BASELINE" -nologo "$image"
        fi
    fi
done

ratio() { echo "${result[$1]} / ${result[$2]}" | bc -l; }
echo
for digest in sha1 sha256; do
    printf 'warm %-6s  folder/openssl %.2f  image/openssl %.2f  (-t1: %.2f, %.2f)\n' "$digest" \
        "$(ratio "tamsel folder $digest" "openssl dgst $digest")" \
        "$(ratio "tamsel image $digest" "openssl dgst $digest")" \
        "$(ratio "tamsel folder $digest -t1" "openssl dgst $digest")" \
        "$(ratio "tamsel image $digest -t1" "openssl dgst $digest")"
    if [ "$cold" != 0 ]; then
        printf 'cold %-6s  folder/cat %.2f  image/cat %.2f  (-t1: %.2f, %.2f)\n' "$digest" \
            "$(ratio "cold tamsel folder $digest" "cold cat folder $digest")" \
            "$(ratio "cold tamsel image $digest" "cold cat image $digest")" \
            "$(ratio "cold tamsel folder $digest -t1" "cold cat folder $digest")" \
            "$(ratio "cold tamsel image $digest -t1" "cold cat image $digest")"
    fi
done
echo
for digest in sha1 sha256; do
    for threads in "" -t1; do
        echo "peak resident memory, tamsel folder $digest ${threads:-default}: $(peak_kib "$tamsel" -nologo $threads "$work/$digest") KiB"
        echo "peak resident memory, tamsel image $digest ${threads:-default}: $(peak_kib "$tamsel" -nologo $threads "$work/$digest.iso") KiB"
    done
done
[ -n "${BENCH_KEEP:-}" ] || rm -rf "$work"
