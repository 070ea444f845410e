#!/usr/bin/env python3
"""Leaving the wizard: Cancel (or Escape) asks the package's question; No
keeps everything as it was, Yes shows the "not completed" message and the
installer ends with 0. Closing the window through its system menu ends the
wizard at once, also with 0."""

import os
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import Package, Stage, check, check_equal, exit_codes, leave_by_cancel, run_cases


def installer_boxes(driver):
    """Top-level dialogs on screen: the wizard itself has none (its frame
    and pages are child windows)."""
    windows = driver.one("windows", "windows")["windows"]
    return [w["caption"] for w in windows if w["class"] == "#32770"]


def ask_and_refuse(stage, driver, package, how, shot):
    """Cancel (a button press or a key), answered No: the same page stays,
    unchanged, and no box is left."""
    before = driver.dump()
    if how == "escape":
        driver.run("key escape")
    else:
        driver.press(2)
    box = driver.wait_box()
    stage.shot(shot)
    check_equal(box["text"], package.message("exit_question"), "question of Cancel")
    check_equal(box["caption"], package.title, "caption of the question")
    check_equal(sorted(b["id"] for b in box["buttons"]), [6, 7], "buttons of the question (Yes, No)")
    check_equal(box["owner"], "background", "owner of the question")
    driver.answer("no")
    after = driver.dump()
    check_equal(after.event["page"], before.event["page"], "page window after No")
    check_equal(after.caption, before.caption, "caption after No")
    # Keyboard focus aside (where it lands after a box is Wine's and the
    # window manager's business), every control is as it was. So is the
    # folder page's free space, except its number: the page asks for it
    # again whenever the folder field notifies, and others write to the disk.
    def settled(control):
        live = ("focus", "text") if control["id"] == 1019 and control["parent"] == "page" else ("focus",)
        return {k: v for k, v in control.items() if k not in live}
    unchanged = lambda view: [settled(c) for c in view.controls]
    changed = [(b, a) for b, a in zip(unchanged(before), unchanged(after)) if a != b]
    check(not changed and len(before.controls) == len(after.controls),
          "controls changed after No: %r" % (changed or [before.summary(), after.summary()]))
    check_equal(installer_boxes(driver), [], "boxes left after No")


def case_cancel_no_then_yes():
    # No on every page keeps it; Yes on the last one ends the installer.
    with Stage("cancel-no-yes") as stage:
        package = Package(stage, "wizard")
        run = stage.start(package.exe)
        driver = stage.driver()
        driver.wait_page()
        ask_and_refuse(stage, driver, package, "button", "welcome-question")
        driver.press(1)
        driver.wait_page()
        ask_and_refuse(stage, driver, package, "button", "information-question")
        driver.press(1)
        driver.wait_page()
        ask_and_refuse(stage, driver, package, "button", "directory-question")
        driver.press(2)
        box = driver.answer("yes")
        check_equal(box["text"], package.message("exit_question"), "question of Cancel")
        box = driver.wait_box()
        stage.shot("not-completed")
        check_equal(box["text"], package.message("not_completed"), "message after Yes")
        check_equal([b["id"] for b in box["buttons"]], [1], "buttons of the message (OK only)")
        driver.answer("ok")
        check_equal(exit_codes(driver.wait_exit()), [1602], "exit code")
        check_equal(run.wait(), 1602 & 0xFF, "exit status")


def case_escape_asks():
    with Stage("cancel-escape") as stage:
        package = Package(stage, "wizard")
        run = stage.start(package.exe)
        driver = stage.driver()
        driver.wait_page()
        ask_and_refuse(stage, driver, package, "escape", "escape-question")
        check_equal(exit_codes(leave_by_cancel(driver, package)), [1602], "exit code")
        check_equal(run.wait(), 1602 & 0xFF, "exit status")


def system_close(package_name, target, page_steps):
    """The system menu's Close on `target` ends the wizard without a
    question, after `page_steps` presses of Next."""
    def case():
        with Stage("close-%s-%s" % (package_name, target)) as stage:
            package = Package(stage, package_name)
            run = stage.start(package.exe)
            driver = stage.driver()
            view = driver.wait_page()
            for _ in range(page_steps):
                driver.press(1)
                view = driver.wait_page()
            if target == "frame":
                check(view.event["frame"]["has_caption"], "the frame has no caption (and no system menu)")
            driver.run("syscommand close %s" % target)
            # A question would keep the installer running; the user left.
            check_equal(exit_codes(driver.wait_exit()), [1602], "exit code")
            check_equal(run.wait(), 1602 & 0xFF, "exit status")
    return case


CASES = [
    ("Cancel: No keeps the page, Yes ends", case_cancel_no_then_yes),
    ("Escape asks like Cancel", case_escape_asks),
    ("system menu Close, windowed", system_close("wizard", "background", 0)),
    ("system menu Close on a later page", system_close("wizard", "background", 2)),
    ("system menu Close, full screen", system_close("fullscreen", "background", 0)),
    ("frame's Close, full screen", system_close("fullscreen", "frame", 0)),
]

if __name__ == "__main__":
    sys.exit(run_cases(CASES))
