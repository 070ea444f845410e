#!/usr/bin/env python3
"""The install benchmarks' corpus: real files gathered into WORK/corpus and
the manifest WORK/bench.toml that packs them (bench/install_bench.sh and
bench/wizard_bench.sh).

    python3 bench/corpus.py WORK

In sorted path order, each file that still fits its share (files over
4 MB left out): 40 MB of Wine's own DLLs and programs (its x86_64-windows
folder, else its i386-windows one), 15 MB of C headers (/usr/include) and
5 MB of package documentation (/usr/share/doc), the sub-folders kept, names
made Windows-safe (ASCII; <>:"|?* and device names replaced; names equal
but for letter case, or longer than 120 characters, left out). At least
1000 files and 50 MB, or it stops. The corpus folder and the manifest are
made anew only when the choice of files changed. Prints one line: the
files, their size and where Wine's came from.
"""
import os, re, shutil, stat, sys

work = sys.argv[1]
MB = 1000000
MAX_FILE = 4 * MB
# The first of these that exists: the 64-bit DLLs where Wine has them.
wine = [d for d in ("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/wine/x86_64-windows",
                    "/usr/lib/i386-linux-gnu/wine/i386-windows", "/usr/lib/wine/i386-windows") if os.path.isdir(d)]
if not wine:
    sys.exit("bench corpus: no Wine DLL folder (x86_64-windows or i386-windows) found")
sources = [("wine", wine[0], 40 * MB), ("include", "/usr/include", 15 * MB), ("doc", "/usr/share/doc", 5 * MB)]
DEVICES = {"con", "prn", "aux", "nul"} | {p + str(n) for p in ("com", "lpt") for n in range(1, 10)}

def safe(part):
    part = "".join(c if 32 <= ord(c) < 127 and c not in '<>:"|?*\\' else "_" for c in part)
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
    left = share
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
        name = "\\".join(parts)
        if len(name) > 120:
            continue
        folders = {"\\".join(parts[:i]).lower() for i in range(1, len(parts))}
        if name.lower() in taken_files or name.lower() in taken_dirs or folders & taken_files:
            continue
        taken_files.add(name.lower())
        taken_dirs |= folders
        chosen.append((path, name, info.st_size))
        left -= info.st_size

total = sum(size for _, _, size in chosen)
if len(chosen) < 1000 or total < 50 * MB:
    sys.exit("bench corpus: the corpus is %d files, %.1f MB; at least 1000 and 50 MB are needed" % (len(chosen), total / MB))

# The corpus folder is made anew only when the choice changed.
listing = "".join("%s\t%s\t%d\n" % c for c in chosen)
listing_path = os.path.join(work, "corpus.list")
corpus = os.path.join(work, "corpus")
if not os.path.exists(listing_path) or open(listing_path).read() != listing:
    shutil.rmtree(corpus, ignore_errors=True)
    for path, name, _ in chosen:
        dest = os.path.join(corpus, *name.split("\\"))
        os.makedirs(os.path.dirname(dest), exist_ok=True)
        shutil.copy2(path, dest)
    def quote(s):
        return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'
    with open(os.path.join(work, "bench.toml"), "w") as f:
        f.write("# Made by bench/corpus.py: %d real files, %d bytes.\n" % (len(chosen), total))
        f.write('[product]\nname = "Zevrin Install Bench"\n\n[folder]\ndefault = "#Program Files#\\\\Zevrin Install Bench"\n')
        for _, name, _ in chosen:
            f.write("\n[[files]]\nsource = %s\nname = %s\n" % (quote("corpus/" + name.replace("\\", "/")), quote(name)))
    with open(listing_path, "w") as f:
        f.write(listing)
counts = {}
for _, name, size in chosen:
    c = counts.setdefault(name.split("\\")[0], [0, 0])
    c[0] += 1
    c[1] += size
print("corpus: %d files, %.2f MB (%s); wine from %s" % (len(chosen), total / MB,
      ", ".join("%s %d files %.1f MB" % (k, v[0], v[1] / MB) for k, v in counts.items()), wine[0]))