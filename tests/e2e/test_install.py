#!/usr/bin/env python3
"""Installing through the wizard: the files of a package built by `zevrin
build` arrive byte for byte; Cancel on the progress page asks first; a
package on two disks asks for the second; a disk that fills up ends with
an error and leaves no half-written file."""

import os
import random
import subprocess
import sys
import tempfile
import tomllib

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import (CANCELLED, FAILED, INSTALLED, PACKAGES, Failure, Package, Page, Skip, Stage, check,
                    check_equal, check_exit, exit_codes, need_file, run_cases, stub_path, tool_path)

DIRECTORY, READY, PROGRESS, FINISH = 2, 3, 4, 5
FOLDER = "C:\\Zevrin Install"


def payload(count, seed, big=0):
    """`count` small files (some in sub-folders) and, when `big`, one file
    of that many bytes that does not compress."""
    rng = random.Random(seed)
    files = {}
    for i in range(count):
        folder = ("sub%d\\" % (i % 3)) if i % 4 == 0 else ""
        text = ("file %d of the install test\n" % i) * rng.randint(1, 200)
        files["%sfile%03d.txt" % (folder, i)] = text.encode()
    if big:
        files["big.bin"] = rng.randbytes(big)
    return files


class InstallPackage(Package):
    """packages/install.toml with `files` added: written with the payload
    into the case's work folder and built there. `file_lines` adds TOML
    lines to the [[files]] entry of a file, by name; `extra` adds TOML
    lines before the files (further tables such as [folder.registry]);
    `product` adds lines to the [product] table."""

    def __init__(self, stage, files, default=FOLDER, options=(), file_lines=None, extra=(), product=()):
        self.manifest_path = os.path.join(PACKAGES, "install.toml")
        with open(self.manifest_path, "rb") as f:
            self.manifest = tomllib.load(f)
        self.files = files
        work = stage.path("package")
        os.makedirs(work, exist_ok=True)
        with open(self.manifest_path) as f:
            text = f.read().replace('default = "C:\\\\Zevrin Install"', 'default = "%s"' % default.replace("\\", "\\\\"))
        text = text.replace("[product]\n", "[product]\n" + "".join(line + "\n" for line in product), 1)
        text += "".join("\n" + line for line in extra) + ("\n" if extra else "")
        for name, data in files.items():
            source = os.path.join(work, "payload", *name.split("\\"))
            os.makedirs(os.path.dirname(source), exist_ok=True)
            with open(source, "wb") as f:
                f.write(data)
            text += '\n[[files]]\nsource = "payload/%s"\nname = "%s"\n' % (name.replace("\\", "/"),
                                                                         name.replace("\\", "\\\\"))
            text += "".join(line + "\n" for line in (file_lines or {}).get(name, ()))
        manifest = os.path.join(work, "install.toml")
        with open(manifest, "w") as f:
            f.write(text)
        self.exe = os.path.join(work, "SETUP.EXE")
        tool = need_file(tool_path(), "the host tool zevrin")
        stub = need_file(stub_path(), "the stub")
        result = subprocess.run([tool, "build", manifest, "-o", self.exe, "--stub", stub] + list(options),
                                capture_output=True, text=True, timeout=300, cwd=work)
        if result.returncode != 0:
            raise Failure("zevrin build failed (%d): %s" % (result.returncode, result.stderr.strip()))


def to_ready(stage, driver, package, folder=FOLDER):
    """Welcome, then the folder (shown in the field, created on Next): on
    the ready page."""
    driver.wait_page()
    driver.press(1)
    view = driver.wait_page()
    check_equal(view.caption, package.title + " - " + package.page_text(DIRECTORY, 0), "folder page caption")
    check_equal(view.text(1004, "page"), folder, "folder field")
    stage.shot("2-directory")
    driver.press(1)
    shown = driver.wait_next()
    if not isinstance(shown, Page):
        check_equal(shown["text"], package.message("create_folder"), "question on leaving the folder page")
        driver.answer("yes")
        shown = driver.wait_page()
    check_equal(shown.text(1001, "page"), package.page_text(READY, 2).replace("%s", folder), "ready page folder")


def to_progress(stage, driver, package, folder=FOLDER):
    """To the ready page, then Install: returns the progress page."""
    to_ready(stage, driver, package, folder)
    driver.press(1)
    return driver.wait_page()


def installed(stage, folder, files):
    """Which of `files` arrived whole, which are missing; fails on a file
    that differs or on anything else in the folder (a temporary file)."""
    root = stage.unix_path(folder)
    whole, missing = [], []
    for name, data in files.items():
        path = os.path.join(root, *name.split("\\"))
        if not os.path.exists(path):
            missing.append(name)
            continue
        with open(path, "rb") as f:
            check(f.read() == data, "%s differs from the package's file" % name)
        whole.append(name)
    expected = set(os.path.join(root, *n.split("\\")) for n in whole)
    for folder_path, _, names in os.walk(root):
        for n in names:
            path = os.path.join(folder_path, n)
            check(path in expected, "left behind: %s" % path)
    return whole, missing


def finish_and_close(stage, driver, run, shot="5-finish", code=INSTALLED):
    view = driver.wait_page(120)
    stage.shot(shot)
    driver.press(2)
    check_exit(driver, run, code)
    return view


def case_full_install():
    with Stage("install-full") as stage:
        files = payload(12, 1, big=300000)
        package = InstallPackage(stage, files)
        run = stage.start(package.exe)
        driver = stage.driver()
        view = to_progress(stage, driver, package)
        # A few files take well under a second: the driver may see the
        # finish page first.
        if view.caption == package.title + " - " + package.page_text(PROGRESS, 0):
            stage.shot("4-progress")
            view = finish_and_close(stage, driver, run)
        else:
            stage.shot("5-finish")
            driver.press(2)
            check_equal(exit_codes(driver.wait_exit()), [0], "exit code")
            check_equal(run.wait(), 0, "exit status")
        check_equal(view.caption, package.title + " - " + package.page_text(FINISH, 0), "finish page caption")
        check_equal(view.text(1000, "page"), package.page_text(FINISH, 1), "success text")
        whole, missing = installed(stage, FOLDER, files)
        check_equal(missing, [], "files missing")


# One file a tick, as packages without the pacing record install: the
# installation lasts long enough to be stopped between two files.
PER_FILE = ["[wizard]", 'pacing = "file"']
# Without rollback a cancel or failure leaves what was installed so far
# (test_rollback.py has the packages that roll back).
KEEP_ON_FAILURE = ["rollback = false"]


def confirm_cancel(stage, driver, package, run, files):
    """Yes to the cancel question, OK to the message after it, and the run
    ends: what was installed (whole, missing)."""
    driver.answer("yes")
    box = driver.answer("ok")
    check_equal(box["text"], package.message("not_completed"), "message after cancelling")
    check_exit(driver, run, CANCELLED)
    return installed(stage, FOLDER, files)


def timed_install(command, result):
    """The benchmark's commands (bench/wizard_bench.sh) press Install on the
    ready page and end only with the finish page, however quickly the
    progress page comes and goes."""
    def case():
        with Stage("install-" + command) as stage:
            files = payload(40, 5, big=3000000)
            package = InstallPackage(stage, files)
            run = stage.start(package.exe)
            driver = stage.driver()
            to_ready(stage, driver, package)
            event = driver.one("%s 120" % command, result, 120)
            view = driver.dump()
            stage.shot("5-finish")
            check_equal(view.caption, package.title + " - " + package.page_text(FINISH, 0), "page after " + command)
            whole, missing = installed(stage, FOLDER, files)
            check_equal(missing, [], "files missing")
            if event["progress_ms"] is not None:
                check(0 <= event["progress_ms"] <= event["ms"], "progress page seen after the finish page: %r" % event)
            seen = event.get("percents", {}).get("seen", [])
            check(seen == sorted(seen) and all(0 <= p <= 100 for p in seen), "percentages seen: %r" % seen)
            driver.press(2)
            check_equal(exit_codes(driver.wait_exit()), [0], "exit code")
            check_equal(run.wait(), 0, "exit status")
    return case


def case_cancel_no_then_yes():
    with Stage("install-cancel") as stage:
        files = payload(150, 2)
        package = InstallPackage(stage, files, extra=PER_FILE, product=KEEP_ON_FAILURE)
        run = stage.start(package.exe)
        driver = stage.driver()
        to_progress(stage, driver, package)
        driver.press(2)
        box = driver.wait_box()
        stage.shot("4-cancel-question")
        check_equal(box["text"], package.message("cancel_installing"), "cancel question")
        before, _ = installed(stage, FOLDER, files)
        driver.answer("no")
        # No: the installation goes on.
        driver.run("sync")
        for _ in range(40):
            now, _ = installed(stage, FOLDER, files)
            if len(now) > len(before):
                break
            driver.run("sync")
        check(len(now) > len(before), "nothing more was installed after No")
        stage.shot("4-progress-resumed")
        driver.press(2)
        whole, missing = confirm_cancel(stage, driver, package, run, files)
        check(whole and missing, "some files installed, some not: %d and %d" % (len(whole), len(missing)))


def case_cancel_inside_large_file():
    """Time slices: the window answers Cancel inside one long file, and Yes
    abandons that file (no temporary file, nothing in its place)."""
    with Stage("install-cancel-large") as stage:
        files = payload(3, 4, big=96 * 1000 * 1000)
        package = InstallPackage(stage, files, options=["--level", "0"], product=KEEP_ON_FAILURE)
        run = stage.start(package.exe)
        driver = stage.driver()
        to_ready(stage, driver, package)
        driver.press(1)
        # The small files weigh next to nothing: a figure between 0 and 100
        # is the large file being written.
        held = driver.one("hold-progress 120", "held")
        box = driver.wait_box()
        stage.shot("4-cancel-inside-large-file-%d-percent" % held["percent"])
        check_equal(box["text"], package.message("cancel_installing"), "cancel question")
        whole, missing = confirm_cancel(stage, driver, package, run, files)
        check_equal(missing, ["big.bin"], "files not installed")


def two_volume_package(stage):
    files = payload(6, 3, big=200000)
    return files, InstallPackage(stage, files, options=["--volume-size", "160K"])


def case_second_disk_put_back():
    with Stage("install-second-disk") as stage:
        files, package = two_volume_package(stage)
        volume = package.exe[:-4] + ".D01"
        check(os.path.exists(volume), "the package has a second volume")
        hidden = volume + ".away"
        os.rename(volume, hidden)
        run = stage.start(package.exe)
        driver = stage.driver()
        to_progress(stage, driver, package)
        box = driver.wait_box(60)
        stage.shot("4-disk-prompt")
        check_equal(box["text"], package.message("insert_disk").replace("%d", "2"), "disk prompt")
        os.rename(hidden, volume)
        driver.answer("ok")
        view = finish_and_close(stage, driver, run)
        check_equal(view.text(1000, "page"), package.page_text(FINISH, 1), "success text")
        check_equal(installed(stage, FOLDER, files)[1], [], "files missing")


def case_second_disk_given_up():
    with Stage("install-second-disk-given-up") as stage:
        files, package = two_volume_package(stage)
        os.remove(package.exe[:-4] + ".D01")
        run = stage.start(package.exe)
        driver = stage.driver()
        to_progress(stage, driver, package)
        driver.wait_box(60)
        driver.answer("cancel")
        box = driver.answer("yes")
        check_equal(box["text"], package.message("cancel_installing"), "question after Cancel at the prompt")
        view = finish_and_close(stage, driver, run, code=CANCELLED)
        check_equal(view.text(1000, "page"), package.message("not_completed"), "error 15 alone")
        installed(stage, FOLDER, files)


def case_identical_files():
    """Files with the same bytes are packed once and each copy arrives byte
    for byte, also when its bytes lie in the volume before; the bar moves
    forward only and the temporary copy the installer keeps is gone."""
    with Stage("install-identical") as stage:
        files = payload(6, 3, big=200000)
        files["copies\\big.bin"] = files["again.bin"] = files["big.bin"]
        files["copies\\file001.txt"] = files["file001.txt"]
        files["last.bin"] = files["big.bin"]
        package = InstallPackage(stage, files, options=["--volume-size", "160K"])
        listed = subprocess.run([tool_path(), "list", package.exe], capture_output=True, text=True, timeout=60)
        check(listed.stdout.count("same-as #") == 4, "four copies in the package:\n" + listed.stdout)
        # Once: the stub and about 200 KB; packed four times it would pass 800 KB.
        check(os.path.getsize(package.exe) + os.path.getsize(package.exe[:-4] + ".D01") < 550000,
              "the big file packed once")
        run = stage.start(package.exe)
        driver = stage.driver()
        to_ready(stage, driver, package)
        event = driver.one("time-install 120", "installed", 120)
        stage.shot("5-finish")
        check_equal(installed(stage, FOLDER, files)[1], [], "files missing")
        seen = event.get("percents", {}).get("seen", [])
        check(seen == sorted(seen) and all(0 <= p <= 100 for p in seen), "percentages seen: %r" % seen)
        driver.press(2)
        check_equal(exit_codes(driver.wait_exit()), [0], "exit code")
        check_equal(run.wait(), 0, "exit status")
        users = stage.unix_path("C:\\users")
        left = [os.path.join(d, n) for d, _, names in os.walk(users) for n in names if n.lower().startswith("zvs")]
        check(left == [], "temporary copies left: %r" % left)


def small_drive(size="1m"):
    """A file system of its own (tmpfs, 1 MB unless `size` says) on a fresh
    mount point; Skip where mounting is not allowed."""
    if os.geteuid() != 0:
        raise Skip("mounting a small drive needs root")
    point = tempfile.mkdtemp(prefix="zevrin-e2e-drive-")
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", point],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        os.rmdir(point)
        raise Skip("cannot mount a small drive here: " + mounted.stderr.strip())
    return point


def remove_drive(point):
    subprocess.run(["umount", point], stderr=subprocess.DEVNULL)
    os.rmdir(point)


def next_on_drive_t(stage, drive, package):
    """Starts the package with drive T: mapped to `drive`, goes to the folder
    page (T:\\App) and presses Next there; returns the run, the driver and
    the box that comes up."""
    os.symlink(drive, os.path.join(stage.prefix, "dosdevices", "t:"))
    run = stage.start(package.exe)
    driver = stage.driver()
    driver.wait_page()
    driver.press(1)
    view = driver.wait_page()
    check_equal(view.text(1004, "page"), "T:\\App", "folder field")
    driver.press(1)
    return run, driver, driver.wait_box()


def case_disk_full():
    # A 1 MB file system of its own (tmpfs), mapped as drive T:; the package
    # holds a 3 MB file that does not compress.
    drive = small_drive()
    try:
        with Stage("install-disk-full") as stage:
            files = {"small.txt": b"fits\n", "big.bin": random.Random(4).randbytes(3 * 1024 * 1024),
                     "after.txt": b"never reached\n"}
            package = InstallPackage(stage, files, default="T:\\App", product=KEEP_ON_FAILURE)
            run, driver, box = next_on_drive_t(stage, drive, package)
            if box["text"] == package.message("create_folder"):
                driver.answer("yes")
                box = driver.wait_box()
            check_equal(box["text"], package.message("disk_space"), "not enough space question")
            driver.answer("yes")
            driver.wait_page()
            driver.press(1)
            view = driver.wait_page()
            if view.caption != package.title + " - " + package.page_text(FINISH, 0):
                view = driver.wait_page(120)
            stage.shot("5-finish")
            driver.press(2)
            check_exit(driver, run, FAILED)
            expected = package.text("finish", "error_format").replace(
                "%s", package.message("cannot_create").replace("%s", "T:\\App\\big.bin"))
            check_equal(view.text(1000, "page"), expected, "error on the finish page")
            check_equal(sorted(os.listdir(os.path.join(drive, "App"))), ["small.txt"],
                        "only the file that fitted")
    finally:
        remove_drive(drive)


def case_write_protected_medium():
    # A read-only file system holding a read-only copy of a packaged file:
    # its attribute cannot be cleared, so the folder page's check refuses
    # it (error 9) and the wizard stays on that page.
    drive = small_drive()
    try:
        os.makedirs(os.path.join(drive, "App"))
        locked = os.path.join(drive, "App", "locked.txt")
        with open(locked, "w") as f:
            f.write("old\n")
        os.chmod(locked, 0o444)
        remounted = subprocess.run(["mount", "-o", "remount,ro", drive], capture_output=True, text=True)
        if remounted.returncode != 0:
            raise Skip("cannot make the drive read-only: " + remounted.stderr.strip())
        with Stage("install-write-protected") as stage:
            package = InstallPackage(stage, {"locked.txt": b"new\n"}, default="T:\\App")
            run, driver, box = next_on_drive_t(stage, drive, package)
            stage.shot("2-refused")
            expected = "%s\n\n%s" % (package.message("cannot_install"),
                                      package.message("access_check_failed").replace("%s", "T:\\App\\locked.txt"))
            check_equal(box["text"], expected, "refusal")
            driver.answer("ok")
            view = driver.dump()
            check_equal(view.caption, package.title + " - " + package.page_text(DIRECTORY, 0), "still the folder page")
            driver.press(2)
            driver.answer("yes")
            driver.answer("ok")
            check_exit(driver, run, CANCELLED)
        with open(locked) as f:
            check_equal(f.read(), "old\n", "the protected file")
    finally:
        remove_drive(drive)


CASES = [
    ("a full install through the wizard", case_full_install),
    ("time-install ends on the finish page", timed_install("time-install", "installed")),
    ("watch-progress ends on the finish page", timed_install("watch-progress", "progress-watch")),
    ("Cancel on the progress page: No goes on, Yes stops", case_cancel_no_then_yes),
    ("Cancel inside a large file abandons it", case_cancel_inside_large_file),
    ("second disk missing, put back at the prompt", case_second_disk_put_back),
    ("second disk missing, given up: error 15", case_second_disk_given_up),
    ("identical files packed once, each copy installed", case_identical_files),
    ("a disk that fills up", case_disk_full),
    ("a write-protected file on a read-only drive", case_write_protected_medium),
]

if __name__ == "__main__":
    sys.exit(run_cases(CASES))
