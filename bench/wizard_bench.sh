#!/usr/bin/env bash
# Install speed through the wizard under Wine, beside the engine and the
# floor of bench/install_bench.sh, and how the progress page answers while
# it installs one large file. Builds `zevrin` (host preset), the stub,
# install_bench and the e2e UI driver (the MinGW preset this machine's
# Wine runs, see scripts/wine-arch.sh), packs the corpus of
# bench/install_bench.sh at level 9 and runs bench/wizard_bench.py, which
# drives the real installer through its pages (see bench/README.md for
# what is timed).
#
#   bench/wizard_bench.sh [--repeat N] [--work DIR] [--manifest-extra TOML]...
#                         [--large] [--mb N] [--no-corpus]
#
#   --repeat N      rounds of the corpus (default 3); each installs every
#                   package through the wizard, then runs install_bench
#                   (engine and floor) once
#   --work DIR      corpus, manifests and packages (default
#                   /tmp/zevrin-wizard-bench; the corpus is made as
#                   install_bench.sh makes it); kept between runs, a package
#                   packed again when its manifest, its payload, the stub or
#                   the tool changed. One run at a time in a folder.
#   --manifest-extra TOML
#                   one more package: the manifest with these TOML lines put
#                   at its top (a table header and keys, or dotted keys such
#                   as 'wizard.key = "value"'); may be given several times,
#                   each a package of its own, all measured in the same run
#                   as the manifest without them
#   --large         also install one large file through the wizard (each
#                   package: the plain one and one per --manifest-extra)
#                   while the driver asks the progress page every 50 ms
#                   whether it answers and repaints
#   --mb N          the large file's size in MiB (default 1024; implies
#                   --large): random bytes in DIR/large, made again only
#                   when the size changes
#   --no-corpus     only the large file
#
# The installers run in an e2e stage (tests/e2e/e2elib.py): a Wine prefix
# copied from the e2e template and an Xvfb of its own, both removed at the
# end; install_bench runs in the same prefix. Figures are wall-clock; run
# it on an idle machine, or several times.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
bench_root="$(dirname "$here")"
repeat=3
work=/tmp/zevrin-wizard-bench
extras=()
large=0
mb=1024
corpus=1
while [ $# -gt 0 ]; do
    case "$1" in
        --repeat) repeat="$2"; shift 2 ;;
        --work) work="$2"; shift 2 ;;
        --manifest-extra) extras+=("$2"); shift 2 ;;
        --large) large=1; shift ;;
        --mb) mb="$2"; large=1; shift 2 ;;
        --no-corpus) corpus=0; shift ;;
        -h|--help) sed -n '2,/^set /{/^#/s/^# \{0,1\}//p}' "$0"; exit 0 ;;
        *) echo "wizard_bench: unknown argument $1" >&2; exit 2 ;;
    esac
done
if ! [[ "$repeat" =~ ^[1-9][0-9]*$ ]] || ! [[ "$mb" =~ ^[1-9][0-9]*$ ]]; then
    echo "wizard_bench: --repeat and --mb take a whole number above 0" >&2
    exit 2
fi
if [ "$corpus" = 0 ] && [ "$large" = 0 ]; then
    echo "wizard_bench: --no-corpus without --large measures nothing" >&2
    exit 2
fi

# shellcheck source=bench/bench_lib.sh
source "$here/bench_lib.sh"
bench_build wizard_bench zevrin_stub install_bench zevrin_e2e_driver
mkdir -p "$work"
work="$(cd "$work" && pwd)"

# write_if_changed FILE: standard input into FILE, left alone (and so not
# newer than its package) when it holds that already.
write_if_changed() {
    local new
    new="$(mktemp)"
    cat >"$new"
    if [ -f "$1" ] && cmp -s "$new" "$1"; then
        rm -f "$new"
    else
        mv "$new" "$1"
    fi
}

# variants BASE.toml OUT_STEM: packs the manifest as it is and once per
# --manifest-extra; appends every package to the array `packages`.
variants() {
    local base="$1" stem="$2" dir i manifest
    dir="$(dirname "$base")"
    bench_pack "$base" "$stem.EXE" 9 "${@:3}"
    packages+=("$stem.EXE")
    for i in "${!extras[@]}"; do
        manifest="$dir/$(basename "$base" .toml)-x$((i + 1)).toml"
        { printf '%s\n\n' "${extras[$i]}"; cat "$base"; } | write_if_changed "$manifest"
        bench_pack "$manifest" "$stem-x$((i + 1)).EXE" 9 "${@:3}"
        packages+=("$stem-x$((i + 1)).EXE")
        echo "$(basename "$stem")-x$((i + 1)).EXE: $(basename "$base") with, at its top: ${extras[$i]}"
    done
}

args=()
if [ "$corpus" = 1 ]; then
    bench_corpus "$work"
    packages=()
    variants "$work/bench.toml" "$work/SETUP-9"
    for p in "${packages[@]}"; do args+=(--package "$p"); done
fi

if [ "$large" = 1 ]; then
    bytes=$((mb * 1048576))
    mkdir -p "$work/large/payload"
    big="$work/large/payload/big.bin"
    count=$((1 + ${#extras[@]}))
    # The payload, each package and the install at once.
    need=$(((count + 2) * bytes / 1024))
    if [ ! -f "$big" ] || [ "$(stat -c %s "$big")" != "$bytes" ]; then
        need=$((need + bytes / 1024))
    fi
    free=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
    if [ "$free" -lt "$need" ]; then
        echo "wizard_bench: --mb $mb needs about $((need / 1024)) MiB free in $work, there are $((free / 1024))" >&2
        exit 1
    fi
    if [ ! -f "$big" ] || [ "$(stat -c %s "$big")" != "$bytes" ]; then
        echo "making $mb MiB of random bytes in $big..." >&2
        head -c "$bytes" /dev/urandom >"$big.part"
        mv "$big.part" "$big"
    fi
    printf '%s\n' '# Made by bench/wizard_bench.sh: one large file of random bytes.' \
        '[product]' 'name = "Zevrin Large Bench"' '' '[folder]' \
        'default = "#Program Files#\\Zevrin Large Bench"' '' \
        '[[files]]' 'source = "payload/big.bin"' 'name = "big.bin"' | write_if_changed "$work/large/large.toml"
    packages=()
    variants "$work/large/large.toml" "$work/large/LARGE-9" "$big"
    for p in "${packages[@]}"; do args+=(--large "$p"); done
fi

export ZEVRIN_E2E_DRIVER="$bench_root/build/$bench_preset/zevrin_e2e_driver.exe"
export ZEVRIN_E2E_STUB="$bench_stub" ZEVRIN_E2E_TOOL="$bench_zevrin"
bench_heading
python3 "$here/wizard_bench.py" --work "$work" --repeat "$repeat" \
    --install-bench "$bench_root/build/$bench_preset/bench/install_bench.exe" "${args[@]}"
