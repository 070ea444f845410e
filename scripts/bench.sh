#!/bin/bash
# Builds the decoder benchmark in the host preset (Release, -O2) and runs
# it; arguments go to decode_bench (see bench/decode_bench.cpp):
#
#   bash scripts/bench.sh [--level N] [--repeat N] [--max-mb N] [--list] [DIR...]
#
# Takes a minute or two: most of it compresses the 64 MB corpus three ways.
# Run it on an otherwise idle machine; the figures are wall-clock.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
# Configure every time: a tree configured before bench/ existed has no
# decode_bench target yet.
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
if ! { cmake --preset host && cmake --build --preset host --target decode_bench; } >"$log" 2>&1; then
    cat "$log"
    echo "building decode_bench failed" >&2
    exit 1
fi
build/host/bench/decode_bench "$@"
