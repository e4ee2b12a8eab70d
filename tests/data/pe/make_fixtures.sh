#!/usr/bin/env bash
# Rebuilds the PE fixtures from fixture.c with Debian's mingw-w64 cross
# compilers (gcc-mingw-w64-i686, gcc-mingw-w64-x86-64). The outputs are
# checked in, so the tests never need the compilers.
#   v1/v2 executables: two releases of the same program, for patches;
#   DLLs: libraries always carry base relocations.
# --no-insert-timestamp keeps rebuilds byte-identical.
set -euo pipefail
cd "$(dirname "$0")"

FLAGS=(-O2 -s -Wl,--no-insert-timestamp -Wl,--dynamicbase)
for arch in i686 x86_64; do
    cc=${arch}-w64-mingw32-gcc
    case $arch in i686) tag=x86 ;; x86_64) tag=x64 ;; esac
    for v in 1 2; do
        $cc "${FLAGS[@]}" -DVERSION=$v -o fixture_${tag}_v${v}.exe fixture.c
    done
    $cc "${FLAGS[@]}" -shared -DFIXTURE_DLL -o fixture_${tag}.dll fixture.c
done
ls -l ./*.exe ./*.dll
