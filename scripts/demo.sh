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
if [ -x "$build/tools/tamsel-sampledisc" ] && "$build/tools/tamsel-sampledisc" --help 2>&1 | grep -q -- '--udf'; then
    "$build/tools/tamsel-sampledisc" "$demo/image-src" --clip 00001.m2ts:9u --clip 00002.m2ts:8u:corrupt=3 \
        --udf metadata250 "$demo/disc.iso" >/dev/null
    echo
    echo "\$ tamsel $demo/disc.iso"
    status=0
    "$build/app/tamsel" "$demo/disc.iso" || status=$?
    echo "(exit status $status)"
fi
