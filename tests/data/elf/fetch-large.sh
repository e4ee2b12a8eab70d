#!/usr/bin/env bash
# Fetches large real shared libraries (the C and C++ runtimes of Debian's
# i386, armhf and amd64 architectures) into a cache directory for the
# large-file round trips of the disassembler tests, which skip with a message
# when the cache is missing. Usage: fetch-large.sh [DIR] (default:
# build/elf-cache in the repository). Needs root for dpkg --add-architecture.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../../.." && pwd)
cache=${1:-$repo/build/elf-cache}
mkdir -p "$cache"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

dpkg --add-architecture i386
dpkg --add-architecture armhf
apt-get update -qq
cd "$work"
for arch in i386 armhf amd64; do
    apt-get download "libc6:$arch" "libstdc++6:$arch"
    for deb in libc6_*"_$arch.deb" libstdc++6_*"_$arch.deb"; do
        dpkg -x "$deb" "$arch"
    done
    cp "$(find "$arch" -name 'libc.so.6' -type f | head -n 1)" "$cache/libc-$arch.so"
    cp "$(find "$arch" -name 'libstdc++.so.6.*' -type f ! -name '*.py' | head -n 1)" \
        "$cache/libstdc++-$arch.so"
done
ls -l "$cache"
