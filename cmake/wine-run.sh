#!/bin/bash
# shellcheck disable=SC2317 # wine-env.sh ends in return-or-exit
# CMAKE_CROSSCOMPILING_EMULATOR for the MinGW build: runs a Windows program
# under Wine in the 32-bit test prefix (see scripts/wine-env.sh).
# shellcheck source=../scripts/wine-env.sh
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/wine-env.sh" || exit 1
exec wine "$@"
