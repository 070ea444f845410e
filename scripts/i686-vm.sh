#!/bin/bash
# shellcheck disable=SC2317,SC2016 # cleanup is reached through trap; the job script is written unexpanded
# Runs the shipped i686 Windows programs where this machine cannot: in an
# emulated x86-64 machine (qemu-system-x86_64, TCG) running Debian 12,
# whose kernel runs 32-bit programs, with 32-bit Wine and Xvfb.
#
#   scripts/i686-vm.sh image
#       build the machine's image unless it is cached; prints its folder
#   scripts/i686-vm.sh run [OPTIONS] [--] COMMAND [ARGS...]
#       run COMMAND in the machine, in the current folder
#   scripts/i686-vm.sh wine [OPTIONS] [--] PROGRAM.exe [ARGS...]
#       run a Windows program there under 32-bit Wine (scripts/wine-env.sh)
#
#   --screenshot FILE  save the display as a PNG when COMMAND ends (or
#                      --screenshot-at seconds into the run)
#   --screenshot-at S  take the screenshot S seconds after COMMAND starts
#   --env NAME=VALUE   set a variable for COMMAND (repeatable)
#   --timeout S        stop the machine after S seconds (default 3600)
#
# The work tree is shared into the machine (9p) at the same path, so build
# outputs and absolute paths in build files are what they are here, and what
# the command writes under it comes back. The current folder must be inside
# the work tree. COMMAND's output (standard output and error together)
# arrives as it is written. The exit status is COMMAND's, 124 when the
# machine was stopped at the timeout, 125 when it could not run.
#
# Inside, DISPLAY is an Xvfb of the run's own (1280x1024x24); Wine's prefix
# is ZEVRIN_WINEPREFIX=/opt/zevrin-wine and the end-to-end tests' template
# ZEVRIN_E2E_TEMPLATE=/opt/zevrin-e2e-template, both made when the image
# was built (making a prefix takes minutes under emulation). Every run
# starts from the cached image: what a run changes outside the work tree is
# dropped when it ends.
#
# The image is built from Debian packages alone (scripts/i686/image.sh, as
# root: debootstrap, then a first boot that makes the Wine prefixes) and
# cached in $ZEVRIN_I686_CACHE (default /var/cache/zevrin-i686), keyed by a
# hash of what it is made from, so a changed recipe builds a new one (about
# 20 minutes) and older ones are removed. Needs qemu-system-x86, qemu-utils,
# debootstrap. Environment: ZEVRIN_I686_CPUS (default 2), ZEVRIN_I686_MEM
# (MB, default 3072), ZEVRIN_I686_MIRROR (image.sh).
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
CACHE="${ZEVRIN_I686_CACHE:-/var/cache/zevrin-i686}"
CPUS="${ZEVRIN_I686_CPUS:-2}"
MEM="${ZEVRIN_I686_MEM:-3072}"
GUEST_PREFIX=/opt/zevrin-wine
GUEST_TEMPLATE=/opt/zevrin-e2e-template

die() {
    echo "i686-vm: $*" >&2
    exit 125
}

usage() {
    sed -n '/^#   scripts/,/^#   --timeout/p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

hash_of() { cat "$@" | sha256sum | cut -c1-16; }

# The two layers: the base system (package recipe and init) and, over it,
# the Wine prefixes (made by the project's own wine-env.sh).
BASE_KEY="$(hash_of "$ROOT/scripts/i686/image.sh" "$ROOT/scripts/i686/guest-init.sh")"
BASE_DIR="$CACHE/base-$BASE_KEY"

QEMU_PID=""
TAIL_PID=""
JOB=""
cleanup() {
    [ -z "$QEMU_PID" ] || kill "$QEMU_PID" 2>/dev/null
    [ -z "$TAIL_PID" ] || kill "$TAIL_PID" 2>/dev/null
    [ -z "$JOB" ] || rm -rf "$JOB"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# boot DISK SNAPSHOT(0|1) TIMEOUT: boots the machine on DISK with the job
# in $JOB, prints the job's output as it comes, returns the job's status.
boot() {
    local disk="$1" snapshot="$2" timeout="$3" rc waited=0
    local drive="file=$disk,if=virtio,cache=unsafe"
    [ "$snapshot" = 1 ] && drive="$drive,snapshot=on"
    : >"$JOB/output"
    # -cpu max,-smap: with SMAP the guest kernel faults when 32-bit Wine
    # returns to user code under TCG.
    ${NICE:-} qemu-system-x86_64 -machine q35,accel=tcg -cpu max,-smap -smp "$CPUS" -m "$MEM" \
        -nodefaults -display none -no-reboot \
        -kernel "$BASE_DIR/vmlinuz" -initrd "$BASE_DIR/initrd.img" \
        -append "root=/dev/vda rw console=ttyS0 quiet panic=-1 init=/sbin/zevrin-init" \
        -drive "$drive" \
        -virtfs "local,path=$JOB,mount_tag=job,security_model=none" \
        -virtfs "local,path=$ROOT,mount_tag=work,security_model=none" \
        -serial "file:$JOB/console.log" -serial "file:$JOB/output" \
        </dev/null >"$JOB/qemu.log" 2>&1 &
    QEMU_PID=$!
    tail -n +1 -f --pid="$QEMU_PID" "$JOB/output" 2>/dev/null | stdbuf -o0 tr -d '\r' &
    TAIL_PID=$!
    while kill -0 "$QEMU_PID" 2>/dev/null; do
        if [ "$waited" -ge "$timeout" ]; then
            echo "i686-vm: stopped after $timeout s" >&2
            kill "$QEMU_PID" 2>/dev/null
            wait "$QEMU_PID" 2>/dev/null
            QEMU_PID=""
            wait "$TAIL_PID" 2>/dev/null
            TAIL_PID=""
            return 124
        fi
        sleep 1
        waited=$((waited + 1))
    done
    wait "$QEMU_PID"
    rc=$?
    QEMU_PID=""
    wait "$TAIL_PID" 2>/dev/null
    TAIL_PID=""
    if [ -s "$JOB/rc" ]; then
        return "$(cat "$JOB/rc")"
    fi
    echo "i686-vm: the machine stopped without an exit status (qemu exit $rc)" >&2
    tail -5 "$JOB/qemu.log" >&2
    tail -20 "$JOB/console.log" >&2
    return 125
}

new_job() {
    JOB="$(mktemp -d /tmp/zevrin-i686-job.XXXXXX)" || die "cannot make a job folder"
    chmod 755 "$JOB"
}

# Writes $JOB/env and $JOB/cmd: a job that starts Xvfb, then runs the
# script body given on standard input.
write_job() {
    local cwd="$1"
    shift
    {
        printf 'export ZEVRIN_VM_WORK=%q ZEVRIN_VM_CWD=%q\n' "$ROOT" "$cwd"
        printf 'export ZEVRIN_WINEPREFIX=%q ZEVRIN_E2E_TEMPLATE=%q\n' "$GUEST_PREFIX" "$GUEST_TEMPLATE"
        local kv
        for kv in "$@"; do
            printf 'export %q\n' "$kv"
        done
    } >"$JOB/env"
    {
        echo 'stty -F /dev/ttyS1 raw -echo 2>/dev/null'
        echo 'Xvfb :0 -nolisten tcp -screen 0 1280x1024x24 >/dev/null 2>&1 &'
        echo 'for _ in $(seq 1 100); do [ -S /tmp/.X11-unix/X0 ] && break; sleep 0.2; done'
        echo 'export DISPLAY=:0'
        cat
    } >"$JOB/cmd"
}

ensure_base() {
    [ -f "$BASE_DIR/ready" ] && return 0
    [ "$(id -u)" = 0 ] || die "building the image needs root"
    local tool
    for tool in qemu-system-x86_64 qemu-img debootstrap mke2fs; do
        command -v "$tool" >/dev/null 2>&1 ||
            die "$tool is missing (apt-get install qemu-system-x86 qemu-utils debootstrap e2fsprogs)"
    done
    local start=$SECONDS tmp="$CACHE/base-$BASE_KEY.tmp"
    echo "i686-vm: building the base image $BASE_DIR (about 15 minutes)" >&2
    rm -rf "$tmp"
    nice -n 10 bash "$ROOT/scripts/i686/image.sh" "$tmp" || die "the base image could not be built (see $tmp)"
    touch "$tmp/ready"
    rm -rf "$BASE_DIR"
    mv "$tmp" "$BASE_DIR" || die "cannot move the image into $BASE_DIR"
    echo "i686-vm: base image built in $((SECONDS - start)) s" >&2
}

# The first boot's job: Wine's prefix made the project's way, and a copy of
# it as the end-to-end tests' template (run-setup.sh configures it further).
prefix_recipe() {
    cat <<SCRIPT
source "$ROOT/scripts/wine-env.sh" || exit 1
wineserver -k
wineserver -w
cp -a "$GUEST_PREFIX" "$GUEST_TEMPLATE" || exit 1
SCRIPT
}

ensure_prefix() {
    [ -f "$PREFIX_IMAGE" ] && return 0
    local start=$SECONDS tmp="$PREFIX_IMAGE.tmp" rc
    echo "i686-vm: making the Wine prefixes in $PREFIX_IMAGE (about 6 minutes)" >&2
    rm -f "$tmp"
    qemu-img create -q -f qcow2 -b "$BASE_DIR/rootfs.img" -F raw "$tmp" || die "qemu-img failed"
    new_job
    prefix_recipe | write_job "$ROOT"
    NICE="nice -n 10" boot "$tmp" 0 1800
    rc=$?
    rm -rf "$JOB"
    JOB=""
    [ "$rc" = 0 ] || { rm -f "$tmp"; die "making the prefixes failed (exit $rc)"; }
    mv "$tmp" "$PREFIX_IMAGE" || die "cannot move $tmp"
    # Only the current layers stay.
    find "$CACHE" -maxdepth 1 -name 'prefix-*.qcow2' ! -path "$PREFIX_IMAGE" -delete
    find "$CACHE" -maxdepth 1 -name 'base-*' ! -path "$BASE_DIR" ! -name '*.tmp' -exec rm -rf {} +
    echo "i686-vm: prefixes made in $((SECONDS - start)) s" >&2
}

ensure_image() {
    mkdir -p "$CACHE" || die "cannot make $CACHE"
    local lockfd
    exec {lockfd}>"$CACHE/.lock" || die "cannot open $CACHE/.lock"
    flock -w 3600 "$lockfd" || die "timed out waiting for $CACHE/.lock"
    ensure_base && ensure_prefix
    exec {lockfd}>&-
}

PREFIX_KEY="$(printf '%s\n' "$BASE_KEY" | cat - "$ROOT/scripts/wine-env.sh" "$ROOT/scripts/wine-arch.sh" \
    <(declare -f prefix_recipe) | sha256sum | cut -c1-16)"
PREFIX_IMAGE="$CACHE/prefix-$PREFIX_KEY.qcow2"

[ $# -ge 1 ] || usage
mode="$1"
shift
case "$mode" in
image)
    ensure_image
    echo "$BASE_DIR"
    exit 0
    ;;
run | wine) ;;
*) usage ;;
esac

screenshot=""
shot_at=""
timeout=3600
envs=()
while [ $# -gt 0 ]; do
    case "$1" in
    --screenshot) [ $# -ge 2 ] || usage; screenshot="$2"; shift 2 ;;
    --screenshot-at) [ $# -ge 2 ] || usage; shot_at="$2"; shift 2 ;;
    --env) [ $# -ge 2 ] || usage; envs+=("$2"); shift 2 ;;
    --timeout) [ $# -ge 2 ] || usage; timeout="$2"; shift 2 ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
    esac
done
[ $# -ge 1 ] || usage

cwd="$PWD"
case "$cwd/" in
"$ROOT"/*) ;;
*) die "run it from inside the work tree $ROOT (only that is shared)" ;;
esac
if [ -n "$screenshot" ]; then
    case "$screenshot" in /*) ;; *) screenshot="$PWD/$screenshot" ;; esac
fi

ensure_image
new_job
{
    if [ -n "$shot_at" ]; then
        printf '( sleep %q; import -display :0 -window root /zevrin-job/shot.png ) &\nshot=$!\n' "$shot_at"
    fi
    if [ "$mode" = wine ]; then
        printf 'source %q/scripts/wine-env.sh || exit 125\n' "$ROOT"
        printf '"$ZEVRIN_WINE"'
    fi
    printf ' %q' "$@"
    printf '\nrc=$?\n'
    if [ -n "$screenshot" ] && [ -z "$shot_at" ]; then
        echo 'import -display :0 -window root /zevrin-job/shot.png'
    fi
    [ -z "$shot_at" ] || echo 'wait "$shot"'
    echo 'exit $rc'
} | write_job "$cwd" "${envs[@]}"
boot "$PREFIX_IMAGE" 1 "$timeout"
rc=$?
if [ -n "$screenshot" ]; then
    if [ -f "$JOB/shot.png" ]; then
        mkdir -p "$(dirname "$screenshot")" && cp "$JOB/shot.png" "$screenshot"
    else
        echo "i686-vm: no screenshot was taken" >&2
    fi
fi
exit "$rc"
