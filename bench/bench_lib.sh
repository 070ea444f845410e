# shellcheck shell=bash
# Shared by the install benchmarks (bench/install_bench.sh,
# bench/wizard_bench.sh): the build, the corpus, the packing and the
# heading of a run. Source it from bash after setting bench_root to the
# checkout; it sources scripts/wine-arch.sh, which sets
# ZEVRIN_WINE_PRESET (mingw, or mingw64 where no 32-bit program runs) and
# ZEVRIN_WINE.

: "${bench_root:?set bench_root to the checkout before sourcing bench_lib.sh}"
# shellcheck source=scripts/wine-arch.sh
source "$bench_root/scripts/wine-arch.sh"
bench_preset="$ZEVRIN_WINE_PRESET"
bench_zevrin="$bench_root/build/host/zevrin"
bench_stub="$bench_root/build/$bench_preset/zevrin_stub.exe"

# bench_build NAME TARGET...: zevrin in the host preset and the TARGETs in
# this Wine's preset; the build's output only when it fails.
bench_build() {
    local name="$1" log
    shift
    log="$(mktemp)"
    echo "building zevrin (host) and $* ($bench_preset)..." >&2
    if ! (cd "$bench_root" &&
        cmake --preset host && cmake --build --preset host -j2 --target zevrin &&
        cmake --preset "$bench_preset" && cmake --build --preset "$bench_preset" -j2 --target "$@") \
        >"$log" 2>&1; then
        cat "$log"
        rm -f "$log"
        echo "$name: the build failed" >&2
        exit 1
    fi
    rm -f "$log"
}

# bench_corpus WORK: the corpus in WORK/corpus and its manifest
# WORK/bench.toml (bench/corpus.py).
bench_corpus() {
    python3 "$bench_root/bench/corpus.py" "$1"
}

# bench_pack MANIFEST OUT LEVEL [FILE...]: packs MANIFEST at LEVEL unless
# OUT was packed by this function from the same manifest, stub and tool
# (their checksums) and FILEs (size and time), and is unchanged since.
# OUT.key holds what it was packed from: a work folder shared with another
# checkout gets packages of that checkout's stub, newer than ours.
bench_pack() {
    local manifest="$1" out="$2" level="$3" start key
    key="$(
        echo "level $level"
        sha256sum "$manifest" "$bench_stub" "$bench_zevrin"
        for file in "${@:4}"; do stat -c '%n %s %y' "$file"; done
    )"
    if [ -f "$out" ] && [ -f "$out.key" ] &&
        [ "$(cat "$out.key")" = "$key"$'\n'"$(stat -c '%s %y' "$out")" ]; then
        return 0
    fi
    echo "packing $(basename "$out") at level $level..." >&2
    start=$(date +%s%N)
    "$bench_zevrin" build "$manifest" -o "$out" --stub "$bench_stub" --level "$level" >/dev/null
    echo "packed $(basename "$out") in $((($(date +%s%N) - start) / 1000000)) ms"
    printf '%s\n%s\n' "$key" "$(stat -c '%s %y' "$out")" >"$out.key"
}

# bench_heading: when, the load, the cores and the Wine of this run, and
# the stub the packages carry.
bench_heading() {
    echo "$(date -u '+%Y-%m-%d %H:%M:%S UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores," \
        "$ZEVRIN_WINE_ARCH Wine ($("$ZEVRIN_WINE" --version 2>/dev/null || echo '?')), preset $bench_preset"
    echo "stub $bench_stub (checkout $(git -C "$bench_root" describe --always --dirty 2>/dev/null || echo '?'))"
}
