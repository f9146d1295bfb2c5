#!/usr/bin/env bash
# Compiles every product source for Windows on Arm64 (nothing here can link or run such a program), then checks
# that the Armv8 digest object really holds the SHA-1 and SHA-256 instructions.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$here/build-ci-winarm64}
clang=${CLANG:-clang-14}
objdump=${OBJDUMP:-llvm-objdump-14}
G=${MINGW_CXX_INCLUDE:-/usr/lib/gcc/x86_64-w64-mingw32/12-posix/include/c++}

for tool in "$clang" "$objdump"; do
    command -v "$tool" >/dev/null || { echo "check_windows_arm64: $tool not found" >&2; exit 2; }
done
[ -d "$G" ] || { echo "check_windows_arm64: MinGW C++ headers not found at $G" >&2; exit 2; }

flags=(--target=aarch64-w64-windows-gnu -std=c++17 -nostdinc++ -isystem "$G" -isystem "$G/x86_64-w64-mingw32"
       -isystem /usr/share/mingw-w64/include -I "$here" -O2 -Wall -Wextra -Wpedantic -Werror)

# The per-OS and per-processor files of other targets; everything else in the product folders is built.
skip='/(host_posix|console_posix|platform_posix|cpu_x86|sha_x86|cpu_arm_linux|cpu_arm_apple|cpu_none)\.cpp$'

mkdir -p "$out"
count=0
while IFS= read -r src; do
    rel=${src#"$here"/}
    obj="$out/${rel//\//_}"
    obj="${obj%.cpp}.o"
    # Only the Armv8 engine may use the crypto extension; the rest must run on any Arm64 processor.
    march=-march=armv8-a
    [ "$rel" = digest/sha_arm.cpp ] && march=-march=armv8-a+crypto
    "$clang" "${flags[@]}" "$march" -c "$src" -o "$obj"
    count=$((count + 1))
done < <(find "$here"/{app,aacs,console,digest,io,udf,tools} -name '*.cpp' | grep -Ev "$skip" | sort)

arm="$out/digest_sha_arm.o"
disassembly=$("$objdump" -d --mattr=+crypto "$arm")
for insn in sha256h sha256h2 sha256su0 sha256su1 sha1c sha1su0; do
    grep -qw "$insn" <<<"$disassembly" || { echo "check_windows_arm64: no $insn in $arm" >&2; exit 1; }
done
format=$("$objdump" -f "$arm" | sed -n 's/.*file format //p')
echo "check_windows_arm64: $count sources compiled ($format), SHA-1 and SHA-256 instructions present"
