#!/usr/bin/env python3
"""Walks the demo installer through the pages it has, in a virtual display,
and saves a screenshot of each: what `scripts/demo.sh` shows when there is
no display to open the installer on.

    demo_walk.py SETUP.EXE OUT_DIR
"""

import os
import shutil
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import Page, Stage, exit_codes  # noqa: E402

import re

# Next is pressed at most this often: the pages up to the installation.
MAX_PAGES = 5


def shot_name(index, caption):
    heading = caption.split(" - ")[-1]
    return "%d-%s" % (index, re.sub(r"[^a-z0-9]+", "-", heading.lower()).strip("-") or "page")


def main():
    exe, out = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    os.makedirs(out, exist_ok=True)
    os.environ["ZEVRIN_E2E_ARTIFACTS"] = out
    saved = []
    with Stage("demo") as stage:
        stage.start(exe)
        driver = stage.driver()
        view = driver.wait_page()
        pages = 0
        while True:
            name = shot_name(len(saved), view.caption)
            saved.append(stage.shot(name))
            print("page: %-28s caption %r" % (name, view.caption))
            pages += 1
            if not view.control(1, "frame")["enabled"] or pages >= MAX_PAGES:
                break
            driver.press(1)
            shown = driver.wait_next()
            if not isinstance(shown, Page):
                # The folder page may ask to create the folder.
                saved.append(stage.shot("%d-question" % len(saved)))
                driver.answer("yes")
                shown = driver.wait_page()
            view = shown
        # Leave as a person would: Cancel, Yes, OK.
        driver.press(2)
        driver.answer("yes")
        driver.answer("ok")
        codes = exit_codes(driver.wait_exit())
    print("exit code: %s" % codes)
    print("screenshots:")
    for path in saved:
        final = os.path.join(out, os.path.basename(path))
        if os.path.abspath(path) != final:
            shutil.copy(path, final)
        print("  " + final)


if __name__ == "__main__":
    main()
