"""Harness of the end-to-end tests: an installer under Wine, on an Xvfb
display of its own, in a fresh prefix, watched and steered by the UI driver
(tests/e2e/driver/driver.cpp), with packages built by `zevrin build` or made
by hand.

A scenario file lists its cases and ends with `sys.exit(run_cases(CASES))`.
Each case gets a Stage (display, prefix, driver) and raises Failure or Skip.
Exit status: 0 all ran cases passed, 1 a case failed, 77 every case was
skipped (CTest's SKIP_RETURN_CODE).

Paths come from the environment, defaulting to the two preset build trees
(PRESET: mingw, or mingw64 where the tests run under 64-bit Wine):
  ZEVRIN_E2E_TOOL      the host tool        (build/host/zevrin)
  ZEVRIN_E2E_STUB      the stub             (build/PRESET/zevrin_stub.exe)
  ZEVRIN_E2E_UNINSTALLER the uninstaller    (build/PRESET/zevrin_uninstaller.exe)
  ZEVRIN_E2E_DRIVER    the UI driver        (build/PRESET/zevrin_e2e_driver.exe,
                                             else build/e2e/driver.exe, or
                                             driver64.exe for mingw64)
  ZEVRIN_E2E_ARTIFACTS screenshots and logs (build/e2e-artifacts)
  ZEVRIN_E2E_KEEP=1    keep each case's prefix and work folder
  ZEVRIN_WINE_ARCH     win32 or win64; unset, scripts/wine-arch.sh chooses
"""

import json
import os
import queue
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import tomllib
import traceback

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
RUN_SETUP = os.path.join(ROOT, "scripts", "run-setup.sh")
WINE_ARCH_SCRIPT = os.path.join(ROOT, "scripts", "wine-arch.sh")
SCREENSHOT = os.path.join(ROOT, "scripts", "screenshot.sh")

SCREEN = (1024, 768)
# Generous: a fresh prefix's first window can take several seconds.
# ZEVRIN_E2E_SLOW multiplies both for a machine that is far slower (the
# emulated i686 machine of scripts/i686-vm.sh takes minutes).
SLOW = max(1, int(os.environ.get("ZEVRIN_E2E_SLOW", "1") or "1"))
WAIT = 45 * SLOW
RUN_TIMEOUT = 180 * SLOW

EXIT_SKIP = 77


class Failure(Exception):
    """What the test saw differs from what a person should see."""


class Skip(Exception):
    """The case cannot run here yet (a missing tool or feature)."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_equal(actual, expected, what):
    if actual != expected:
        raise Failure("%s: expected %r, got %r" % (what, expected, actual))


def _first_existing(*paths):
    for path in paths:
        if path and os.path.exists(path):
            return path
    return paths[0]


_wine_choice = None


def wine_choice():
    """scripts/wine-arch.sh's choice, so that the driver runs under the
    same Wine as run-setup.sh: {"arch", "wine", "preset"}."""
    global _wine_choice
    if _wine_choice is None:
        result = subprocess.run(
            ["bash", "-c", 'source "$1" && printf "%s\\n" "$ZEVRIN_WINE_ARCH" "$ZEVRIN_WINE" "$ZEVRIN_WINE_PRESET"',
             "wine-arch", WINE_ARCH_SCRIPT], stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
        if result.returncode != 0:
            raise Failure("scripts/wine-arch.sh failed: " + result.stderr.strip())
        arch, wine, preset = result.stdout.split("\n")[:3]
        _wine_choice = {"arch": arch, "wine": wine, "preset": preset}
    return _wine_choice


def tool_path():
    return os.environ.get("ZEVRIN_E2E_TOOL") or os.path.join(ROOT, "build", "host", "zevrin")


def stub_path():
    return os.environ.get("ZEVRIN_E2E_STUB") or os.path.join(ROOT, "build", wine_choice()["preset"],
                                                              "zevrin_stub.exe")


def uninstaller_path():
    return os.environ.get("ZEVRIN_E2E_UNINSTALLER") or os.path.join(ROOT, "build", wine_choice()["preset"],
                                                                     "zevrin_uninstaller.exe")


def driver_path():
    preset = wine_choice()["preset"]
    return os.environ.get("ZEVRIN_E2E_DRIVER") or _first_existing(
        os.path.join(ROOT, "build", preset, "zevrin_e2e_driver.exe"),
        os.path.join(ROOT, "build", "e2e", "driver64.exe" if preset == "mingw64" else "driver.exe"))


def need_file(path, what):
    if not os.path.isfile(path):
        raise Skip("%s not built: %s" % (what, path))
    return path


# --------------------------------------------------------------- packages

STAMP_MARKER = bytes([0x77, 0x77, 0x67, 0x54, 0x29, 0x48])
TAG_GROUPS = 4666
TAG_TERMINATOR = 0x7F7F


def read_stamp(path):
    """The stamp record of a stub or SETUP.EXE: its offset, StubLength and
    the StartPage default."""
    with open(path, "rb") as f:
        data = f.read()
    at = data.find(STAMP_MARKER)
    check(at >= 0, "%s has no stamp record" % path)
    check(data.find(STAMP_MARKER, at + 1) < 0, "%s has two stamp markers" % path)
    stub_length, = struct.unpack_from("<I", data, at + 6)
    start_page, = struct.unpack_from("<H", data, at + 18)
    return {"offset": at, "stub_length": stub_length, "start_page": start_page}


def tool_stream(command, data, work):
    """What `zevrin encode` or `zevrin decode` makes of `data`."""
    tool = need_file(tool_path(), "the host tool zevrin")
    source = os.path.join(work, command + ".in")
    target = os.path.join(work, command + ".out")
    with open(source, "wb") as f:
        f.write(data)
    result = subprocess.run([tool, command, source, target], capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise Failure("zevrin %s failed: %s" % (command, result.stderr.strip()))
    with open(target, "rb") as f:
        return f.read()


def encode_stream(data, work):
    """One compressed stream of `data`, made by `zevrin encode`."""
    return tool_stream("encode", data, work)


def group_bytes(texts):
    """A message group as the installer unpacks it: u16 count, then the
    texts NUL-terminated (Windows-1252)."""
    out = struct.pack("<H", len(texts))
    for text in texts:
        out += text.encode("cp1252") + b"\0"
    return out


def record(tag, body, flags=0):
    return struct.pack("<HBBI", tag, flags, 0, len(body)) + body


def handmade_package(out, work, groups, data=b"", records=(), stub=None):
    """A SETUP.EXE made without the authoring tool: the stub with its
    StubLength patched, a message-group record, any further `records`,
    the terminator and `data` as the file-data region. Enough for what
    happens before the wizard (header reading, relaunch)."""
    stub = stub or need_file(stub_path(), "the stub")
    with open(stub, "rb") as f:
        image = bytearray(f.read())
    at = image.find(STAMP_MARKER)
    check(at >= 0, "the stub has no stamp record")
    struct.pack_into("<I", image, at + 6, len(image))
    body = struct.pack("<H", len(groups))
    for texts in groups:
        raw = group_bytes(texts)
        body += struct.pack("<I", len(raw)) + encode_stream(raw, work)
    header = record(TAG_GROUPS, body)
    for tag, payload in records:
        header += record(tag, payload)
    header += record(TAG_TERMINATOR, struct.pack("<I", len(data)))
    with open(out, "wb") as f:
        f.write(bytes(image) + header + data)
    return out


def header_records(path):
    """The header records of a SETUP.EXE, in order: (tag, flags, body)."""
    with open(path, "rb") as f:
        data = f.read()
    at = read_stamp(path)["stub_length"]
    records = []
    while at + 8 <= len(data):
        tag, flags, _, length = struct.unpack_from("<HBBI", data, at)
        body = data[at + 8:at + 8 + length]
        records.append((tag, flags, body))
        if tag == TAG_TERMINATOR:
            break
        at += 8 + length
    return records


def decode_stream(stream, work):
    """The bytes one compressed stream unpacks to, by `zevrin decode`."""
    return tool_stream("decode", stream, work)


def record_body(path, tag, work):
    """The unpacked body of the first record `tag` of a SETUP.EXE."""
    for found, flags, body in header_records(path):
        if found == tag:
            # A compressed body: its unpacked size, then the stream.
            return decode_stream(body[4:], work) if flags & 1 else body
    raise Failure("%s has no record %d" % (path, tag))


def cut_package(source, out, count=1):
    """A copy of `source` without its last `count` bytes."""
    with open(source, "rb") as f:
        data = f.read()
    with open(out, "wb") as f:
        f.write(data[:-count])
    return out


def build_package(manifest, out, work):
    """`zevrin build MANIFEST -o OUT --stub STUB`; Skip while the tool has
    no build command."""
    tool = need_file(tool_path(), "the host tool zevrin")
    stub = need_file(stub_path(), "the stub")
    result = subprocess.run([tool, "build", manifest, "-o", out, "--stub", stub],
                            capture_output=True, text=True, timeout=300, cwd=work)
    if result.returncode != 0:
        if "unknown command" in result.stderr:
            raise Skip("zevrin has no build command yet")
        raise Failure("zevrin build %s failed (%d): %s" % (manifest, result.returncode, result.stderr.strip()))
    return out


PACKAGES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "packages")
PAGE_SECTIONS = ["welcome", "information", "directory", "ready", "progress", "finish"]


class Package:
    """A test package: tests/e2e/packages/NAME.toml built into the case's
    work folder. The expected texts come from the manifest itself."""

    def __init__(self, stage, name):
        self.manifest_path = os.path.join(PACKAGES, name + ".toml")
        with open(self.manifest_path, "rb") as f:
            self.manifest = tomllib.load(f)
        self.exe = build_package(self.manifest_path, stage.path(name + ".exe"), stage.work)

    @property
    def title(self):
        return self.manifest["product"]["title"]

    def text(self, section, key):
        try:
            return self.manifest["texts"][section][key]
        except KeyError:
            raise Failure("the test needs texts.%s.%s in %s" % (section, key, self.manifest_path))

    def page_text(self, page, index):
        """Text `index` of page `page`: 0 the heading, 1 to 4 the texts of
        controls 1000 to 1003."""
        return self.text(PAGE_SECTIONS[page], "heading" if index == 0 else "text%d" % index)

    def button(self, key):
        return self.text("buttons", key)

    def message(self, key):
        return self.text("messages", key)


# ------------------------------------------------------------------ stage

def _start_xvfb(log):
    """A display of the case's own: parallel cases never share windows,
    focus or screenshots."""
    if not shutil.which("Xvfb"):
        raise Skip("Xvfb is not installed")
    read_end, write_end = os.pipe()
    process = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0", "%dx%dx24" % SCREEN],
        stdin=subprocess.DEVNULL, stdout=log, stderr=log, pass_fds=(write_end,))
    os.close(write_end)
    number = b""
    deadline = time.monotonic() + 30
    with os.fdopen(read_end, "rb", buffering=0) as pipe:
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            chunk = pipe.read(16)
            if not chunk:
                break
            number += chunk
    number = number.strip().decode()
    if not number.isdigit():
        process.kill()
        raise Failure("Xvfb did not start")
    return process, ":" + number


def quote(text):
    """`text` as one word of a driver command."""
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


class Driver:
    """The UI driver: one command in, JSON events out, ended by an ok or a
    fail event."""

    def __init__(self, stage):
        self.stage = stage
        self.log = open(os.path.join(stage.artifacts, "driver.jsonl"), "a", encoding="utf-8")
        wine = wine_choice()["wine"]
        check(wine, "no Wine loader for %s (apt-get install wine64)" % wine_choice()["arch"])
        self.process = subprocess.Popen(
            [wine, need_file(driver_path(), "the UI driver"), "--timeout", str(WAIT)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.log,
            env=stage.env, text=True, encoding="utf-8", bufsize=1)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line)
        self.lines.put(None)

    def run(self, command, seconds=WAIT):
        """Runs one driver command and returns its observation events."""
        self.log.write("> %s\n" % command)
        self.log.flush()
        try:
            self.process.stdin.write(command + "\n")
            self.process.stdin.flush()
        except BrokenPipeError:
            raise Failure("the driver has gone (before %r)" % command)
        events = []
        # The driver enforces its own timeout; this one only catches a
        # driver that hangs itself.
        deadline = time.monotonic() + seconds + 60
        while True:
            try:
                line = self.lines.get(timeout=max(0.1, deadline - time.monotonic()))
            except queue.Empty:
                raise Failure("the driver did not answer %r" % command)
            if line is None:
                raise Failure("the driver ended during %r" % command)
            self.log.write(line)
            self.log.flush()
            try:
                event = json.loads(line)
            except ValueError:
                raise Failure("the driver printed %r" % line)
            if event.get("event") == "ok":
                return events
            if event.get("event") == "fail":
                raise Failure("%s: %s\non screen: %s" % (command, event.get("error"),
                                                         json.dumps(event.get("screen"), indent=1)))
            events.append(event)

    def one(self, command, kind, seconds=WAIT):
        events = [e for e in self.run(command, seconds) if e.get("event") == kind]
        check(events, "%r printed no %s event" % (command, kind))
        return events[-1]

    # Shorthands for the common commands.
    def wait_page(self, seconds=WAIT):
        return Page(self.one("wait-page %g" % seconds, "page", seconds))

    def dump(self):
        return Page(self.one("dump", "page"))

    def press(self, control):
        self.run("press %d" % control)

    def wait_next(self, seconds=WAIT):
        """A new page (a Page) or a message box (its event), whichever
        comes first."""
        events = [e for e in self.run("wait-next %g" % seconds, seconds) if e["event"] in ("page", "box")]
        check(events, "wait-next printed nothing")
        return Page(events[-1]) if events[-1]["event"] == "page" else events[-1]

    def wait_box(self, seconds=WAIT):
        return self.one("wait-box %g" % seconds, "box", seconds)

    def answer(self, button, seconds=WAIT):
        """Clicks `button` of the message box; returns the box."""
        return self.one("answer %s %g" % (button, seconds), "box", seconds)

    def wait_exit(self, seconds=WAIT):
        return self.run("wait-exit %g" % seconds, seconds)

    def registry(self, key, value):
        """A registry value: its event, with "exists" and "data"."""
        return self.one("reg %s %s" % (quote(key), quote(value)), "reg")

    def info(self):
        return self.one("info", "info")

    def close(self):
        if self.process.poll() is None:
            try:
                self.process.stdin.close()
                self.process.wait(timeout=10)
            except (OSError, subprocess.TimeoutExpired):
                self.process.kill()
        self.log.close()


class Page:
    """A page event of the driver, with lookups by control id."""

    def __init__(self, event):
        self.event = event
        self.caption = event["caption"]
        self.mode = event["mode"]
        self.controls = event["controls"]

    def control(self, control_id, parent=None):
        for c in self.controls:
            if c["id"] == control_id and (parent is None or c["parent"] == parent):
                return c
        raise Failure("no control %d on the %s: %s" % (control_id, parent or "frame or page", self.summary()))

    def has(self, control_id, parent=None):
        return any(c["id"] == control_id and (parent is None or c["parent"] == parent) for c in self.controls)

    def text(self, control_id, parent=None):
        return self.control(control_id, parent)["text"]

    def summary(self):
        parts = ["caption %r" % self.caption]
        for c in self.controls:
            state = ("" if c["visible"] else " hidden") + ("" if c["enabled"] else " disabled") + \
                    (" default" if c["default"] else "")
            parts.append("%s %d %s %r%s" % (c["parent"], c["id"], c["class"], c["text"], state))
        return "; ".join(parts)


class Run:
    """One SETUP.EXE started through run-setup.sh."""

    def __init__(self, stage, exe, args, timeout, name):
        self.log_path = os.path.join(stage.artifacts, name + ".log")
        self.log = open(self.log_path, "w")
        command = [RUN_SETUP, "--prefix", stage.prefix, "--reuse", "--timeout", str(timeout)] + stage.options
        self.process = subprocess.Popen(command + [exe] + list(args), stdin=subprocess.DEVNULL,
                                        stdout=self.log, stderr=subprocess.STDOUT, env=stage.env)
        self.timeout = timeout

    def wait(self, seconds=None):
        """The exit code as run-setup.sh returns it (-1 arrives as 255)."""
        try:
            return self.process.wait(timeout=seconds or self.timeout + 30)
        except subprocess.TimeoutExpired:
            raise Failure("run-setup.sh did not end")

    def running(self):
        return self.process.poll() is None

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.log.close()


class Stage:
    """Display, prefix and driver of one case; everything it started is
    stopped when it closes."""

    def __init__(self, name, win98=False, removable=False, temp=None):
        self.name = name
        base = os.environ.get("ZEVRIN_E2E_ARTIFACTS") or os.path.join(ROOT, "build", "e2e-artifacts")
        self.artifacts = os.path.join(base, name)
        shutil.rmtree(self.artifacts, ignore_errors=True)
        os.makedirs(self.artifacts)
        self.work = tempfile.mkdtemp(prefix="zevrin-e2e-")
        self.prefix = os.path.join(self.work, "prefix")
        self.removable = os.path.join(self.work, "floppy") if removable else None
        if self.removable:
            os.makedirs(self.removable)
        # The same options for --prepare and every run: run-setup.sh would
        # otherwise rewrite the settings of a prefix in use.
        self.options = ((["--win98"] if win98 else []) + (["--removable", self.removable] if removable else []) +
                        (["--temp", temp] if temp else []))
        self.runs = []
        self.driver_ = None
        self.xvfb = None
        self.env = dict(os.environ)

    def __enter__(self):
        try:
            return self._open()
        except BaseException:
            self.__exit__(None, None, None)
            raise

    def _open(self):
        self.xvfb_log = open(os.path.join(self.artifacts, "xvfb.log"), "w")
        self.xvfb, display = _start_xvfb(self.xvfb_log)
        # ZEVRIN_WINE_ARCH too: run-setup.sh then makes the same choice.
        arch = wine_choice()["arch"]
        self.env.update(DISPLAY=display, WINEPREFIX=self.prefix, WINEDEBUG="-all", WINEARCH=arch,
                        ZEVRIN_WINE_ARCH=arch, WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        command = [RUN_SETUP, "--prefix", self.prefix, "--prepare"] + self.options
        with open(os.path.join(self.artifacts, "prepare.log"), "w") as log:
            result = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                    env=self.env, timeout=1200)
        if result.returncode != 0:
            raise Failure("run-setup.sh --prepare failed, see %s" % log.name)
        return self

    def __exit__(self, *exc):
        if self.driver_:
            self.driver_.close()
        for run in self.runs:
            run.kill()
        # Whatever still runs in the prefix (a stuck installer included).
        if os.path.isdir(self.prefix):
            subprocess.run(["wineserver", "-k"], env=dict(self.env, WINEPREFIX=self.prefix),
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=60)
        if self.xvfb:
            self.xvfb.kill()
            self.xvfb.wait()
        if getattr(self, "xvfb_log", None):
            self.xvfb_log.close()
        if os.environ.get("ZEVRIN_E2E_KEEP") == "1":
            print("  kept %s" % self.work)
        else:
            shutil.rmtree(self.work, ignore_errors=True)
        return False

    def path(self, name):
        return os.path.join(self.work, name)

    def start(self, exe, *args, timeout=RUN_TIMEOUT, name=None):
        run = Run(self, exe, args, timeout, name or "setup%d" % len(self.runs))
        self.runs.append(run)
        return run

    def driver(self):
        if not self.driver_:
            self.driver_ = Driver(self)
        return self.driver_

    def shot(self, name):
        """A screenshot into the case's artifacts; returns its path."""
        out = os.path.join(self.artifacts, name + ".png")
        result = subprocess.run([SCREENSHOT, out], env=self.env, stdin=subprocess.DEVNULL,
                                capture_output=True, text=True, timeout=60)
        check(result.returncode == 0, "screenshot failed: " + result.stderr.strip())
        return out

    def unix_path(self, windows_path):
        """A C: path of the prefix as a host path."""
        m = re.match(r"^[cC]:\\(.*)$", windows_path)
        check(m, "not a C: path: %r" % windows_path)
        return os.path.join(self.prefix, "drive_c", *[p for p in m.group(1).split("\\") if p])


# ---------------------------------------------------------------- wizard

def expected_caption(package, page, mode):
    """What a person reads as the title of wizard page `page`."""
    heading = package.page_text(page, 0)
    if mode == "fullscreen":
        return heading
    return package.title + " - " + heading if heading else package.title


def check_chrome(view, package, page, texts=(1, 2, 3, 4)):
    """What every page shows: the captions, the page's texts in controls
    1000 to 1003, and the three buttons with their captions and states."""
    where = "page %d (%s)" % (page, PAGE_SECTIONS[page])
    check_equal(view.caption, expected_caption(package, page, view.mode), where + ": caption")
    if view.mode == "fullscreen":
        check_equal(view.event["background"]["caption"], package.title, where + ": background caption")
    else:
        check_equal(view.event["background"]["caption"], view.caption, where + ": window caption")
    for index in texts:
        check_equal(view.text(999 + index, "page"), package.page_text(page, index),
                    where + ": text of control %d" % (999 + index))
    buttons = {1007: ("back", page > 0), 1: ("start" if page == 3 else "next", True), 2: ("exit", True)}
    for control, (caption, enabled) in buttons.items():
        c = view.control(control, "frame")
        check_equal(c["text"], package.button(caption), where + ": caption of button %d" % control)
        check(c["visible"], where + ": button %d is hidden" % control)
        check_equal(c["enabled"], enabled, where + ": button %d enabled" % control)
    check_equal(view.event["default_id"], 1, where + ": default button")


def leave_by_cancel(driver, package):
    """Cancel, Yes and OK: the wizard ends; returns the exit events."""
    driver.press(2)
    box = driver.answer("yes")
    check_equal(box["text"], package.message("exit_question"), "cancel question")
    box = driver.answer("ok")
    check_equal(box["text"], package.message("not_completed"), "message after cancelling")
    return driver.wait_exit()


def wait_running(driver, name):
    """Until a process with the file name `name` runs. Through "processes",
    not wait-process: the driver must not wait for it to end."""
    deadline = time.monotonic() + WAIT
    while time.monotonic() < deadline:
        if any(e.get("file", "").lower() == name.lower() for e in driver.run("processes")):
            return
        driver.run("sync")
        time.sleep(0.2)
    raise Failure("%s did not start within %d s" % (name, WAIT))


def exit_codes(events):
    return [e["code"] for e in events if e.get("event") == "exit"]


# What the installer's exit codes mean (the README's table).
INSTALLED, RESTART_NEEDED, CANCELLED, FAILED, ANOTHER_INSTANCE = 0, 3010, 1602, 1603, 1618


def check_exit(driver, run, code, what="exit code"):
    """The run ended with `code`, as Windows reports it (the driver) and as
    the host sees it (its low 8 bits)."""
    check_equal(exit_codes(driver.wait_exit()), [code], what)
    check_equal(run.wait(), code & 0xFF, what + " (host status)")


# ----------------------------------------------------------------- pixels

def pixels(png, points):
    """The colours (r, g, b) of `points` [(x, y)...] of a PNG."""
    return {(x, y): mean_colour(png, x, y, 1, 1) for x, y in points}


def mean_colour(png, x, y, width, height):
    """The mean (r, g, b) of a rectangle of a PNG."""
    result = subprocess.run(["convert", png, "-crop", "%dx%d+%d+%d" % (width, height, x, y), "+repage",
                             "-scale", "1x1!", "-format", "%[fx:int(255*r+0.5)],%[fx:int(255*g+0.5)],"
                             "%[fx:int(255*b+0.5)]", "info:"], capture_output=True, text=True, timeout=60)
    check(result.returncode == 0, "convert failed: " + result.stderr.strip())
    return tuple(int(v) for v in result.stdout.strip().split(","))


def count_colour(png, x, y, width, height, colour, fuzz=20):
    """How many pixels of a rectangle of a PNG are `colour` ("#RRGGBB"),
    give or take `fuzz` per cent."""
    result = subprocess.run(["convert", png, "-crop", "%dx%d+%d+%d" % (width, height, x, y), "+repage",
                             "-fuzz", "%d%%" % fuzz, "-fill", "white", "-opaque", colour,
                             "-fuzz", "0", "-fill", "black", "+opaque", "white",
                             "-format", "%[fx:int(mean*w*h+0.5)]", "info:"],
                            capture_output=True, text=True, timeout=60)
    check(result.returncode == 0, "convert failed: " + result.stderr.strip())
    return int(result.stdout.strip())


# ----------------------------------------------------------------- runner

def run_cases(cases):
    """Runs every (name, function) case; each function gets nothing and
    opens its own Stage. Prints one line a case and a summary."""
    only = sys.argv[1:]
    # A runner's timeout sends SIGTERM: unwind, so each Stage still stops
    # its Xvfb and wineserver.
    def terminated(signum, frame):
        raise Failure("terminated by signal %d" % signum)
    signal.signal(signal.SIGTERM, terminated)
    passed = failed = skipped = 0
    for name, function in cases:
        if only and name not in only:
            continue
        start = time.monotonic()
        try:
            function()
        except Skip as e:
            skipped += 1
            print("SKIP %s: %s" % (name, e))
        except Failure as e:
            failed += 1
            print("FAIL %s: %s" % (name, e))
        except Exception:
            failed += 1
            print("FAIL %s: unexpected error\n%s" % (name, traceback.format_exc()))
        else:
            passed += 1
            print("PASS %s (%.0f s)" % (name, time.monotonic() - start))
        sys.stdout.flush()
    print("%d passed, %d failed, %d skipped" % (passed, failed, skipped))
    if failed:
        return 1
    if skipped and not passed:
        return EXIT_SKIP
    return 0
