#!/usr/bin/env python3
"""The two looks of the installer. Full screen: the background covers the
screen with a blue gradient, dark at the bottom, and the package's title
with its shadow; the frame dialog floats in the middle with the page
heading as its caption. Windowed: a captioned window ("title - heading")
that fits exactly around the frame dialog, and nothing painted around it.

The colours are read from screenshots of the Xvfb display (24 bits)."""

import os
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import (SCREEN, Package, Stage, check, check_equal, count_colour, exit_codes, expected_caption,
                    mean_colour, pixels, run_cases)

WELCOME = 0


def gradient_blue(y, height):
    """Blue of client row y: 255 at the top, falling quadratically to 0."""
    return (255 - y * y * 255 // (height * height)) & 0xFF


def band_blue(top, height):
    """Mean blue of an 8 x 8 block of the band starting at `top`: the band
    dithers the colours of rows top, top + 8, ... top + 56 (clamped to the
    bottom), each on 8 of its 64 pixels."""
    return sum(gradient_blue(min(top + 8 * k, height), height) for k in range(8)) / 8


def case_full_screen():
    with Stage("screen-full") as stage:
        package = Package(stage, "fullscreen")
        run = stage.start(package.exe)
        driver = stage.driver()
        view = driver.wait_page()
        shot = stage.shot("full-screen")
        background, frame = view.event["background"], view.event["frame"]

        check_equal(view.mode, "fullscreen", "mode")
        check_equal(background["rect"], [0, 0, SCREEN[0], SCREEN[1]], "background window covers the screen")
        check_equal(background["caption"], package.title, "background caption")
        check(frame["has_caption"], "the frame dialog has no caption")
        check_equal(view.caption, expected_caption(package, WELCOME, view.mode), "frame caption (the heading)")

        # The frame is centred on the screen, in the background's client
        # coordinates (it is its child).
        ox, oy = background["client_origin"]
        dw, dh = frame["rect"][2] - frame["rect"][0], frame["rect"][3] - frame["rect"][1]
        check_equal([frame["rect"][0] - ox, frame["rect"][1] - oy],
                    [max(0, min(SCREEN[0] // 2 - dw // 2, SCREEN[0] - dw)),
                     max(0, min(SCREEN[1] // 2 - dh // 2, SCREEN[1] - dh))],
                    "frame position in the background")

        # Gradient: blocks of 8 x 8 near the right edge, clear of the
        # frame and the title, band by band down the client area.
        width, height = background["client"]
        x = ox + width - 40
        blues = []
        for top in range(0, height - 8, 8 * 6):
            r, g, b = mean_colour(shot, x, oy + top, 8, 8)
            expected = band_blue(top, height)
            check(r <= 4 and g <= 4, "band at %d is not pure blue: %r" % (top, (r, g, b)))
            check(abs(b - expected) <= 4, "band at %d: blue %d, expected %.1f" % (top, b, expected))
            blues.append(b)
        check(blues == sorted(blues, reverse=True), "blue does not fall from top to bottom: %r" % blues)
        check(blues[0] >= 250 and blues[-1] <= 40, "gradient from %d to %d" % (blues[0], blues[-1]))

        # The title at (10, 10) in the text colour over its shadow at
        # (14, 14); neither colour anywhere else on the gradient.
        title_area = (ox, oy, 360, 130)
        yellow = count_colour(shot, *title_area, "#FFFF00")
        red = count_colour(shot, *title_area, "#FF0000")
        check(yellow > 100, "title text (yellow) not drawn: %d pixels" % yellow)
        check(red > 50, "title shadow (red) not drawn: %d pixels" % red)
        corner = (ox, oy + height - 130, 360, 130)
        check_equal([count_colour(shot, *corner, "#FFFF00"), count_colour(shot, *corner, "#FF0000")], [0, 0],
                    "title colours away from the title")
        # The shadow lies down and to the right of the text: some red shows
        # beside the text's bottom-right and none of it above the text.
        check_equal(count_colour(shot, ox, oy, 360, 10, "#FF0000"), 0, "shadow above the title")

        driver.run("close-system-menu")
        check_equal(exit_codes(driver.wait_exit()), [1602], "exit code (closing is cancelling)")
        check_equal(run.wait(), 1602 & 0xFF, "exit status")


def case_windowed():
    with Stage("screen-windowed") as stage:
        package = Package(stage, "wizard")
        run = stage.start(package.exe)
        driver = stage.driver()
        view = driver.wait_page()
        shot = stage.shot("windowed")
        background, frame = view.event["background"], view.event["frame"]

        check_equal(view.mode, "windowed", "mode")
        check(background["has_caption"], "the background window has no caption")
        check(not frame["has_caption"], "the frame dialog has a caption of its own")
        check_equal(background["caption"], package.title + " - " + package.page_text(WELCOME, 0),
                    "window caption (title - heading)")

        # Fitted: the client area is the frame dialog, at 0, 0.
        ox, oy = background["client_origin"]
        check_equal(frame["rect"], [ox, oy, ox + background["client"][0], oy + background["client"][1]],
                    "frame dialog in the window's client area")
        # ... where the dialog centred itself inside the full-screen window
        # it started in (same non-client edges).
        dw, dh = frame["rect"][2] - frame["rect"][0], frame["rect"][3] - frame["rect"][1]
        edge_x, edge_y = ox - background["rect"][0], oy - background["rect"][1]
        check_equal([frame["rect"][0] - edge_x, frame["rect"][1] - edge_y],
                    [max(0, min(SCREEN[0] // 2 - dw // 2, SCREEN[0] - dw)),
                     max(0, min(SCREEN[1] // 2 - dh // 2, SCREEN[1] - dh))],
                    "frame position on the screen")

        # Nothing painted around the window: the bare (black) root.
        corners = pixels(shot, [(5, 5), (SCREEN[0] - 5, SCREEN[1] - 5)])
        check_equal(set(corners.values()), {(0, 0, 0)}, "screen outside the window")

        driver.run("close-system-menu")
        check_equal(exit_codes(driver.wait_exit()), [1602], "exit code (closing is cancelling)")
        check_equal(run.wait(), 1602 & 0xFF, "exit status")


CASES = [
    ("full screen: gradient, title, centred frame", case_full_screen),
    ("windowed: captioned window around the frame", case_windowed),
]

if __name__ == "__main__":
    sys.exit(run_cases(CASES))
