#!/usr/bin/env python3
"""A per-user package (`privileges = "user"`): installed through the wizard
into the user's own programs folder, with the uninstall key and the
remembered folder under HKEY_CURRENT_USER, shortcuts in the user's start
menu and on the user's desktop, and nothing written under
HKEY_LOCAL_MACHINE. Its uninstaller takes all of it away again: the
prefix's files and registry are as they were before the installation,
but for what every uninstall leaves (its own file, moved into the
temporary folder to go at the next restart, and the remembered folder,
which the next installation proposes)."""

import os
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import Stage, check, check_equal, exit_codes, need_file, run_cases, uninstaller_path, wine_choice
from test_install import FINISH, InstallPackage, installed, to_progress
from test_uninstall import NOISE, moved_uninstaller, snapshot, temp_folder, uninstall_lines

PRODUCT = "Zevrin Install"
UNINSTALL_KEY = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + PRODUCT
RECORD_KEY = "Software\\Zevrin PerUser"
FILES = {
    "readme.txt": b"the per-user test\n",
    "docs\\manual.txt": b"how to use it, for one user\n" * 40,
}
FILE_LINES = {
    "docs\\manual.txt": ['start_menu = { folders = ["Zevrin PerUser Test"], name = "PerUser Manual" }',
                         'desktop = { name = "Zevrin PerUser Manual" }'],
}


def variable(stage, name):
    """An environment variable as the prefix's programs see it."""
    result = subprocess.run([wine_choice()["wine"], "cmd", "/c", "echo", "%" + name + "%"], env=stage.env,
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    value = result.stdout.decode("cp1252", "replace").strip()
    check(result.returncode == 0 and value and "%" not in value, "%%%s%% is not set: %r" % (name, value))
    return value


def watched(stage):
    """The user's folders a per-user installation may write to, as prefixes
    of the snapshot's paths; the rest of the profile is Wine's."""
    profile = variable(stage, "USERPROFILE").rstrip("\\")
    return [variable(stage, "LOCALAPPDATA").rstrip("\\") + "\\Programs\\",
            variable(stage, "APPDATA").rstrip("\\") + "\\Microsoft\\Windows\\Start Menu\\",
            profile + "\\Desktop\\"]


def differences(before, after, temp, folders):
    """What differs, as readable lines; in the user's profile only the
    watched folders and what the temporary folder gained count."""
    lines = []
    for kind in ("files", "registry"):
        for sign, items in (("+", after[kind] - before[kind]), ("-", before[kind] - after[kind])):
            for item in sorted(items, key=str):
                text = item if kind == "files" else "%s: %s" % item
                lower = text.lower()
                ours = kind == "files" and (lower.startswith(temp.lower()) or
                                            any(lower.startswith(f.lower()) for f in folders))
                if any(text.startswith(n) for n in NOISE) and not ours:
                    continue
                lines.append(sign + " " + text)
    return lines


def reg_line(name, data):
    return '"%s"="%s"' % (name, data.replace("\\", "\\\\"))


def case_install_and_uninstall():
    with Stage("per-user") as stage:
        driver = stage.driver()
        temp = temp_folder(driver)
        folders = watched(stage)
        folder = folders[0] + PRODUCT
        before = snapshot(stage)

        package = InstallPackage(stage, FILES, default="#User Program Files#\\" + PRODUCT, file_lines=FILE_LINES,
                                 product=['privileges = "user"'],
                                 extra=uninstall_lines() + ["[folder.registry]", 'key = "%s"' % RECORD_KEY.replace(
                                     "\\", "\\\\"), 'value = "Folder"', "record = true"],
                                 options=["--uninstaller", need_file(uninstaller_path(), "the uninstaller")])
        run = stage.start(package.exe, name="install")
        view = to_progress(stage, driver, package, folder)
        while view.caption != package.title + " - " + package.page_text(FINISH, 0):
            view = driver.wait_page(120)
        stage.shot("5-finish")
        driver.press(2)
        check_equal(exit_codes(driver.wait_exit()), [0], "exit code of the installation")
        check_equal(run.wait(), 0, "exit status of the installation")

        files = dict(FILES)
        uninstaller = folder + "\\remove.exe"
        with open(stage.unix_path(uninstaller), "rb") as f:
            files["remove.exe"] = f.read()
        whole, missing = installed(stage, folder, files)
        check_equal(missing, [], "files missing from the user's programs folder")

        after = snapshot(stage)
        diff = differences(before, after, temp, folders)
        machine = [d for d in diff if "HKEY_LOCAL_MACHINE" in d]
        check(not machine, "the per-user installation wrote under HKLM:\n  " + "\n  ".join(machine))
        menu, desktop = folders[1], folders[2]
        expected = [
            "+ %s: %s" % (UNINSTALL_KEY, reg_line("UninstallString", uninstaller)),
            "+ %s: %s" % (UNINSTALL_KEY, reg_line("DisplayName", PRODUCT)),
            "+ HKEY_CURRENT_USER\\%s: %s" % (RECORD_KEY, reg_line("Folder", folder)),
            "+ %sPrograms\\Zevrin PerUser Test\\PerUser Manual.lnk" % menu,
            "+ %sPrograms\\Zevrin Uninstall Test\\Remove the uninstall test.lnk" % menu,
            "+ %sZevrin PerUser Manual.lnk" % desktop,
            "+ %s\\docs\\manual.txt" % folder,
        ]
        missing = [e for e in expected if e not in diff]
        check(not missing, "not written where a per-user installation writes:\n  %s\nall differences:\n  %s" %
              ("\n  ".join(missing), "\n  ".join(diff)))

        result = subprocess.run([wine_choice()["wine"], uninstaller, "/quiet"], env=stage.env,
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=180)
        output = result.stdout.decode("cp1252", "replace")
        check_equal(result.returncode, 0, "exit code of the uninstaller; output %r" % output)
        gone = snapshot(stage)
        # The containers every per-user product shares, made by the first
        # one as Windows makes them, stay: the user's programs folder and
        # the user's list of installed programs.
        named = [moved_uninstaller(stage, temp, before, gone),
                 "+ HKEY_CURRENT_USER\\%s: %s" % (RECORD_KEY, reg_line("Folder", folder)),
                 "+ HKEY_CURRENT_USER\\%s: None" % RECORD_KEY]
        named += ["+ " + folders[0], "+ " + UNINSTALL_KEY.rsplit("\\", 1)[0] + ": None"]
        diff = differences(before, gone, temp, folders)
        unexpected = [d for d in diff if d not in named]
        check(not unexpected, "the uninstall left the prefix other than before the installation:\n  " +
              "\n  ".join(unexpected))


CASES = [
    ("installed for the user alone, and taken away again", case_install_and_uninstall),
]

if __name__ == "__main__":
    sys.exit(run_cases(CASES))
