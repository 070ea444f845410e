#!/usr/bin/env python3
"""Uninstalling: a product installed through the wizard (files in
sub-folders, start-menu and desktop shortcuts, a font, a shared library, a
self-registering library and the project's uninstaller) is taken away by
that uninstaller, quietly or answering its questions, and the prefix is as
it was before the installation, except for what each case names: a file
the user added stays, a shared file still counted elsewhere stays, a file
in use goes at the restart. A damaged log is refused and nothing goes.
An uninstaller signed before packing still verifies once installed (its
log lies beside it) and takes the product back the same way.
Wine's own list of installed programs shows the product only while it is
installed."""

import os
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import (PACKAGES, Stage, check, check_equal, exit_codes, need_file, run_cases, stub_path,
                    uninstaller_path, wait_running, wine_choice)
from test_install import FINISH, FOLDER, InstallPackage, to_progress
from test_launch import PROGRAM, hello_path

PRODUCT = "Zevrin Install"
UNINSTALLER = FOLDER + "\\remove.exe"
SHARED = "zevshared.dll"
SHARED_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs"
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
USER_FILE = "docs\\my notes.txt"


def uninstaller_texts():
    import tomllib
    with open(os.path.join(PACKAGES, "uninstall.toml"), "rb") as f:
        return tomllib.load(f)["uninstaller"]["texts"]


TEXTS = uninstaller_texts()


def selfreg_path():
    return need_file(os.path.join(os.path.dirname(stub_path()), "tests", "windows", "selfreg.dll"),
                     "the self-registering fixture")


def wine(stage, *args, timeout=120):
    return subprocess.run([wine_choice()["wine"]] + list(args), env=stage.env, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=timeout)


# ---------------------------------------------------------------- snapshot

def file_tree(stage):
    """Every file and folder under drive_c, symbolic links listed but never
    followed (dosdevices and the profile's links lead out of the prefix)."""
    root = os.path.join(stage.prefix, "drive_c")
    entries = set()
    for folder, dirs, files in os.walk(root, followlinks=False):
        for name in dirs + files:
            path = os.path.join(folder, name)
            suffix = "\\" if os.path.isdir(path) and not os.path.islink(path) else ""
            entries.add("C:\\" + os.path.relpath(path, root).replace("/", "\\") + suffix)
    return entries


def registry(stage):
    """HKLM\\Software and HKCU\\Software as (key, value line) pairs, each key
    also on its own."""
    entries = set()
    for root in ("HKEY_LOCAL_MACHINE\\Software", "HKEY_CURRENT_USER\\Software"):
        out = stage.path("export.reg")
        result = wine(stage, "regedit", "/E", "Z:" + out.replace("/", "\\"), root)
        check(result.returncode == 0 and os.path.exists(out), "regedit /E %s failed" % root)
        with open(out, "rb") as f:
            data = f.read()
        os.remove(out)
        text = data.decode("utf-16") if data[:2] in (b"\xff\xfe", b"\xfe\xff") else data.decode("latin-1")
        key = None
        for line in text.replace("\\\r\n  ", "").replace("\\\n  ", "").splitlines():
            if line.startswith("[") and line.endswith("]"):
                key = line[1:-1]
                entries.add((key, None))
            elif line.strip() and key:
                entries.add((key, line))
    return entries


def snapshot(stage):
    return {"files": file_tree(stage), "registry": registry(stage)}


# Wine's own bookkeeping, which changes whatever a program does.
NOISE = ("HKEY_CURRENT_USER\\Software\\Wine\\", "HKEY_LOCAL_MACHINE\\Software\\Wine\\",
         "C:\\windows\\Temp\\", "C:\\users\\")


def differences(before, after, temp):
    """What differs, as readable lines, without Wine's own bookkeeping; the
    temporary folder only where it holds something of ours."""
    lines = []
    for kind in ("files", "registry"):
        for sign, items in (("+", after[kind] - before[kind]), ("-", before[kind] - after[kind])):
            for item in sorted(items, key=str):
                text = item if kind == "files" else "%s: %s" % item
                noise = any(text.startswith(n) for n in NOISE)
                if noise and not (kind == "files" and text.lower().startswith(temp.lower())):
                    continue
                lines.append(sign + " " + text)
    return lines


def check_same(before, after, temp, named, what):
    """The snapshots differ only by the lines in `named` (each must be
    there)."""
    diff = differences(before, after, temp)
    unexpected = [d for d in diff if d not in named]
    missing = [n for n in named if n not in diff]
    check(not unexpected, "%s: the prefix differs from before the installation:\n  %s" %
          (what, "\n  ".join(unexpected)))
    check(not missing, "%s: expected differences not seen:\n  %s" % (what, "\n  ".join(missing)))


# ------------------------------------------------------------ installation

def product_files():
    with open(selfreg_path(), "rb") as f:
        library = f.read()
    with open(need_file(FONT, "DejaVuSans.ttf (fonts-dejavu-core)"), "rb") as f:
        font = f.read()
    # Wine registers the system's own DejaVu Sans under its name already:
    # renamed, the font's registration is the installation's alone.
    for old, new in (("DejaVu Sans", "Zevrin Sans"), ("DejaVuSans", "ZevrinSans")):
        font = font.replace(old.encode(), new.encode()).replace(old.encode("utf-16-be"), new.encode("utf-16-be"))
    files = {
        "readme.txt": b"the uninstall test\n",
        "docs\\manual.txt": b"how to use it\n",
        "data\\deep\\table.dat": b"\x00\x01\x02" * 500,
        "selfreg.dll": library,
        SHARED: library,
        "ZevrinSans.ttf": font,
    }
    lines = {
        "docs\\manual.txt": ['start_menu = { folders = ["Zevrin Uninstall Test\\\\Docs"], name = "Manual" }',
                             'desktop = { name = "Zevrin Uninstall Manual" }'],
        "selfreg.dll": ['special = "self_register"'],
        SHARED: ['location = "shared"', 'shared_count = true'],
        "ZevrinSans.ttf": ['location = "font"'],
    }
    return files, lines


def uninstall_lines():
    with open(os.path.join(PACKAGES, "uninstall.toml")) as f:
        return [line.rstrip("\n") for line in f if not line.startswith("#")]


def install(stage, driver, program=False, uninstaller=None):
    files, lines = product_files()
    if program:
        with open(hello_path(), "rb") as f:
            files[PROGRAM] = f.read()
    uninstaller = uninstaller or need_file(uninstaller_path(), "the uninstaller")
    package = InstallPackage(stage, files, file_lines=lines, extra=uninstall_lines(),
                             options=["--uninstaller", uninstaller])
    run = stage.start(package.exe, name="install")
    view = to_progress(stage, driver, package)
    while view.caption != package.title + " - " + package.page_text(FINISH, 0):
        view = driver.wait_page(120)
    driver.press(2)
    check_equal(exit_codes(driver.wait_exit()), [0], "exit code of the installation")
    check_equal(run.wait(), 0, "exit status of the installation")
    check(os.path.exists(stage.unix_path(UNINSTALLER)), "the uninstaller was not installed")
    # What the uninstall must take back was made.
    font = driver.registry("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Fonts", "Zevrin Sans (TrueType)")
    check_equal(font.get("data"), "ZevrinSans.ttf", "the font's registration")
    check(os.path.exists(stage.unix_path(FOLDER + "\\selfreg.dll.registered")), "the library did not register")
    return package


def shared_path(driver):
    return driver.info()["windows"].rstrip("\\") + "\\system32\\" + SHARED


def prepare(stage, shared_count=None):
    """The SharedDLLs key (the installer counts only where it exists) and,
    for a file another product counts too, its count."""
    args = ["reg", "add", SHARED_KEY, "/f"]
    check(wine(stage, *args).returncode == 0, "reg add failed")
    driver = stage.driver()
    if shared_count is not None:
        result = wine(stage, "reg", "add", SHARED_KEY, "/v", shared_path(driver), "/t", "REG_DWORD", "/d",
                      str(shared_count), "/f")
        check(result.returncode == 0, "reg add of the count failed")
    return driver


def listed(stage):
    """Names in Wine's list of installed programs."""
    result = wine(stage, "uninstaller", "--list")
    return result.stdout.decode("utf-8", "replace")


def run_quiet(stage, *extra):
    result = wine(stage, UNINSTALLER, "/quiet", *extra, timeout=180)
    return result.returncode, result.stdout.decode("cp1252", "replace")


def temp_folder(driver):
    return driver.info()["temp"].rstrip("\\") + "\\"


def moved_uninstaller(stage, temp, before, after):
    """The uninstaller's own file, moved into the temporary folder to be
    deleted at the next restart: the one file there that is new."""
    new = [f for f in after["files"] - before["files"] if f.lower().startswith(temp.lower())]
    check_equal(len(new), 1, "new files in the temporary folder (%r)" % new)
    name = new[0].rsplit("\\", 1)[-1]
    pending = pending_renames(stage)
    check(name.lower() in pending, "%s is not to be deleted at the restart: %s" % (new[0], pending))
    return "+ " + new[0]


# ------------------------------------------------------------------ cases

def install_after_snapshot(stage):
    """The prefix's snapshot, then the installation: (driver, temporary
    folder, snapshot)."""
    driver = prepare(stage)
    temp = temp_folder(driver)
    before = snapshot(stage)
    install(stage, driver)
    return driver, temp, before


def case_quiet():
    with Stage("uninstall-quiet") as stage:
        driver, temp, before = install_after_snapshot(stage)
        check(PRODUCT in listed(stage), "Wine's list lacks the product after the installation")
        code, output = run_quiet(stage)
        shared = shared_path(driver)
        # Quiet: a shared file whose count reaches 0 is kept, at 0, and named.
        check_equal(code, 1, "exit code (a shared file kept); output %r" % output)
        check(shared.lower() in output.lower() and TEXTS["left"] in output, "output names the kept file: %r" % output)
        after = snapshot(stage)
        check(PRODUCT not in listed(stage), "Wine's list still shows the product")
        named = [moved_uninstaller(stage, temp, before, after), "+ " + shared,
                 "+ HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs: %s=dword:00000000"
                 % ('"' + shared.replace("\\", "\\\\") + '"')]
        check_same(before, after, temp, named, "after a quiet uninstall")


def case_interactive():
    with Stage("uninstall-interactive") as stage:
        driver, temp, before = install_after_snapshot(stage)
        user_file = stage.unix_path(FOLDER + "\\" + USER_FILE)
        with open(user_file, "w") as f:
            f.write("mine\n")
        process = subprocess.Popen([wine_choice()["wine"], UNINSTALLER], env=stage.env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            box = driver.answer("yes")
            check_equal(box["text"], TEXTS["confirm"].replace("%s", PRODUCT), "the question")
            check_equal(box["caption"], TEXTS["title"], "caption of the question")
            stage.shot("1-confirm")
            box = driver.answer("yes")
            check_equal(box["text"], TEXTS["shared_file"].replace("%s", shared_path(driver)), "shared-file question")
            box = driver.wait_box()
            stage.shot("2-left")
            expected = TEXTS["left"] + "\r\n\r\n" + FOLDER + "\\" + USER_FILE + "\r\n"
            check_equal(box["text"].replace("\r\n", "\n"), expected.replace("\r\n", "\n"), "the final message")
            driver.answer("ok")
            check_equal(exit_codes(driver.wait_exit()), [1], "exit code (something left)")
        finally:
            if process.poll() is None:
                process.wait(timeout=60)
        after = snapshot(stage)
        named = [moved_uninstaller(stage, temp, before, after), "+ C:\\Zevrin Install\\",
                 "+ C:\\Zevrin Install\\docs\\", "+ " + FOLDER + "\\" + USER_FILE]
        check_same(before, after, temp, named, "after answering the questions")


def case_shared_counted_twice():
    with Stage("uninstall-shared-twice") as stage:
        driver = prepare(stage, shared_count=1)
        install(stage, driver)
        shared = shared_path(driver)
        check_equal(driver.registry(SHARED_KEY, shared).get("data"), 2, "count after the installation")
        code, output = run_quiet(stage)
        check_equal(code, 0, "exit code; output %r" % output)
        check(os.path.exists(stage.unix_path(shared)), "the shared file still used elsewhere was removed")
        check_equal(driver.registry(SHARED_KEY, shared).get("data"), 1, "count after the uninstall")
        check(not os.path.exists(stage.unix_path(FOLDER)), "the install folder is still there")


def pending_renames(stage):
    return wine(stage, "reg", "query", "HKLM\\System\\CurrentControlSet\\Control\\Session Manager", "/v",
                "PendingFileRenameOperations").stdout.decode("utf-8", "replace").lower()


def wininit_deletions(stage, driver):
    """The files WININIT.INI of the older family deletes at the restart
    (its NUL= lines), in small letters."""
    windows = stage.unix_path(driver.info()["windows"])
    inis = [n for n in os.listdir(windows) if n.lower() == "wininit.ini"]
    check(inis, "no WININIT.INI in the Windows folder")
    with open(os.path.join(windows, inis[0]), encoding="cp1252") as f:
        return [line.strip().split("=", 1)[1].lower() for line in f if line.lower().startswith("nul=")]


def in_use_case(win98):
    with Stage("uninstall-in-use" + ("-win98" if win98 else ""), win98=win98) as stage:
        driver = prepare(stage, shared_count=1)
        install(stage, driver, program=True)
        held = FOLDER + "\\" + PROGRAM
        stage.start(stage.unix_path(held), timeout=900, name="held")
        wait_running(driver, PROGRAM)
        code, output = run_quiet(stage)
        check_equal(code, 0, "exit code (the running program goes at the restart); output %r" % output)
        check(TEXTS["restart"] in output, "no restart notice: %r" % output)
        check(os.path.exists(stage.unix_path(held)), "the running program is gone already")
        check_equal(sorted(os.listdir(stage.unix_path(FOLDER))), [PROGRAM], "what is left until the restart")
        if win98:
            # By short path; folders stay (WININIT.INI deletes files only).
            deleted = wininit_deletions(stage, driver)
            check(any(p.endswith("\\hello.exe") for p in deleted), "no NUL= line for %s: %r" % (held, deleted))
            check(any(p.endswith(".tmp") for p in deleted), "no NUL= line for the uninstaller: %r" % deleted)
            return
        pending = pending_renames(stage)
        for path in (held, FOLDER):
            check(path.lower() + "\\0" in pending, "%s is not deleted at the restart: %s" % (path, pending))


def case_declined():
    with Stage("uninstall-declined") as stage:
        driver = prepare(stage)
        install(stage, driver)
        before = snapshot(stage)
        process = subprocess.Popen([wine_choice()["wine"], UNINSTALLER], env=stage.env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            box = driver.answer("no")
            check_equal(box["text"], TEXTS["confirm"].replace("%s", PRODUCT), "the question")
            check_equal(exit_codes(driver.wait_exit()), [3], "exit code after No")
        finally:
            process.wait(timeout=60)
        check_same(before, snapshot(stage), temp_folder(driver), [], "after answering No")


def case_damaged():
    with Stage("uninstall-damaged") as stage:
        driver = prepare(stage)
        install(stage, driver)
        path = stage.unix_path(UNINSTALLER)
        with open(path, "rb") as f:
            data = f.read()
        with open(path, "wb") as f:
            f.write(data[:-1])
        before = snapshot(stage)
        code, output = run_quiet(stage)
        check_equal(code, 2, "exit code of a refused log")
        check(TEXTS["damaged"] in output, "the refusal: %r" % output)
        check_same(before, snapshot(stage), temp_folder(driver), [], "after a refused log")
        check(PRODUCT in listed(stage), "the product is no longer listed")


def signed_uninstaller(stage):
    """A copy of the uninstaller signed with a throwaway certificate:
    (its path, the certificate's path)."""
    from test_signed import need_program, sign
    need_program("osslsigncode")
    program = stage.path("signed-uninstaller.exe")
    shutil.copyfile(need_file(uninstaller_path(), "the uninstaller"), program)
    return program, sign(program, os.path.dirname(program))


def verify_signature(program, cert):
    from test_signed import need_program, run
    report = run([need_program("osslsigncode"), "verify", "-CAfile", cert, program], os.path.dirname(program),
                 "osslsigncode verify")
    check("Signature verification: ok" in report, "osslsigncode verify: " + report)


def install_signed(stage):
    """Installs with a signed uninstaller: (driver, temporary folder,
    snapshot before). The installed program is the signed one, byte for
    byte, and still verifies; its log lies beside it."""
    driver = prepare(stage)
    temp = temp_folder(driver)
    before = snapshot(stage)
    program, cert = signed_uninstaller(stage)
    install(stage, driver, uninstaller=program)
    installed_path = stage.unix_path(UNINSTALLER)
    with open(program, "rb") as f, open(installed_path, "rb") as g:
        check(f.read() == g.read(), "the installed uninstaller is not the signed program")
    verify_signature(installed_path, cert)
    check(os.path.exists(installed_path + ".log"), "no log beside the signed uninstaller")
    return driver, temp, before


def case_signed():
    with Stage("uninstall-signed") as stage:
        driver, temp, before = install_signed(stage)
        code, output = run_quiet(stage)
        shared = shared_path(driver)
        check_equal(code, 1, "exit code (a shared file kept); output %r" % output)
        # The publisher's texts come from the file beside the program.
        check(TEXTS["left"] in output, "output in the publisher's words: %r" % output)
        after = snapshot(stage)
        named = [moved_uninstaller(stage, temp, before, after), "+ " + shared,
                 "+ HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs: %s=dword:00000000"
                 % ('"' + shared.replace("\\", "\\\\") + '"')]
        check_same(before, after, temp, named, "after uninstalling with a signed uninstaller")


def case_signed_log_damaged():
    with Stage("uninstall-signed-damaged") as stage:
        driver, temp, _ = install_signed(stage)
        log = stage.unix_path(UNINSTALLER) + ".log"
        with open(log, "rb") as f:
            data = f.read()
        for what, damage, code_text in (("cut short", data[:-1], TEXTS["damaged"]),
                                        ("a byte after the terminator", data + b"\0", TEXTS["damaged"]),
                                        ("missing", None, "")):
            if damage is None:
                os.remove(log)
            else:
                with open(log, "wb") as f:
                    f.write(damage)
            before = snapshot(stage)
            code, output = run_quiet(stage)
            check_equal(code, 2, "exit code of a refused log (%s)" % what)
            check(code_text in output, "the refusal (%s): %r" % (what, output))
            check_same(before, snapshot(stage), temp, [], "after a refused log (%s)" % what)
        check(PRODUCT in listed(stage), "the product is no longer listed")


CASES = [
    ("a quiet uninstall puts the prefix back, but for a shared file kept", case_quiet),
    ("answering the questions, a user's file and its folders stay", case_interactive),
    ("a shared file counted twice survives the first uninstall", case_shared_counted_twice),
    ("a file in use goes at the restart, with the restart notice", lambda: in_use_case(False)),
    ("the same on the older family, through WININIT.INI", lambda: in_use_case(True)),
    ("answering No removes nothing", case_declined),
    ("a damaged log is refused and nothing is removed", case_damaged),
    ("a signed uninstaller still verifies once installed and takes the product back", case_signed),
    ("a signed uninstaller refuses a damaged or missing log beside it", case_signed_log_damaged),
]

if __name__ == "__main__":
    sys.exit(run_cases(CASES))
