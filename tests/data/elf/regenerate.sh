#!/usr/bin/env bash
# Rebuilds the checked-in ELF fixtures of the disassembler tests.
#
#   lib{attr,acl}-{amd64,i386,armhf}.so  small shared libraries taken from the
#       Debian packages libattr1 and libacl1 of three architectures: real
#       files that nobody here wrote.
#   arm-branches.so, i386-branches.so    branches.c cross-compiled without
#       start files, so every relocation is a relative one and the relocation
#       tables are rebuilt; the ARM one in ARM state, so ARM B/BL words occur.
#
# Needs root (dpkg --add-architecture, apt-get) and installs the cross
# compilers gcc-arm-linux-gnueabihf and gcc-i686-linux-gnu when missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

dpkg --add-architecture i386
dpkg --add-architecture armhf
apt-get update -qq
for compiler in gcc-arm-linux-gnueabihf gcc-i686-linux-gnu; do
    dpkg-query -W -f='${Status}' "$compiler" 2>/dev/null | grep -q "install ok installed" ||
        DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$compiler"
done

cd "$work"
for arch in amd64 i386 armhf; do
    for package in libattr1 libacl1; do
        apt-get download "$package:$arch"
        dpkg -x "${package}"_*"_$arch.deb" "$arch"
    done
    cp "$(find "$arch" -name 'libattr.so.1.*' -type f)" "$here/libattr-$arch.so"
    cp "$(find "$arch" -name 'libacl.so.1.*' -type f)" "$here/libacl-$arch.so"
done

flags=(-O2 -fPIC -shared -nostdlib)
arm-linux-gnueabihf-gcc -marm "${flags[@]}" -o "$here/arm-branches.so" "$here/branches.c"
i686-linux-gnu-gcc "${flags[@]}" -o "$here/i386-branches.so" "$here/branches.c"
