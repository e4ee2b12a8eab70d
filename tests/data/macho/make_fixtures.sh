#!/usr/bin/env bash
# Rebuilds the Mach-O fixtures. The generated ones (gen_*, universal) need only
# python3; the linked x86-64 ones (linked_x64_v1/v2) need clang and ld64.lld
# (Debian's clang and lld packages). The outputs are checked in.
set -euo pipefail
cd "$(dirname "$0")"

python3 make_fixtures.py
LD64=$(command -v ld64.lld || command -v ld64.lld-14 || true)
if [ -n "$LD64" ] && command -v clang >/dev/null; then
    for v in 1 2; do
        clang -target x86_64-apple-macos11 -O2 -ffreestanding -fno-stack-protector \
            -DVERSION=$v -c fixture.c -o /tmp/ov3_macho_fixture_$v.o
        "$LD64" -arch x86_64 -platform_version macos 11.0 11.0 -e _start \
            -o linked_x64_v$v /tmp/ov3_macho_fixture_$v.o
        rm -f /tmp/ov3_macho_fixture_$v.o
    done
else
    echo "clang or ld64.lld missing: linked_x64_v1/v2 left as they are" >&2
fi
ls -l gen_* universal linked_* 2>/dev/null
