# shellcheck shell=bash
# Source this from bash: decides which Wine the Windows builds run under.
# Every script that starts Wine takes the choice from here.
#
# Exports:
#   ZEVRIN_RUNS_32BIT   1 when this machine runs 32-bit programs, else 0
#   ZEVRIN_WINE_ARCH    win32 (the shipped i686 build) or win64 (an x86-64
#                       build of the same sources, for machines whose kernel
#                       runs no 32-bit programs, so no 32-bit Wine either).
#                       Set it beforehand to choose; otherwise win32 where
#                       32-bit programs run, win64 where they do not.
#   ZEVRIN_WINE         the Wine loader for that choice: `wine`, or the
#                       wine64 loader (/usr/lib/wine/wine64 or wine64 on
#                       PATH; empty when neither is installed)
#   ZEVRIN_WINE_PRESET  the CMake preset whose programs that Wine runs:
#                       mingw or mingw64
#
# Returns non-zero when ZEVRIN_WINE_ARCH holds anything else.

# 32-bit Wine needs the i386 dynamic loader to start; a kernel without
# 32-bit emulation refuses it ("Exec format error").
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    export ZEVRIN_RUNS_32BIT=1
else
    export ZEVRIN_RUNS_32BIT=0
fi

if [ -z "${ZEVRIN_WINE_ARCH:-}" ]; then
    if [ "$ZEVRIN_RUNS_32BIT" = 1 ]; then
        ZEVRIN_WINE_ARCH=win32
    else
        ZEVRIN_WINE_ARCH=win64
    fi
fi
export ZEVRIN_WINE_ARCH

case "$ZEVRIN_WINE_ARCH" in
win32)
    export ZEVRIN_WINE=wine ZEVRIN_WINE_PRESET=mingw
    ;;
win64)
    # Not `wine`: Debian's wrapper starts the 32-bit loader whenever
    # wine32 is installed.
    if [ -x /usr/lib/wine/wine64 ]; then
        ZEVRIN_WINE=/usr/lib/wine/wine64
    else
        ZEVRIN_WINE="$(command -v wine64 2>/dev/null)"
    fi
    export ZEVRIN_WINE ZEVRIN_WINE_PRESET=mingw64
    ;;
*)
    echo "wine-arch: ZEVRIN_WINE_ARCH must be win32 or win64, not '$ZEVRIN_WINE_ARCH'" >&2
    # shellcheck disable=SC2317 # reached when run instead of sourced
    return 1 2>/dev/null || exit 1
    ;;
esac
