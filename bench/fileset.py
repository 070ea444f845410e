#!/usr/bin/env python3
"""A second many-file set for bench/level_table.sh, made the same way on
every run: C headers (/usr/include), package documentation
(/usr/share/doc) and Wine's DLLs, with names a publisher meets (accents,
a sharp s, blanks) and folders many levels deep.

    python3 bench/fileset.py WORK [--mb N]

In sorted path order, each file that still fits its share of N MB
(default 64; 40 % headers, 25 % documentation, 35 % DLLs; files over 4 MB
left out). The three parts go into folders "Kopfzeilen für C",
"Dokumentation (Straße)" and "Bibliothèques Wine"; every seventh file's
name starts with "Größe ". Names are made Windows-safe (cp1252; <>:"|?*
and device names replaced; names equal but for letter case left out).
Writes WORK/set (the files) and WORK/set.toml (the manifest), anew only
when the choice changed; prints one line: the files, their size, the deepest path.
"""
import os, shutil, stat, sys

work = sys.argv[1]
mb = int(sys.argv[sys.argv.index("--mb") + 1]) if "--mb" in sys.argv else 64
MB = 1000000
MAX_FILE = 4 * MB
wine = [d for d in ("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/wine/x86_64-windows",
                    "/usr/lib/i386-linux-gnu/wine/i386-windows", "/usr/lib/wine/i386-windows") if os.path.isdir(d)]
sources = [("Kopfzeilen für C", "/usr/include", 0.40), ("Dokumentation (Straße)", "/usr/share/doc", 0.25)]
if wine:
    sources.append(("Bibliothèques Wine", wine[0], 0.35))
DEVICES = {"con", "prn", "aux", "nul"} | {p + str(n) for p in ("com", "lpt") for n in range(1, 10)}


def safe(part):
    part = "".join(c if 32 <= ord(c) < 256 and ord(c) != 127 and c not in '<>:"|?*\\' else "_" for c in part)
    if part.split(".")[0].lower() in DEVICES:
        part = "_" + part
    if part.endswith((".", " ")):
        part += "_"
    return part


def walk(top):
    for base, dirs, names in os.walk(top):
        dirs.sort(key=lambda n: n.encode("utf-8", "surrogateescape"))
        for name in sorted(names, key=lambda n: n.encode("utf-8", "surrogateescape")):
            yield os.path.join(base, name)


chosen, taken_files, taken_dirs = [], set(), set()
for label, top, share in sources:
    left = share * mb * MB
    for path in walk(top):
        try:
            info = os.lstat(path)
        except OSError:
            continue
        if not stat.S_ISREG(info.st_mode) or info.st_size > MAX_FILE or info.st_size > left:
            continue
        if not os.access(path, os.R_OK):
            continue
        parts = [label] + [safe(p) for p in os.path.relpath(path, top).split(os.sep)]
        if len(chosen) % 7 == 6:
            parts[-1] = "Größe " + parts[-1]
        name = "\\".join(parts)
        if len(name) > 200:
            continue
        folders = {"\\".join(parts[:i]).lower() for i in range(1, len(parts))}
        if name.lower() in taken_files or name.lower() in taken_dirs or folders & taken_files:
            continue
        taken_files.add(name.lower())
        taken_dirs |= folders
        chosen.append((path, name, info.st_size))
        left -= info.st_size

total = sum(size for _, _, size in chosen)
listing = "".join("%s\t%s\t%d\n" % c for c in chosen)
listing_path = os.path.join(work, "set.list")
folder = os.path.join(work, "set")
os.makedirs(work, exist_ok=True)
if not os.path.exists(listing_path) or open(listing_path, encoding="utf-8").read() != listing:
    shutil.rmtree(folder, ignore_errors=True)
    for path, name, _ in chosen:
        dest = os.path.join(folder, *name.split("\\"))
        os.makedirs(os.path.dirname(dest), exist_ok=True)
        shutil.copy2(path, dest)

    def quote(s):
        return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'
    with open(os.path.join(work, "set.toml"), "w", encoding="utf-8") as f:
        f.write("# Made by bench/fileset.py: %d files, %d bytes.\n" % (len(chosen), total))
        f.write('[product]\nname = "Zevrin Level Bench"\n')
        for _, name, _ in chosen:
            f.write("\n[[files]]\nsource = %s\nname = %s\n" % (quote("set/" + name.replace("\\", "/")), quote(name)))
    with open(listing_path, "w", encoding="utf-8") as f:
        f.write(listing)
deepest = max((name for _, name, _ in chosen), key=lambda n: n.count("\\"))
print("set: %d files, %.2f MB, %d folders deep (%s)" % (len(chosen), total / MB, deepest.count("\\"), deepest))
