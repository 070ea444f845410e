#!/usr/bin/env python3
"""Started from a removable drive, the installer copies its own image (and
not the package) to the temporary folder as _instN.exe, starts that copy
with /S"<package>" /DEL and ends with 0 at once (an unattended run hands
its switches on, waits for the copy and ends with its code); the copy reads the
package from the removable drive and has itself deleted at the next
restart.

The hand-made package here is one byte short, so the copy stops at the
"invalid data" box: the box proves that it read the package through /S
(the copy itself carries none), and it holds the copy still while its
command line is read. The last case runs a whole package from `zevrin
build`, whose copy shows the wizard instead."""

import glob
import os
import shutil
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import Package, Stage, check, check_equal, cut_package, handmade_package, read_stamp, run_cases

TITLE = "Floppy Test Setup"
INVALID = "This file contains invalid data."
GROUPS = [["page %d" % p] for p in range(6)] + [[TITLE] + ["message %d" % i for i in range(1, 31)] + [INVALID]]
DATA = bytes(range(256)) * 4
DRIVE = "X"


def short_package(stage):
    """setup.exe on the floppy, one byte short."""
    whole = handmade_package(stage.path("whole.exe"), stage.work, GROUPS, data=DATA)
    return cut_package(whole, os.path.join(stage.removable, "setup.exe"))


def temp_folder(stage):
    """The prefix's temporary folder: its Windows form (with the final
    backslash) and its host path. Checks on the way that the prefix is
    what the case asked run-setup.sh for."""
    info = stage.driver().info()
    drives = {d["root"]: d["type"] for d in info["drives"]}
    check_equal(drives.get("C:\\"), 3, "type of drive C: (fixed)")
    if stage.removable:
        check_equal(drives.get(DRIVE + ":\\"), 2, "type of drive %s: (removable)" % DRIVE)
    check_equal(info["platform"], 1 if "--win98" in stage.options else 2, "platform family")
    temp = info["temp"]
    if not temp.endswith("\\"):
        temp += "\\"
    return temp, stage.unix_path(temp)


def inst_files(folder):
    return sorted(os.path.basename(p).lower() for p in glob.glob(os.path.join(folder, "*"))
                  if os.path.basename(p).lower().startswith("_inst"))


def check_copy(stage, package, copy_path):
    """The copy holds exactly the first StubLength bytes of the package."""
    stub_length = read_stamp(package)["stub_length"]
    check(os.path.exists(copy_path), "no temporary copy %s" % copy_path)
    size = os.path.getsize(copy_path)
    check_equal(size, stub_length, "size of the temporary copy (StubLength)")
    with open(package, "rb") as f:
        image = f.read(stub_length)
    with open(copy_path, "rb") as f:
        check(f.read() == image, "the temporary copy differs from the program's image")


def check_delete_scheduled_nt(stage, copy_windows_path):
    value = stage.driver().registry(r"HKLM\System\CurrentControlSet\Control\Session Manager",
                                    "PendingFileRenameOperations")
    check(value.get("exists"), "no PendingFileRenameOperations: the copy is not deleted at restart")
    entries = value["data"]
    wanted = "\\??\\" + copy_windows_path
    # Pairs of (file, new name); an empty new name deletes.
    pairs = list(zip(entries[0::2], entries[1::2]))
    check((wanted.lower(), "") in [(a.lower(), b) for a, b in pairs],
          "%s is not scheduled for deletion: %r" % (copy_windows_path, entries))


def relaunch(stage, package, expected_name, extra_check=None):
    """Runs the floppy's setup.exe and checks the hand-over to
    expected_name in the temporary folder."""
    temp, temp_host = temp_folder(stage)
    driver = stage.driver()
    run = stage.start(package)
    copy = driver.one("wait-process %s" % expected_name, "process")
    copy_windows_path = temp + expected_name
    check_equal(copy["command_line"], '"%s" /S"%s:\\setup.exe" /DEL' % (copy_windows_path, DRIVE),
                "command line of the copy")
    check_equal(copy["image"].lower(), copy_windows_path.lower(), "file the copy runs from")
    # The first instance has handed over: 0, without a window of its own.
    check_equal(run.wait(), 0, "exit status of the instance on the floppy")
    check_copy(stage, package, os.path.join(temp_host, expected_name))
    if extra_check:
        extra_check(copy_windows_path)
    return copy


def expect_copy_box_and_exit(stage):
    driver = stage.driver()
    box = driver.wait_box()
    stage.shot("copy-box")
    check_equal(box["text"], INVALID, "text shown by the copy (read from the floppy)")
    check_equal(box["caption"], TITLE, "caption shown by the copy")
    driver.answer("ok")
    exits = [e for e in driver.wait_exit() if e["event"] == "exit"]
    check_equal([e["code"] for e in exits], [-1], "exit code of the copy")


def case_relaunch_nt():
    with Stage("relaunch-nt", removable=True) as stage:
        package = short_package(stage)
        relaunch(stage, package, "_inst0.exe",
                 lambda path: check_delete_scheduled_nt(stage, path))
        expect_copy_box_and_exit(stage)


def case_relaunch_next_free_name():
    # _inst0.exe and _inst1.exe are taken: the copy becomes _inst2.exe and
    # the others stay as they were.
    with Stage("relaunch-next-name", removable=True) as stage:
        package = short_package(stage)
        _, temp_host = temp_folder(stage)
        os.makedirs(temp_host, exist_ok=True)
        for name in ("_inst0.exe", "_inst1.exe"):
            with open(os.path.join(temp_host, name), "wb") as f:
                f.write(b"taken")
        relaunch(stage, package, "_inst2.exe")
        for name in ("_inst0.exe", "_inst1.exe"):
            with open(os.path.join(temp_host, name), "rb") as f:
                check_equal(f.read(), b"taken", "content of the existing " + name)
        expect_copy_box_and_exit(stage)


def case_relaunch_temp_folder_with_blank():
    # With the temporary folder C:\my temp, an unquoted command line would
    # start C:\my.exe. One is planted there: an installer of its own whose
    # box would give it away.
    with Stage("relaunch-temp-blank", removable=True, temp=r"C:\my temp") as stage:
        package = short_package(stage)
        temp, _ = temp_folder(stage)
        check_equal(temp.lower(), "c:\\my temp\\", "temporary folder of the prefix")
        planted = handmade_package(stage.path("planted.exe"), stage.work,
                                   [["page %d" % p] for p in range(6)] + [["Planted"] + [""] * 30 + ["planted"]])
        shutil.copyfile(cut_package(planted, stage.path("planted-cut.exe")), stage.unix_path("C:\\my.exe"))
        relaunch(stage, package, "_inst0.exe")
        expect_copy_box_and_exit(stage)


def case_relaunch_win98():
    # The older family schedules the deletion in WININIT.INI: a NUL line
    # naming the copy by its short path.
    with Stage("relaunch-win98", removable=True, win98=True) as stage:
        package = short_package(stage)
        relaunch(stage, package, "_inst0.exe")
        expect_copy_box_and_exit(stage)
        windows = stage.unix_path(stage.driver().info()["windows"])
        inis = [p for p in glob.glob(os.path.join(windows, "*")) if os.path.basename(p).lower() == "wininit.ini"]
        check(inis, "no WININIT.INI in the Windows folder")
        with open(inis[0], encoding="cp1252") as f:
            lines = [line.strip() for line in f]
        check(any(line.lower().startswith("nul=") and line.lower().endswith("\\_inst0.exe") for line in lines),
              "WININIT.INI has no NUL= line for _inst0.exe: %r" % lines)
        check("[rename]" in [line.lower() for line in lines], "WININIT.INI has no [Rename] section: %r" % lines)


def case_del_option_runs_in_place():
    # With /DEL the program never relaunches, even from a floppy.
    with Stage("relaunch-del-option", removable=True) as stage:
        package = short_package(stage)
        _, temp_host = temp_folder(stage)
        run = stage.start(package, "/DEL")
        driver = stage.driver()
        box = driver.wait_box()
        check_equal(box["text"], INVALID, "box text")
        driver.answer("ok")
        check_equal(run.wait(), 255, "exit status of the instance on the floppy")
        check_equal(inst_files(temp_host), [], "copies in the temporary folder")


def case_fixed_drive_runs_in_place():
    with Stage("relaunch-fixed-drive") as stage:
        whole = handmade_package(stage.path("whole.exe"), stage.work, GROUPS, data=DATA)
        package = cut_package(whole, stage.path("setup.exe"))
        _, temp_host = temp_folder(stage)
        run = stage.start(package)
        driver = stage.driver()
        driver.answer("ok")
        check_equal(run.wait(), 255, "exit status")
        check_equal(inst_files(temp_host), [], "copies in the temporary folder")


def case_relaunch_built_package_shows_wizard():
    with Stage("relaunch-built", removable=True) as stage:
        package = Package(stage, "wizard")
        on_floppy = os.path.join(stage.removable, "setup.exe")
        shutil.copyfile(package.exe, on_floppy)
        copy = relaunch(stage, on_floppy, "_inst0.exe")
        driver = stage.driver()
        view = driver.wait_page()
        stage.shot("copy-wizard")
        check_equal(view.event["pid"], copy["pid"], "process showing the wizard (the copy)")
        check_equal(view.caption, package.title + " - " + package.page_text(0, 0), "caption of the first page")
        driver.run("close-system-menu")
        check_equal([e["code"] for e in driver.wait_exit() if e["event"] == "exit"], [1602],
                    "exit code of the copy (closing is cancelling)")


def case_quiet_relaunch_waits():
    """/Q from the floppy: the copy gets the run's switches, and the first
    instance waits for it and ends with its code."""
    with Stage("relaunch-quiet", removable=True) as stage:
        package = Package(stage, "wizard")
        on_floppy = os.path.join(stage.removable, "setup.exe")
        shutil.copyfile(package.exe, on_floppy)
        temp, _ = temp_folder(stage)
        driver = stage.driver()
        run = stage.start(on_floppy, "/Q", "/LOG=C:\\relaunch.log")
        copy = driver.one("wait-process _inst0.exe", "process")
        check_equal(copy["command_line"], '"%s_inst0.exe" /S"%s:\\setup.exe" /DEL /Q /LOG="C:\\relaunch.log"'
                    % (temp, DRIVE), "command line of the copy")
        check_equal(run.wait(), 0, "exit status of the instance on the floppy (the copy's)")
        check(os.path.isdir(stage.unix_path("C:\\Zevrin E2E")), "the copy did not install")
        with open(stage.unix_path("C:\\relaunch.log"), encoding="cp1252") as f:
            check("Exit code: 0" in f.read(), "the copy's log has no exit code 0")


CASES = [
    ("relaunch (NT family)", case_relaunch_nt),
    ("relaunch takes the next free name", case_relaunch_next_free_name),
    ("relaunch with a blank in the temporary folder", case_relaunch_temp_folder_with_blank),
    ("relaunch (Windows 98)", case_relaunch_win98),
    ("/DEL runs in place", case_del_option_runs_in_place),
    ("fixed drive runs in place", case_fixed_drive_runs_in_place),
    ("relaunched copy shows the wizard", case_relaunch_built_package_shows_wizard),
    ("a quiet run waits for its copy", case_quiet_relaunch_waits),
]

if __name__ == "__main__":
    sys.exit(run_cases(CASES))
