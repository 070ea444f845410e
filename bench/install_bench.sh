#!/usr/bin/env bash
# Install speed under Wine: builds `zevrin` (host preset), the stub and
# install_bench (the MinGW preset this machine's Wine runs, see
# scripts/wine-arch.sh), gathers a corpus of real files, packs it at
# level 9 and at level 0 (stored), and runs install_bench on both
# packages (see bench/install_bench.cpp for what is timed).
#
#   bench/install_bench.sh [--repeat N] [--work DIR]
#
#   --repeat N   rounds (default 5)
#   --work DIR   corpus, manifest and packages (default
#                /tmp/zevrin-install-bench); kept between runs, the
#                packages rebuilt when the manifest, stub or tool is newer.
#
# The corpus, in sorted path order, each file that still fits its share
# (files over 4 MB left out): 40 MB of Wine's own DLLs and programs
# (its x86_64-windows folder, else its i386-windows one), 15 MB of C headers
# (/usr/include) and 5 MB of package documentation (/usr/share/doc), the
# sub-folders kept, names made Windows-safe (ASCII; <>:"|?* and device
# names replaced; names equal but for letter case, or longer than 120
# characters, left out). At least 1000 files and 50 MB, or it stops.
#
# Wine: its own prefix ($ZEVRIN_WINEPREFIX, default
# /tmp/zevrin-wine64-bench or /tmp/zevrin-wine-bench) through
# scripts/wine-env.sh, which starts an Xvfb when no display is reachable.
# The installs go to DIR/installs (through Wine's Z: drive, so on the
# same disk as the corpus). Figures are wall-clock; run it on an idle
# machine, or several times.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
repeat=5
work=/tmp/zevrin-install-bench
while [ $# -gt 0 ]; do
    case "$1" in
        --repeat) repeat="$2"; shift 2 ;;
        --work) work="$2"; shift 2 ;;
        -h|--help) sed -n '2,31p' "$0"; exit 0 ;;
        *) echo "install_bench: unknown argument $1" >&2; exit 2 ;;
    esac
done

# shellcheck source=scripts/wine-arch.sh
source "$root/scripts/wine-arch.sh"
preset="$ZEVRIN_WINE_PRESET"

log="$(mktemp)"
trap 'rm -f "$log"' EXIT
cd "$root"
echo "building zevrin (host) and the stub and install_bench ($preset)..." >&2
if ! { cmake --preset host && cmake --build --preset host -j2 --target zevrin &&
       cmake --preset "$preset" && cmake --build --preset "$preset" -j2 --target zevrin_stub install_bench; } \
       >"$log" 2>&1; then
    cat "$log"
    echo "install_bench: the build failed" >&2
    exit 1
fi
zevrin="$root/build/host/zevrin"
stub="$root/build/$preset/zevrin_stub.exe"
bench="$root/build/$preset/bench/install_bench.exe"

# --- corpus and manifest ------------------------------------------------------
mkdir -p "$work"
work="$(cd "$work" && pwd)"
python3 - "$work" <<'EOF'
import os, re, shutil, stat, sys

work = sys.argv[1]
MB = 1000000
MAX_FILE = 4 * MB
# The first of these that exists: the 64-bit DLLs where Wine has them.
wine = [d for d in ("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/wine/x86_64-windows",
                    "/usr/lib/i386-linux-gnu/wine/i386-windows", "/usr/lib/wine/i386-windows") if os.path.isdir(d)]
if not wine:
    sys.exit("install_bench: no Wine DLL folder (x86_64-windows or i386-windows) found")
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
    sys.exit("install_bench: the corpus is %d files, %.1f MB; at least 1000 and 50 MB are needed" % (len(chosen), total / MB))

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
        f.write("# Made by bench/install_bench.sh: %d real files, %d bytes.\n" % (len(chosen), total))
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
EOF

# --- packages -----------------------------------------------------------------
for level in 9 0; do
    package="$work/SETUP-$level.EXE"
    if [ ! -f "$package" ] || [ "$work/bench.toml" -nt "$package" ] || [ "$stub" -nt "$package" ] ||
        [ "$zevrin" -nt "$package" ]; then
        echo "packing at level $level..." >&2
        start=$(date +%s%N)
        "$zevrin" build "$work/bench.toml" -o "$package" --stub "$stub" --level "$level" >/dev/null
        echo "packed $(basename "$package") in $((($(date +%s%N) - start) / 1000000)) ms"
    fi
done

# --- run under Wine -------------------------------------------------------------
if [ "$ZEVRIN_WINE_ARCH" = win64 ]; then
    export ZEVRIN_WINEPREFIX="${ZEVRIN_WINEPREFIX:-/tmp/zevrin-wine64-bench}"
else
    export ZEVRIN_WINEPREFIX="${ZEVRIN_WINEPREFIX:-/tmp/zevrin-wine-bench}"
fi
# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
win() { printf 'Z:%s' "${1//\//\\}"; }
echo "$(date -u '+%Y-%m-%d %H:%M:%S UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores," \
    "$ZEVRIN_WINE_ARCH Wine ($("$ZEVRIN_WINE" --version 2>/dev/null || echo '?')), preset $preset"
"$ZEVRIN_WINE" "$bench" --source "$(win "$work/corpus")" --target "$(win "$work/installs")" --repeat "$repeat" \
    "$(win "$work/SETUP-9.EXE")" "$(win "$work/SETUP-0.EXE")"
