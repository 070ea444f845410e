#!/usr/bin/env python3
"""A second start while the wizard runs: the second instance brings the
first one's window to the front (restored if it was minimized, with its
message box on top when one is up) and ends with 1618 at once; the first
goes on as before.

"Front" is Wine's window order as EnumWindows reports it: a window of the
driver's own covers the screen first, so the test sees the installer come
up from underneath. (Xvfb has no window manager, so the X stacking in the
screenshots need not follow.)"""

import os
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import (ANOTHER_INSTANCE, CANCELLED, Package, Stage, check, check_equal, exit_codes, leave_by_cancel,
                    run_cases)


def order(driver):
    """Classes of the visible top-level windows, top first."""
    return [("cover" if w.get("cover") else w["class"], w["iconic"])
            for w in driver.one("windows", "windows")["windows"]]


def above(windows, upper, lower):
    classes = [c for c, _ in windows]
    check(upper in classes and lower in classes, "missing %s or %s in %r" % (upper, lower, windows))
    return classes.index(upper) < classes.index(lower)


def second_start(stage, package, first):
    """Starts the package again; it must end with 1618 by itself while the
    first instance keeps running."""
    second = stage.start(package.exe, name="second", timeout=60)
    rc = second.wait()
    check(rc != 124, "the second instance did not end by itself")
    check_equal(rc, ANOTHER_INSTANCE & 0xFF, "exit status of the second instance")
    check(first.running(), "the first instance ended too")
    stage.driver().run("sync")


def case_brought_to_front():
    with Stage("instance-front") as stage:
        package = Package(stage, "wizard")
        first = stage.start(package.exe)
        driver = stage.driver()
        before = driver.wait_page()
        driver.run("cover")
        check(above(order(driver), "cover", "ZevrinClass"), "the cover is not above the installer")

        second_start(stage, package, first)
        windows = order(driver)
        stage.shot("after-second-start")
        check(above(windows, "ZevrinClass", "cover"), "the installer did not come to the front: %r" % windows)
        check_equal([c for c, _ in windows].count("ZevrinClass"), 1, "background windows")
        after = driver.dump()
        check_equal(after.event["page"], before.event["page"], "page after the second start")
        check_equal(after.event["pid"], before.event["pid"], "process showing the wizard")

        driver.run("uncover")
        check_equal(exit_codes(leave_by_cancel(driver, package)), [1602], "exit code")
        check_equal(first.wait(), CANCELLED & 0xFF, "exit status of the first instance")


def case_minimized_is_restored():
    with Stage("instance-restore") as stage:
        package = Package(stage, "wizard")
        first = stage.start(package.exe)
        driver = stage.driver()
        driver.wait_page()
        driver.run("syscommand minimize")
        driver.run("cover")
        check_equal(dict(order(driver)).get("ZevrinClass"), True, "the installer is minimized")

        second_start(stage, package, first)
        windows = order(driver)
        check_equal(dict(windows).get("ZevrinClass"), False, "the installer is minimized still")
        check(above(windows, "ZevrinClass", "cover"), "the installer did not come to the front: %r" % windows)

        driver.run("uncover")
        check_equal(exit_codes(leave_by_cancel(driver, package)), [1602], "exit code")
        check_equal(first.wait(), CANCELLED & 0xFF, "exit status of the first instance")


def case_box_comes_on_top():
    # The last active pop-up of the installer is its question; it comes up
    # over the installer's window.
    with Stage("instance-box") as stage:
        package = Package(stage, "wizard")
        first = stage.start(package.exe)
        driver = stage.driver()
        driver.wait_page()
        driver.press(2)
        box = driver.wait_box()
        driver.run("cover")
        check(above(order(driver), "cover", "#32770"), "the cover is not above the question")

        second_start(stage, package, first)
        windows = order(driver)
        check(above(windows, "#32770", "cover"), "the question did not come to the front: %r" % windows)
        check(above(windows, "#32770", "ZevrinClass"), "the question is below the installer: %r" % windows)
        check_equal(driver.wait_box()["hwnd"], box["hwnd"], "the question after the second start")

        driver.run("uncover")
        driver.answer("no")
        check_equal(exit_codes(leave_by_cancel(driver, package)), [1602], "exit code")
        check_equal(first.wait(), CANCELLED & 0xFF, "exit status of the first instance")


CASES = [
    ("second start brings the first to the front", case_brought_to_front),
    ("second start restores a minimized first", case_minimized_is_restored),
    ("second start brings up the first one's question", case_box_comes_on_top),
]

if __name__ == "__main__":
    sys.exit(run_cases(CASES))
