#!/bin/bash
# Builds the decoder benchmark in the host preset (Release, -O2) and runs
# it; arguments go to decode_bench (see bench/decode_bench.cpp):
#
#   bash scripts/bench.sh [--windows] [--level N] [--repeat N] [--max-mb N] [--list] [DIR...]
#
# --windows then also times the same corpus and streams in the Windows
# build of the decoder, as the stub ships it (its flags: -Os), against
# zlib built for MinGW, under Wine (bench/decode_bench_win.cpp): the i686
# build (preset mingw) where 32-bit programs run, else the x86-64 build
# (preset mingw64) under 64-bit Wine (scripts/wine-arch.sh).
#
# Takes a minute or two: most of it compresses the 64 MB corpus three ways.
# Run it on an otherwise idle machine; the figures are wall-clock.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
windows=0
args=()
repeat=()
while [ $# -gt 0 ]; do
    case "$1" in
    --windows) windows=1 ;;
    --repeat)
        repeat=(--repeat "$2")
        args+=("$1" "$2")
        shift
        ;;
    *) args+=("$1") ;;
    esac
    shift
done

# Configure every time: a tree configured before bench/ existed has no
# decode_bench target yet.
log="$(mktemp)"
corpus="$(mktemp --suffix=.zdbc)"
trap 'rm -f "$log" "$corpus"' EXIT
build() {
    if ! { cmake --preset "$1" && cmake --build --preset "$1" --target "$2"; } >"$log" 2>&1; then
        cat "$log"
        echo "building $2 ($1) failed" >&2
        exit 1
    fi
}
build host decode_bench
if [ "$windows" = 0 ]; then
    build/host/bench/decode_bench "${args[@]}"
    exit 0
fi

# shellcheck source=wine-env.sh
source scripts/wine-env.sh
build "$ZEVRIN_WINE_PRESET" decode_bench_win
echo "== host (x86-64, -O2) =="
build/host/bench/decode_bench --save "$corpus" "${args[@]}"
echo
if [ "$ZEVRIN_WINE_ARCH" = win64 ]; then
    echo "== Windows under Wine: x86-64 build (preset mingw64, the stub's flags); this machine runs no 32-bit programs, so not the shipped i686 build =="
else
    echo "== Windows under Wine: i686 build as shipped (preset mingw, the stub's flags) =="
fi
"$ZEVRIN_WINE" "build/$ZEVRIN_WINE_PRESET/bench/decode_bench_win.exe" "${repeat[@]}" "Z:$corpus"
