#!/bin/bash
# Builds the libFuzzer targets of tests/fuzz with clang (ASan + UBSan) and
# runs each for SECONDS seconds (default 30):
#
#   bash scripts/fuzz.sh [SECONDS]
#
# Work goes to $ZEVRIN_FUZZ_DIR (default build/fuzz): the binaries, the
# generated seeds, the growing corpus of each target (kept between runs),
# full logs, and any crash-*/timeout-*/leak-* input, which reruns with
#   build/fuzz/fuzz_decode build/fuzz/artifacts/fuzz_decode-crash-...
# Inputs under tests/fuzz/regressions/<target>/ (if any) are run first.
# Prints each target's execution count from libFuzzer's final stats and a
# summary in CTest's wording (scripts/test.sh counts it); exits non-zero
# when a build fails or a target finds anything.
#
# Environment: ZEVRIN_FUZZ_DIR, ZEVRIN_FUZZ_TARGETS (default: all),
# CLANGXX (default clang++).
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
ROOT="$PWD"
TIME_EACH="${1:-30}"
OUT="${ZEVRIN_FUZZ_DIR:-$ROOT/build/fuzz}"
CXX="${CLANGXX:-clang++}"
# shellcheck disable=SC2206 # a list of names, split on purpose
TARGETS=(${ZEVRIN_FUZZ_TARGETS:-fuzz_decode fuzz_volumes fuzz_compare fuzz_header fuzz_log})

if ! [[ "$TIME_EACH" =~ ^[0-9]+$ ]] || [ "$TIME_EACH" = 0 ]; then
    echo "usage: $0 [SECONDS]" >&2
    exit 2
fi
if ! command -v "$CXX" >/dev/null; then
    echo "$CXX not found (apt-get install clang libclang-rt-14-dev libfuzzer-14-dev)" >&2
    exit 1
fi
mkdir -p "$OUT/artifacts" "$OUT/logs" || exit 1
# One run at a time per work directory: they share binaries, corpora, logs.
exec 9>"$OUT/.lock"
if ! flock -n 9; then
    echo "waiting for another fuzz.sh run in $OUT"
    flock 9
fi

CORE=(stub/*/*.cpp stub/shared/posix/*.cpp)
COMMON=(-std=c++17 -g -O1 -fno-omit-frame-pointer -I"$ROOT")
# shellcheck disable=SC2054 # the commas belong to the clang option
SANITIZE=(-fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)

# Per target: extra sources and libraries, and the largest input.
declare -A EXTRA=([fuzz_compare]="authoring/encoder.cpp -ldeflate -lz")
declare -A MAX_LEN=([fuzz_decode]=20000 [fuzz_volumes]=20000 [fuzz_compare]=8192 [fuzz_header]=20000 [fuzz_log]=8192)

FAILED=0
PASSED=0
RESULTS=()

build() {
    local name="$1" log="$OUT/logs/build-$1.log"
    shift
    if ! "$@" >"$log" 2>&1; then
        cat "$log"
        echo "=== build of $name failed"
        return 1
    fi
}

echo "=== building with $("$CXX" --version | head -n1)"
if ! build make_seeds "$CXX" "${COMMON[@]}" tests/fuzz/make_seeds.cpp authoring/encoder.cpp \
    authoring/templates.cpp -DZEVRIN_TEMPLATE_DIR="\"$ROOT/authoring/templates\"" \
    "${CORE[@]}" -ldeflate -lz -o "$OUT/make_seeds"; then
    exit 1
fi
rm -rf "$OUT/seeds" "$OUT/tmp"
mkdir -p "$OUT/tmp" || exit 1
export TMPDIR="$OUT/tmp"
"$OUT/make_seeds" "$OUT/seeds" || exit 1

for target in "${TARGETS[@]}"; do
    # shellcheck disable=SC2086 # EXTRA holds several words on purpose
    if ! build "$target" "$CXX" "${COMMON[@]}" "${SANITIZE[@]}" "tests/fuzz/$target.cpp" \
        "${CORE[@]}" ${EXTRA[$target]:-} -o "$OUT/$target"; then
        FAILED=$((FAILED + 1))
        RESULTS+=("$target: build failed")
        continue
    fi

    corpus="$OUT/corpus/$target"
    mkdir -p "$corpus"
    mkdir -p "$OUT/seeds/$target"
    dirs=("$corpus" "$OUT/seeds/$target")
    [ -d "tests/fuzz/regressions/$target" ] && dirs+=("tests/fuzz/regressions/$target")
    log="$OUT/logs/$target.log"
    echo "=== $target: ${TIME_EACH} s"
    "$OUT/$target" -max_total_time="$TIME_EACH" -print_final_stats=1 -timeout=10 \
        -rss_limit_mb=2048 -max_len="${MAX_LEN[$target]:-8192}" \
        -artifact_prefix="$OUT/artifacts/$target-" "${dirs[@]}" >"$log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
    cov=$(grep -aE '^#[0-9]+.*(DONE|INITED)' "$log" | tail -n1 | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [^ ]+')
    if [ "$rc" = 0 ]; then
        PASSED=$((PASSED + 1))
        RESULTS+=("$target: ${runs:-?} executions, ${cov:-no coverage line}")
    else
        FAILED=$((FAILED + 1))
        RESULTS+=("$target: FAILED (exit $rc) after ${runs:-?} executions; log $log")
        # The report: what went wrong, where, and the input that did it.
        grep -avE '^#[0-9]+' "$log" | tail -n 80
    fi
done

echo
echo "=== fuzz results"
printf '%s\n' "${RESULTS[@]}"
total=$((PASSED + FAILED))
echo "fuzz: $((total ? PASSED * 100 / total : 0))% tests passed, $FAILED tests failed out of $total"
[ "$FAILED" = 0 ]
