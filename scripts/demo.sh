#!/usr/bin/env bash
# Builds tamsel, writes two small sample discs (one intact, one with a damaged clip) and verifies both.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target tamsel tamsel-sampledisc >/dev/null
demo=$build/demo
rm -rf "$demo"
"$build/tools/tamsel-sampledisc" --demo "$demo"
for disc in intact damaged; do
    echo
    echo "\$ tamsel $demo/$disc"
    status=0
    "$build/app/tamsel" "$demo/$disc" || status=$?
    echo "(exit status $status)"
done
# The damaged disc again, as a UDF 2.50 image like a BD-ROM's.
"$build/tools/tamsel-sampledisc" "$demo/image-src" --seed 2026 --clip 00001.m2ts:24u:corrupt=5+17 \
    --clip 00002.m2ts:7.5u --clip 00003.m2ts:200000 --udf metadata250 "$demo/damaged.iso"
echo
echo "\$ tamsel $demo/damaged.iso"
status=0
"$build/app/tamsel" "$demo/damaged.iso" || status=$?
echo "(exit status $status)"
