"""zevrin.exe, the tool built for Windows publishers, run under Wine:
from the same manifest, files and stub it builds the same bytes as the
host tool (a package spread over volumes, with sub-folders, a text read
from a file and a frame picture), and its list, verify and extract read them.

Both tools run in one work folder with the same relative arguments, so
they see the same files with the same times. No display is needed.

  ZEVRIN_E2E_WINDOWS_TOOL  zevrin.exe (build/PRESET/zevrin.exe)
"""

import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2elib  # noqa: E402
from e2elib import Failure, check, check_equal, need_file  # noqa: E402

WINE_RUN = os.path.join(e2elib.ROOT, "cmake", "wine-run.sh")

MANIFEST = r'''
[product]
name = "Tool Check"

[frame]
picture = "frame.bmp"

[texts.information]
text1 = { file = "licence.txt" }

[[files]]
source = "app"

[[files]]
source = "notes.txt"
name = "docs\\notes.txt"
'''

# Relative name -> contents: text that compresses, bytes that do not, an
# empty file, and sub-folders two deep.
FILES = {
    "licence.txt": b"Licence\r\n" + b"You may use this program.\r\n" * 40,
    "notes.txt": b"notes\n" * 300,
    "app/main.exe": bytes((i * 7919 + (i >> 5)) & 0xFF for i in range(60000)),
    "app/data/table.bin": os.urandom(100000),
    "app/data/empty.txt": b"",
    "app/data/deep/readme.txt": b"read me\n" * 500,
}


def windows_tool():
    return os.environ.get("ZEVRIN_E2E_WINDOWS_TOOL") or os.path.join(
        e2elib.ROOT, "build", e2elib.wine_choice()["preset"], "zevrin.exe")


def run(command, work, what, env=None, expect=0):
    result = subprocess.run(command, cwd=work, capture_output=True, timeout=300, stdin=subprocess.DEVNULL, env=env)
    if expect is None:
        return result
    if result.returncode != expect:
        raise Failure("%s failed (%d): %s" % (what, result.returncode,
                                              result.stderr.decode(errors="replace").strip()))
    return result.stdout.decode(errors="replace")


def wine(arguments, work, what, env=None, expect=0):
    arch = "--win64" if e2elib.wine_choice()["preset"] == "mingw64" else "--win32"
    return run(["bash", WINE_RUN, arch, windows_tool()] + arguments, work, what, env, expect)


def outputs(folder, stem):
    return sorted(name for name in os.listdir(folder) if name.upper().startswith(stem.upper() + "."))


def same_package():
    host = need_file(e2elib.tool_path(), "the host tool zevrin")
    stub = need_file(e2elib.stub_path(), "the stub")
    need_file(windows_tool(), "zevrin.exe")
    work = tempfile.mkdtemp(prefix="zevrin-tool-")
    try:
        with open(os.path.join(work, "setup.toml"), "w") as f:
            f.write(MANIFEST)
        shutil.copy(os.path.join(e2elib.ROOT, "examples", "demo", "frame.bmp"), work)
        for name, data in FILES.items():
            path = os.path.join(work, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        # Volumes a little larger than the stub: the data continues in .D01,
        # .D02, ...
        volume = os.path.getsize(stub) + 24 * 1024
        arguments = ["build", "setup.toml", "--stub", stub, "--volume-size", str(volume), "-q"]
        run([host] + arguments + ["-o", "linux/SETUP.EXE"], work, "zevrin build")
        # A Windows path, its folder made by the tool.
        wine(arguments + ["-o", "windows\\SETUP.EXE"], work, "zevrin.exe build")

        linux = outputs(os.path.join(work, "linux"), "SETUP")
        check(len(linux) >= 2, "expected a volume beside SETUP.EXE, got %s" % linux)
        check_equal(outputs(os.path.join(work, "windows"), "SETUP"), linux, "files zevrin.exe wrote")
        for name in linux:
            with open(os.path.join(work, "linux", name), "rb") as a, open(os.path.join(work, "windows", name), "rb") as b:
                if a.read() != b.read():
                    raise Failure("%s differs between zevrin and zevrin.exe" % name)

        listed = wine(["list", "windows/SETUP.EXE"], work, "zevrin.exe list")
        check_equal(listed.replace("\r\n", "\n"), run([host, "list", "windows/SETUP.EXE"], work, "zevrin list"),
                    "zevrin.exe list")
        for name in ("main.exe", "data\\deep\\readme.txt", "docs\\notes.txt"):
            check(name in listed, "zevrin.exe list does not show %s:\n%s" % (name, listed))
        wine(["verify", "windows/SETUP.EXE"], work, "zevrin.exe verify")
        wine(["extract", "windows\\SETUP.EXE", "-d", "unpacked\\here"], work, "zevrin.exe extract")
        for name, data in FILES.items():
            if name.startswith("app/"):
                with open(os.path.join(work, "unpacked", "here", name[len("app/"):]), "rb") as f:
                    check(f.read() == data, "zevrin.exe extract: %s differs" % name)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def script_without_windres():
    """A .rc needs windres on PATH; without it the error says so and what
    to do instead, and nothing is written."""
    stub = need_file(e2elib.stub_path(), "the stub")
    need_file(windows_tool(), "zevrin.exe")
    work = tempfile.mkdtemp(prefix="zevrin-tool-")
    try:
        with open(os.path.join(work, "setup.toml"), "w") as f:
            f.write('[product]\nname = "Tool Check"\n[wizard]\ntemplates = "dialogs.rc"\n'
                    '[[files]]\nsource = "notes.txt"\n')
        for name, text in (("dialogs.rc", "#include \"missing.h\"\n"), ("notes.txt", "notes\n")):
            with open(os.path.join(work, name), "w") as f:
                f.write(text)
        env = dict(os.environ)
        env.pop("ZEVRIN_WINDRES", None)
        result = wine(["build", "setup.toml", "--stub", stub, "-o", "SETUP.EXE"], work, "zevrin.exe build",
                      env, expect=None)
        message = result.stderr.decode(errors="replace")
        check(result.returncode != 0, "zevrin.exe build succeeded without windres")
        for words in ("dialogs.rc", "windres", "PATH", ".res"):
            check(words in message, "the error does not mention %s: %s" % (words, message))
        check(not os.path.exists(os.path.join(work, "SETUP.EXE")), "SETUP.EXE written")
    finally:
        shutil.rmtree(work, ignore_errors=True)


CASES = [("same_package", same_package), ("script_without_windres", script_without_windres)]

if __name__ == "__main__":
    sys.exit(e2elib.run_cases(CASES))
