#!/bin/bash
# The Windows tests of the shipped i686 build (preset mingw) in the
# emulated machine (scripts/i686-vm.sh; scripts/test.sh runs this there):
# windows_tests and the GoogleTest programs of tests/windows, each in one
# Wine process (a Wine start costs seconds under emulation, too many for
# CTest's one entry a test), and the template check.
#
#   scripts/i686-vm.sh run -- bash scripts/i686/windows-tests.sh
#
# The last line is "i686 windows tests: N passed, N failed, N skipped",
# counted test by test; a program that ends without its summary counts as
# one failure. The exit status is non-zero when anything failed.
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/../.." || exit 1
ROOT="$PWD"
BUILD="$ROOT/build/mingw"

# shellcheck source=scripts/wine-env.sh
source "$ROOT/scripts/wine-env.sh" || exit 1

passed=0 failed=0 skipped=0
log="$(mktemp)"

# Left out here and run on the x86-64 build: it counts how many files one
# 25 ms slice of the progress page takes, and under software emulation
# the page's own updates fill the slice before ten files are done.
export GTEST_FILTER="-InstallPagesTest.TimeSlicesInstallManyFilesATurn"
echo "left out under emulation: ${GTEST_FILTER#-}"

# gtest PROGRAM: runs a GoogleTest program in its build folder.
gtest() {
    local program="$1" p f s start=$SECONDS rc
    echo "=== ${program#"$BUILD"/}"
    (cd "$(dirname "$program")" && timeout 1200 "$ZEVRIN_WINE" "$program" --gtest_brief=1 </dev/null) 2>&1 |
        tee "$log"
    rc=${PIPESTATUS[0]}
    p="$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' "$log" | tail -1)"
    f="$(sed -nE 's/^\[  FAILED  \] ([0-9]+) tests?, listed below.*/\1/p' "$log" | tail -1)"
    s="$(sed -nE 's/^\[  SKIPPED \] ([0-9]+) tests?, listed below.*/\1/p' "$log" | tail -1)"
    if [ -z "$p" ] && [ -z "$f" ]; then
        echo "FAIL ${program##*/}: no summary (exit $rc)"
        failed=$((failed + 1))
        return
    fi
    passed=$((passed + ${p:-0})) failed=$((failed + ${f:-0})) skipped=$((skipped + ${s:-0}))
    if [ "$rc" != 0 ] && [ "${f:-0}" = 0 ]; then
        echo "FAIL ${program##*/}: exit $rc"
        failed=$((failed + 1))
    fi
    echo "=== ${program##*/}: ${p:-0} passed, ${f:-0} failed ($((SECONDS - start)) s)"
}

for program in "$BUILD/windows_tests.exe" "$BUILD"/tests/windows/*_test.exe; do
    gtest "$program"
done

echo "=== template_check"
# Through a pipe: on the guest's serial terminal Wine's console would
# draw its output with cursor codes.
(cd "$BUILD/tests/windows" && timeout 300 "$ZEVRIN_WINE" template_check.exe "$BUILD/tests/windows/default.res" </dev/null) 2>&1 | cat
if [ "${PIPESTATUS[0]}" = 0 ]; then
    passed=$((passed + 1))
else
    echo "FAIL template_check"
    failed=$((failed + 1))
fi
rm -f "$log"

echo "i686 windows tests: $passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ]
