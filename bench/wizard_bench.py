#!/usr/bin/env python3
"""The wizard's install time and responsiveness, under Wine, driven through
the installer's windows by the end-to-end tests' UI driver
(tests/e2e/driver/driver.cpp, tests/e2e/e2elib.py). bench/wizard_bench.sh
builds what it needs and the packages, then runs this; see it for the
options and bench/README.md for what is timed.

    wizard_bench.py --work DIR --install-bench EXE [--repeat N]
                    [--package PATH]... [--large PATH]...

--package: a package of the corpus in DIR/corpus, installed through the
wizard every round (the time from Next on the ready page to the finish
page, taken inside the driver), and beside it, each round, install_bench
on every such package (the engine without a window) and the floor.
--large: a package of one large file, DIR/large/payload/big.bin, installed once
through the wizard while the driver asks the progress page every 50 ms
whether it answers and repaints.

Everything runs in one Wine prefix and one Xvfb of its own (an e2elib
Stage), one installer at a time. Each install is compared with its source
files and deleted before the next.
"""

import argparse
import filecmp
import json
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys

sys.dont_write_bytecode = True
ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from e2elib import Failure, Page, Skip, Stage, check, check_equal, exit_codes, wine_choice  # noqa: E402

FOLDER_FIELD = 1004
# Generous bounds: a run that needs them is broken, not slow.
INSTALL_SECONDS = 3600
ENGINE_SECONDS = 1800


def windows_path(path):
    """A host path as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def to_ready_page(driver):
    """Welcome (and information) to the folder page, Next (the folder is
    made when asked), on the ready page; returns the install folder."""
    view = driver.wait_page()
    for _ in range(3):
        if view.has(FOLDER_FIELD, "page"):
            break
        driver.press(1)
        view = driver.wait_page()
    else:
        raise Failure("no folder page: %s" % view.summary())
    folder = view.text(FOLDER_FIELD, "page")
    driver.press(1)
    shown = driver.wait_next()
    if not isinstance(shown, Page):
        driver.answer("yes")
        shown = driver.wait_page()
    check(folder in shown.text(1001, "page"), "not the ready page of %s: %s" % (folder, shown.summary()))
    return folder


def finish(driver, run):
    """Finish on the finish page: the installer ends with 0."""
    driver.press(2)
    check_equal(exit_codes(driver.wait_exit()), [0], "exit code")
    check_equal(run.wait(), 0, "exit status")


def compare_trees(source, installed):
    """The install is the source files, byte for byte, and nothing else."""
    def files(top):
        found = set()
        for base, _, names in os.walk(top):
            for name in names:
                found.add(os.path.relpath(os.path.join(base, name), top))
        return found
    want, got = files(source), files(installed)
    check(want == got, "installed %d files, %d expected; missing %s, extra %s"
          % (len(got), len(want), sorted(want - got)[:5], sorted(got - want)[:5]))
    for name in sorted(want):
        check(filecmp.cmp(os.path.join(source, name), os.path.join(installed, name), shallow=False),
              "%s differs from its source" % name)
    return len(want)


def wizard_install(stage, package, source, command):
    """One install of `package` through the wizard, `command` (a driver
    command that presses Next on the ready page) timing it; returns the
    command's event."""
    run = stage.start(package, timeout=INSTALL_SECONDS)
    driver = stage.driver()
    folder = to_ready_page(driver)
    target = stage.unix_path(folder)
    # Made on leaving the folder page; empty until the install.
    check(not os.path.exists(target) or not os.listdir(target), "%s is not empty before the install" % target)
    events = [e for e in driver.run("%s %d" % (command, INSTALL_SECONDS), INSTALL_SECONDS)
              if e["event"] in ("installed", "progress-watch")]
    check(events, "%s printed no result" % command)
    finish(driver, run)
    compare_trees(source, target)
    shutil.rmtree(target)
    return events[-1]


def engine_round(stage, install_bench, corpus, installs, packages):
    """install_bench, one round, in the wizard's prefix: the engine on
    every package and the floor (ms)."""
    wine = wine_choice()["wine"]
    command = [wine, install_bench, "--source", windows_path(corpus), "--target", windows_path(installs),
               "--repeat", "1"] + [windows_path(p) for p in packages]
    result = subprocess.run(command, env=stage.env, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                            timeout=ENGINE_SECONDS)
    check(result.returncode == 0, "install_bench failed (%d): %s%s" % (result.returncode, result.stdout[-2000:],
                                                                         result.stderr[-2000:]))
    engine = {}
    floor = None
    for line in result.stdout.splitlines():
        m = re.match(r"round 1: engine (\S+)\s+([\d.]+) ms", line)
        if m:
            engine[m.group(1)] = float(m.group(2))
        m = re.match(r"round 1: floor .*?([\d.]+) ms", line)
        if m:
            floor = float(m.group(1))
    check(floor is not None and len(engine) == len(packages), "install_bench printed:\n" + result.stdout)
    return engine, floor


def ratios(a, b):
    """a/b best to best, median to median, and the median of each round's
    own ratio."""
    return (min(a) / min(b), statistics.median(a) / statistics.median(b),
            statistics.median([x / y for x, y in zip(a, b)]))


def corpus_rounds(stage, args):
    corpus = os.path.join(args.work, "corpus")
    names = [os.path.basename(p) for p in args.package]
    wizard = {n: [] for n in names}
    progress = {n: [] for n in names}
    engine = {n: [] for n in names}
    floor = []
    for round_number in range(1, args.repeat + 1):
        for path, name in zip(args.package, names):
            event = wizard_install(stage, path, corpus, "time-install")
            wizard[name].append(event["ms"])
            if event.get("progress_ms") is not None:
                progress[name].append(event["progress_ms"])
            print("round %d: wizard %-24s %10.1f ms (progress page up after %s ms)"
                  % (round_number, name, event["ms"], event.get("progress_ms")), flush=True)
        times, floor_ms = engine_round(stage, args.install_bench, corpus, os.path.join(args.work, "installs"),
                                       args.package)
        for name in names:
            engine[name].append(times[name])
            print("round %d: engine %-24s %10.1f ms" % (round_number, name, times[name]))
        floor.append(floor_ms)
        print("round %d: floor  %-24s %10.1f ms" % (round_number, "(create/write/close)", floor_ms), flush=True)

    count = sum(len(files) for _, _, files in os.walk(corpus))
    size = sum(os.path.getsize(os.path.join(b, f)) for b, _, files in os.walk(corpus) for f in files)
    print("\n%d files, %.2f MB; %d rounds; wizard: Next on the ready page to the finish page up\n"
          "(in the driver); engine and floor: install_bench in the same prefix, each round after the wizard"
          % (count, size / 1e6, args.repeat))
    print("%-7s %-24s %11s %11s %10s" % ("mode", "package", "best ms", "median ms", "ms/file"))
    for name in names:
        for mode, values in (("wizard", wizard[name]), ("engine", engine[name])):
            print("%-7s %-24s %11.1f %11.1f %10.3f" % (mode, name, min(values), statistics.median(values),
                                                      statistics.median(values) / count))
    print("%-7s %-24s %11.1f %11.1f %10.3f" % ("floor", "(create/write/close)", min(floor),
                                              statistics.median(floor), statistics.median(floor) / count))
    print("\n%-22s %-24s %8s %8s %8s" % ("ratio", "package", "x best", "x median", "x round"))
    for name in names:
        print("%-22s %-24s %8.2f %8.2f %8.2f" % (("wizard / engine", name) + ratios(wizard[name], engine[name])))
    for name in names:
        print("%-22s %-24s %8.2f %8.2f %8.2f" % (("engine / floor", name) + ratios(engine[name], floor)))
    for name in names:
        if progress[name]:
            print("progress page up after %s: median %.1f ms" % (name, statistics.median(progress[name])))


def large_runs(stage, args):
    source = os.path.join(args.work, "large", "payload")
    size = os.path.getsize(os.path.join(source, "big.bin"))
    for path in args.large:
        name = os.path.basename(path)
        event = wizard_install(stage, path, source, "watch-progress")
        percents = event["percents"]
        print("\nlarge %s: one file of %d bytes (%.0f MiB), asked every %d ms while the progress page was up"
              % (name, size, size / 1048576, event["period_ms"]))
        print("  Next to finish page      %10.1f ms (progress page up after %s ms)" % (event["ms"],
                                                                                     event["progress_ms"]))
        print("  polls                    %10d (%d answered)" % (event["polls"], event["answered"]))
        print("  longest without answer   %10.1f ms (longest single wait %.1f ms)"
              % (event["max_gap_ms"], event["max_answer_ms"]))
        print("  longest without repaint  %10.1f ms (%d looks found the percentage not yet repainted)"
              % (event["max_paint_gap_ms"], event["unpainted"]))
        print("  percentage               first %s, last %s, %d distinct; longest unchanged %.1f ms"
              % (percents["first"], percents["last"], percents["distinct"], event["max_same_percent_ms"]))
        print("  seen: %s" % " ".join(str(v) for v in percents["seen"]))
        print("  driver: %s" % json.dumps(event), flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--work", required=True)
    parser.add_argument("--install-bench", required=True)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--package", action="append", default=[])
    parser.add_argument("--large", action="append", default=[])
    args = parser.parse_args()
    args.work = os.path.abspath(args.work)
    check(args.repeat >= 1, "--repeat needs 1 or more")

    # A timeout's SIGTERM unwinds, so the Stage still stops its Xvfb and
    # wineserver.
    def terminated(signum, frame):
        raise Failure("terminated by signal %d" % signum)
    signal.signal(signal.SIGTERM, terminated)
    os.environ.setdefault("ZEVRIN_E2E_ARTIFACTS", os.path.join(args.work, "logs"))
    try:
        with Stage("wizard-bench") as stage:
            print("wizard: %s, in the prefix %s (logs: %s)" % (wine_choice()["arch"], stage.prefix, stage.artifacts))
            if args.package:
                corpus_rounds(stage, args)
            if args.large:
                large_runs(stage, args)
    except (Failure, Skip) as e:
        print("wizard_bench: %s" % e, file=sys.stderr)
        return 1
    print("\nload average at the end %s" % " ".join(open("/proc/loadavg").read().split()[:3]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
