#!/bin/sh
# Draws the installer icon (a box receiving a downward arrow) at 256 px and
# packs it into zevrin.ico: 16-colour images at 48, 32 and 16 px with a
# transparency mask (what Windows before XP can show, and small), and
# 32-bit images with alpha at 32 and 16 px for XP and later. The icon
# travels in every package, so it is kept to a few kilobytes. Run by hand
# when the picture changes; the .ico is kept in the tree so builds need no
# ImageMagick.
set -e
cd "$(dirname "$0")"
convert -size 256x256 xc:none \
    -fill '#1f5fbf' -stroke '#123a75' -strokewidth 8 -draw 'roundrectangle 28,96 228,236 22,22' \
    -fill '#2f7fe0' -stroke '#123a75' -strokewidth 8 -draw 'polygon 28,96 64,56 192,56 228,96' \
    -stroke none -fill '#ffffff' -draw 'rectangle 110,20 146,132' \
    -draw 'polygon 76,124 180,124 128,184' \
    -fill '#9cc8ff' -draw 'rectangle 60,204 196,214' \
    icon-256.png
for size in 48 32 16; do
    convert icon-256.png -resize ${size}x${size} -depth 8 "rgba:icon-$size.rgba"
    # One threshold for the mask and the colours: where the mask leaves
    # the screen alone the colour must be black.
    convert icon-256.png -resize ${size}x${size} -channel A -threshold 50% +channel \
        -depth 8 "rgba:icon-$size.mask"
    convert -size ${size}x${size} -depth 8 "rgba:icon-$size.mask" \
        -background black -alpha remove -dither None -colors 16 -depth 8 "rgb:icon-$size.rgb"
done
python3 - <<'PY'
import struct

def rows_bottom_up(size, row):
    return b"".join(row(y) for y in reversed(range(size)))

def pad4(data):
    return data + b"\0" * (-len(data) % 4)

def mask(size, alpha):
    # 1 = transparent, rows padded to 4 bytes.
    def row(y):
        bits = bytearray((size + 7) // 8)
        for x in range(size):
            if alpha[y * size + x] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        return pad4(bytes(bits))
    return rows_bottom_up(size, row)

def header(size, bits, colours):
    return struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bits, 0, 0, 0, 0, colours, 0)

def sixteen_colours(size):
    rgb = open("icon-%d.rgb" % size, "rb").read()
    alpha = open("icon-%d.mask" % size, "rb").read()[3::4]
    pixels = [rgb[i:i + 3] for i in range(0, len(rgb), 3)]
    palette = sorted(set(pixels))
    assert len(palette) <= 16, len(palette)
    index = {c: i for i, c in enumerate(palette)}
    def row(y):
        out = bytearray()
        for x in range(0, size, 2):
            hi = index[pixels[y * size + x]]
            lo = index[pixels[y * size + x + 1]] if x + 1 < size else 0
            out.append(hi << 4 | lo)
        return pad4(bytes(out))
    table = b"".join(c[2:3] + c[1:2] + c[0:1] + b"\0" for c in palette) + b"\0" * 4 * (16 - len(palette))
    return (size, 16, 4, header(size, 4, 16) + table + rows_bottom_up(size, row) + mask(size, alpha))

def true_colour(size):
    rgba = open("icon-%d.rgba" % size, "rb").read()
    def row(y):
        return b"".join(rgba[i + 2:i + 3] + rgba[i + 1:i + 2] + rgba[i:i + 1] + rgba[i + 3:i + 4]
                        for i in range(y * size * 4, (y + 1) * size * 4, 4))
    return (size, 0, 32, header(size, 32, 0) + rows_bottom_up(size, row) + mask(size, rgba[3::4]))

images = [sixteen_colours(s) for s in (48, 32, 16)] + [true_colour(s) for s in (32, 16)]
out = struct.pack("<HHH", 0, 1, len(images))
offset = 6 + 16 * len(images)
for size, colours, bits, data in images:
    out += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bits, len(data), offset)
    offset += len(data)
out += b"".join(data for *_, data in images)
open("zevrin.ico", "wb").write(out)
PY
rm -f icon-256.png icon-*.rgb icon-*.rgba icon-*.mask
