#!/usr/bin/env python3
"""Installing again: the folder a first installation recorded (in the
registry or in a profile file) is what the second one proposes, in the
letter case the file system stores it in; a file in use by a running
program is replaced at the next restart, and the finish page then offers
the restart."""

import os
import shutil
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import Stage, check, check_equal, exit_codes, leave_by_cancel, run_cases, wait_running
from test_install import DIRECTORY, FINISH, FOLDER, InstallPackage, finish_and_close, installed, to_progress
from test_launch import PROGRAM, hello_path

# On disk with capitals; the first package names it in small letters.
STORED = "C:\\Zevrin Reinstall"
FIRST = "c:\\zevrin reinstall"
SECOND = "C:\\Zevrin Elsewhere"
KEY = "HKCU\\Software\\Zevrin Reinstall"
PROFILE = "zevrin-reinstall.ini"


def registry_record(stage, driver):
    return driver.registry(KEY, "Folder").get("data")


def profile_record(stage, driver):
    windows = driver.info()["windows"].rstrip("\\")
    path = stage.unix_path(windows + "\\" + PROFILE)
    for name in os.listdir(os.path.dirname(path)):
        if name.lower() == PROFILE:
            with open(os.path.join(os.path.dirname(path), name), encoding="cp1252") as f:
                for line in f:
                    if line.lower().startswith("folder="):
                        return line.split("=", 1)[1].strip()
    return None


# Where the folder is recorded: the manifest's lines and how to read it back.
RECORDS = [
    ("registry", ['[folder.registry]', 'root = "HKCU"', 'key = "Software\\\\Zevrin Reinstall"',
                  'value = "Folder"', 'record = true'], registry_record),
    ("profile", ['[folder.profile]', 'file = "%s"' % PROFILE, 'section = "Setup"', 'key = "Folder"',
                 'record = true'], profile_record),
]


def recorded_case(variant, lines, read_record):
    with Stage("reinstall-recorded-" + variant) as stage:
        os.makedirs(stage.unix_path(STORED))
        files = {"readme.txt": b"recorded folder test\n"}
        first = InstallPackage(stage, files, default=FIRST, extra=lines)
        run = stage.start(first.exe, name="first")
        driver = stage.driver()
        view = to_progress(stage, driver, first, folder=FIRST)
        if view.caption != first.title + " - " + first.page_text(FINISH, 0):
            view = finish_and_close(stage, driver, run, shot="5-finish-first")
        else:
            stage.shot("5-finish-first")
            driver.press(2)
            check_equal(exit_codes(driver.wait_exit()), [0], "exit code of the first run")
            check_equal(run.wait(), 0, "exit status of the first run")
        check_equal(installed(stage, STORED, files)[1], [], "files missing after the first run")
        record = read_record(stage, driver)
        check(record and record.rstrip("\\").lower() == FIRST, "recorded folder: %r" % record)

        second = InstallPackage(stage, files, default=SECOND, extra=lines)
        run = stage.start(second.exe, name="second")
        driver.wait_page()
        driver.press(1)
        view = driver.wait_page()
        stage.shot("2-directory-second")
        check_equal(view.caption, second.title + " - " + second.page_text(DIRECTORY, 0), "folder page caption")
        check_equal(view.text(1004, "page"), "c:\\Zevrin Reinstall", "folder field of the second run")
        check_equal(exit_codes(leave_by_cancel(driver, second)), [1602], "exit code of the second run")
        check_equal(run.wait(), 1602 & 0xFF, "exit status of the second run")
        check(not os.path.exists(stage.unix_path(SECOND)), "the second run's default was made")


def case_restart_needed():
    with Stage("reinstall-restart") as stage:
        with open(hello_path(), "rb") as f:
            old = f.read()
        # A different copy (bytes after the image): the running one cannot
        # be found identical.
        files = {PROGRAM: old + b"\0a newer copy\0"}
        held = stage.unix_path(FOLDER + "\\" + PROGRAM)
        os.makedirs(os.path.dirname(held))
        shutil.copy(hello_path(), held)
        stage.start(held, timeout=900, name="held")
        driver = stage.driver()
        # "processes", not wait-process: the driver must not wait for it.
        # By the clock: a busy machine may take long to start a program.
        deadline = time.monotonic() + 120
        while not any(e.get("file", "").lower() == PROGRAM for e in driver.run("processes")):
            if time.monotonic() > deadline:
                raise Failure("%s did not start" % PROGRAM)
            time.sleep(0.5)
        package = InstallPackage(stage, files)
        run = stage.start(package.exe)
        # Only wait-page: the program's message box belongs to nobody, and
        # wait-next would take it for the installer's.
        driver.wait_page()
        driver.press(1)
        view = driver.wait_page()
        check_equal(view.text(1004, "page"), FOLDER, "folder field")
        driver.press(1)
        view = driver.wait_page()
        check_equal(view.text(1001, "page"), package.page_text(3, 2).replace("%s", FOLDER), "ready page folder")
        driver.press(1)
        view = driver.wait_page(120)
        while view.caption != package.title + " - " + package.page_text(FINISH, 0):
            view = driver.wait_page(120)
        stage.shot("5-finish-restart")
        button = view.control(1007, "frame")
        check_equal(button["text"], package.button("restart"), "caption of button 1007")
        check(button["visible"] and button["enabled"], "the restart button is shown and enabled")
        texts = [c["text"] for c in view.controls if c["parent"] == "page" and c["visible"]]
        check(package.text("finish", "restart_notice") in texts, "restart notice on the page: %r" % texts)
        with open(held, "rb") as f:
            check(f.read() == old, "the running copy is still the old one")
        driver.press(2)
        check_equal(exit_codes(driver.wait_exit()), [3010], "exit code (a restart finishes it)")
        check_equal(run.wait(), 3010 & 0xFF, "exit status")


CASES = [("a second installation proposes the folder recorded in the " + variant,
          lambda variant=variant, lines=lines, read=read: recorded_case(variant, lines, read))
         for variant, lines, read in RECORDS] + [
    ("the finish page after a restart is needed", case_restart_needed),
]

if __name__ == "__main__":
    sys.exit(run_cases(CASES))
