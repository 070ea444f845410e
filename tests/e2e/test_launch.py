#!/usr/bin/env python3
"""After the wizard: the program a package marks with `after = "launch"`
is started from the install folder by its short path when the finish
page's box stays checked, and not when the user clears it; the file marked
`after = "view"` opens with the program its type is registered to when
the view button is pressed; a screen saver is handed to the control
panel."""

import os
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import check, check_equal, exit_codes, need_file, run_cases, stub_path, wine_choice, Stage
from test_install import FINISH, FOLDER, InstallPackage, to_progress

VIEW_BUTTON = 1014
LAUNCH_BOX = 1015
PROGRAM = "hello.exe"


def built_program(name, what):
    """A program built beside the stub."""
    return need_file(os.path.join(os.path.dirname(stub_path()), name), what)


def hello_path():
    return built_program(os.path.join("examples", PROGRAM), "the demo program")


def probe_path():
    """probe.exe appends "current folder|command line" to C:\\probe.txt."""
    return built_program("probe.exe", "the probe program")


def probe_lines(stage, wait):
    """The probe's lines, waiting up to `wait` seconds for the first."""
    path = stage.unix_path("C:\\probe.txt")
    deadline = time.monotonic() + wait
    while True:
        if os.path.isfile(path):
            with open(path, "rb") as f:
                lines = f.read().decode("cp1252").splitlines()
            if lines:
                return [tuple(line.split("|", 1)) for line in lines]
        if time.monotonic() >= deadline:
            return []
        time.sleep(0.2)


def to_finish(stage, driver, package):
    view = to_progress(stage, driver, package)
    while view.caption != package.title + " - " + package.page_text(FINISH, 0):
        view = driver.wait_page(120)
    return view


def finish_page_item(stage, package, control_id, caption_key):
    """Runs the package to its finish page; returns the run, the driver and
    the page's control `control_id`, checked to be shown with the
    manifest's finish text `caption_key`."""
    run = stage.start(package.exe)
    driver = stage.driver()
    view = to_finish(stage, driver, package)
    item = view.control(control_id, "page")
    check(item["visible"], "%s is shown" % caption_key)
    check_equal(item["text"], package.manifest["texts"]["finish"][caption_key], "%s caption" % caption_key)
    return run, driver, item


def finish_and_exit(driver, run):
    driver.press(2)
    check_equal(exit_codes(driver.wait_exit()), [0], "exit code")
    check_equal(run.wait(), 0, "exit status")


def launch_case(stage_name, clear_box):
    with Stage(stage_name) as stage:
        with open(probe_path(), "rb") as f:
            files = {"probe.exe": f.read()}
        package = InstallPackage(stage, files, file_lines={"probe.exe": ['after = "launch"']})
        run, driver, box = finish_page_item(stage, package, LAUNCH_BOX, "launch_checkbox")
        check_equal(box.get("checked"), 1, "the box starts checked")
        if clear_box:
            driver.press(LAUNCH_BOX)
            check_equal(driver.dump().control(LAUNCH_BOX, "page").get("checked"), 0, "the box after a click")
        stage.shot("5-finish")
        finish_and_exit(driver, run)
        # WinExec returns once the program's process exists, before the
        # installer ends: it is there now or never.
        if clear_box:
            started = [e for e in driver.run("processes") if e.get("file", "").lower() == "probe.exe"]
            check_equal(started, [], "programs started")
            check_equal(probe_lines(stage, 2), [], "what the probe wrote")
            return
        lines = probe_lines(stage, 10)
        check_equal(len(lines), 1, "times the program started")
        folder, command = lines[0]
        check_equal(folder.rstrip("\\").lower(), FOLDER.lower(), "its current folder")
        check(" " not in command and command.lower().endswith("\\probe.exe") and "~" in command,
              "started by its short path: %r" % command)


def case_view():
    with Stage("view") as stage:
        notes = b"Notes of the install test.\r\n"
        package = InstallPackage(stage, {"notes.zvn": notes}, file_lines={"notes.zvn": ['after = "view"']})
        # The file type is the probe's, so the test sees what was opened.
        shutil.copy(probe_path(), stage.unix_path("C:\\viewer.exe"))
        for key, data in (("HKCR\\.zvn", "ZevrinNotes"),
                          ("HKCR\\ZevrinNotes\\shell\\open\\command", 'C:\\viewer.exe "%1"')):
            subprocess.run([wine_choice()["wine"], "reg", "add", key, "/ve", "/d", data, "/f"], env=stage.env,
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=120, check=True)
        run, driver, _ = finish_page_item(stage, package, VIEW_BUTTON, "view_button")
        check_equal(probe_lines(stage, 1), [], "opened before the button was pressed")
        driver.press(VIEW_BUTTON)
        lines = probe_lines(stage, 10)
        check_equal(len(lines), 1, "times the viewer started")
        check(lines[0][1].lower().endswith((FOLDER + "\\notes.zvn").lower() + '"'),
              "the viewer was given the installed file: %r" % lines[0][1])
        stage.shot("5-viewed")
        finish_and_exit(driver, run)


def case_screen_saver():
    with Stage("screen-saver") as stage:
        files = {"zevrin.scr": b"not really a screen saver"}
        package = InstallPackage(stage, files, file_lines={"zevrin.scr": ['special = "screen_saver"']})
        # Wine's own ends at once; the demo program beside SETUP.EXE, found
        # first, stays until its box is closed, so it can be seen.
        shutil.copy(hello_path(), os.path.join(os.path.dirname(package.exe), "rundll32.exe"))
        run = stage.start(package.exe)
        driver = stage.driver()
        to_finish(stage, driver, package)
        finish_and_exit(driver, run)
        started = driver.one("wait-process rundll32.exe 5", "process")
        check_equal(started["command_line"], "rundll32 desk.cpl,InstallScreenSaver %s\\zevrin.scr" % FOLDER,
                    "command line")


CASES = [
    ("box left checked: the program starts from the install folder", lambda: launch_case("launch-checked", False)),
    ("box cleared: nothing starts", lambda: launch_case("launch-cleared", True)),
    ("the view button opens the file with its registered program", case_view),
    ("a screen saver goes to the control panel", case_screen_saver),
]

if __name__ == "__main__":
    sys.exit(run_cases(CASES))
