# shellcheck shell=bash
# Source this from bash to run the Windows builds under Wine:
#
#     source scripts/wine-env.sh
#
# Exports WINEDEBUG=-all, WINEARCH, WINEPREFIX, WINEDLLOVERRIDES and
# DISPLAY, and the choice of scripts/wine-arch.sh: ZEVRIN_WINE_ARCH,
# ZEVRIN_WINE (start programs with "$ZEVRIN_WINE" PROGRAM) and
# ZEVRIN_WINE_PRESET. WINEARCH is win32 where 32-bit programs run, win64
# (for the x86-64 build, preset mingw64) where they do not. The prefix is
# $ZEVRIN_WINEPREFIX, or /tmp/zevrin-wine (win32) or /tmp/zevrin-wine64
# (win64); it is created on first use. When DISPLAY is unset or cannot be reached, an Xvfb
# is started (or the one an earlier call started is reused) before any wine
# process runs: a prefix first booted without a display never gets working
# windows. ZEVRIN_XVFB_PID is set when this call started Xvfb.
#
# It also starts the session's wineserver, kept alive ZEVRIN_WINE_PERSIST
# seconds (default 30) after its last client, so that CTest's pipes are never
# held by Wine's system processes. Crash dialogs are turned off in the prefix.
#
# Safe to source repeatedly and from concurrent processes (CTest runs tests
# in parallel through cmake/wine-run.sh, which sources this file).

_zevrin_display_ok() {
    [ -n "${1:-}" ] || return 1
    if command -v xdpyinfo >/dev/null 2>&1; then
        xdpyinfo -display "$1" >/dev/null 2>&1
    else
        local n="${1#*:}"
        n="${n%%.*}"
        [ -S "/tmp/.X11-unix/X$n" ]
    fi
}

# Starts Xvfb on a display it picks itself (-displayfd) and sets DISPLAY.
_zevrin_start_xvfb() {
    local lockfd="$1" numfile pidfile n=""
    if ! command -v Xvfb >/dev/null 2>&1; then
        echo "wine-env: no display and Xvfb is not installed (apt-get install xvfb)" >&2
        return 1
    fi
    numfile="$(mktemp)" && pidfile="$(mktemp)" || return 1
    # A subshell, so no job-control noise; every descriptor but the display
    # number goes away, or Xvfb would hold our lock or a caller's pipe open.
    (
        exec {lockfd}>&- </dev/null >/dev/null 2>&1
        Xvfb -displayfd 9 -nolisten tcp -screen 0 1280x1024x24 9>"$numfile" &
        echo $! >"$pidfile"
    )
    for _ in $(seq 1 100); do
        n="$(tr -dc '0-9' <"$numfile")"
        [ -n "$n" ] && break
        sleep 0.1
    done
    ZEVRIN_XVFB_PID="$(cat "$pidfile")"
    rm -f "$numfile" "$pidfile"
    if [ -z "$n" ] || ! _zevrin_display_ok ":$n"; then
        echo "wine-env: Xvfb did not come up" >&2
        kill "$ZEVRIN_XVFB_PID" 2>/dev/null
        unset ZEVRIN_XVFB_PID
        return 1
    fi
    export ZEVRIN_XVFB_PID
    export DISPLAY=":$n"
}

_zevrin_wine_env() {
    # shellcheck source=scripts/wine-arch.sh
    source "$(dirname "${BASH_SOURCE[0]}")/wine-arch.sh" || return 1
    export WINEDEBUG=-all
    export WINEARCH="$ZEVRIN_WINE_ARCH"
    if [ "$ZEVRIN_WINE_ARCH" = win64 ]; then
        export ZEVRIN_WINEPREFIX="${ZEVRIN_WINEPREFIX:-/tmp/zevrin-wine64}"
    else
        export ZEVRIN_WINEPREFIX="${ZEVRIN_WINEPREFIX:-/tmp/zevrin-wine}"
    fi
    export WINEPREFIX="$ZEVRIN_WINEPREFIX"
    # Keep wineboot from offering to download Mono and Gecko: there is no
    # one to answer, and the installer needs neither.
    # winemenubuilder would copy every shortcut a test makes into the Unix
    # desktop and menus.
    export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"

    if [ "$ZEVRIN_WINE_ARCH" = win32 ] && [ "$ZEVRIN_RUNS_32BIT" = 0 ]; then
        echo "wine-env: this machine cannot run 32-bit programs, so neither can 32-bit Wine;" \
            "run the x86-64 build (preset mingw64, ZEVRIN_WINE_ARCH=win64)" >&2
        return 1
    fi
    if [ "$ZEVRIN_WINE_ARCH" = win64 ] && [ -z "$ZEVRIN_WINE" ]; then
        echo "wine-env: the wine64 loader is not installed (apt-get install wine64)" >&2
        return 1
    fi
    if ! command -v "$ZEVRIN_WINE" >/dev/null 2>&1; then
        echo "wine-env: wine is not installed (apt-get install wine wine32:i386)" >&2
        return 1
    fi

    local lockfd rc=0 saved
    mkdir -p "$(dirname "$WINEPREFIX")" || return 1
    exec {lockfd}>"$WINEPREFIX.lock" || return 1
    if ! flock -w 900 "$lockfd"; then
        echo "wine-env: timed out waiting for $WINEPREFIX.lock" >&2
        exec {lockfd}>&-
        return 1
    fi

    if ! _zevrin_display_ok "${DISPLAY:-}"; then
        saved="$(cat "$WINEPREFIX.display" 2>/dev/null)" || saved=""
        if _zevrin_display_ok "$saved"; then
            export DISPLAY="$saved"
        elif _zevrin_start_xvfb "$lockfd"; then
            echo "$DISPLAY" >"$WINEPREFIX.display"
        else
            rc=1
        fi
    fi

    if [ "$rc" = 0 ] && [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine-env: creating $WINEARCH Wine prefix $WINEPREFIX (display $DISPLAY)" >&2
        if ! timeout 600 "$ZEVRIN_WINE" wineboot -i </dev/null >"$WINEPREFIX.boot.log" 2>&1 {lockfd}>&- ||
            ! timeout 300 wineserver -w {lockfd}>&- ||
            [ ! -f "$WINEPREFIX/system.reg" ]; then
            echo "wine-env: wineboot failed, see $WINEPREFIX.boot.log" >&2
            rc=1
        fi
    fi

    if [ "$rc" = 0 ] && ! grep -q "^#arch=$WINEARCH\$" "$WINEPREFIX/system.reg"; then
        echo "wine-env: $WINEPREFIX is not a $WINEARCH prefix; remove it or set ZEVRIN_WINEPREFIX" >&2
        rc=1
    fi

    # A crashing program must fail its test, not wait for someone to close
    # the crash dialog: winedbg then only prints the backtrace.
    if [ "$rc" = 0 ] && [ ! -f "$WINEPREFIX/.zevrin-configured" ]; then
        if "$ZEVRIN_WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
            </dev/null >>"$WINEPREFIX.boot.log" 2>&1 {lockfd}>&-; then
            # Let the server write the registry out before saying it is done.
            timeout 120 wineserver -w {lockfd}>&-
            touch "$WINEPREFIX/.zevrin-configured"
        else
            echo "wine-env: could not configure $WINEPREFIX, see $WINEPREFIX.boot.log" >&2
            rc=1
        fi
    fi

    # Wine links the user's Desktop, Documents, ... to the Unix home
    # folder; what programs under test put there stays in the prefix.
    if [ "$rc" = 0 ]; then
        for link in "$WINEPREFIX"/drive_c/users/*/*; do
            if [ -L "$link" ]; then
                rm -f "$link" && mkdir -p "$link"
            fi
        done
    fi

    # Wine draws the caption buttons (minimise, maximise, close) with the
    # Marlett font. Debian's Wine never reads the fonts of fonts-wine in
    # /usr/share/wine/fonts (it looks only at C:\windows\Fonts and at
    # fontconfig's folders), so without a copy in the prefix the buttons
    # come out as the letters "0 1 r". Done on every call, so prefixes made
    # before this step get the font too; Wine reads the folder when a
    # session starts.
    if [ "$rc" = 0 ]; then
        local font
        for font in /usr/share/wine/fonts/marlett.ttf; do
            if [ -f "$font" ] && [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/${font##*/}" ]; then
                mkdir -p "$WINEPREFIX/drive_c/windows/Fonts" &&
                    cp "$font" "$WINEPREFIX/drive_c/windows/Fonts/" ||
                    echo "wine-env: could not copy $font into $WINEPREFIX" >&2
            fi
        done
    fi

    # The first Wine process of a session starts the system processes
    # (services.exe, explorer.exe, ...), and they inherit its standard
    # output and error: started by a test, they would hold CTest's pipes
    # open until the server exits. So the session is started here, with no
    # output, and the server is kept alive between tests. `wineserver -p`
    # exits with 2 at once when a server is already running.
    if [ "$rc" = 0 ] &&
        wineserver -p"${ZEVRIN_WINE_PERSIST:-30}" </dev/null >/dev/null 2>&1 {lockfd}>&-; then
        "$ZEVRIN_WINE" wineboot </dev/null >/dev/null 2>&1 {lockfd}>&-
    fi

    exec {lockfd}>&-
    return "$rc"
}

# Called as a condition, so a caller's `set -e` cannot cut it short.
if _zevrin_wine_env; then _zevrin_rc=0; else _zevrin_rc=$?; fi
unset -f _zevrin_wine_env _zevrin_start_xvfb _zevrin_display_ok
# shellcheck disable=SC2317 # reached when run instead of sourced
return "$_zevrin_rc" 2>/dev/null || exit "$_zevrin_rc"
