#!/usr/bin/env python3
"""The wizard's pages as a person walks them: welcome, information (only
when the package has its text), folder and ready, forwards with Next and
back with Back; each page with its heading in the caption, its texts, and
the package's button captions. And single-page mode, which runs the start
page alone."""

import os
import re
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import (Package, Page, Stage, check, check_chrome, check_equal, exit_codes, expected_caption,
                    leave_by_cancel, run_cases)

WELCOME, INFORMATION, DIRECTORY, READY = 0, 1, 2, 3


def next_from_directory(stage, driver, package):
    """Next on the folder page. The test folder does not exist yet, so the
    page asks to create it first."""
    driver.press(1)
    shown = driver.wait_next()
    if not isinstance(shown, Page):
        stage.shot("create-folder")
        check_equal(shown["text"], package.message("create_folder"), "question on leaving the folder page")
        check_equal(sorted(b["id"] for b in shown["buttons"]), [6, 7], "buttons of the question (Yes, No)")
        driver.answer("yes")
        shown = driver.wait_page()
    return shown


def check_directory_fields(view, package):
    """The proposed folder without its backslash, the labels, and both sizes
    in the package's format: the package's one small file takes 1 MB, the
    free space is whatever the disk has."""
    check_equal(view.text(1004, "page"), package.manifest["folder"]["default"].rstrip("\\"), "folder field")
    check_equal(view.text(1017, "page"), package.text("directory", "required_label"), "label of the required size")
    check_equal(view.text(1018, "page"), package.text("directory", "available_label"), "label of the free space")
    size_format = package.text("directory", "size_format")
    check_equal(view.text(1016, "page"), size_format.replace("%d", "1"), "required size")
    free = view.text(1019, "page")
    check(re.fullmatch(re.escape(size_format).replace("%d", "[0-9]+"), free), "free space %r" % free)
    check(not free.startswith("0 "), "free space shown as none: %r" % free)


def case_pages_with_information():
    with Stage("pages-with-information") as stage:
        package = Package(stage, "wizard")
        run = stage.start(package.exe)
        driver = stage.driver()

        view = driver.wait_page()
        stage.shot("0-welcome")
        check_equal(view.mode, "windowed", "mode")
        check_chrome(view, package, WELCOME)

        driver.press(1)
        view = driver.wait_page()
        stage.shot("1-information")
        check_chrome(view, package, INFORMATION)
        check_equal(view.control(1000, "page")["class"], "Edit", "class of the information text")

        driver.press(1)
        view = driver.wait_page()
        stage.shot("2-directory")
        check_chrome(view, package, DIRECTORY)
        check_directory_fields(view, package)

        view = next_from_directory(stage, driver, package)
        stage.shot("3-ready")
        # 1001 names the folder; its own case checks it.
        check_chrome(view, package, READY, texts=(1, 3, 4))

        # And back again, page by page.
        for page in (DIRECTORY, INFORMATION, WELCOME):
            driver.press(1007)
            view = driver.wait_page()
            check_equal(view.caption, expected_caption(package, page, view.mode), "caption after Back")
        check_chrome(view, package, WELCOME)

        check_equal(exit_codes(leave_by_cancel(driver, package)), [1602], "exit code")
        check_equal(run.wait(), 1602 & 0xFF, "exit status")


def case_pages_without_information():
    # No information text: Next on the welcome page goes straight to the
    # folder page, and Back from there straight back.
    with Stage("pages-without-information") as stage:
        package = Package(stage, "noinfo")
        run = stage.start(package.exe)
        driver = stage.driver()
        check_chrome(driver.wait_page(), package, WELCOME)
        driver.press(1)
        view = driver.wait_page()
        stage.shot("after-welcome")
        check_chrome(view, package, DIRECTORY)
        driver.press(1007)
        view = driver.wait_page()
        stage.shot("after-back")
        check_equal(view.caption, expected_caption(package, WELCOME, view.mode),
                    "caption after Back from the folder page")
        check_chrome(view, package, WELCOME)
        check_equal(exit_codes(leave_by_cancel(driver, package)), [1602], "exit code")
        check_equal(run.wait(), 1602 & 0xFF, "exit status")


def case_enter_is_next():
    # The frame dialog sees the keys first: Enter is its default button.
    with Stage("pages-enter") as stage:
        package = Package(stage, "wizard")
        run = stage.start(package.exe)
        driver = stage.driver()
        driver.wait_page()
        driver.run("key enter")
        check_chrome(driver.wait_page(), package, INFORMATION)
        check_equal(exit_codes(leave_by_cancel(driver, package)), [1602], "exit code")
        check_equal(run.wait(), 1602 & 0xFF, "exit status")


def case_ready_page_names_folder():
    with Stage("ready-page-folder") as stage:
        package = Package(stage, "wizard")
        run = stage.start(package.exe)
        driver = stage.driver()
        driver.wait_page()
        driver.press(1)
        driver.wait_page()
        driver.press(1)
        driver.wait_page()
        view = next_from_directory(stage, driver, package)
        folder = package.manifest["folder"]["default"].rstrip("\\")
        check_equal(view.text(1001, "page"), package.page_text(READY, 2).replace("%s", folder),
                    "folder line of the ready page")
        check_equal(exit_codes(leave_by_cancel(driver, package)), [1602], "exit code")
        check_equal(run.wait(), 1602 & 0xFF, "exit status")


def single_page(button, name, code=0):
    """Single-page mode: the ready page alone; `button` ends the wizard
    with `code`, and Cancel asks nothing."""
    def case():
        with Stage("single-page-" + name) as stage:
            package = Package(stage, "single")
            run = stage.start(package.exe)
            driver = stage.driver()
            view = driver.wait_page()
            stage.shot("ready")
            check_equal(view.caption, expected_caption(package, READY, view.mode), "caption of the only page")
            check_equal(view.text(1000, "page"), package.page_text(READY, 1), "text of the only page")
            for control in (1007, 1, 2):
                check(view.control(control, "frame")["enabled"], "button %d is disabled" % control)
            driver.press(button)
            # A question or another page would keep the installer running.
            check_equal(exit_codes(driver.wait_exit()), [code], "exit code")
            check_equal(run.wait(), code & 0xFF, "exit status")
    return case


CASES = [
    ("welcome, information, folder, ready and back", case_pages_with_information),
    ("no information page", case_pages_without_information),
    ("Enter moves on like Next", case_enter_is_next),
    ("ready page names the folder", case_ready_page_names_folder),
    ("single page: Next ends", single_page(1, "next")),
    ("single page: Back ends", single_page(1007, "back")),
    ("single page: Cancel ends without asking", single_page(2, "cancel", 1602)),
]

if __name__ == "__main__":
    sys.exit(run_cases(CASES))
