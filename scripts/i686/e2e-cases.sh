#!/bin/bash
# The end-to-end cases the shipped i686 build runs in the emulated machine
# (scripts/i686-vm.sh; scripts/test.sh runs this there). Emulation is
# slow, so a choice: the demo package through the wizard and its
# uninstaller, a launch after the install, damaged packages refused with
# their message, and multi-volume installs. The x86-64 build runs every
# case under 64-bit Wine outside.
#
#   scripts/i686-vm.sh run -- bash scripts/i686/e2e-cases.sh
#
# Expects the host preset's zevrin and the mingw preset built. The last
# line is "i686 end-to-end: N passed, N failed, N skipped"; the exit status
# is non-zero when a case failed.
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/../.." || exit 1
ROOT="$PWD"
BUILD="$ROOT/build/mingw"

# scenario | case name (as the scenario lists it)
CASES=(
    "test_install.py|a full install through the wizard"
    "test_install.py|second disk missing, put back at the prompt"
    "test_launch.py|box left checked: the program starts from the install folder"
    "test_damaged_package.py|cut by one byte"
    "test_damaged_package.py|cut inside the header"
    "test_unattended.py|a missing volume: 1603 without a prompt"
    "test_uninstall.py|answering the questions, a user's file and its folders stay"
)

# The host build of zevrin compiles its default dialog templates with
# windres, which the machine does not have: a copy of the tool gets them
# beside it as the mingw build compiled them.
TOOL_DIR="$(mktemp -d)"
cp "$ROOT/build/host/zevrin" "$TOOL_DIR/" && mkdir -p "$TOOL_DIR/templates" &&
    cp "$BUILD/templates/default.res" "$TOOL_DIR/templates/" || exit 1

# The wizard's first page takes one to three minutes to come up here.
export ZEVRIN_E2E_SLOW="${ZEVRIN_E2E_SLOW:-6}"
export ZEVRIN_WINE_ARCH=win32
export ZEVRIN_E2E_TOOL="$TOOL_DIR/zevrin"
export ZEVRIN_E2E_STUB="$BUILD/zevrin_stub.exe"
export ZEVRIN_E2E_UNINSTALLER="$BUILD/zevrin_uninstaller.exe"
export ZEVRIN_E2E_DRIVER="$BUILD/zevrin_e2e_driver.exe"
export ZEVRIN_E2E_ARTIFACTS="$BUILD/e2e-artifacts"
export ZEVRIN_E2E_WINDOWS_TOOL=""

passed=0 failed=0 skipped=0

# count LOG: adds a scenario's "N passed, N failed, N skipped" line.
count() {
    local p f s
    read -r p f s < <(sed -nE 's/^([0-9]+) passed, ([0-9]+) failed, ([0-9]+) skipped$/\1 \2 \3/p' "$1" | tail -1)
    if [ -z "${p:-}" ]; then
        failed=$((failed + 1))
        return
    fi
    if [ $((p + f + s)) = 0 ]; then
        echo "FAIL no case of that name"
        failed=$((failed + 1))
        return
    fi
    passed=$((passed + p)) failed=$((failed + f)) skipped=$((skipped + s))
}

log="$(mktemp)"
# The demo package, as scripts/demo.sh builds it, walked through every page
# and uninstalled.
echo "=== demo package: install through the wizard, then uninstall"
# Built inside the machine: a file made and renamed on the shared work
# tree can vanish from the guest's cache.
demo="$TOOL_DIR/demo"
mkdir -p "$demo"
start=$SECONDS
if "$ZEVRIN_E2E_TOOL" build examples/demo/demo.toml -I "$BUILD/examples" --stub "$ZEVRIN_E2E_STUB" \
    --uninstaller "$ZEVRIN_E2E_UNINSTALLER" -o "$demo/SETUP.EXE" &&
    python3 tests/e2e/demo_walk.py "$demo/SETUP.EXE" "$BUILD/e2e-artifacts/demo-i686"; then
    echo "PASS the demo package installed and uninstalled ($((SECONDS - start)) s)"
    passed=$((passed + 1))
else
    echo "FAIL the demo package installed and uninstalled"
    failed=$((failed + 1))
fi

for entry in "${CASES[@]}"; do
    scenario="${entry%%|*}" name="${entry#*|}"
    echo "=== $scenario: $name"
    timeout 900 python3 "tests/e2e/$scenario" "$name" 2>&1 | tee "$log"
    count "$log"
done
rm -rf "$log" "$TOOL_DIR"

echo "i686 end-to-end: $passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ]
