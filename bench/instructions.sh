#!/bin/bash
# Instructions per output byte of our decoder and of zlib's inflate, both
# built with the same compiler and flags, on the same corpus: counted with
# qemu user mode and a small instruction-counting plugin, so the figure
# does not move with the load on the machine.
#
#   bash bench/instructions.sh [--max-mb N] [--level N] [--builds "i686-Os x86_64-Os x86_64-O2"]
#                              [--decoder-flags "-O2"]
#
# Builds:
#   i686-Os    the stub's target and flags (i686, -Os and the stub's code
#              generation options), for Linux (Debian's gcc-i686-linux-gnu),
#              run under qemu-i386: the decoder as shipped, short of the
#              C library (glibc's memcpy/memset instead of msvcrt's)
#   x86_64-Os  the same flags for x86-64, under qemu-x86_64
#   x86_64-O2  the host preset's flags, under qemu-x86_64
# In each, the decoder's sources (stub/decode, stub/shared) and zlib's
# (Debian's source package, so both see the same flags) are compiled with
# the build's flags; bench/decode_count.cpp, the driver, with -O2.
# decode_count runs once per decoder and once without decoding; the
# difference over the output bytes is the figure.
#
# Needs (installed with apt-get when missing, as root): qemu-user,
# gcc/g++-i686-linux-gnu, dpkg-dev; qemu's and zlib's source packages
# (a deb-src entry is added under /etc/apt/sources.list.d when there is
# none). The plugin is built against qemu-plugin.h from qemu's source;
# nothing of qemu's is kept in the tree. Work and cache:
# $ZEVRIN_COUNT_DIR (default build/instructions).
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT="$PWD"
WORK="${ZEVRIN_COUNT_DIR:-$ROOT/build/instructions}"
MAX_MB=16
LEVEL=6
BUILDS="i686-Os x86_64-Os x86_64-O2"
DECODER_FLAGS="" # added for stub/decode/decoder.cpp alone, to try its own flags
while [ $# -gt 0 ]; do
    case "$1" in
    --max-mb) MAX_MB="$2"; shift ;;
    --level) LEVEL="$2"; shift ;;
    --builds) BUILDS="$2"; shift ;;
    --decoder-flags) DECODER_FLAGS="$2"; shift ;;
    *) echo "usage: $0 [--max-mb N] [--level N] [--builds \"i686-Os x86_64-Os x86_64-O2\"]" >&2; exit 2 ;;
    esac
    shift
done
mkdir -p "$WORK"
log="$WORK/last.log"
: >"$log"

need_packages=()
command -v qemu-i386 >/dev/null || need_packages+=(qemu-user)
command -v i686-linux-gnu-g++ >/dev/null || need_packages+=(gcc-i686-linux-gnu g++-i686-linux-gnu)
command -v dpkg-source >/dev/null || need_packages+=(dpkg-dev)
if [ ${#need_packages[@]} -gt 0 ]; then
    echo "installing ${need_packages[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need_packages[@]}" >>"$log" 2>&1 ||
        { cat "$log"; exit 1; }
fi

# Source packages: qemu's for its plugin header, zlib's to build it with
# each build's flags.
source_package() {
    local name="$1"
    if ! apt-get source --print-uris "$name" >/dev/null 2>&1; then
        # The main archive's entry only: the security archive's mirror may
        # carry no sources.
        awk 'BEGIN {RS = ""; ORS = "\n\n"} NR == 1 {sub(/^Types: deb/, "Types: deb-src"); print}' \
            /etc/apt/sources.list.d/debian.sources >/etc/apt/sources.list.d/zevrin-deb-src.sources
        apt-get update -qq >>"$log" 2>&1
    fi
    (cd "$WORK/src" && apt-get source -qq "$@" "$name" >>"$log" 2>&1)
}
mkdir -p "$WORK/src"
if [ ! -f "$WORK/plugin/qemu-plugin.h" ]; then
    echo "fetching qemu's source package for qemu-plugin.h"
    source_package qemu --download-only
    mkdir -p "$WORK/plugin"
    tarballs=("$WORK"/src/qemu_*.orig.tar.*)
    member=$(tar -tf "${tarballs[0]}" | grep '/include/qemu/qemu-plugin.h$' | head -n1)
    tar -xOf "${tarballs[0]}" "$member" >"$WORK/plugin/qemu-plugin.h"
    rm -f "$WORK"/src/qemu_*
fi
if [ ! -d "$WORK/src/zlib" ]; then
    echo "fetching zlib's source package"
    source_package zlib
    unpacked=("$WORK"/src/zlib-*/)
    mv "${unpacked[0]}" "$WORK/src/zlib"
    rm -f "$WORK"/src/zlib_*
fi

# The plugin: one counter, added to by each translated block as it runs.
cat >"$WORK/plugin/count.c" <<'EOF'
#include <inttypes.h>
#include <stdio.h>
#include "qemu-plugin.h"

QEMU_PLUGIN_EXPORT int qemu_plugin_version = QEMU_PLUGIN_VERSION;
static uint64_t executed;

static void translated(qemu_plugin_id_t id, struct qemu_plugin_tb* tb)
{
    (void)id;
    qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &executed,
                                             qemu_plugin_tb_n_insns(tb));
}

static void finished(qemu_plugin_id_t id, void* data)
{
    (void)id;
    (void)data;
    char line[64];
    snprintf(line, sizeof line, "instructions %" PRIu64 "\n", executed);
    qemu_plugin_outs(line);
}

QEMU_PLUGIN_EXPORT int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t* info, int argc, char** argv)
{
    (void)info;
    (void)argc;
    (void)argv;
    qemu_plugin_register_vcpu_tb_trans_cb(id, translated);
    qemu_plugin_register_atexit_cb(id, finished, NULL);
    return 0;
}
EOF
gcc -O2 -shared -fPIC -o "$WORK/plugin/libcount.so" "$WORK/plugin/count.c" >>"$log" 2>&1 || { cat "$log"; exit 1; }

# The corpus: decode_bench's, written with --save (host preset).
corpus="$WORK/corpus-$MAX_MB-$LEVEL.zdbc"
if [ ! -f "$corpus" ]; then
    echo "writing the corpus ($MAX_MB MB, level $LEVEL)"
    { cmake --preset host && cmake --build --preset host -j2 --target decode_bench; } >>"$log" 2>&1 ||
        { cat "$log"; exit 1; }
    build/host/bench/decode_bench --level "$LEVEL" --max-mb "$MAX_MB" --repeat 1 --save "$corpus.tmp" >>"$log"
    mv "$corpus.tmp" "$corpus"
fi

STUB_CODEGEN=(-fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables -ffunction-sections
              -fdata-sections)
DECODER_SOURCES=(stub/decode/*.cpp stub/shared/*.cpp stub/shared/posix/*.cpp)
ZLIB_SOURCES=(adler32 crc32 inffast inflate inftrees zutil)

count() {
    local qemu="$1" program="$2" mode="$3" out
    out=$("$qemu" -plugin "$WORK/plugin/libcount.so" -d plugin "$program" "$mode" "$corpus" 2>&1) ||
        { echo "$out" >&2; return 1; }
    echo "$out" | sed -n 's/^instructions //p'
    echo "$out" | sed -n 's/^[a-z-]* \([0-9]*\) bytes$/\1/p' >"$WORK/bytes"
}

printf '%-10s %12s %12s %12s %10s %12s\n' build "ours/byte" "zlib/byte" "zlib-same" "ours/zlib" "ours/same"
for build in $BUILDS; do
    case "$build" in
    i686-Os) cc=i686-linux-gnu-gcc cxx=i686-linux-gnu-g++ qemu=qemu-i386
             flags=(-Os -march=pentiumpro -mtune=generic "${STUB_CODEGEN[@]}") ;;
    x86_64-Os) cc=gcc cxx=g++ qemu=qemu-x86_64 flags=(-Os "${STUB_CODEGEN[@]}") ;;
    x86_64-O2) cc=gcc cxx=g++ qemu=qemu-x86_64 flags=(-O2) ;;
    *) echo "unknown build $build" >&2; exit 2 ;;
    esac
    dir="$WORK/$build"
    rm -rf "$dir"
    mkdir -p "$dir"
    objects=()
    for source in "${DECODER_SOURCES[@]}"; do
        object="$dir/$(echo "$source" | tr / _).o"
        extra=()
        # shellcheck disable=SC2206 # flags, split on purpose
        [ "$source" = stub/decode/decoder.cpp ] && extra=($DECODER_FLAGS)
        "$cxx" -std=c++17 -DNDEBUG "${flags[@]}" "${extra[@]}" -I"$ROOT" -c "$source" -o "$object" >>"$log" 2>&1 ||
            { cat "$log"; exit 1; }
        objects+=("$object")
    done
    for source in "${ZLIB_SOURCES[@]}"; do
        "$cc" -DNDEBUG "${flags[@]}" -c "$WORK/src/zlib/$source.c" -o "$dir/zlib_$source.o" >>"$log" 2>&1 ||
            { cat "$log"; exit 1; }
        objects+=("$dir/zlib_$source.o")
    done
    "$cxx" -std=c++17 -O2 -I"$ROOT" -I"$WORK/src/zlib" -static bench/decode_count.cpp "${objects[@]}" \
        -Wl,--gc-sections -o "$dir/decode_count" >>"$log" 2>&1 || { cat "$log"; exit 1; }

    base=$(count "$qemu" "$dir/decode_count" none)
    bytes=$(cat "$WORK/bytes")
    ours=$(count "$qemu" "$dir/decode_count" ours)
    zlib=$(count "$qemu" "$dir/decode_count" zlib)
    same=$(count "$qemu" "$dir/decode_count" zlib-same-parse)
    size=$(size -A "$dir"/stub_decode_decoder.cpp.o "$dir"/stub_decode_huffman.cpp.o |
           awk '$1 ~ /^\.text/ {sum += $2} END {print sum}')
    awk -v b="$base" -v n="$bytes" -v o="$ours" -v z="$zlib" -v s="$same" -v build="$build" -v size="$size" 'BEGIN {
        printf "%-10s %12.2f %12.2f %12.2f %9.3fx %11.3fx   (decoder+tables code %d bytes)\n", build,
            (o - b) / n, (z - b) / n, (s - b) / n, (o - b) / (z - b), (o - b) / (s - b), size
    }'
done
echo "corpus: $corpus ($(awk -v n="$bytes" 'BEGIN {printf "%.2f", n / 1e6}') MB of output)"
