#!/bin/bash
# shellcheck disable=SC2317 # wine-env.sh ends in return-or-exit
# CMAKE_CROSSCOMPILING_EMULATOR for the MinGW builds: runs a Windows program
# under Wine in the test prefix (see scripts/wine-env.sh).
#
#   wine-run.sh [--win32|--win64] PROGRAM [ARGS...]
#
# The toolchain file names the Wine its programs need: an i686 program
# needs 32-bit Wine, an x86-64 one 64-bit Wine, whatever the machine
# would choose by itself.
case "${1:-}" in
--win32 | --win64)
    arch="${1#--}"
    shift
    if [ "${ZEVRIN_WINE_ARCH:-$arch}" != "$arch" ]; then
        # The prefix inherited was made for the other Wine.
        unset ZEVRIN_WINEPREFIX WINEPREFIX
    fi
    export ZEVRIN_WINE_ARCH="$arch"
    ;;
esac
# shellcheck source=../scripts/wine-env.sh
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/wine-env.sh" || exit 1
exec "$ZEVRIN_WINE" "$@"
