#!/usr/bin/env python3
"""Folders on uninstall: the uninstaller removes the folders its
installation made, once empty, and no folder that was there before: not
the user's own StartUp folder a shortcut went into, not a publisher's
folder another product still uses. The install folder remembered in the
registry and in a profile file goes with the product."""

import os
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import INSTALLED, Stage, check, check_equal, need_file, run_cases, uninstaller_path
from test_install import InstallPackage
from test_unattended import run_unattended
from test_uninstall import check_same, moved_uninstaller, snapshot, temp_folder, uninstall_lines, wine

PUBLISHER = "C:\\Program Files\\Zevrin Publisher"
PROFILE = "C:\\zevrin-publisher.ini"
MENU = "Zevrin Uninstall Test"  # uninstall.toml's start-menu folder


def package(stage, name, folder, extra=(), file_lines=None):
    files = {"readme.txt": ("%s\n" % name).encode(), "data\\deep\\table.dat": b"\x01" * 100}
    return InstallPackage(stage, files, default=folder, extra=uninstall_lines() + list(extra),
                          file_lines=file_lines, product=['uninstall_name = "%s"' % name],
                          options=["--uninstaller", need_file(uninstaller_path(), "the uninstaller")])


def install(stage, built, name):
    code, shown = run_unattended(stage, built.exe, "/Q")
    check_equal(code, INSTALLED, "exit code of installing " + name)


def uninstall(stage, folder):
    result = wine(stage, folder + "\\remove.exe", "/Q", timeout=180)
    check_equal(result.returncode, 0, "exit code of the uninstaller in %s (%r)" % (folder, result.stdout))


def find_folders(stage, name):
    """Host paths of the folders called `name` in the user profiles (which
    the snapshot leaves out)."""
    found = []
    for root, dirs, _ in os.walk(os.path.join(stage.prefix, "drive_c", "users"), followlinks=False):
        found += [os.path.join(root, d) for d in dirs if d.lower() == name.lower()]
    return found


def case_startup():
    with Stage("uninstall-folders-startup") as stage:
        driver = stage.driver()
        temp = temp_folder(driver)
        built = package(stage, "Zevrin Startup", "C:\\Zevrin Startup",
                        file_lines={"readme.txt": ['start_menu = { folders = ["#Startup#"], name = "Notes" }']})
        startup = find_folders(stage, "StartUp")
        check(startup, "the prefix has no StartUp folder")
        # The user's own, empty.
        for path in startup:
            for name in os.listdir(path):
                os.remove(os.path.join(path, name))
        before = snapshot(stage)
        install(stage, built, "with a Startup shortcut")
        check(any(os.listdir(p) for p in startup), "no shortcut went into StartUp")
        uninstall(stage, "C:\\Zevrin Startup")
        for path in startup:
            check(os.path.isdir(path), "the user's StartUp folder was removed: " + path)
            check_equal(os.listdir(path), [], "left in StartUp")
        check_equal(find_folders(stage, MENU), [], "the start-menu folder the installation made")
        after = snapshot(stage)
        check_same(before, after, temp, [moved_uninstaller(stage, temp, before, after)], "after the uninstall")


def case_shared_parent():
    with Stage("uninstall-folders-shared-parent") as stage:
        driver = stage.driver()
        temp = temp_folder(driver)
        first = package(stage, "Zevrin First", PUBLISHER + "\\First")
        install(stage, first, "the first product")
        menu = find_folders(stage, MENU)
        check(menu, "the first product made no start-menu folder")
        second = package(stage, "Zevrin Second", PUBLISHER + "\\Second",
                         extra=["[folder.registry]", 'root = "HKCU"', 'key = "Software\\\\Zevrin Publisher\\\\Second"',
                                'value = "Folder"', "record = true",
                                "[folder.profile]", 'file = "%s"' % PROFILE.replace("\\", "\\\\"),
                                'section = "Setup"', 'key = "Folder"', "record = true"])
        before = snapshot(stage)
        install(stage, second, "the second product")
        check(os.path.exists(stage.unix_path(PROFILE)), "the second product remembered no folder in the profile")
        uninstall(stage, PUBLISHER + "\\Second")
        after = snapshot(stage)
        # The publisher's folder and the start-menu folder the first product
        # made stay; the second product's folders, remembered value (and
        # the keys made for it) and profile file go.
        check_same(before, after, temp, [moved_uninstaller(stage, temp, before, after)], "after uninstalling one")
        check(os.path.isdir(stage.unix_path(PUBLISHER + "\\First\\data\\deep")), "the first product was touched")
        check_equal([os.path.isdir(p) for p in menu], [True] * len(menu), "the start-menu folder both products use")


CASES = [
    ("a shortcut into StartUp leaves the user's StartUp folder", case_startup),
    ("two products in one publisher's folder: uninstalling one takes only its own", case_shared_parent),
]

if __name__ == "__main__":
    sys.exit(run_cases(CASES))
