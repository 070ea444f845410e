# Sourced by scripts/test.sh and scripts/demo.sh: what a fresh Debian 12
# machine needs to build and test everything, and installing what is
# missing (apt-get as root; the i386 architecture for 32-bit Wine). A
# second run finds everything present and installs nothing. The x86-64
# compiler and 64-bit Wine are for machines that cannot run 32-bit
# programs (scripts/wine-arch.sh), and so are QEMU and debootstrap: there
# the shipped i686 build runs in an emulated machine (scripts/i686-vm.sh).

PACKAGES=(
    cmake make g++ pkg-config
    g++-mingw-w64-i686 mingw-w64-i686-dev
    g++-mingw-w64-x86-64 mingw-w64-x86-64-dev libz-mingw-w64-dev
    wine wine32:i386 wine64 xvfb x11-utils
    libdeflate-dev googletest libgtest-dev libgmock-dev fonts-dejavu-core fonts-wine
    zlib1g-dev libtomlplusplus-dev libzopfli-dev imagemagick
    openssl osslsigncode
    clang libclang-rt-14-dev libfuzzer-14-dev
    qemu-system-x86 qemu-utils debootstrap e2fsprogs
)

missing_packages() {
    local p
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q ' installed$' || echo "$p"
    done
}

install_dependencies() {
    local missing attempt
    mapfile -t missing < <(missing_packages)
    if [ "${#missing[@]}" = 0 ]; then
        echo "All packages present."
        return 0
    fi
    echo "Missing: ${missing[*]}"
    if [ "$(id -u)" != 0 ]; then
        echo "Installing them needs root: run this as root, or apt-get install them." >&2
        return 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386 || return 1
    fi
    for attempt in 1 2 3; do
        if apt-get update </dev/null &&
            apt-get install -y -o Dpkg::Options::=--force-confdef \
                -o Dpkg::Options::=--force-confold "${missing[@]}" </dev/null; then
            break
        fi
        [ "$attempt" = 3 ] && return 1
        echo "apt-get failed, retrying in 15 s" >&2
        sleep 15
    done
    mapfile -t missing < <(missing_packages)
    if [ "${#missing[@]}" != 0 ]; then
        echo "Still missing after apt-get: ${missing[*]}" >&2
        return 1
    fi
}

