#!/usr/bin/env python3
"""After the wizard: the program a package marks with `after = "launch"`
is started from the install folder when the finish page's box stays
checked, and not when the user clears it; a screen saver is handed to the
control panel."""

import os
import shutil
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import check, check_equal, exit_codes, need_file, run_cases, stub_path, Stage
from test_install import FINISH, FOLDER, InstallPackage, to_progress

LAUNCH_BOX = 1015
PROGRAM = "hello.exe"


def hello_path():
    """The demo's program, built beside the stub (target hello)."""
    return need_file(os.path.join(os.path.dirname(stub_path()), "examples", PROGRAM), "the demo program")


def launch_case(stage_name, clear_box):
    with Stage(stage_name) as stage:
        with open(hello_path(), "rb") as f:
            files = {PROGRAM: f.read()}
        package = InstallPackage(stage, files, file_lines={PROGRAM: ['after = "launch"']})
        run = stage.start(package.exe)
        driver = stage.driver()
        view = to_progress(stage, driver, package)
        while view.caption != package.title + " - " + package.page_text(FINISH, 0):
            view = driver.wait_page(120)
        box = view.control(LAUNCH_BOX, "page")
        check(box["visible"], "the launch box is shown")
        check_equal(box["text"], package.manifest["texts"]["finish"]["launch_checkbox"], "launch box caption")
        check_equal(box.get("checked"), 1, "the box starts checked")
        if clear_box:
            driver.press(LAUNCH_BOX)
            check_equal(driver.dump().control(LAUNCH_BOX, "page").get("checked"), 0, "the box after a click")
        stage.shot("5-finish")
        driver.press(2)
        check_equal(exit_codes(driver.wait_exit()), [0], "exit code")
        check_equal(run.wait(), 0, "exit status")
        # WinExec returns once the program's process exists, before the
        # installer ends: it is there now or never.
        if clear_box:
            started = [e for e in driver.run("processes") if e.get("file", "").lower() == PROGRAM]
            check_equal(started, [], "programs started")
        else:
            started = driver.one("wait-process %s 5" % PROGRAM, "process")
            command = started["command_line"]
            check(" " not in command and command.lower().endswith("\\" + PROGRAM) and "~" in command,
                  "started by its short path: %r" % command)
            stage.shot("6-launched")


def case_screen_saver():
    with Stage("screen-saver") as stage:
        files = {"zevrin.scr": b"not really a screen saver"}
        package = InstallPackage(stage, files, file_lines={"zevrin.scr": ['special = "screen_saver"']})
        # Wine's own ends at once; the demo program beside SETUP.EXE, found
        # first, stays until its box is closed, so it can be seen.
        shutil.copy(hello_path(), os.path.join(os.path.dirname(package.exe), "rundll32.exe"))
        run = stage.start(package.exe)
        driver = stage.driver()
        view = to_progress(stage, driver, package)
        while view.caption != package.title + " - " + package.page_text(FINISH, 0):
            view = driver.wait_page(120)
        driver.press(2)
        check_equal(exit_codes(driver.wait_exit()), [0], "exit code")
        check_equal(run.wait(), 0, "exit status")
        started = driver.one("wait-process rundll32.exe 5", "process")
        check_equal(started["command_line"], "rundll32 desk.cpl,InstallScreenSaver %s\\zevrin.scr" % FOLDER,
                    "command line")


CASES = [
    ("box left checked: the program starts", lambda: launch_case("launch-checked", False)),
    ("box cleared: nothing starts", lambda: launch_case("launch-cleared", True)),
    ("a screen saver goes to the control panel", case_screen_saver),
]

if __name__ == "__main__":
    sys.exit(run_cases(CASES))
