#!/usr/bin/env python3
"""Unattended runs: /Q installs with no window at all and leaves the same
files and registry as the wizard; /QP shows the progress page alone; /DIR
and /LOG; and the exit code tells what happened, in every mode, with the
reason in the log."""

import os
import random
import signal
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import (ANOTHER_INSTANCE, CANCELLED, FAILED, INSTALLED, RESTART_NEEDED, Failure, Page, Stage, check,
                    check_equal, check_exit, cut_package, leave_by_cancel, need_file, quote, run_cases, uninstaller_path,
                    wait_running)
from test_install import (FINISH, FOLDER, KEEP_ON_FAILURE, PROGRESS, InstallPackage, installed, payload, remove_drive, small_drive,
                          to_progress, to_ready)
from test_launch import PROGRAM, hello_path
from test_uninstall import (SHARED, check_same, differences, prepare, product_files, shared_path, snapshot,
                            temp_folder, uninstall_lines)

LOG = "C:\\logs\\not yet made\\setup log.txt"
REMEMBERED = ["[folder.registry]", 'root = "HKCU"', 'key = "Software\\\\Zevrin Unattended"', 'value = "Folder"',
              "record = true"]


def windows_path(path):
    """A host path as the prefix's Z: drive sees it."""
    return "Z:" + path.replace("/", "\\")


def run_unattended(stage, exe, *args, seconds=300):
    """Runs `exe` (a host path, or a Windows one) with `args` through the
    driver and waits for it: (exit code, the visible windows its process
    showed)."""
    line = " ".join(['"%s"' % (windows_path(exe) if exe.startswith("/") else exe)] + list(args))
    event = stage.driver().one("run %s %d" % (quote(line), seconds), "ran", seconds)
    return event["code"], [w for w in event["windows"] if w["pid"] == event["pid"]]


def read_log(stage, path=LOG):
    with open(stage.unix_path(path), encoding="cp1252") as f:
        # Each line begins with the time.
        return [line.rstrip("\r\n").split(" ", 1)[1] for line in f]


def check_logged(lines, expected, what):
    missing = [e for e in expected if not any(line.startswith(e) for line in lines)]
    check(not missing, "%s: the log lacks %r; it has:\n  %s" % (what, missing, "\n  ".join(lines)))


def full_package(stage):
    """Sub-folders, shortcuts, a font, shared and self-registering
    libraries, the uninstaller and a remembered folder."""
    files, lines = product_files()
    package = InstallPackage(stage, files, file_lines=lines, extra=uninstall_lines() + REMEMBERED,
                             options=["--uninstaller", need_file(uninstaller_path(), "the uninstaller")])
    return files, package


def without_logs(diff):
    return [d for d in diff if not d[2:].lower().startswith("c:\\logs")]


def case_quiet_as_wizard():
    with Stage("unattended-wizard-reference") as stage:
        driver = prepare(stage)
        before = snapshot(stage)
        files, package = full_package(stage)
        run = stage.start(package.exe, "/LOG=" + LOG, name="wizard")
        view = to_progress(stage, driver, package)
        while view.caption != package.title + " - " + package.page_text(FINISH, 0):
            view = driver.wait_page(120)
        driver.press(2)
        check_exit(driver, run, INSTALLED)
        wizard = without_logs(differences(before, snapshot(stage), temp_folder(driver)))
        check_logged(read_log(stage), ["Mode: wizard", "Result: installed", "Exit code: 0"], "wizard log")

    with Stage("unattended-quiet") as stage:
        driver = prepare(stage)
        temp = temp_folder(driver)
        before = snapshot(stage)
        files, package = full_package(stage)
        code, shown = run_unattended(stage, package.exe, "/Q", '"/LOG=%s"' % LOG)
        check_equal(code, INSTALLED, "exit code of /Q")
        check_equal(shown, [], "windows shown by a quiet installation")
        after = snapshot(stage)
        quiet = without_logs(differences(before, after, temp))
        check_equal(sorted(quiet), sorted(wizard), "what a quiet installation changed, against the wizard")
        lines = read_log(stage)
        # Every file, wherever it goes (the shared library and the font
        # go to the system's folders).
        for name in files:
            check(any(line.startswith("Installed: ") and line.lower().endswith("\\" + name.lower())
                      for line in lines), "the log lacks %s:\n  %s" % (name, "\n  ".join(lines)))
        check_logged(lines, ["Mode: quiet (/Q)", "Folder: " + FOLDER, "Folder created", "Shortcut: ", "Font: ", "Library registered: ", "Shared file count: ",
                      "Registry: HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\",
                      "Registry: HKEY_CURRENT_USER\\Software\\Zevrin Unattended",
                      "Result: installed", "Exit code: 0"], "quiet log")

        # And its uninstaller, as quiet: the standard codes, its own log.
        uninstall_log = "C:\\logs\\uninstall.txt"
        code, shown = run_unattended(stage, FOLDER + "\\remove.exe", "/Q", "/LOG=" + uninstall_log)
        check_equal(shown, [], "windows shown by a quiet uninstall")
        # A shared file kept at count 0 is not a failure.
        check_equal(code, INSTALLED, "exit code of the uninstaller's /Q")
        check_logged(read_log(stage, uninstall_log),
                     ["Removed: %s\\readme.txt" % FOLDER, "Left: " + shared_path(driver), "Exit code: 0"],
                     "uninstall log")
        diff = without_logs(differences(before, snapshot(stage), temp))
        # What the uninstaller leaves by design: the shared file and its
        # count, and itself until the restart.
        kept = [d for d in diff if SHARED.lower() in d.lower() or d.lower().startswith("+ " + temp.lower())]
        check_equal(sorted(set(diff) - set(kept)), [], "left after the quiet uninstall")


def quiet_run(name, build, args, code, logged, check_after=None, shown_ok=False):
    """A case of the outcome table: `build(stage)` makes the package (and
    sets the prefix up), which runs with /LOG and `args`; the run must end
    with `code`, show no window and log `logged`."""
    def case():
        with Stage("unattended-" + name) as stage:
            stage.driver()
            exe = build(stage)
            exit_code, shown = run_unattended(stage, exe, *(list(args) + ['"/LOG=%s"' % LOG]))
            check_equal(exit_code, code, "exit code")
            if not shown_ok:
                check_equal(shown, [], "windows shown")
            lines = read_log(stage)
            check_logged(lines, logged + ["Exit code: %d" % code], "log")
            if check_after:
                check_after(stage)
    return case


DISK_FILES = {"small.txt": b"fits\n", "big.bin": random.Random(4).randbytes(3 * 1024 * 1024),
              "after.txt": b"never reached\n"}
drives = []


def on_small_drive(stage):
    drive = small_drive()
    drives.append(drive)
    os.symlink(drive, os.path.join(stage.prefix, "dosdevices", "t:"))
    return InstallPackage(stage, DISK_FILES, default="T:\\App").exe


def nothing_on_the_drive(stage):
    try:
        check_equal(os.listdir(os.path.join(drives[-1], "App")), [], "files on the full drive")
    finally:
        remove_drive(drives.pop())


def damaged_last_file(stage):
    # Stored, so the last file's bytes stand in the package as they are.
    files = {"first.txt": b"fine\n", "last.bin": b"LASTFILE" + bytes(range(256)) * 64}
    exe = InstallPackage(stage, files, options=["--level", "0"], product=KEEP_ON_FAILURE).exe
    with open(exe, "r+b") as f:
        data = f.read()
        at = data.index(b"LASTFILE") + 1000
        f.seek(at)
        f.write(bytes([data[at] ^ 0xFF]))
    return exe


def no_half_file(stage):
    whole, missing = installed(stage, FOLDER, {"first.txt": b"fine\n", "last.bin": None})
    check_equal(missing, ["last.bin"], "files not installed")


def missing_volume(stage):
    files = payload(6, 3, big=200000)
    exe = InstallPackage(stage, files, options=["--volume-size", "160K"]).exe
    os.remove(exe[:-4] + ".D01")
    return exe


def file_in_use(stage):
    """hello.exe installed and running, then a package with another copy
    of it: that copy waits for the restart."""
    with open(hello_path(), "rb") as f:
        program = f.read()
    first = InstallPackage(stage, {PROGRAM: program}).exe
    code, _ = run_unattended(stage, first, "/Q")
    check_equal(code, INSTALLED, "exit code of the first installation")
    stage.start(stage.unix_path(FOLDER + "\\" + PROGRAM), timeout=900, name="held")
    wait_running(stage.driver(), PROGRAM)
    os.rename(first, first + ".first")
    return InstallPackage(stage, {PROGRAM: program + b"\0" * 4096, "other.txt": b"new\n"}).exe


def damaged_package(stage):
    exe = InstallPackage(stage, {"a.txt": b"a\n"}).exe
    return cut_package(exe, exe[:-4] + "-cut.exe", 100)


def nothing_logged_after_damage(stage):
    check(not os.path.exists(stage.unix_path(FOLDER)), "a damaged package made the folder")


def deep_folder(stage):
    return InstallPackage(stage, payload(8, 7)).exe


DEEP = "C:\\Program Files\\Deep Folder\\level two\\level three\\Zevrin Test"


def files_in_deep_folder(stage):
    whole, missing = installed(stage, DEEP, payload(8, 7))
    check_equal(missing, [], "files missing from the /DIR folder")
    check(not os.path.exists(stage.unix_path(FOLDER)), "the package's own folder was made too")


def case_cancel_in_wizard_logged():
    with Stage("unattended-wizard-cancel") as stage:
        package = InstallPackage(stage, payload(3, 1))
        run = stage.start(package.exe, "/LOG=" + LOG)
        driver = stage.driver()
        driver.wait_page()
        leave_by_cancel(driver, package)
        check_equal(run.wait(), CANCELLED & 0xFF, "exit status")
        check_logged(read_log(stage), ["Result: cancelled by the user", "Exit code: 1602"], "log")


def case_cancel_while_installing_logged():
    with Stage("unattended-install-cancel") as stage:
        package = InstallPackage(stage, payload(3, 4, big=96 * 1000 * 1000), options=["--level", "0"])
        run = stage.start(package.exe, "/LOG=" + LOG)
        driver = stage.driver()
        to_ready(stage, driver, package)
        driver.press(1)
        driver.one("hold-progress 120", "held")
        driver.answer("yes")
        driver.answer("ok")
        check_exit(driver, run, CANCELLED)
        check_logged(read_log(stage), ["Result: cancelled by the user", "Exit code: 1602"], "log")


def case_second_instance():
    """A second start, quiet or not, while a wizard runs and while a quiet
    installation runs (which has no window to find): 1618, and the first
    goes on."""
    with Stage("unattended-second") as stage:
        package = InstallPackage(stage, {"big.bin": bytes(100 * 1000 * 1000)})
        run = stage.start(package.exe, name="wizard")
        driver = stage.driver()
        first_page = driver.wait_page()
        code, shown = run_unattended(stage, package.exe, "/Q")
        check_equal(code, ANOTHER_INSTANCE, "exit code of /Q beside a wizard")
        check_equal(driver.dump().event["page"], first_page.event["page"], "the wizard's page")
        leave_by_cancel(driver, package)
        check_equal(run.wait(), CANCELLED & 0xFF, "exit status of the wizard")

        # The quiet run is held (SIGSTOP) once it has claimed its place and
        # logged its folder, and let go after the second start: however
        # fast the machine, the second start meets it running.
        first_log = "C:\\first run.log"
        quiet = stage.start(package.exe, "/Q", "/LOG=" + first_log, name="quiet")
        log = stage.unix_path(first_log)
        deadline = time.monotonic() + 120
        while not (os.path.exists(log) and "Folder: " in open(log, encoding="cp1252").read()):
            check(time.monotonic() < deadline and quiet.running(), "the quiet installation never began")
            time.sleep(0.01)
        pids = [int(p) for p in subprocess.run(["pgrep", "-f", "first run.log"], capture_output=True,
                                                text=True).stdout.split()]
        check(pids, "no process of the quiet installation found")
        for attempt in range(3):
            for pid in pids:
                os.kill(pid, signal.SIGSTOP)
            try:
                check(quiet.running(), "the quiet installation ended before it was held")
                code, shown = run_unattended(stage, package.exe, "/Q")
                break
            except Failure as failure:
                # Now and then Wine cannot start a process while another is
                # held at an unlucky point: let it go a moment, hold it again.
                if "cannot start" not in str(failure) or attempt == 2:
                    raise
            finally:
                for pid in pids:
                    os.kill(pid, signal.SIGCONT)
            time.sleep(0.2)
        check_equal(code, ANOTHER_INSTANCE, "exit code beside a quiet installation")
        check_equal(quiet.wait(), INSTALLED, "exit status of the quiet installation")


def case_progress_only():
    """The progress page alone, moving at once; the only button is Cancel,
    which asks (here it is held there for the picture, and answered No)."""
    with Stage("unattended-progress-only") as stage:
        files = payload(3, 4, big=200 * 1000 * 1000)
        package = InstallPackage(stage, files, options=["--level", "0"])
        driver = stage.driver()
        run = stage.start(package.exe, "/QP", "/DIR=C:\\Progress Only", "/LOG=" + LOG)
        held = driver.one("hold-progress 120", "held")
        check(0 < held["percent"] < 100, "the bar stands at %r" % held["percent"])
        box = driver.wait_box()
        check_equal(box["text"], package.message("cancel_installing"), "the question of Cancel")
        view = driver.dump()
        stage.shot("progress-only-%d-percent" % held["percent"])
        check_equal(view.caption, package.title + " - " + package.page_text(PROGRESS, 0), "the only page")
        for control in (1, 1007):
            shown = view.has(control, "frame") and view.control(control, "frame")
            check(not shown or not shown["visible"] or not shown["enabled"], "button %d waits for the user" % control)
        driver.answer("no")
        check_exit(driver, run, INSTALLED)
        check_equal(installed(stage, "C:\\Progress Only", files)[1], [], "files missing")
        check_logged(read_log(stage), ["Mode: progress only (/QP)", "Result: installed"], "log")


def case_dir_in_wizard():
    with Stage("unattended-dir-wizard") as stage:
        package = InstallPackage(stage, payload(2, 1))
        # Wine quotes the argument whole: "/DIR=C:\Program Files\...".
        run = stage.start(package.exe, "/DIR=" + DEEP)
        driver = stage.driver()
        driver.wait_page()
        driver.press(1)
        view = driver.wait_page()
        check_equal(view.text(1004, "page"), DEEP, "the folder page's starting value")
        leave_by_cancel(driver, package)
        check_equal(run.wait(), CANCELLED & 0xFF, "exit status")


CASES = [
    ("a quiet install changes what the wizard's does, and shows nothing", case_quiet_as_wizard),
    # The wizard asks whether to go on all the same (test_install.py fills
    # the disk that way); a quiet run stops before the first file.
    ("too little disk space: 1603, nothing written",
     quiet_run("disk-full", on_small_drive, ["/Q"], FAILED,
               ["Failed: T:\\App\\ (not enough disk space)", "Result: failed: not enough disk space"],
               nothing_on_the_drive)),
    ("checksum error in the last file: 1603",
     quiet_run("checksum", damaged_last_file, ["/Q"], FAILED,
               ["Installed: %s\\first.txt" % FOLDER, "Failed: %s\\last.bin (checksum error" % FOLDER], no_half_file)),
    ("a missing volume: 1603 without a prompt",
     quiet_run("volume", missing_volume, ["/Q"], FAILED, ["Failed: ", "Result: failed: the package, or one of"])),
    ("a file in use: 3010",
     quiet_run("in-use", file_in_use, ["/Q"], RESTART_NEEDED,
               ["In use, replaced at the next restart: %s\\%s" % (FOLDER, PROGRAM), "Installed: %s\\other.txt" % FOLDER,
                "Result: installed; files in use"])),
    ("a damaged package: -1, no message box",
     quiet_run("damaged", damaged_package, ["/Q"], -1, ["Message, answered OK: ", "Result: the package is damaged"],
               nothing_logged_after_damage)),
    ("/DIR with blanks, deep, in a quiet run",
     quiet_run("dir", deep_folder, ["/Q", '/DIR="%s"' % DEEP], INSTALLED, ["/DIR: " + DEEP, "Folder created"],
               files_in_deep_folder)),
    ("/DIR is the folder page's starting value", case_dir_in_wizard),
    ("cancel in the wizard: 1602, logged", case_cancel_in_wizard_logged),
    ("cancel while installing: 1602, logged", case_cancel_while_installing_logged),
    ("a second instance: 1618", case_second_instance),
    ("progress only: the bar moves, no button waits", case_progress_only),
]

if __name__ == "__main__":
    sys.exit(run_cases(CASES))
