#!/usr/bin/env bash
# Package sizes: `zevrin build` at several levels against gzip -9 and
# xz -9 of a tar of the same files.
#
#   bench/package_sizes.sh [--zevrin PATH] [--max-mb N] [--levels "1 6 9 12"] [DIR...]
#
# The corpus is chosen as decode_bench chooses it: regular files (no
# links, none empty, none over 8 MB) in sorted order, each one that still
# fits its share: 20 MB of executables (/usr/bin), 20 MB of shared
# libraries (/usr/lib/x86_64-linux-gnu/*.so*), 23.75 MB of C headers
# (/usr/include) and 0.25 MB of licence texts (/usr/share/common-licenses),
# scaled to --max-mb (default 64). Directories given on the command line
# replace these sources and share the size evenly.
#
# Every file is one stream in the package, as the installer needs it;
# tar + gzip/xz compress the files as one solid stream, which an installer
# reading file by file cannot do. Sizes are of the package without the
# installer program (a stand-in stub of 24 bytes is used), so the header
# (texts, templates, file table) is included. Times are wall-clock
# seconds of one run on this machine.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source_dir="$(dirname "$here")"
zevrin="$source_dir/build/host/zevrin"
max_mb=64
levels="1 6 9 12"
dirs=()
while [ $# -gt 0 ]; do
    case "$1" in
        --zevrin) zevrin="$2"; shift 2 ;;
        --max-mb) max_mb="$2"; shift 2 ;;
        --levels) levels="$2"; shift 2 ;;
        -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
        -*) echo "package_sizes: unknown option $1" >&2; exit 2 ;;
        *) dirs+=("$1"); shift ;;
    esac
done
[ -x "$zevrin" ] || { echo "package_sizes: no zevrin at $zevrin (build the host preset or give --zevrin)" >&2; exit 1; }
for tool in python3 tar gzip xz; do
    command -v "$tool" >/dev/null || { echo "package_sizes: $tool is needed" >&2; exit 1; }
done

work="$(mktemp -d /tmp/zevrin-package-sizes.XXXXXX)"
trap 'rm -rf "$work"' EXIT

# --- corpus: the list of files, one absolute path a line ---------------------
python3 - "$max_mb" "$work/files" "${dirs[@]}" <<'EOF'
import os, stat, sys
max_mb, out, dirs = float(sys.argv[1]), sys.argv[2], sys.argv[3:]
MB = 1000000
if dirs:
    sources = [(d, True, None, 1) for d in dirs]
else:
    sources = [("/usr/bin", False, None, 20 * MB),
               ("/usr/lib/x86_64-linux-gnu", False, ".so", 20 * MB),
               ("/usr/include", True, None, 23750000),
               ("/usr/share/common-licenses", True, None, 250000)]
total = max_mb * MB
shares = sum(s[3] for s in sources)

def walk(directory, recursive, contains, found):
    try:
        names = sorted(os.listdir(directory), key=lambda n: n.encode("utf-8", "surrogateescape"))
    except OSError:
        return
    for name in names:
        path = directory + "/" + name
        try:
            info = os.lstat(path)
        except OSError:
            continue
        if stat.S_ISDIR(info.st_mode):
            if recursive:
                walk(path, recursive, contains, found)
        elif stat.S_ISREG(info.st_mode) and 0 < info.st_size <= 8 * MB and (contains is None or contains in name):
            found.append((path, info.st_size))

with open(out, "w") as f:
    for directory, recursive, contains, share in sources:
        share = share / shares * total
        used = 0
        found = []
        walk(directory, recursive, contains, found)
        for path, size in found:
            if used + size > share or not os.access(path, os.R_OK):
                continue
            used += size
            f.write(path + "\n")
EOF
count=$(wc -l < "$work/files")
[ "$count" -gt 0 ] || { echo "package_sizes: no files found" >&2; exit 1; }
corpus_bytes=$(tr '\n' '\0' < "$work/files" | xargs -0 stat -c %s | awk '{s += $1} END {print s}')

# --- the manifest: every file at its own name; the default templates -------
{
    printf '[product]\nname = "Corpus"\n'
    if [ -f "$source_dir/authoring/templates/default.rc" ]; then
        printf "[wizard]\ntemplates = '%s'\n" "$source_dir/authoring/templates/default.rc"
    fi
    n=0
    while IFS= read -r path; do
        n=$((n + 1))
        printf "[[files]]\nsource = '%s'\nname = 'f%05d'\n" "$path" "$n"
    done < "$work/files"
} > "$work/corpus.toml"
# A stand-in stub: just the 24-byte stamp record.
printf 'wwgT)H\0\0\0\0\0\0\0\0\0\0\0\0\377\377\0\0\0\0' > "$work/stub"

seconds() { # command... -> prints wall-clock seconds, output discarded
    local start end
    start=$(date +%s.%N)
    "$@" > /dev/null
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN {printf "%.1f", b - a}'
}

row() { # name bytes seconds
    awk -v n="$1" -v b="$2" -v t="$3" -v c="$corpus_bytes" \
        'BEGIN {printf "%-22s %14d %8.2f%% %8.2f MB %8s s\n", n, b, 100 * b / c, b / 1000000, t}'
}

printf 'corpus: %d files, %d bytes (%.2f MB)\n\n' "$count" "$corpus_bytes" "$(awk -v c="$corpus_bytes" 'BEGIN {print c / 1000000}')"
printf '%-22s %14s %9s %11s %10s\n' "" "bytes" "of corpus" "size" "time"
for level in $levels; do
    t=$(seconds "$zevrin" build "$work/corpus.toml" --stub "$work/stub" --level "$level" -o "$work/SETUP.EXE")
    bytes=$(( $(stat -c %s "$work/SETUP.EXE") - 24 ))
    row "zevrin --level $level" "$bytes" "$t"
done
rm -f "$work/SETUP.EXE"
sed 's|^/||' "$work/files" > "$work/relative"
tar -C / -cf "$work/corpus.tar" -T "$work/relative"
row "tar" "$(stat -c %s "$work/corpus.tar")" "-"
t=$(seconds sh -c "gzip -9 -c '$work/corpus.tar' > '$work/corpus.tar.gz'")
row "gzip -9 (tar)" "$(stat -c %s "$work/corpus.tar.gz")" "$t"
t=$(seconds sh -c "xz -9 -T1 -c '$work/corpus.tar' > '$work/corpus.tar.xz'")
row "xz -9 (tar)" "$(stat -c %s "$work/corpus.tar.xz")" "$t"
