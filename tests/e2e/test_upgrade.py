#!/usr/bin/env python3
"""Upgrades: version 1 of a product, then version 2, then its uninstaller.
Version 2 drops a file (and the start-menu shortcut to it), changes one,
and no longer ships one the user edited; both install a font and a shared
library another product counts too. After version 2 the dropped file, its
empty folder and its shortcut are gone, the edited file is kept, and the
shared count is not doubled; after the uninstall the prefix is as it was
before version 1 but for the user's file (which the uninstaller names) and
the shared library still counted elsewhere. A package built with
`upgrade = false` leaves version 1's dropped file as before."""

import os
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import INSTALLED, Stage, check, check_equal, need_file, run_cases, uninstaller_path
from test_install import FOLDER, InstallPackage
from test_unattended import run_unattended
from test_uninstall import (FONT, SHARED, SHARED_KEY, TEXTS, check_same, moved_uninstaller, prepare, run_quiet,
                            shared_path, snapshot, temp_folder, uninstall_lines)

DROPPED = "data\\levels\\level3.dat"
CHANGED = "docs\\manual.txt"
EDITED = "notes.txt"
FONT_NAME = "ZevrinSans.ttf"
MENU = "Zevrin Upgrade Test"
REMEMBERED = ["[folder.registry]", 'root = "HKCU"', 'key = "Software\\\\Zevrin Upgrade\\\\Setup"',
              'value = "Folder"', "record = true"]


def font_bytes():
    with open(need_file(FONT, "DejaVuSans.ttf (fonts-dejavu-core)"), "rb") as f:
        font = f.read()
    # Renamed: Wine registers the system's own DejaVu Sans already.
    for old, new in (("DejaVu Sans", "Zevrin Sans"), ("DejaVuSans", "ZevrinSans")):
        font = font.replace(old.encode(), new.encode()).replace(old.encode("utf-16-be"), new.encode("utf-16-be"))
    return font


def version(number):
    """The files and [[files]] lines of version 1 or 2."""
    files = {
        "readme.txt": b"the upgrade test\n",
        CHANGED: b"how to use version %d\n" % number,
        SHARED: b"a shared library\n" * 40,
        FONT_NAME: font_bytes(),
    }
    lines = {SHARED: ['location = "shared"', "shared_count = true"], FONT_NAME: ['location = "font"']}
    if number == 1:
        files[DROPPED] = b"level three\n" * 100
        files[EDITED] = b"notes as shipped\n"
        lines[DROPPED] = ['start_menu = { folders = ["%s"], name = "Level 3" }' % MENU]
    return files, lines


def install(stage, number, product=()):
    files, lines = version(number)
    package = InstallPackage(stage, files, file_lines=lines, extra=uninstall_lines() + REMEMBERED, product=product,
                             options=["--uninstaller", need_file(uninstaller_path(), "the uninstaller")])
    code, shown = run_unattended(stage, package.exe, "/Q")
    check_equal(code, INSTALLED, "exit code of version %d" % number)
    return package


def exists(stage, path):
    return os.path.exists(stage.unix_path(path))


def case_upgrade_then_uninstall():
    with Stage("upgrade") as stage:
        driver = prepare(stage, shared_count=1)
        temp = temp_folder(driver)
        before = snapshot(stage)
        shared = shared_path(driver)

        install(stage, 1)
        check(exists(stage, FOLDER + "\\" + DROPPED), "version 1 did not install %s" % DROPPED)
        check_equal(driver.registry(SHARED_KEY, shared).get("data"), 2, "shared count after version 1")
        links = [p for p in snapshot(stage)["files"] - before["files"] if p.lower().endswith("level 3.lnk")]
        check_equal(len(links), 1, "version 1's start-menu shortcut (%r)" % links)
        with open(stage.unix_path(FOLDER + "\\" + EDITED), "ab") as f:
            f.write(b"and the user's own line\n")

        install(stage, 2)
        check(not exists(stage, FOLDER + "\\" + DROPPED), "the dropped file is still there after version 2")
        check(not exists(stage, FOLDER + "\\data\\levels"), "the dropped file's empty folder is still there")
        check(not exists(stage, links[0]), "the dropped shortcut is still there")
        check(exists(stage, FOLDER + "\\" + EDITED), "the file the user edited was removed")
        with open(stage.unix_path(FOLDER + "\\" + CHANGED), "rb") as f:
            check_equal(f.read(), b"how to use version 2\n", "the changed file")
        check_equal(driver.registry(SHARED_KEY, shared).get("data"), 2, "shared count after version 2 (not doubled)")
        font = driver.registry("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Fonts", "Zevrin Sans (TrueType)")
        check_equal(font.get("data"), FONT_NAME, "the font's registration after version 2")

        code, output = run_quiet(stage)
        check_equal(code, 1, "exit code of the uninstaller (the user's file is left); output %r" % output)
        check(TEXTS["left"] in output and EDITED in output, "the uninstaller does not name the user's file: %r" % output)
        after = snapshot(stage)
        check_equal(driver.registry(SHARED_KEY, shared).get("data"), 1, "shared count after the uninstall")
        named = [moved_uninstaller(stage, temp, before, after), "+ " + FOLDER + "\\", "+ " + FOLDER + "\\" + EDITED,
                 "+ " + shared]
        check_same(before, after, temp, named, "after version 1, version 2 and the uninstall")


def case_without_upgrade():
    with Stage("upgrade-off") as stage:
        prepare(stage)
        install(stage, 1, product=["upgrade = false"])
        install(stage, 2, product=["upgrade = false"])
        check(exists(stage, FOLDER + "\\" + DROPPED), "without upgrades the dropped file must stay as before")


CASES = [
    ("1 -> 2 -> uninstall: dropped files go, the user's stay, counts are not doubled", case_upgrade_then_uninstall),
    ("a package built with upgrade = false installs over the old files as before", case_without_upgrade),
]

if __name__ == "__main__":
    sys.exit(run_cases(CASES))
