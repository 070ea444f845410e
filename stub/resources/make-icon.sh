#!/bin/sh
# Draws the installer icon (a box receiving a downward arrow) at 256 px and
# scales it into zevrin.ico. Run by hand when the picture changes; the .ico
# is kept in the tree so builds need no ImageMagick.
set -e
cd "$(dirname "$0")"
convert -size 256x256 xc:none \
    -fill '#1f5fbf' -stroke '#123a75' -strokewidth 8 -draw 'roundrectangle 28,96 228,236 22,22' \
    -fill '#2f7fe0' -stroke '#123a75' -strokewidth 8 -draw 'polygon 28,96 64,56 192,56 228,96' \
    -stroke none -fill '#ffffff' -draw 'rectangle 110,20 146,132' \
    -draw 'polygon 76,124 180,124 128,184' \
    -fill '#9cc8ff' -draw 'rectangle 60,204 196,214' \
    icon-256.png
convert icon-256.png -define icon:auto-resize=48,32,16 zevrin.ico
rm -f icon-256.png
