#!/bin/bash
# Package size and build CPU time of `zevrin build` at each level, beside
# makensis on the same files (its default zlib, and solid LZMA), on three
# sets: one big file, the install benchmarks' corpus (bench/corpus.py) and
# a second many-file set (bench/fileset.py). The table of bench/README.md
# and the default level of docs/manifest.md come from it.
#
#   bench/level_table.sh [--levels "6 7 8 9 10 11 12"] [--mb N] [--sets "big corpus set"] [--nsis "zlib,/SOLID lzma"]
#                        [--no-nsis] [--work DIR]
#
# CPU time is user + system seconds of the build (/usr/bin/time), which
# other load on the machine changes little; wall time is printed beside
# it. Everything runs under nice. Needs makensis (Debian package nsis)
# unless --no-nsis. The stub is a stand-in: 64 KB holding the stamp
# record, the same for every build. N MB (default 64) is the size of the
# big file and of the second many-file set. DIR (default
# /tmp/zevrin-level-bench) keeps the sets between runs.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
levels="6 7 8 9 10 11 12"
mb=64
sets="big corpus set"
nsis=1
compressors=("zlib" "/SOLID lzma") # makensis's default, and its best
work=/tmp/zevrin-level-bench
while [ $# -gt 0 ]; do
    case "$1" in
    --levels) levels="$2"; shift 2 ;;
    --mb) mb="$2"; shift 2 ;;
    --sets) sets="$2"; shift 2 ;;
    --nsis) IFS=, read -r -a compressors <<<"$2"; shift 2 ;;
    --no-nsis) nsis=0; shift ;;
    --work) work="$2"; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
    esac
done
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package time)" >&2; exit 1; }
if [ "$nsis" = 1 ] && ! command -v makensis >/dev/null; then
    echo "needs makensis (Debian package nsis), or --no-nsis" >&2
    exit 1
fi
cmake --preset host >/dev/null && cmake --build --preset host --target zevrin -j2 >/dev/null
tool="$PWD/build/host/zevrin"
src="$PWD/bench"
mkdir -p "$work"
cd "$work"
{ printf '\x77\x77\x67\x54\x29\x48'; head -c $((65536 - 6)) /dev/zero; } >stub.exe

# The manifest of each set, made when missing.
prepare() {
    case "$1" in
    big)
        local want=$((mb * 1024 * 1024))
        if [ ! -f big.bin ] || [ "$(stat -c %s big.bin)" != "$want" ]; then
            : >big.part
            find /usr/lib -type f -name '*.so*' -size +16k 2>/dev/null | LC_ALL=C sort | while read -r f; do
                [ "$(stat -c %s big.part)" -lt "$want" ] || break
                cat "$f" >>big.part 2>/dev/null || true
            done || true
            head -c "$want" big.part >big.bin
            rm -f big.part
        fi
        printf '[product]\nname = "Level Bench"\n[[files]]\nsource = "big.bin"\n' >big.toml
        echo big.toml ;;
    corpus)
        python3 "$src/corpus.py" corpus-work >&2
        echo corpus-work/bench.toml ;;
    set)
        python3 "$src/fileset.py" set-work --mb "$mb" >&2
        echo set-work/set.toml ;;
    esac
}

# One row: set, build, CPU seconds, wall seconds, bytes, % of input.
row() {
    local set="$1" what="$2" log="$3" out="$4" input="$5"
    local user sys wall size
    user=$(sed -n 's/.*User time (seconds): //p' "$log")
    sys=$(sed -n 's/.*System time (seconds): //p' "$log")
    wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$log")
    size=$(stat -c %s "$out")
    printf '| %s | %s | %.1f | %s | %d | %.2f %% |\n' "$set" "$what" "$(echo "$user + $sys" | bc -l)" "$wall" "$size" \
        "$(echo "100 * $size / $input" | bc -l)"
}

echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg), $(makensis -VERSION 2>/dev/null || true)"
echo
echo "| set | build | CPU s | wall | bytes | of input |"
echo "|---|---|---|---|---|---|"
for set in $sets; do
    manifest=$(prepare "$set")
    input=$(python3 -c 'import os, sys, tomllib
m = sys.argv[1]
files = tomllib.load(open(m, "rb"))["files"]
print(sum(os.path.getsize(os.path.join(os.path.dirname(m), f["source"])) for f in files), len(files))' "$manifest")
    count=${input#* }
    input=${input% *}
    echo "| $set: $count files, $input bytes | | | | | |"
    for level in $levels; do
        nice /usr/bin/time -v -o time.log "$tool" build "$manifest" --stub stub.exe --level "$level" -q \
            -o SETUP.EXE >/dev/null
        row "$set" "zevrin --level $level" time.log SETUP.EXE "$input"
        rm -f SETUP.EXE
    done
    if [ "$nsis" = 1 ]; then
        for compressor in "${compressors[@]}"; do
            python3 "$src/manifest_to_nsi.py" "$manifest" "$compressor" bench.nsi "$work/nsis.exe"
            LC_ALL=C.UTF-8 nice /usr/bin/time -v -o time.log makensis -V1 -INPUTCHARSET UTF8 bench.nsi >/dev/null
            row "$set" "makensis ($compressor)" time.log nsis.exe "$input"
            rm -f nsis.exe
        done
    fi
done
