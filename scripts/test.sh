#!/bin/bash
# shellcheck disable=SC2317 # functions reached through run_stage and trap
# Runs every test of the project, from a bare Debian 12 machine if need be:
#   1. installs the build dependencies with apt-get (skipped when present;
#      needs root otherwise),
#   2. builds the `host` and `mingw` presets,
#   3. runs the host tests, then the Windows tests under Wine (Xvfb display,
#      32-bit prefix: scripts/wine-env.sh),
#   4. runs the fuzzers through scripts/fuzz.sh, or CTest label `fuzz`.
# On a machine that cannot run 32-bit programs (so no 32-bit Wine either;
# scripts/wine-arch.sh) the `mingw` preset is still built, and the Windows
# tests run on the x86-64 build of the same sources (preset `mingw64`)
# under 64-bit Wine, and the shipped i686 build runs in an emulated machine
# (scripts/i686-vm.sh, its image built and cached on first use): its
# GoogleTest programs (scripts/i686/windows-tests.sh), and with
# ZEVRIN_I686_E2E=1 the end-to-end cases of scripts/i686/e2e-cases.sh.
# ZEVRIN_I686_VM=0 leaves that machine out.
# Every stage runs even when an earlier one failed (unless there is nothing
# to run it with). The last line is "N passed, N failed": the CTest results
# of all runs (skipped tests in neither), plus one failure per stage that
# failed outside CTest. The exit status is non-zero when anything failed.
#
# Environment: ZEVRIN_JOBS (default 2), ZEVRIN_WINEPREFIX (see wine-env.sh),
# ZEVRIN_WINE_ARCH (see wine-arch.sh), ZEVRIN_I686_VM (0: no emulated machine),
# ZEVRIN_I686_CACHE (see i686-vm.sh).
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
ROOT="$PWD"
JOBS="${ZEVRIN_JOBS:-2}"
START_TIME=$SECONDS

# The package list and install_dependencies.
source "$ROOT/scripts/deps.sh"

PASSED=0
FAILED=0
SKIPPED=0
WINDOWS_NOTE=""
FAILED_STAGES=()
LOG_DIR="$(mktemp -d)"

note() { printf '\n=== %s\n' "$*"; }

stage_failed() {
    echo "=== FAILED: $1"
    FAILED_STAGES+=("$1")
    FAILED=$((FAILED + 1))
}

# run_stage NAME COMMAND...: a step whose failure counts as one failure.
run_stage() {
    local name="$1" start=$SECONDS
    shift
    note "$name"
    if "$@"; then
        echo "=== $name: ok ($((SECONDS - start)) s)"
        return 0
    fi
    stage_failed "$name"
    return 1
}

# Adds the CTest summary lines of a log to the totals; LOG_FAILED gets the
# failures they report. Skipped and disabled tests count as neither passed
# nor failed. Returns 1 when the log has no summary.
count_ctest_results() {
    local found=1 failed total skipped
    LOG_FAILED=0
    while read -r failed total; do
        PASSED=$((PASSED + total - failed))
        FAILED=$((FAILED + failed))
        LOG_FAILED=$((LOG_FAILED + failed))
        found=0
    done < <(sed -nE 's/.*tests passed, ([0-9]+) tests failed out of ([0-9]+).*/\1 \2/p' "$1")
    if [ "$found" = 0 ]; then
        skipped=$(grep -cE '^[[:space:]]*[0-9]+ - .* \((Skipped|Disabled)\)$' "$1")
        PASSED=$((PASSED - skipped))
        SKIPPED=$((SKIPPED + skipped))
    fi
    return "$found"
}

# account NAME LOG EXIT-STATUS SUMMARY-REQUIRED START: counts a run's
# results; a failure its CTest lines do not show counts as one.
account() {
    local name="$1" log="$2" rc="$3" required="$4" start="$5"
    if ! count_ctest_results "$log" && [ "$required" = 1 ]; then
        # Crashed, timed out as a whole, or found no tests.
        stage_failed "$name (no CTest summary, exit $rc)"
        return 1
    fi
    if [ "$rc" != 0 ]; then
        if [ "$LOG_FAILED" = 0 ]; then
            stage_failed "$name (exit $rc)"
        else
            FAILED_STAGES+=("$name")
            echo "=== FAILED: $name"
        fi
        return 1
    fi
    echo "=== $name: ok ($((SECONDS - start)) s)"
}

# run_ctest NAME CTEST-ARGS...
run_ctest() {
    local name="$1" log="$LOG_DIR/$1.log" rc start=$SECONDS
    shift
    note "$name"
    ctest "$@" 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    account "$name" "$log" "$rc" 1 "$start"
}

# run_vm NAME SCRIPT: a script of scripts/i686 run in the emulated i686
# machine; its last line "NAME: N passed, N failed, N skipped" counts test
# by test.
run_vm() {
    local name="$1" script="$2" log="$LOG_DIR/$1.log" rc start=$SECONDS p f s
    note "$name"
    bash "$ROOT/scripts/i686-vm.sh" run --timeout 2400 -- bash "scripts/i686/$script" 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    read -r p f s < <(sed -nE "s/^$name: ([0-9]+) passed, ([0-9]+) failed, ([0-9]+) skipped\$/\\1 \\2 \\3/p" "$log")
    if [ -z "${p:-}" ]; then
        stage_failed "$name (no summary, exit $rc)"
        return 1
    fi
    PASSED=$((PASSED + p))
    FAILED=$((FAILED + f))
    SKIPPED=$((SKIPPED + s))
    if [ "$rc" != 0 ]; then
        if [ "$f" = 0 ]; then
            stage_failed "$name (exit $rc)"
        else
            FAILED_STAGES+=("$name")
            echo "=== FAILED: $name"
        fi
        return 1
    fi
    echo "=== $name: ok ($((SECONDS - start)) s)"
}

finish() {
    local minutes=$(((SECONDS - START_TIME) / 60)) seconds=$(((SECONDS - START_TIME) % 60))
    echo
    if [ "${#FAILED_STAGES[@]}" -gt 0 ]; then
        echo "Failed: ${FAILED_STAGES[*]}"
    fi
    [ "$SKIPPED" = 0 ] || echo "Skipped: $SKIPPED"
    [ -z "$WINDOWS_NOTE" ] || echo "$WINDOWS_NOTE"
    echo "Total time: ${minutes}m${seconds}s"
    echo "$PASSED passed, $FAILED failed"
    [ "$FAILED" = 0 ] && [ "${#FAILED_STAGES[@]}" = 0 ]
    exit $?
}

# --- dependencies --------------------------------------------------------

# --- Wine cleanup --------------------------------------------------------

# Stop the wineserver and Xvfb only if this run started them.
cleanup() {
    if [ -n "${ZEVRIN_XVFB_PID:-}" ]; then
        wineserver -k >/dev/null 2>&1
        kill "$ZEVRIN_XVFB_PID" 2>/dev/null
        rm -f "${WINEPREFIX:-/tmp/zevrin-wine}.display"
    fi
    rm -rf "$LOG_DIR"
}
trap cleanup EXIT

# --- the run ---------------------------------------------------------------

if ! run_stage "dependencies" install_dependencies; then
    finish
fi

HOST_BUILT=0
if run_stage "configure host" cmake --preset host &&
    run_stage "build host" cmake --build --preset host --parallel "$JOBS"; then
    HOST_BUILT=1
    run_ctest "host tests" --preset host --parallel "$JOBS"
fi

# The shipped i686 build is always built (warnings included); its tests
# run where 32-bit programs do.
WINDOWS_BUILT=0
MINGW_BUILT=0
if run_stage "configure mingw" cmake --preset mingw &&
    run_stage "build mingw" cmake --build --preset mingw --parallel "$JOBS"; then
    WINDOWS_BUILT=1
    MINGW_BUILT=1
    # The host tests that read back what the tool makes of the shipped
    # programs (execution level, version, icon, checksum) skip themselves
    # until those programs are built: run them again now.
    run_ctest "host tests on the built programs" --preset host --tests-regex '^ProgramLookTest\.' \
        --no-tests=error
fi

# shellcheck source=scripts/wine-arch.sh
if ! source "$ROOT/scripts/wine-arch.sh"; then
    stage_failed "wine choice"
    WINDOWS_BUILT=0
elif [ "$ZEVRIN_WINE_PRESET" != mingw ]; then
    if [ "$ZEVRIN_RUNS_32BIT" = 0 ]; then
        WINDOWS_NOTE="this machine cannot run 32-bit programs: Windows tests run on the x86-64 build"
    else
        WINDOWS_NOTE="ZEVRIN_WINE_ARCH=$ZEVRIN_WINE_ARCH: Windows tests run on the x86-64 build"
    fi
    note "$WINDOWS_NOTE"
    WINDOWS_BUILT=0
    if run_stage "configure $ZEVRIN_WINE_PRESET" cmake --preset "$ZEVRIN_WINE_PRESET" &&
        run_stage "build $ZEVRIN_WINE_PRESET" cmake --build --preset "$ZEVRIN_WINE_PRESET" --parallel "$JOBS"; then
        WINDOWS_BUILT=1
    fi
fi

if [ "$WINDOWS_BUILT" = 1 ]; then
    # Sourced here, not just by each test's wrapper, so that Xvfb and the
    # prefix are set up once and the cleanup trap knows about them.
    # shellcheck source=scripts/wine-env.sh
    if run_stage "wine environment" source "$ROOT/scripts/wine-env.sh"; then
        run_ctest "windows tests" --preset "$ZEVRIN_WINE_PRESET" --parallel "$JOBS"
    fi
fi

# Where 32-bit programs cannot run, the shipped i686 programs run in the
# emulated machine: the GoogleTest suite and the other Windows tests, then
# a choice of end-to-end cases (emulation is slow; the x86-64 build ran
# them all above).
if [ "$MINGW_BUILT" = 1 ] && [ "$HOST_BUILT" = 1 ] && [ "${ZEVRIN_RUNS_32BIT:-1}" = 0 ] &&
    [ "${ZEVRIN_I686_VM:-1}" != 0 ]; then
    if run_stage "i686 machine image" bash "$ROOT/scripts/i686-vm.sh" image; then
        run_vm "i686 windows tests" windows-tests.sh
        # Not yet by default: the driver's waits are made for a native
        # machine, and these cases have not passed here yet.
        if [ "${ZEVRIN_I686_E2E:-0}" = 1 ]; then
            run_vm "i686 end-to-end" e2e-cases.sh
        fi
    fi
fi

if [ -f "$ROOT/scripts/fuzz.sh" ]; then
    note "fuzz"
    fuzz_start=$SECONDS
    bash "$ROOT/scripts/fuzz.sh" 2>&1 | tee "$LOG_DIR/fuzz.log"
    account "fuzz" "$LOG_DIR/fuzz.log" "${PIPESTATUS[0]}" 0 "$fuzz_start"
elif [ "$HOST_BUILT" = 1 ] &&
    ctest --test-dir build/host --print-labels 2>/dev/null | grep -qE '^[[:space:]]+fuzz$'; then
    run_ctest "fuzz" --test-dir build/host --label-regex '^fuzz$' --output-on-failure \
        --parallel "$JOBS"
else
    note "fuzz: no scripts/fuzz.sh and no CTest label fuzz yet, skipped"
fi

finish
