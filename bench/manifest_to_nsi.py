#!/usr/bin/env python3
"""Writes an NSIS script that packs the same files, under the same names,
as a manifest's [[files]] (source, name): for bench/level_table.sh.

    python3 bench/manifest_to_nsi.py MANIFEST COMPRESSOR OUT.nsi OUTFILE
"""
import os, sys, tomllib

manifest, compressor, out, outfile = sys.argv[1:5]
with open(manifest, "rb") as f:
    files = tomllib.load(f)["files"]
base = os.path.dirname(os.path.abspath(manifest))


def nsis(text):
    return text.replace("$", "$$").replace('"', '$\\"')


with open(out, "w", encoding="utf-8-sig") as f:
    f.write("Unicode true\nSetCompressor %s\nOutFile \"%s\"\n" % (compressor, nsis(outfile)))
    f.write("InstallDir \"$PROGRAMFILES\\Level Bench\"\nSection\n")
    current = None
    for entry in files:
        name = entry.get("name", os.path.basename(entry["source"]))
        folder, _, leaf = name.rpartition("\\")
        if folder != current:
            f.write("SetOutPath \"$INSTDIR%s\"\n" % (("\\" + nsis(folder)) if folder else ""))
            current = folder
        f.write("File \"/oname=%s\" \"%s\"\n" % (nsis(leaf), nsis(os.path.join(base, entry["source"]))))
    f.write("SectionEnd\n")
