#!/bin/bash
# Saves what the X display shows (all of it) as a PNG:
#
#   scripts/screenshot.sh OUT.png
#
# Uses $DISPLAY, normally the Xvfb a test runs the installer on. Exit
# status 0 when OUT.png was written.
set -uo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 OUT.png" >&2
    exit 2
fi
out="$1"
if [ -z "${DISPLAY:-}" ]; then
    echo "screenshot: DISPLAY is not set" >&2
    exit 1
fi
if ! command -v import >/dev/null 2>&1; then
    echo "screenshot: ImageMagick's import is not installed (apt-get install imagemagick)" >&2
    exit 1
fi
mkdir -p "$(dirname "$out")" || exit 1
# Written beside OUT and renamed, so a reader never sees half a picture.
tmp="$out.tmp.$$.png"
if ! timeout 30 import -display "$DISPLAY" -window root "$tmp" </dev/null; then
    rm -f "$tmp"
    echo "screenshot: import failed on $DISPLAY" >&2
    exit 1
fi
mv -f "$tmp" "$out"
