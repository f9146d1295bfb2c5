#!/bin/sh
# make_real_tool_images.sh OUTDIR FOLDER
# Makes UDF images of FOLDER with tools written elsewhere, so our reader can be tested against images that
# our own writer did not make. Each image is checked: the filled ones must extract with 7-Zip to a tree equal
# to FOLDER; the empty write-once one must end with its VAT. Prints "ok NAME" or "FAIL NAME: why" per image
# and exits 1 if any check failed.
#   genisoimage_udf102.iso   genisoimage -udf (ISO 9660 + UDF 1.02 bridge)
#   mkudffs_hd_0102.img      mkudffs --media-type=hd, filled with udfclient (likewise 0150 and 0201)
#   mkudffs_bdr_0250_vat.img mkudffs --media-type=bdr: empty write-once volume, VAT in the last sector
# Names in FOLDER should be ASCII: udfclient does not carry other characters over.
set -eu

if [ $# -ne 2 ]; then
    echo "usage: $0 OUTDIR FOLDER" >&2
    exit 2
fi
out=$1
mkdir -p "$out"
out=$(cd "$out" && pwd)
src=$(cd "$2" && pwd)
failed=0
work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT

for tool in genisoimage mkudffs udfclient 7zz udfinfo; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "missing tool: $tool" >&2
        exit 2
    fi
done

# check_7z IMAGE: extracts with 7-Zip's UDF handler and compares with FOLDER.
check_7z() {
    rm -rf "$work/x"
    if ! 7zz x -tudf -y -o"$work/x" "$1" >/dev/null 2>&1; then
        echo "7-Zip cannot extract"
        return 1
    fi
    if ! diff -r "$src" "$work/x" >/dev/null 2>&1; then
        echo "7-Zip extraction differs from the folder"
        return 1
    fi
    return 0
}

report() { # NAME RESULT-OF-CHECK-OUTPUT
    if [ -z "$2" ]; then
        echo "ok $1"
    else
        echo "FAIL $1: $2"
        failed=1
    fi
}

# genisoimage: UDF 1.02 next to ISO 9660.
img="$out/genisoimage_udf102.iso"
rm -f "$img"
if genisoimage -quiet -udf -iso-level 3 -o "$img" "$src" >/dev/null 2>&1; then
    report "$(basename "$img")" "$(check_7z "$img" || true)"
else
    report "$(basename "$img")" "genisoimage failed"
fi

# mkudffs + udfclient. udfclient reserves generously, so the volume is grown until everything fits; the
# image file is sparse, so the size costs little.
data_kb=$(du -sk "$src" | cut -f1)
names=$(cd "$src" && ls -A)
for rev in 0102 0150 0201; do
    img="$out/mkudffs_hd_$rev.img"
    blocks=$((data_kb * 2 + 16384))
    why="udfclient could not fill the volume"
    for attempt in 1 2 3 4; do
        rm -f "$img"
        if ! mkudffs -b 2048 --media-type=hd --udfrev=0x$rev "$img" "$blocks" >/dev/null 2>&1; then
            why="mkudffs failed"
            break
        fi
        fileset=$(printf 'ls\nquit\n' | udfclient -b 2048 "$img" 2>/dev/null | awk '/^d/ {print $NF; exit}')
        # shellcheck disable=SC2086
        printf 'cd %s\nlcd %s\nmput %s\nsync\nquit\n' "$fileset" "$src" "$(echo $names)" |
            udfclient -b 2048 -W "$img" >/dev/null 2>&1 || true
        if why=$(check_7z "$img"); then
            why=""
            break
        fi
        blocks=$((blocks * 2))
    done
    report "$(basename "$img")" "$why"
done

# mkudffs write-once: an empty volume whose VAT must be the last sector.
img="$out/mkudffs_bdr_0250_vat.img"
rm -f "$img"
vat=$(mkudffs -b 2048 --media-type=bdr --udfrev=0x0250 "$img" 65536 2>/dev/null | sed -n 's/^vatblock=//p')
if [ -z "$vat" ]; then
    report "$(basename "$img")" "mkudffs reported no VAT block"
else
    truncate -s $(((vat + 1) * 2048)) "$img"
    seen=$(udfinfo "$img" 2>/dev/null | sed -n 's/^vatblock=//p')
    if [ "$seen" = "$vat" ]; then
        report "$(basename "$img") (vat at $vat)" ""
    else
        report "$(basename "$img")" "udfinfo finds the VAT at '$seen', expected $vat"
    fi
fi

exit $failed
