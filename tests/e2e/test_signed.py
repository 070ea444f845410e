#!/usr/bin/env python3
"""Signing after the build: a SETUP.EXE signed with Authenticode
(osslsigncode, a certificate made here with openssl) verifies, is read by
`zevrin list`, `verify` and `extract`, and installs every file byte for
byte under Wine; the same for the first file of a package on two volumes
(only SETUP.EXE is signed: the volumes are data). Before signing, the
PE checksum the build wrote is the one Windows computes."""

import os
import shutil
import struct
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2elib import Failure, Skip, Stage, check, check_equal, need_file, run_cases, tool_path
from test_install import FOLDER, InstallPackage, finish_and_close, installed, payload, to_progress


def need_program(name):
    path = shutil.which(name)
    if not path:
        raise Skip("%s is not installed" % name)
    return path


def run(command, cwd, what):
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=300)
    if result.returncode != 0:
        raise Failure("%s failed (%d): %s%s" % (what, result.returncode, result.stdout, result.stderr))
    return result.stdout + result.stderr


def windows_checksum(data, field):
    """CheckSumMappedFile's sum: 16-bit words with end-around carry (an odd
    last byte as the low half of one), the field left out, plus the
    length."""
    total = 0
    for i in range(0, len(data), 2):
        if field <= i < field + 4:
            continue
        total += data[i] | (data[i + 1] << 8 if i + 1 < len(data) else 0)
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def sign(exe, work):
    """Signs `exe` in place with a throwaway certificate; returns the
    certificate's path."""
    key, cert = os.path.join(work, "key.pem"), os.path.join(work, "cert.pem")
    run([need_program("openssl"), "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
         "-days", "2", "-subj", "/CN=Zevrin Setup test signer"], work, "openssl req")
    signed = exe + ".signed"
    run([need_program("osslsigncode"), "sign", "-certs", cert, "-key", key, "-n", "Zevrin Setup test",
         "-h", "sha256", "-in", exe, "-out", signed], work, "osslsigncode sign")
    os.replace(signed, exe)
    return cert


def signed_install(volume_size=None):
    def case():
        osslsigncode = need_program("osslsigncode")
        need_program("openssl")
        name = "signed" + ("-volumes" if volume_size else "")
        with Stage(name) as stage:
            files = payload(10, 7, big=200000)
            options = ["--volume-size", volume_size] if volume_size else []
            package = InstallPackage(stage, files, options=options)
            work = os.path.dirname(package.exe)
            volume = package.exe[:-4] + ".D01"
            check(os.path.exists(volume) == bool(volume_size), "a second volume only with --volume-size")

            with open(package.exe, "rb") as f:
                built = f.read()
            field = struct.unpack_from("<I", built, 0x3C)[0] + 24 + 64
            check_equal(struct.unpack_from("<I", built, field)[0], windows_checksum(built, field), "PE checksum")
            # osslsigncode sums an unsigned file too, but leaves out an odd
            # last byte, which Windows counts.
            if len(built) % 2 == 0:
                unsigned = subprocess.run([osslsigncode, "verify", package.exe], capture_output=True, text=True,
                                          timeout=60)
                report = unsigned.stdout + unsigned.stderr
                check("PE checksum" in report, "osslsigncode shows the checksum: " + report)
                check("invalid PE checksum" not in report, "the built checksum: " + report)

            size = os.path.getsize(package.exe)
            cert = sign(package.exe, work)
            check(os.path.getsize(package.exe) > size, "the signature is appended")
            report = run([osslsigncode, "verify", "-CAfile", cert, package.exe], work, "osslsigncode verify")
            check("Signature verification: ok" in report, "osslsigncode verify: " + report)
            check("invalid PE checksum" not in report, "the signed file's checksum: " + report)

            tool = need_file(tool_path(), "the host tool zevrin")
            listing = run([tool, "list", package.exe], work, "zevrin list")
            for file_name in files:
                check(file_name in listing, "zevrin list names %s" % file_name)
            run([tool, "verify", package.exe], work, "zevrin verify")
            out = os.path.join(work, "extracted")
            run([tool, "extract", package.exe, "-d", out], work, "zevrin extract")
            for file_name, data in files.items():
                with open(os.path.join(out, *file_name.split("\\")), "rb") as f:
                    check(f.read() == data, "zevrin extract: %s differs" % file_name)

            setup = stage.start(package.exe)
            driver = stage.driver()
            view = to_progress(stage, driver, package)
            if view.caption == package.title + " - " + package.page_text(4, 0):
                view = finish_and_close(stage, driver, setup)
            else:
                stage.shot("5-finish")
                driver.press(2)
                check_equal(setup.wait(), 0, "exit status")
            check_equal(view.text(1000, "page"), package.page_text(5, 1), "success text")
            check_equal(installed(stage, FOLDER, files)[1], [], "files missing")
    return case


CASES = [
    ("a signed SETUP.EXE verifies, reads and installs", signed_install()),
    ("a signed first file of two volumes verifies, reads and installs", signed_install("160K")),
]

if __name__ == "__main__":
    sys.exit(run_cases(CASES))
