#!/bin/bash
# Builds what the end-to-end tests need and runs every scenario in
# tests/e2e (or those named), one after another:
#
#   scripts/e2e.sh [--no-build] [SCENARIO...]     e.g. scripts/e2e.sh wizard_pages
#
# Needs: the host preset's `zevrin`, the stub and the UI driver (the CMake
# target zevrin_e2e_driver, or compiled here directly when the build does
# not have it) of the preset scripts/wine-arch.sh chooses: mingw, or
# mingw64 on a machine that cannot run 32-bit programs. Each scenario
# prints PASS, FAIL or SKIP per case; the last line is "N passed, N failed"
# over all cases (skipped cases in neither). Screenshots and logs:
# build/e2e-artifacts/. Exit status non-zero when a case failed or a
# scenario could not run.
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
ROOT="$PWD"
# shellcheck source=scripts/wine-arch.sh
source "$ROOT/scripts/wine-arch.sh" || exit 1
PRESET="$ZEVRIN_WINE_PRESET"
BUILD=1
if [ "${1:-}" = "--no-build" ]; then
    BUILD=0
    shift
fi

note() { printf '\n=== %s\n' "$*"; }

FAILED_STEPS=0
DRIVER_TARGET=0
if [ "$BUILD" = 1 ]; then
    note "build"
    if ! { cmake --preset host >/dev/null && cmake --build --preset host --target zevrin; }; then
        echo "=== FAILED: building the host tool"
        FAILED_STEPS=$((FAILED_STEPS + 1))
    fi
    targets=(zevrin_stub)
    if cmake --preset "$PRESET" >/dev/null &&
        cmake --build --preset "$PRESET" --target help 2>/dev/null | grep -q zevrin_e2e_driver; then
        targets+=(zevrin_e2e_driver)
        DRIVER_TARGET=1
    fi
    if ! cmake --build --preset "$PRESET" --target "${targets[@]}"; then
        echo "=== FAILED: building ${targets[*]}"
        FAILED_STEPS=$((FAILED_STEPS + 1))
    fi
fi

export ZEVRIN_E2E_TOOL="${ZEVRIN_E2E_TOOL:-$ROOT/build/host/zevrin}"
export ZEVRIN_E2E_STUB="${ZEVRIN_E2E_STUB:-$ROOT/build/$PRESET/zevrin_stub.exe}"
if [ -z "${ZEVRIN_E2E_DRIVER:-}" ]; then
    if [ "$DRIVER_TARGET" = 1 ] ||
        { [ "$BUILD" = 0 ] && [ -f "$ROOT/build/$PRESET/zevrin_e2e_driver.exe" ]; }; then
        ZEVRIN_E2E_DRIVER="$ROOT/build/$PRESET/zevrin_e2e_driver.exe"
    else
        # Not wired into the build (yet): one compiler call does it.
        if [ "$PRESET" = mingw64 ]; then
            ZEVRIN_E2E_DRIVER="$ROOT/build/e2e/driver64.exe" compiler=x86_64-w64-mingw32-g++
        else
            ZEVRIN_E2E_DRIVER="$ROOT/build/e2e/driver.exe" compiler=i686-w64-mingw32-g++
        fi
        if [ "$BUILD" = 1 ] || [ ! -f "$ZEVRIN_E2E_DRIVER" ]; then
            mkdir -p "$ROOT/build/e2e"
            if ! "$compiler" -std=c++17 -O2 -Wall -Wextra -static -o "$ZEVRIN_E2E_DRIVER" \
                "$ROOT/tests/e2e/driver/driver.cpp" -luser32 -lgdi32 -ladvapi32; then
                echo "=== FAILED: building the UI driver"
                FAILED_STEPS=$((FAILED_STEPS + 1))
            fi
        fi
    fi
fi
export ZEVRIN_E2E_DRIVER

scenarios=()
if [ $# -gt 0 ]; then
    for name in "$@"; do
        name="${name#test_}"
        name="${name%.py}"
        scenarios+=("$ROOT/tests/e2e/test_$name.py")
    done
else
    scenarios=("$ROOT"/tests/e2e/test_*.py)
fi

PASSED=0
FAILED=0
SKIPPED=0
LOG="$(mktemp)"
trap 'rm -f "$LOG"' EXIT
for scenario in "${scenarios[@]}"; do
    note "$(basename "$scenario" .py)"
    if [ ! -f "$scenario" ]; then
        echo "FAIL no such scenario: $scenario"
        FAILED=$((FAILED + 1))
        continue
    fi
    # The scenario bounds every wait itself; this only stops a runaway.
    timeout -k 30 1800 python3 "$scenario" </dev/null 2>&1 | tee "$LOG"
    rc=${PIPESTATUS[0]}
    PASSED=$((PASSED + $(grep -c '^PASS ' "$LOG")))
    FAILED=$((FAILED + $(grep -c '^FAIL ' "$LOG")))
    SKIPPED=$((SKIPPED + $(grep -c '^SKIP ' "$LOG")))
    if [ "$rc" != 0 ] && [ "$rc" != 77 ] && ! grep -q '^FAIL ' "$LOG"; then
        echo "FAIL $(basename "$scenario"): ended with status $rc"
        FAILED=$((FAILED + 1))
    fi
done

FAILED=$((FAILED + FAILED_STEPS))
echo
[ "$SKIPPED" = 0 ] || echo "Skipped: $SKIPPED"
echo "$PASSED passed, $FAILED failed"
[ "$FAILED" = 0 ]
