#!/bin/bash
# shellcheck disable=SC2317 # cleanup is reached through trap
# Runs a SETUP.EXE under Wine in a fresh prefix and returns its exit code,
# for the end-to-end tests and for trying a package by hand. The prefix and
# the Wine are 32-bit, or 64-bit for an x86-64 SETUP.EXE on a machine that
# cannot run 32-bit programs (scripts/wine-arch.sh; ZEVRIN_WINE_ARCH).
#
#   scripts/run-setup.sh [OPTIONS] SETUP.EXE [ARGS...]
#   scripts/run-setup.sh [OPTIONS] --prepare
#
#   --prefix DIR     the prefix to run in (default: a temporary one, removed
#                    afterwards). A fresh copy of the template prefix is put
#                    there; DIR must be empty, missing or made by this script.
#   --reuse          run in the --prefix DIR as it is when it exists (a
#                    second instance beside a running one, or after
#                    --prepare)
#   --prepare        only make the prefix (with the options below), run
#                    nothing
#   --keep           keep the temporary prefix (its path is printed)
#   --timeout SEC    kill the run after SEC seconds (default 120): the
#                    prefix's wineserver is killed and the exit status is 124
#   --win98          make Wine report Windows 98 in this prefix
#   --removable DIR  map DIR as a drive that Wine reports as removable
#                    (DRIVE_REMOVABLE); a SETUP.EXE inside DIR is started
#                    through that drive
#   --drive LETTER   the letter for --removable (default x)
#   --temp PATH      the temporary folder programs get (TEMP and TMP), a
#                    Windows path on drive C:, made if missing
#
# The exit status is the program's exit code as Wine returns it (the low 8
# bits: -1 arrives as 255), 124 after a timeout, 2 for a usage error.
#
# The display: $DISPLAY when it can be reached, otherwise an Xvfb of this
# run's own, stopped at the end. The template prefix ($ZEVRIN_E2E_TEMPLATE,
# default /tmp/zevrin-e2e-template, or /tmp/zevrin-e2e-template64 under
# 64-bit Wine) is made once by scripts/wine-env.sh and copied for every run, so no run sees what an earlier one left behind.
# After a run the prefix's wineserver is left alone (a relaunched copy of
# the installer may still run in it); a temporary prefix is cleaned up.
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/wine-arch.sh
source "$ROOT/scripts/wine-arch.sh" || exit 2
if [ "$ZEVRIN_WINE_ARCH" = win64 ]; then
    TEMPLATE="${ZEVRIN_E2E_TEMPLATE:-/tmp/zevrin-e2e-template64}"
else
    TEMPLATE="${ZEVRIN_E2E_TEMPLATE:-/tmp/zevrin-e2e-template}"
fi

PREFIX=""
REUSE=0
PREPARE=0
KEEP=0
TIMEOUT=120
WIN98=0
REMOVABLE=""
LETTER="x"
TEMP_FOLDER=""

usage() {
    sed -n '3,/^set /{/^#/s/^# \{0,1\}//p}' "${BASH_SOURCE[0]}" >&2
    exit 2
}

die() {
    echo "run-setup: $*" >&2
    exit 2
}

while [ $# -gt 0 ]; do
    case "$1" in
    --prefix) [ $# -ge 2 ] || usage; PREFIX="$2"; shift 2 ;;
    --reuse) REUSE=1; shift ;;
    --prepare) PREPARE=1; shift ;;
    --keep) KEEP=1; shift ;;
    --timeout) [ $# -ge 2 ] || usage; TIMEOUT="$2"; shift 2 ;;
    --win98) WIN98=1; shift ;;
    --removable) [ $# -ge 2 ] || usage; REMOVABLE="$2"; shift 2 ;;
    --drive) [ $# -ge 2 ] || usage; LETTER="$2"; shift 2 ;;
    --temp) [ $# -ge 2 ] || usage; TEMP_FOLDER="$2"; shift 2 ;;
    -h | --help) usage ;;
    --) shift; break ;;
    -*) die "unknown option $1" ;;
    *) break ;;
    esac
done

if ! [[ "$TIMEOUT" =~ ^[0-9]+$ ]] || [ "$TIMEOUT" -eq 0 ]; then
    die "--timeout needs a whole number of seconds"
fi
LETTER="$(echo "$LETTER" | tr '[:upper:]' '[:lower:]')"
[[ "$LETTER" =~ ^[d-y]$ ]] || die "--drive needs a letter from d to y"
if [ "$PREPARE" = 1 ]; then
    [ $# -eq 0 ] || die "--prepare runs nothing; drop SETUP.EXE"
    [ -n "$PREFIX" ] || die "--prepare needs --prefix"
else
    [ $# -ge 1 ] || usage
fi
if [ -n "$TEMP_FOLDER" ] && ! [[ "$TEMP_FOLDER" =~ ^[cC]:\\ ]]; then
    die "--temp needs a path on drive C:"
fi
if [ -n "$REMOVABLE" ]; then
    [ -d "$REMOVABLE" ] || die "--removable $REMOVABLE is not a directory"
    REMOVABLE="$(cd "$REMOVABLE" && pwd)"
fi

XVFB_PID=""
TEMP_PREFIX=""

cleanup() {
    if [ -n "$TEMP_PREFIX" ]; then
        if [ "$KEEP" = 1 ]; then
            echo "run-setup: prefix kept in $TEMP_PREFIX" >&2
        else
            WINEPREFIX="$TEMP_PREFIX" timeout 30 wineserver -k >/dev/null 2>&1
            rm -rf "$TEMP_PREFIX"
        fi
    fi
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

display_ok() {
    [ -n "${DISPLAY:-}" ] && xdpyinfo -display "$DISPLAY" >/dev/null 2>&1
}

# A display before any wine process: a prefix that first starts without
# one never gets working windows.
start_xvfb() {
    local numfile n=""
    command -v Xvfb >/dev/null 2>&1 || die "no display and Xvfb is not installed"
    numfile="$(mktemp)"
    Xvfb -displayfd 9 -nolisten tcp -screen 0 1024x768x24 9>"$numfile" </dev/null >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 1 100); do
        n="$(tr -dc '0-9' <"$numfile")"
        [ -n "$n" ] && break
        sleep 0.1
    done
    rm -f "$numfile"
    [ -n "$n" ] || die "Xvfb did not come up"
    export DISPLAY=":$n"
    display_ok || die "Xvfb on $DISPLAY cannot be reached"
}

display_ok || start_xvfb

# --- the template prefix -----------------------------------------------------

# wine-env.sh makes it (under its lock) and exports the Wine variables.
# shellcheck source=scripts/wine-env.sh
ZEVRIN_WINEPREFIX="$TEMPLATE" source "$ROOT/scripts/wine-env.sh" ||
    die "cannot make the template prefix $TEMPLATE"

# Wine draws the window frames and captions itself, as Windows does: with
# no window manager on the Xvfb nobody else would, and screenshots would
# show windows without their captions.
TEMPLATE_MARKER="$TEMPLATE/.zevrin-run-setup-template"
if [ ! -f "$TEMPLATE_MARKER" ]; then
    exec {tlock}>"$TEMPLATE.lock" || die "cannot open $TEMPLATE.lock"
    flock -w 900 "$tlock" || die "timed out waiting for $TEMPLATE.lock"
    if [ ! -f "$TEMPLATE_MARKER" ]; then
        echo "run-setup: configuring the template prefix $TEMPLATE" >&2
        WINEPREFIX="$TEMPLATE" timeout 120 "$ZEVRIN_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f \
            </dev/null >/dev/null 2>&1 {tlock}>&- || die "cannot configure $TEMPLATE"
        # The registry is on disk once the server has gone.
        WINEPREFIX="$TEMPLATE" timeout 300 wineserver -w {tlock}>&- || die "the wineserver of $TEMPLATE does not stop"
        touch "$TEMPLATE_MARKER"
    fi
    exec {tlock}>&-
fi

# --- this run's prefix ---------------------------------------------------------

MARKER=".zevrin-run-setup"

make_prefix() {
    local dir="$1" lockfd
    if [ -e "$dir" ]; then
        if [ -f "$dir/$MARKER" ]; then
            WINEPREFIX="$dir" timeout 30 wineserver -k >/dev/null 2>&1
            rm -rf "$dir" || die "cannot remove the old prefix $dir"
        elif [ -n "$(ls -A "$dir")" ]; then
            die "$dir is not empty and was not made by run-setup.sh"
        fi
    fi
    mkdir -p "$dir" || die "cannot make $dir"
    # Shared lock: wine-env.sh holds it exclusively while it makes the
    # template.
    exec {lockfd}>"$TEMPLATE.lock" || die "cannot open $TEMPLATE.lock"
    flock -s -w 900 "$lockfd" || die "timed out waiting for $TEMPLATE.lock"
    cp -a "$TEMPLATE/." "$dir/" || die "cannot copy the template prefix into $dir"
    exec {lockfd}>&-
    touch "$dir/$MARKER"
}

if [ -z "$PREFIX" ]; then
    TEMP_PREFIX="$(mktemp -d /tmp/zevrin-run.XXXXXX)" || die "cannot make a temporary prefix"
    PREFIX="$TEMP_PREFIX"
    make_prefix "$PREFIX"
else
    mkdir -p "$(dirname "$PREFIX")" || die "cannot make the parent of $PREFIX"
    PREFIX="$(cd "$(dirname "$PREFIX")" && pwd)/$(basename "$PREFIX")"
    if [ "$REUSE" = 1 ] && [ -f "$PREFIX/system.reg" ]; then
        :
    else
        make_prefix "$PREFIX"
    fi
fi
export WINEPREFIX="$PREFIX"

# --- settings of this prefix -----------------------------------------------

# Written with reg.exe, then the wineserver is let go: the drive manager
# reads the drive types once, when it starts. A reused prefix that has the
# same settings already is left alone (programs may be running in it).
configure_prefix() {
    local regfile wanted
    wanted="win98=$WIN98 removable=$REMOVABLE drive=$LETTER temp=$TEMP_FOLDER"
    if [ -f "$PREFIX/.run-setup-settings" ] && [ "$(cat "$PREFIX/.run-setup-settings")" = "$wanted" ]; then
        return 0
    fi
    regfile="$PREFIX/.run-setup.reg"
    printf 'REGEDIT4\n\n' >"$regfile"
    if [ "$WIN98" = 1 ]; then
        printf '[HKEY_CURRENT_USER\\Software\\Wine]\n"Version"="win98"\n\n' >>"$regfile"
    fi
    if [ -n "$REMOVABLE" ]; then
        rm -f "$PREFIX/dosdevices/$LETTER:"
        ln -s "$REMOVABLE" "$PREFIX/dosdevices/$LETTER:" || die "cannot map $REMOVABLE as $LETTER:"
        printf '[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]\n"%s:"="floppy"\n\n' "$LETTER" >>"$regfile"
    fi
    if [ -n "$TEMP_FOLDER" ]; then
        local relative="${TEMP_FOLDER:3}"
        mkdir -p "$PREFIX/drive_c/${relative//\\//}" || die "cannot make $TEMP_FOLDER"
        printf '[HKEY_CURRENT_USER\\Environment]\n"TEMP"="%s"\n"TMP"="%s"\n\n' \
            "${TEMP_FOLDER//\\/\\\\}" "${TEMP_FOLDER//\\/\\\\}" >>"$regfile"
    fi
    if [ "$WIN98" = 1 ] || [ -n "$REMOVABLE" ] || [ -n "$TEMP_FOLDER" ]; then
        timeout 120 "$ZEVRIN_WINE" reg import "$(winepath_of "$regfile")" </dev/null >/dev/null 2>&1 ||
            die "cannot write the prefix settings"
        timeout 120 wineserver -w || die "the wineserver of $PREFIX does not stop (programs still run in it?)"
    fi
    rm -f "$regfile"
    echo "$wanted" >"$PREFIX/.run-setup-settings"
}

# A Unix path as Wine sees it: everything is reachable through Z:.
winepath_of() {
    printf 'Z:%s' "${1//\//\\}"
}

configure_prefix

# The first Wine process of a session starts the system processes, which
# keep its standard output and error open until the server exits: start
# the session here with nothing attached, so a caller reading our output
# is not held up. The server stays ZEVRIN_WINE_PERSIST seconds (default
# 30) after the last program.
if wineserver -p"${ZEVRIN_WINE_PERSIST:-30}" </dev/null >/dev/null 2>&1; then
    timeout 120 "$ZEVRIN_WINE" wineboot </dev/null >/dev/null 2>&1
fi

if [ "$PREPARE" = 1 ]; then
    echo "run-setup: prefix ready in $PREFIX (display $DISPLAY)" >&2
    exit 0
fi

# --- the run ---------------------------------------------------------------------

EXE="$1"
shift
if [ -f "$EXE" ]; then
    EXE_ABS="$(cd "$(dirname "$EXE")" && pwd)/$(basename "$EXE")"
    if [ -n "$REMOVABLE" ] && [[ "$EXE_ABS" == "$REMOVABLE"/* ]]; then
        # Started from the removable drive, as from a floppy.
        relative="${EXE_ABS#"$REMOVABLE"/}"
        EXE="$LETTER:\\${relative//\//\\}"
    else
        EXE="$EXE_ABS"
    fi
fi

timeout -k 10 "$TIMEOUT" "$ZEVRIN_WINE" "$EXE" "$@" </dev/null
rc=$?
if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
    echo "run-setup: $EXE still ran after $TIMEOUT s; killed everything in $PREFIX" >&2
    timeout 30 wineserver -k >/dev/null 2>&1
    exit 124
fi
exit "$rc"
