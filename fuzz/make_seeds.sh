#!/bin/sh
# make_seeds.sh BUILD OUT
# Writes the seed corpora of the fuzz targets into OUT/<target>/ from sample discs made by BUILD's
# tools/tamsel-sampledisc (every UDF layout of our writer with its options) and, when the tools are installed,
# from images made by other tools (scripts/make_real_tool_images.sh). Images are reduced by BUILD's
# tamsel_make_seed to the sectors their mount and content files read, so no seed is more than a few kilobytes.
set -eu

if [ $# -ne 2 ]; then
    echo "usage: $0 BUILD OUT" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
out=$2
sampledisc=$build/tools/tamsel-sampledisc
seedtool=$build/tamsel_make_seed
mount=$out/fuzz_udf_mount
pair=$out/fuzz_content_pair
lookup=$out/fuzz_find_node
mkdir -p "$mount" "$pair" "$lookup"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Disc one: the clip the content-pair target generates (seed 1, first clip, 7.5 units), a short clip, and
# names that take the 16-bit and the long paths of the tree build.
"$sampledisc" "$work/one" --clip 00001.m2ts:7.5u --clip 00002.m2ts:2u --clip 00003.m2ts:1000 >/dev/null
mkdir -p "$work/one/BDMV/PLAYLIST/deeper/still"
printf 'x' > "$work/one/BDMV/PLAYLIST/deeper/still/00000.mpls"
printf 'y' > "$work/one/BDMV/caf$(printf '\303\251')"
printf 'z' > "$work/one/BDMV/$(printf '\342\202\254')sign"
printf 'w' > "$work/one/BDMV/$(printf '%0200d' 0)"
# Disc two: two content file pairs, SHA-1.
"$sampledisc" "$work/two" --sha1 --pairs 2 --clip 00001.m2ts:7.5u --clip 00002.m2ts:8u:pair=1 >/dev/null

for disc in one two; do
    for layout in metadata250 physical102 virtual201; do
        for options in none efe longad embed continuation deleted extent=4096 \
            efe,longad,embed,continuation,deleted metadata2 efe,metadata2,continuation; do
            case "$options" in
                *metadata2*) [ "$layout" = metadata250 ] || continue ;;
            esac
            name=${disc}_${layout}_$(echo "$options" | tr ',=' '_-')
            if [ "$options" = none ]; then
                "$sampledisc" "$work/$disc" --image-only --udf "$layout" "$work/$name.img" >/dev/null
            else
                "$sampledisc" "$work/$disc" --image-only --udf "$layout" "$work/$name.img" \
                    --udf-options "$options" >/dev/null
            fi
            "$seedtool" image "$work/$name.img" "$mount/$name" >/dev/null
            rm -f "$work/$name.img"
        done
    done
done

if command -v genisoimage >/dev/null && command -v mkudffs >/dev/null && command -v udfclient >/dev/null &&
    command -v 7zz >/dev/null && command -v udfinfo >/dev/null; then
    # The other tools' images of the ASCII disc.
    rm -rf "$work/ascii"
    "$sampledisc" "$work/ascii" --clip 00001.m2ts:7.5u --clip 00002.m2ts:2u >/dev/null
    sh "$here/scripts/make_real_tool_images.sh" "$work/real" "$work/ascii" >/dev/null
    for image in "$work"/real/*; do
        "$seedtool" image "$image" "$mount/real_$(basename "$image")" >/dev/null
    done
else
    echo "make_seeds: images of other tools left out (genisoimage, mkudffs, udfclient, 7zz, udfinfo)" >&2
fi

# Content pairs: the disc's own pairs (whose values match the generated clip) under each flag combination,
# the flags byte being: bit 0 verbose, 1 progress, 2 abort, 3 the clip claims more, bits 4-7 the failing unit.
aacs1=$work/one/AACS
aacs2=$work/two/AACS
for flags in 0xF0 0xF1 0xF2 0xF4 0xF8 0x30 0x0B; do
    "$seedtool" pair "$flags" "$aacs1/Content000.cer" "$aacs1/ContentHash000.tbl" "$pair/one_$flags"
    "$seedtool" pair "$flags" "$aacs2/Content000.cer" "$aacs2/ContentHash000.tbl" \
        "$aacs2/Content001.cer" "$aacs2/ContentHash001.tbl" "$pair/two_$flags"
done

# Lookups (even mode byte, start node, path) and name conversions (odd mode byte, 16-bit limit, units).
printf '\000\000AACS/Content000.cer' > "$lookup/cer"
printf '\000\000\\\\BDMV//STREAM\\00001.m2ts/' > "$lookup/stream"
printf '\000\003ContentHash000.tbl' > "$lookup/from_node"
printf '\000\000d/d/d/d/d/d/leaf' > "$lookup/deep"
printf '\000\000caf\351' > "$lookup/latin"
printf '\001\100\000\000\101\000\351\040\254\330\075\336\000' > "$lookup/utf16"
printf '\001\002\000\040\254\040\254\040\254' > "$lookup/limit"
printf '\001\020\000\000a\330\000' > "$lookup/lone_surrogate"
