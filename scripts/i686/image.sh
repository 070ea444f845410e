#!/bin/bash
# Builds the emulated i686 machine's base image from Debian packages alone:
#
#   image.sh OUT-DIR
#
# OUT-DIR gets vmlinuz, initrd.img (virtio, ext4 and 9p modules only) and
# rootfs.img (ext4, raw): Debian 12 amd64, whose kernel runs 32-bit
# programs, with 32-bit Wine, Xvfb, xdotool, ImageMagick, Python and CTest,
# and the libraries the host build of `zevrin` links, so the end-to-end
# tests run unchanged inside. Its init is guest-init.sh. Needs root
# (debootstrap, chroot) and the packages debootstrap and e2fsprogs.
# ZEVRIN_I686_MIRROR chooses the Debian mirror.
set -euo pipefail

OUT="$1"
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
MIRROR="${ZEVRIN_I686_MIRROR:-http://deb.debian.org/debian}"
SUITE=bookworm

AMD64_PACKAGES=(
    linux-image-amd64 initramfs-tools kmod iproute2 procps psmisc
    xvfb x11-utils xdotool imagemagick python3 cmake
    libdeflate0 libzopfli1 libtomlplusplus3
    fonts-dejavu-core fonts-wine wine
)
I386_PACKAGES=(wine32:i386)

ROOTFS="$OUT/root"
mkdir -p "$OUT"
rm -rf "$ROOTFS"

mounted=()
unmount_all() {
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount -l "${mounted[$i]}" 2>/dev/null || true
    done
    mounted=()
}
trap unmount_all EXIT

echo "i686 image: debootstrap $SUITE from $MIRROR" >&2
debootstrap --variant=minbase --arch=amd64 --include=ca-certificates \
    "$SUITE" "$ROOTFS" "$MIRROR" >"$OUT/debootstrap.log" 2>&1 ||
    { tail -20 "$OUT/debootstrap.log" >&2; exit 1; }

for fs in proc sys dev dev/pts; do
    mount --bind "/$fs" "$ROOTFS/$fs"
    mounted+=("$ROOTFS/$fs")
done

cat >"$ROOTFS/etc/apt/sources.list" <<SOURCES
deb $MIRROR $SUITE main
deb $MIRROR $SUITE-updates main
deb http://deb.debian.org/debian-security $SUITE-security main
SOURCES
# No documentation, and an initrd that holds only what finds the root disk
# and the shared folders.
cat >"$ROOTFS/etc/dpkg/dpkg.cfg.d/01-nodoc" <<'NODOC'
path-exclude /usr/share/doc/*
path-exclude /usr/share/man/*
path-exclude /usr/share/info/*
NODOC
mkdir -p "$ROOTFS/etc/initramfs-tools/conf.d"
echo "MODULES=list" >"$ROOTFS/etc/initramfs-tools/conf.d/zevrin"
printf '%s\n' virtio_pci virtio_blk ext4 9pnet_virtio 9p >"$ROOTFS/etc/initramfs-tools/modules"
# Services must not start inside the chroot.
printf '#!/bin/sh\nexit 101\n' >"$ROOTFS/usr/sbin/policy-rc.d"
chmod +x "$ROOTFS/usr/sbin/policy-rc.d"

echo "i686 image: installing packages" >&2
in_root() { chroot "$ROOTFS" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8 "$@"; }
in_root dpkg --add-architecture i386
for attempt in 1 2 3; do
    if in_root apt-get update -q && in_root apt-get install -y -q --no-install-recommends \
        "${AMD64_PACKAGES[@]}" "${I386_PACKAGES[@]}"; then
        break
    fi
    [ "$attempt" = 3 ] && exit 1
    sleep 15
done >"$OUT/apt.log" 2>&1 || { tail -30 "$OUT/apt.log" >&2; exit 1; }
in_root apt-get clean
rm -f "$ROOTFS/usr/sbin/policy-rc.d"
rm -rf "$ROOTFS"/var/lib/apt/lists/*
unmount_all

install -m 755 "$HERE/guest-init.sh" "$ROOTFS/sbin/zevrin-init"
echo "/dev/vda / ext4 rw 0 1" >"$ROOTFS/etc/fstab"

cp "$(ls "$ROOTFS"/boot/vmlinuz-* | sort -V | tail -1)" "$OUT/vmlinuz"
cp "$(ls "$ROOTFS"/boot/initrd.img-* | sort -V | tail -1)" "$OUT/initrd.img"

echo "i686 image: making the root file system" >&2
rm -f "$OUT/rootfs.img"
# Sparse: 8 GB of room for test prefixes, a fraction of it on disk.
mke2fs -q -t ext4 -L zevrin-i686 -d "$ROOTFS" "$OUT/rootfs.img" 8G
rm -rf "$ROOTFS"
