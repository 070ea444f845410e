#!/usr/bin/env python3
"""Rollback: version 2 of a product is installed over version 1 and stops
half-way (Cancel at about half, a checksum error in its last file, a disk
that fills up). The machine is then as it was before the run: the same
files with the same bytes, the same registry (shared count, font,
uninstall key), the desktop shortcut as it was, and no temporary or set
aside file anywhere. A package built with `rollback = false` keeps what
it installed, as before."""

import hashlib
import os
import random
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import (CANCELLED, FAILED, INSTALLED, Stage, check, check_equal, check_exit, need_file, run_cases,
                    uninstaller_path)
from test_install import FINISH, FOLDER, PER_FILE, InstallPackage, remove_drive, small_drive, to_progress
from test_unattended import run_unattended
from test_uninstall import check_same, prepare, product_files, snapshot, temp_folder, uninstall_lines

NEW_FILES = 120  # version 2's own files, in folders version 1 did not have
LAST = "zz_last.bin"


def version(stage, number, folder, extra_files=None, extra=(), product=(), options=()):
    """The uninstall test's product (sub-folders, desktop and start-menu
    shortcuts, a font, a shared and a self-registering library, the
    uninstaller); version 2 changes two files and adds `extra_files`."""
    files, lines = product_files()
    if number == 2:
        files["readme.txt"] = b"version 2 of the rollback test\n"
        files["data\\deep\\table.dat"] = b"\x07" * 900
        files.update(extra_files or {})
    return InstallPackage(stage, files, default=folder, file_lines=lines, extra=uninstall_lines() + list(extra),
                          product=list(product),
                          options=["--uninstaller", need_file(uninstaller_path(), "the uninstaller")] + list(options))


def new_files():
    return {"new\\sub%d\\file%03d.txt" % (i % 4, i): ("new file %d\n" % i).encode() * 40 for i in range(NEW_FILES)}


def tree(root):
    """Every file under a host folder with its SHA-256, every folder with
    None: what "byte for byte" compares."""
    state = {}
    for folder, dirs, names in os.walk(root, followlinks=False):
        for d in dirs:
            state[os.path.relpath(os.path.join(folder, d), root) + "/"] = None
        for n in names:
            with open(os.path.join(folder, n), "rb") as f:
                state[os.path.relpath(os.path.join(folder, n), root)] = hashlib.sha256(f.read()).hexdigest()
    return state


def desktops(stage):
    """The desktop folders of the prefix's users (outside the snapshot),
    with their contents."""
    users = os.path.join(stage.prefix, "drive_c", "users")
    return {os.path.join(d, n): tree(os.path.join(d, n))
            for d, dirs, _ in os.walk(users, followlinks=False) for n in dirs if n.lower() == "desktop"}


# ------------------------------------------------------ how version 2 stops

def cancel_halfway(stage, driver, folder, product):
    """The wizard, one file a tick; Cancel once about half of the new files
    are in, Yes, then OK."""
    package = version(stage, 2, folder, new_files(), extra=PER_FILE, product=product)
    run = stage.start(package.exe, name="version 2")
    to_progress(stage, driver, package)
    root = stage.unix_path(folder + "\\new")
    for _ in range(600):
        count = sum(len(names) for _, _, names in os.walk(root))
        if count >= NEW_FILES // 2:
            break
        driver.run("sync")
    check(NEW_FILES // 3 <= count < NEW_FILES, "new files in place when Cancel was pressed: %d" % count)
    driver.press(2)
    box = driver.wait_box()
    check_equal(box["text"], package.message("cancel_installing"), "cancel question")
    driver.answer("yes")
    driver.answer("ok")
    check_exit(driver, run, CANCELLED)


def damaged_last_file(stage, driver, folder, product):
    """Quiet: every file in place but the last, whose stored bytes are
    damaged."""
    files = new_files()
    files[LAST] = b"LASTFILE" + bytes(range(256)) * 64
    package = version(stage, 2, folder, files, product=product, options=["--level", "0"])
    with open(package.exe, "r+b") as f:
        data = f.read()
        at = data.index(b"LASTFILE") + 1000
        f.seek(at)
        f.write(bytes([data[at] ^ 0xFF]))
    code, _ = run_unattended(stage, package.exe, "/Q")
    check_equal(code, FAILED, "exit code of version 2")


def disk_full(stage, driver, folder, product):
    """The wizard on drive T: (4 MB): Yes to going on with too little room;
    a 6 MB file fills the drive after the changed files went in."""
    files = {"big.bin": random.Random(4).randbytes(6 * 1024 * 1024), "after.txt": b"never reached\n"}
    package = version(stage, 2, folder, files, product=product)
    run = stage.start(package.exe, name="version 2")
    driver.wait_page()
    driver.press(1)
    driver.wait_page()
    driver.press(1)
    box = driver.wait_box()
    check_equal(box["text"], package.message("disk_space"), "not enough space question")
    driver.answer("yes")
    driver.wait_page()
    driver.press(1)
    view = driver.wait_page(120)
    while view.caption != package.title + " - " + package.page_text(FINISH, 0):
        view = driver.wait_page(120)
    expected = package.text("finish", "error_format").replace(
        "%s", package.message("cannot_create").replace("%s", folder + "\\big.bin"))
    check_equal(view.text(1000, "page"), expected, "error on the finish page")
    stage.shot("5-finish-disk-full")
    driver.press(2)
    check_exit(driver, run, FAILED)


def over_version_1(name, stop, rolled_back=True, on_drive_t=False):
    def case():
        # Version 1 must pass the space check: the font and libraries count.
        drive = small_drive("4m") if on_drive_t else None
        try:
            with Stage("rollback-" + name) as stage:
                driver = prepare(stage)
                temp = temp_folder(driver)
                folder = "T:\\App" if drive else FOLDER
                if drive:
                    os.symlink(drive, os.path.join(stage.prefix, "dosdevices", "t:"))
                code, _ = run_unattended(stage, version(stage, 1, folder).exe, "/Q")
                check_equal(code, INSTALLED, "exit code of version 1")
                root = drive if drive else stage.unix_path(folder)
                before, files, shortcuts = snapshot(stage), tree(root), desktops(stage)
                check(any(shortcuts.values()), "version 1 made no desktop shortcut")

                stop(stage, driver, folder, [] if rolled_back else ["rollback = false"])

                after = tree(root)
                if not rolled_back:
                    # As before: what went in stays.
                    check(after.get("readme.txt") != files["readme.txt"], "readme.txt is not version 2's")
                    check(any(k.startswith("new/") for k in after), "version 2's new files are gone")
                    return
                check_same(before, snapshot(stage), temp, [], "after the rollback")
                changed = sorted(k for k in set(files) | set(after) if files.get(k, 0) != after.get(k, 0))
                check_equal(changed, [], "files of the install folder that differ from version 1's")
                check_equal(desktops(stage), shortcuts, "the desktop")
        finally:
            if drive:
                remove_drive(drive)
    return case


CASES = [
    ("Cancel at about half way: version 1 as it was", over_version_1("cancel", cancel_halfway)),
    ("a checksum error in the last file: version 1 as it was", over_version_1("checksum", damaged_last_file)),
    ("a full disk: version 1 as it was", over_version_1("disk-full", disk_full, on_drive_t=True)),
    ("rollback = false: a checksum error keeps what was installed",
     over_version_1("off", damaged_last_file, rolled_back=False)),
]

if __name__ == "__main__":
    sys.exit(run_cases(CASES))
