#!/bin/sh
# udfclient_extract.sh IMAGE OUTDIR
# Extracts a UDF image with udfclient (read-only), the one independent reader here that follows a VAT and a
# metadata file in several extents. Names outside ASCII do not survive. Exit status 1 if nothing came out.
set -eu
if [ $# -ne 2 ]; then
    echo "usage: $0 IMAGE OUTDIR" >&2
    exit 2
fi
img=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
mkdir -p "$2"
cd "$2"
fileset=$(printf 'ls\nquit\n' | udfclient -b 2048 "$img" 2>/dev/null | awk '/^d/ {print $NF; exit}')
[ -n "$fileset" ] || exit 1
# The names of the file set's root, from the listing that follows the "cd".
names=$(printf 'cd %s\nls\nquit\n' "$fileset" | udfclient -b 2048 "$img" 2>/dev/null |
    awk '/^UDF> Directory listing/ {on = 1; next} on && /^[-d]/ {if ($NF != "." && $NF != "..") print $NF}')
[ -n "$names" ] || exit 1
# shellcheck disable=SC2086
printf 'cd %s\nmget %s\nquit\n' "$fileset" "$(echo $names)" | udfclient -b 2048 "$img" >/dev/null 2>&1
