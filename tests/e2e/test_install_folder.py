#!/usr/bin/env python3
"""The folder the installer proposes, as the ready page names it: the
package's default with its folder macro expanded, or the folder an earlier
installation recorded in the registry, in the letter case the file system
stores it in."""

import os
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import Failure, Package, Stage, check_equal, exit_codes, run_cases, wine_choice

READY = 3
KEY = "HKCU\\Software\\Zevrin E2E"


def record_folder(stage, folder):
    """What an earlier installation would have written."""
    result = subprocess.run([wine_choice()["wine"], "reg", "add", KEY, "/v", "InstallDir", "/d", folder, "/f"],
                            env=stage.env, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise Failure("reg add failed (%d): %s" % (result.returncode, result.stderr.strip()))
    check_equal(stage.driver().registry(KEY, "InstallDir")["data"], folder, "recorded folder")


def ready_folder_line(stage, package):
    """Text 1001 of the ready page, the only page; Cancel then ends."""
    run = stage.start(package.exe)
    driver = stage.driver()
    view = driver.wait_page()
    stage.shot("ready")
    line = view.text(1001, "page")
    driver.press(2)
    check_equal(exit_codes(driver.wait_exit()), [1602], "exit code (Cancel)")
    check_equal(run.wait(), 1602 & 0xFF, "exit status")
    return line


def case_default_macro_expanded():
    with Stage("folder-default-macro") as stage:
        package = Package(stage, "recorded")
        windows = stage.driver().info()["windows"].rstrip("\\")
        expected = package.page_text(READY, 2).replace("%s", windows + "\\Zevrin E2E")
        check_equal(ready_folder_line(stage, package), expected, "folder line of the ready page")


def case_recorded_folder():
    with Stage("folder-recorded") as stage:
        package = Package(stage, "recorded")
        os.makedirs(stage.unix_path("C:\\Zevrin Recorded\\App"))
        record_folder(stage, "c:\\zevrin recorded\\app")
        expected = package.page_text(READY, 2).replace("%s", "c:\\Zevrin Recorded\\App")
        check_equal(ready_folder_line(stage, package), expected, "folder line of the ready page")


def case_recorded_folder_gone():
    with Stage("folder-recorded-gone") as stage:
        package = Package(stage, "recorded")
        record_folder(stage, "c:\\zevrin removed")
        windows = stage.driver().info()["windows"].rstrip("\\")
        expected = package.page_text(READY, 2).replace("%s", windows + "\\Zevrin E2E")
        check_equal(ready_folder_line(stage, package), expected, "folder line of the ready page")


CASES = [
    ("the default's folder macro is expanded", case_default_macro_expanded),
    ("a recorded folder that exists, in its stored case", case_recorded_folder),
    ("a recorded folder that is gone: the default", case_recorded_folder_gone),
]

if __name__ == "__main__":
    sys.exit(run_cases(CASES))
