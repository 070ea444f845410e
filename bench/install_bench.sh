#!/usr/bin/env bash
# Install speed under Wine: builds `zevrin` (host preset), the stub and
# install_bench (the MinGW preset this machine's Wine runs, see
# scripts/wine-arch.sh), gathers a corpus of real files, packs it at
# level 9 and at level 0 (stored), and runs install_bench on both
# packages (see bench/install_bench.cpp for what is timed).
#
#   bench/install_bench.sh [--repeat N] [--work DIR]
#
#   --repeat N   rounds (default 5)
#   --work DIR   corpus, manifest and packages (default
#                /tmp/zevrin-install-bench); kept between runs, the
#                packages packed again when the manifest, stub or tool
#                changed. One run at a time in a folder.
#
# The corpus (bench/corpus.py, shared with bench/wizard_bench.sh): 60 MB
# of real files in sorted path order, 40 MB of Wine's own DLLs and
# programs, 15 MB of C headers and 5 MB of package documentation, the
# sub-folders kept, names made Windows-safe; at least 1000 files and
# 50 MB, or it stops.
#
# Wine: its own prefix ($ZEVRIN_WINEPREFIX, default
# /tmp/zevrin-wine64-bench or /tmp/zevrin-wine-bench) through
# scripts/wine-env.sh, which starts an Xvfb when no display is reachable.
# The installs go to DIR/installs (through Wine's Z: drive, so on the
# same disk as the corpus). Figures are wall-clock; run it on an idle
# machine, or several times.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
bench_root="$(dirname "$here")"
repeat=5
work=/tmp/zevrin-install-bench
while [ $# -gt 0 ]; do
    case "$1" in
        --repeat) repeat="$2"; shift 2 ;;
        --work) work="$2"; shift 2 ;;
        -h|--help) sed -n '2,/^set /{/^#/s/^# \{0,1\}//p}' "$0"; exit 0 ;;
        *) echo "install_bench: unknown argument $1" >&2; exit 2 ;;
    esac
done

# shellcheck source=bench/bench_lib.sh
source "$here/bench_lib.sh"
bench_build install_bench zevrin_stub install_bench
bench="$bench_root/build/$bench_preset/bench/install_bench.exe"

mkdir -p "$work"
work="$(cd "$work" && pwd)"
bench_corpus "$work"
for level in 9 0; do
    bench_pack "$work/bench.toml" "$work/SETUP-$level.EXE" "$level"
done

# --- run under Wine -------------------------------------------------------------
if [ "$ZEVRIN_WINE_ARCH" = win64 ]; then
    export ZEVRIN_WINEPREFIX="${ZEVRIN_WINEPREFIX:-/tmp/zevrin-wine64-bench}"
else
    export ZEVRIN_WINEPREFIX="${ZEVRIN_WINEPREFIX:-/tmp/zevrin-wine-bench}"
fi
# shellcheck source=scripts/wine-env.sh
source "$bench_root/scripts/wine-env.sh"
win() { printf 'Z:%s' "${1//\//\\}"; }
bench_heading
"$ZEVRIN_WINE" "$bench" --source "$(win "$work/corpus")" --target "$(win "$work/installs")" --repeat "$repeat" \
    "$(win "$work/SETUP-9.EXE")" "$(win "$work/SETUP-0.EXE")"
