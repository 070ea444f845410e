#!/usr/bin/env python3
"""A damaged package: once its texts have been read, the installer says so
in a box of its own texts and exits with -1, which Wine's exit status shows
as 255; before that it exits with -1 in silence. Damaged dialog templates
that the dialog manager would turn into no dialog, or into one without a
control its page needs, are damage too, and so is a start page that is
the wizard's end marker. A package that is whole starts normally (the
control case)."""

import os
import struct
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import (Failure, Package, Stage, check, check_equal, cut_package, handmade_package, read_stamp,
                    record_body, run_cases)

TITLE = "Damage Test Setup"
INVALID = "This file contains invalid data."
# Group 6 as far as index 31; the indices between are not looked up here.
GROUP6 = [TITLE] + ["message %d" % i for i in range(1, 31)] + [INVALID]
DATA = bytes(range(64))  # stands in for the file-data region
TAG_TEMPLATES = 4674
TAG_START_PAGE = 4676
MAX_SHOWN_TEXT = 2047  # the longest text the installer hands to a message box


def groups(group6):
    return [["page %d" % p] for p in range(6)] + [group6]


def expect_invalid_data_box(stage, exe, title=TITLE, text=INVALID):
    """The box of an incomplete package: group 6 index 31, captioned with
    the title, OK only, owned by no window (there is none yet); then -1."""
    run = stage.start(exe)
    driver = stage.driver()
    box = driver.wait_box()
    stage.shot("invalid-data")
    check_equal(box["kind"], "messagebox", "kind of window")
    check_equal(box["text"], text, "box text")
    check_equal(box["caption"], title, "box caption")
    check_equal([b["id"] for b in box["buttons"]], [1], "box buttons (IDOK only)")
    check_equal(box["owner"], "none", "box owner")
    driver.answer("ok")
    check_equal(run.wait(), 255, "exit status (-1)")


def expect_silent_exit(stage, exe, code):
    """No box: a box would hold the installer until run-setup's timeout."""
    run = stage.start(exe, timeout=60)
    rc = run.wait()
    if rc == 124:
        raise Failure("the installer did not end by itself (a message box?)")
    check_equal(rc, code, "exit status")


def frameless_templates():
    """Eight well-formed dialog templates of a window class that does not
    exist: the frame dialog cannot be created from them."""
    dialog = struct.pack("<IIHhhhh", 0x50000000, 0, 0, 0, 0, 100, 50)  # WS_CHILD | WS_VISIBLE, no items
    dialog += b"\0\0" + "NoSuchClass".encode("utf-16-le") + b"\0\0" + b"\0\0"  # no menu, the class, no title
    dialog += b"\0" * (-len(dialog) % 4)
    offsets = [32 + n * len(dialog) for n in range(8)]
    return struct.pack("<8I", *offsets) + dialog * 8


def default_templates(stage):
    """The template blob `zevrin build` packs by default, as eight
    templates (each with its padding)."""
    package = Package(stage, "wizard")
    blob = record_body(package.exe, TAG_TEMPLATES, stage.work)
    offsets = struct.unpack_from("<8I", blob)
    check(list(offsets) == sorted(offsets), "templates in their order")
    return [blob[start:end] for start, end in zip(offsets, list(offsets[1:]) + [len(blob)])]


def template_blob(templates):
    out, offsets = b"", []
    for template in templates:
        offsets.append(32 + len(out))
        out += template + b"\0" * (-len(template) % 4)
    return struct.pack("<8I", *offsets) + out


def patched(template, old, new):
    """`template` with the one occurrence of `old` replaced by `new`."""
    check(template.count(old) == 1, "%r once in the template" % old)
    return template.replace(old, new)


def with_control_of_class(template, control_id, class_name):
    """A classic DLGTEMPLATE with one more control, of a class given by
    name, as `CONTROL "", id, "NAME", WS_CHILD | WS_VISIBLE, ...` makes it."""
    check(template[:4] != b"\x01\x00\xff\xff", "a classic template")
    count, = struct.unpack_from("<H", template, 8)
    out = bytearray(template)
    struct.pack_into("<H", out, 8, count + 1)
    out += b"\0" * (-len(out) % 4)
    out += struct.pack("<IIhhhhH", 0x50000000, 0, 0, 170, 229, 8, control_id)
    out += class_name.encode("utf-16-le") + b"\0\0" + b"\0\0" + b"\0\0"  # class, no title, no creation data
    return bytes(out)


# Control 1000 as windres writes LTEXT "": id, static class by ordinal,
# empty title, no creation data.
TEXT1000 = struct.pack("<HHHHH", 1000, 0xFFFF, 0x82, 0, 0)


def handmade(stage, name, group6=GROUP6, data=DATA, records=()):
    return handmade_package(stage.path(name), stage.work, groups(group6), data=data, records=records)


def case_cut_by_one_byte():
    with Stage("damaged-cut-one-byte") as stage:
        whole = handmade(stage, "whole.exe")
        expect_invalid_data_box(stage, cut_package(whole, stage.path("cut.exe")))


def case_cut_built_package():
    # A package from `zevrin build`, with the manifest's wording.
    with Stage("damaged-cut-built") as stage:
        package = Package(stage, "wizard")
        cut = cut_package(package.exe, stage.path("cut.exe"))
        expect_invalid_data_box(stage, cut, title=package.title, text=package.message("invalid_data"))


def case_terminator_only_declared():
    # The whole data region missing: same as one byte short.
    with Stage("damaged-no-data") as stage:
        whole = handmade(stage, "whole.exe")
        cut = cut_package(whole, stage.path("cut.exe"), len(DATA))
        expect_invalid_data_box(stage, cut)


def case_cut_inside_header():
    # The terminator's own length field is cut: a read failure after the
    # texts, so the box says so.
    with Stage("damaged-cut-header") as stage:
        whole = handmade(stage, "whole.exe")
        expect_invalid_data_box(stage, cut_package(whole, stage.path("cut.exe"), len(DATA) + 2))


def case_cut_before_texts():
    # Cut inside the first record head: there are no texts to say it with.
    with Stage("damaged-cut-before-texts") as stage:
        whole = handmade(stage, "whole.exe")
        stub_length = read_stamp(whole)["stub_length"]
        cut = cut_package(whole, stage.path("cut.exe"), os.path.getsize(whole) - stub_length - 4)
        expect_silent_exit(stage, cut, 255)


def case_empty_message_text():
    # Incomplete, but the package has no text for it: no box.
    with Stage("damaged-empty-text") as stage:
        whole = handmade(stage, "whole.exe", group6=GROUP6[:31] + [""])
        expect_silent_exit(stage, cut_package(whole, stage.path("cut.exe")), 255)


def case_no_templates():
    # Whole, but without dialog templates the wizard cannot run: refused
    # before any window, not an exit without a word.
    with Stage("damaged-no-templates") as stage:
        whole = handmade(stage, "whole.exe")
        check(read_stamp(whole)["stub_length"] > 0, "StubLength patched")
        expect_invalid_data_box(stage, whole)


def case_damaged_template_blob():
    # Whole, with a template offset table pointing past the blob.
    with Stage("damaged-template-blob") as stage:
        blob = struct.pack("<8I", *([0x10000] * 8)) + bytes(64)
        whole = handmade(stage, "whole.exe", records=[(TAG_TEMPLATES, blob)])
        expect_invalid_data_box(stage, whole)


def case_frame_cannot_be_created():
    # Templates that name a window class the platform lacks: the wizard
    # cannot start, and the user is told.
    with Stage("damaged-frame-not-created") as stage:
        whole = handmade(stage, "whole.exe", records=[(TAG_TEMPLATES, frameless_templates())])
        run = stage.start(whole)
        driver = stage.driver()
        box = driver.wait_box()
        check_equal((box["text"], box["caption"]), (INVALID, TITLE), "box text and caption")
        driver.answer("ok")
        check_equal(run.wait(), 255, "exit status (-1)")


def damaged_default_templates(name, number, damage):
    """A case: the default templates with template `number` damaged; the
    installer shows text 31 before any window and exits with -1."""
    def case():
        with Stage("damaged-template-" + name) as stage:
            templates = default_templates(stage)
            templates[number] = damage(templates[number])
            whole = handmade(stage, "whole.exe", records=[(TAG_TEMPLATES, template_blob(templates))])
            expect_invalid_data_box(stage, whole)
    return case


def case_start_page_is_the_end_marker():
    # Page 6 only ends the wizard: a package starting there would run
    # nothing and exit as if all went well.
    with Stage("damaged-start-page-6") as stage:
        records = [(TAG_TEMPLATES, template_blob(default_templates(stage))), (TAG_START_PAGE, struct.pack("<H", 6))]
        expect_invalid_data_box(stage, handmade(stage, "whole.exe", records=records))


def case_long_text_in_cut_package():
    # Message texts of tens of thousands of characters fault inside the
    # platform's message box; the installer shows the first MAX_SHOWN_TEXT.
    for length in (32767, 60000):
        with Stage("damaged-long-text-%d" % length) as stage:
            text = ("This file contains invalid data. " * (length // 33 + 1))[:length]
            whole = handmade(stage, "whole.exe", group6=GROUP6[:31] + [text])
            cut = cut_package(whole, stage.path("cut.exe"))
            run = stage.start(cut)
            driver = stage.driver()
            box = driver.wait_box()
            check_equal(box["text"], text[:MAX_SHOWN_TEXT], "box text (%d characters in the package)" % length)
            driver.answer("ok")
            check_equal(run.wait(), 255, "exit status (-1)")


def case_whole_built_package_starts():
    # Control: a package from `zevrin build` passes every check and shows
    # its first page.
    with Stage("damaged-control-whole") as stage:
        package = Package(stage, "wizard")
        stage.start(package.exe)
        driver = stage.driver()
        view = driver.wait_page()
        check_equal(view.caption, package.title + " - " + package.page_text(0, 0), "caption of the first page")
        driver.run("close-system-menu")
        check_equal([e["code"] for e in driver.wait_exit() if e["event"] == "exit"], [1602],
                    "exit code (closing is cancelling)")


CASES = [
    ("cut by one byte", case_cut_by_one_byte),
    ("data region missing", case_terminator_only_declared),
    ("cut inside the header", case_cut_inside_header),
    ("cut before the texts", case_cut_before_texts),
    ("no text for the message", case_empty_message_text),
    ("whole package without templates", case_no_templates),
    ("damaged template blob", case_damaged_template_blob),
    ("frame dialog cannot be created", case_frame_cannot_be_created),
    # The welcome page with `CONTROL "", 1020, "NoSuchClass", ...` added.
    ("welcome page control of a class nobody made",
     damaged_default_templates("class-name", 5, lambda t: with_control_of_class(t, 1020, "NoSuchClass"))),
    # The marker 0xFFFF of the class ordinal becomes 0xFF03: the class is
    # read as a name.
    ("directory page class marker flipped",
     damaged_default_templates("class-marker", 2, lambda t: patched(t, TEXT1000, TEXT1000[:2] + b"\x03\xff" + TEXT1000[4:]))),
    ("finish page creation-data count 0x23",
     damaged_default_templates("creation-data", 6, lambda t: patched(t, TEXT1000, TEXT1000[:8] + b"\x23\x00"))),
    ("start page on the end marker", case_start_page_is_the_end_marker),
    ("long text in a cut package", case_long_text_in_cut_package),
    ("whole built package (control)", case_whole_built_package_starts),
    ("built package cut by one byte", case_cut_built_package),
]

if __name__ == "__main__":
    sys.exit(run_cases(CASES))
