#!/bin/bash
# Peak memory and time of `zevrin build` on one large file, measured with
# /usr/bin/time -v, at each level asked for; with --makensis, makensis
# packs the same file in the same run for comparison.
#
#   bench/build_memory.sh [--mb N] [--levels "9 1"] [--zevrin PATH]... [--makensis [--nsis "zlib"]] [--work DIR]
#
# The input is N MB (default 200) of real files (the shared libraries in
# /usr/lib, in sorted order, joined), so it compresses like programs do.
# --zevrin may be given several times (another build of the tool, say) to
# compare them on the same input; default build/host/zevrin, built first.
# Everything goes under DIR (default /tmp/zevrin-build-bench), deleted at
# the end. The stub is a stand-in: 64 KB holding the stamp record.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
mb=200
levels="9 1"
work=/tmp/zevrin-build-bench
makensis=0
compressors=("zlib" "/SOLID lzma") # makensis's default, and its best
tools=()
while [ $# -gt 0 ]; do
    case "$1" in
    --mb) mb="$2"; shift 2 ;;
    --levels) levels="$2"; shift 2 ;;
    --zevrin) tools+=("$(realpath "$2")"); shift 2 ;;
    --makensis) makensis=1; shift ;;
    --nsis) IFS=, read -r -a compressors <<<"$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
    esac
done
if [ ${#tools[@]} -eq 0 ]; then
    cmake --preset host >/dev/null && cmake --build --preset host --target zevrin >/dev/null
    tools=("$PWD/build/host/zevrin")
fi
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package time)" >&2; exit 1; }
if [ "$makensis" = 1 ] && ! command -v makensis >/dev/null; then
    echo "--makensis needs makensis (Debian package nsis)" >&2
    exit 1
fi

rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
cd "$work"

# The input: whole files until N MB, then cut to exactly N MB.
want=$((mb * 1024 * 1024))
: >input.part
find /usr/lib -type f -name '*.so*' -size +16k 2>/dev/null | LC_ALL=C sort | while read -r f; do
    [ "$(stat -c %s input.part)" -lt "$want" ] || break
    cat "$f" >>input.part 2>/dev/null || true
done || true # find and sort stop on SIGPIPE once there is enough
head -c "$want" input.part >input.bin
rm -f input.part
have=$(stat -c %s input.bin)
if [ "$have" -lt "$want" ]; then
    echo "only $have bytes of input found" >&2
    exit 1
fi

{ printf '\x77\x77\x67\x54\x29\x48'; head -c $((65536 - 6)) /dev/zero; } >stub.exe
cat >bench.toml <<'EOF'
[product]
name = "Build Bench"
[[files]]
source = "input.bin"
EOF

# One row: what, peak resident set in MB, wall seconds, output bytes.
row() {
    local what="$1" log="$2" out="$3"
    local kb wall size
    kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$log")
    wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$log")
    size=$(stat -c %s "$out")
    printf '%-34s %10.1f %10s %14s %7.2f%%\n' "$what" "$(echo "$kb / 1024" | bc -l)" "$wall" "$size" \
        "$(echo "100 * $size / $have" | bc -l)"
}

echo "input: $have bytes in one file ($(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg))"
printf '%-34s %10s %10s %14s %8s\n' "build" "peak MB" "wall" "bytes" "of input"
for tool in "${tools[@]}"; do
    for level in $levels; do
        /usr/bin/time -v -o time.log "$tool" build bench.toml --stub stub.exe --level "$level" -o SETUP.EXE \
            >/dev/null
        row "$(basename "$(dirname "$tool")")/zevrin --level $level" time.log SETUP.EXE
        rm -f SETUP.EXE
    done
done
if [ "$makensis" = 1 ]; then
    for compressor in "${compressors[@]}"; do
        cat >bench.nsi <<EOF
SetCompressor $compressor
OutFile "nsis.exe"
InstallDir "\$PROGRAMFILES\\Build Bench"
Section
SetOutPath "\$INSTDIR"
File "input.bin"
SectionEnd
EOF
        /usr/bin/time -v -o time.log makensis -V1 bench.nsi >/dev/null
        row "makensis ($compressor)" time.log nsis.exe
        rm -f nsis.exe
    done
fi
