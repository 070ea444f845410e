#!/usr/bin/env python3
"""Walks the demo installer through the wizard to its last page in a
virtual display, saves a screenshot of each page (the progress page held
mid-way by its Cancel question, answered No), and lists what was
installed; then runs the installed uninstaller, answers its question and
lists what is left: what `scripts/demo.sh` shows when there is no display
to open the installer on.

    demo_walk.py SETUP.EXE OUT_DIR
"""

import glob
import os
import subprocess
import time
import shutil
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import Failure, Page, Stage, exit_codes, wine_choice  # noqa: E402

import re

UNINSTALLER = "C:\\Program Files\\Zevrin Demo\\uninstall.exe"

# Next is pressed at most this often on the way to the installation.
MAX_PAGES = 6
PROGRESS_PERCENT = 1010


def shot_name(index, caption):
    heading = caption.split(" - ")[-1]
    return "%d-%s" % (index, re.sub(r"[^a-z0-9]+", "-", heading.lower()).strip("-") or "page")


def installed_files(stage):
    """The install folder and the desktop shortcuts, as a listing. Links
    are not followed: Wine may link a user folder to the Unix home."""
    drive = os.path.join(stage.prefix, "drive_c")
    paths = []
    for folder, _, names in os.walk(os.path.join(drive, "Program Files", "Zevrin Demo")):
        paths += [os.path.join(folder, n) for n in names]
    for desktop in glob.glob(os.path.join(drive, "users", "*", "Desktop")):
        if not os.path.islink(desktop):
            paths += glob.glob(os.path.join(desktop, "*.lnk"))
    menus = os.path.join(drive, "users", "*", "AppData", "Roaming", "Microsoft", "Windows", "Start Menu")
    for menu in glob.glob(menus):
        for folder, _, names in os.walk(menu):
            paths += [os.path.join(folder, n) for n in names if n.endswith(".lnk")]
    return ["%10d  C:\\%s" % (os.path.getsize(p), os.path.relpath(p, drive).replace("/", "\\"))
            for p in sorted(paths)]


def uninstall(stage, driver, saved):
    """The demo's own uninstaller: its question answered Yes, its last
    message read; returns its exit codes."""
    wine = wine_choice()["wine"]
    # The launched program would be deleted only at the next restart.
    subprocess.run([wine, "taskkill", "/f", "/im", "hello.exe"], env=stage.env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    process = subprocess.Popen([wine, UNINSTALLER], env=stage.env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        box = driver.wait_box()
        saved.append(stage.shot("%d-uninstall-question" % len(saved)))
        print("uninstall: %r" % box["text"])
        driver.answer("yes")
        box = driver.wait_box()
        saved.append(stage.shot("%d-uninstalled" % len(saved)))
        print("uninstall: %r" % box["text"])
        driver.answer("ok")
        return exit_codes(driver.wait_exit())
    finally:
        process.wait(timeout=60)


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
            starting = "ready" in view.caption.lower()
            if starting:
                # The installation would be over before a screenshot: hold
                # it at its start with the Cancel question (Install and
                # Cancel queued together), answer No and let it finish.
                driver.run("start-held")
                driver.wait_box()
                saved.append(stage.shot("%d-installing" % len(saved)))
                driver.answer("no")
                view = driver.wait_page(120)
                if view.has(PROGRESS_PERCENT, "page"):
                    view = driver.wait_page(120)
                continue
            driver.press(1)
            shown = driver.wait_next()
            if not isinstance(shown, Page):
                # The folder page may ask to create the folder.
                saved.append(stage.shot("%d-question" % len(saved)))
                driver.answer("yes")
                shown = driver.wait_page()
            view = shown
        # The last page ends the wizard with its default button.
        driver.press(2)
        codes = exit_codes(driver.wait_exit())
        # The launch box was left checked: the program starts after the
        # wizard has gone.
        try:
            driver.run("wait-process hello.exe 30")
            time.sleep(2)
            saved.append(stage.shot("%d-launched" % len(saved)))
            print("launched: hello.exe")
        except Failure as e:
            print("launched: no (%s)" % e)
        listing = installed_files(stage)
        removed = uninstall(stage, driver, saved)
        left = installed_files(stage)
    print("exit code: %s" % codes)
    print("installed in the Wine prefix:")
    for line in listing:
        print("  " + line)
    print("uninstall exit code: %s" % removed)
    print("left after the uninstall: %s" % ("nothing" if not left else ""))
    for line in left:
        print("  " + line)
    print("screenshots:")
    for path in saved:
        final = os.path.join(out, os.path.basename(path))
        if os.path.abspath(path) != final:
            shutil.copy(path, final)
        print("  " + final)


if __name__ == "__main__":
    main()
