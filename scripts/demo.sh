#!/bin/bash
# The demo: installs what it needs, builds the tool and the stub, builds the
# example package (examples/demo) and runs it under Wine.
#
#   bash scripts/demo.sh
#
# With a display ($DISPLAY reachable) the installer opens there for a
# person to click through. Without one it runs in a virtual display, clicks
# through the pages the installer has, saves a screenshot of each and
# prints where they are (build/demo/screenshots/); at the end the installed
# uninstaller takes the demo away again.
#
# On a machine that cannot run 32-bit programs the package is built with
# the x86-64 stub (preset mingw64) and runs under 64-bit Wine
# (scripts/wine-arch.sh).
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
ROOT="$PWD"
OUT="$ROOT/build/demo"

note() { printf '\n=== %s\n' "$*"; }
fail() {
    echo "demo: $*" >&2
    exit 1
}

source "$ROOT/scripts/deps.sh"
note "dependencies"
install_dependencies || fail "could not install the dependencies"

# shellcheck source=scripts/wine-arch.sh
source "$ROOT/scripts/wine-arch.sh" || fail "no Wine to run the demo with"
PRESET="$ZEVRIN_WINE_PRESET"
if [ "$PRESET" != mingw ]; then
    if [ "$ZEVRIN_RUNS_32BIT" = 0 ]; then
        echo "demo: this machine cannot run 32-bit programs: the demo uses the x86-64 build ($PRESET)"
    else
        echo "demo: ZEVRIN_WINE_ARCH=$ZEVRIN_WINE_ARCH: the demo uses the x86-64 build ($PRESET)"
    fi
fi

note "build"
{ cmake --preset host >/dev/null && cmake --build --preset host --target zevrin; } || fail "building zevrin failed"
{ cmake --preset "$PRESET" >/dev/null && cmake --build --preset "$PRESET" --target zevrin_stub zevrin_uninstaller hello zevrin_e2e_driver; } ||
    fail "building the stub failed"

note "package"
mkdir -p "$OUT"
build/host/zevrin build examples/demo/demo.toml -I "build/$PRESET/examples" --stub "build/$PRESET/zevrin_stub.exe" \
    --uninstaller "build/$PRESET/zevrin_uninstaller.exe" -o "$OUT/SETUP.EXE" || fail "zevrin build failed"
build/host/zevrin verify "$OUT/SETUP.EXE" || fail "the package does not verify"
ls -l "$OUT/SETUP.EXE"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    note "running SETUP.EXE on $DISPLAY"
    if [ "$ZEVRIN_WINE_ARCH" = win64 ]; then
        prefix="${ZEVRIN_DEMO_PREFIX:-$HOME/.zevrin-demo-wine64}"
    else
        prefix="${ZEVRIN_DEMO_PREFIX:-$HOME/.zevrin-demo-wine}"
    fi
    export WINEDEBUG=-all WINEARCH="$ZEVRIN_WINE_ARCH" WINEPREFIX="$prefix"
    "$ZEVRIN_WINE" "$OUT/SETUP.EXE"
    echo "exit code: $?"
else
    note "no display: walking the pages in a virtual display"
    rm -rf "$OUT/screenshots"
    python3 tests/e2e/demo_walk.py "$OUT/SETUP.EXE" "$OUT/screenshots" || fail "the walk through the pages failed"
fi
