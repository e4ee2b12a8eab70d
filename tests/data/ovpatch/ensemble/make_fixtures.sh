#!/bin/sh
# Builds the shared-object pairs of the ensemble round-trip tests from
# sample.c with the compilers of Debian 12 (gcc, gcc-i686-linux-gnu,
# gcc-arm-linux-gnueabihf). The objects are checked in so the tests do not
# need the cross compilers.
set -e
cd "$(dirname "$0")"
flags="-O2 -fPIC -shared -nostdlib -Wl,-z,norelro"
for v in 1 2; do
    gcc $flags -DVERSION=$v -o sample_x64_v$v.so sample.c
    i686-linux-gnu-gcc $flags -DVERSION=$v -o sample_x86_v$v.so sample.c
    arm-linux-gnueabihf-gcc $flags -mthumb -DVERSION=$v -o sample_arm_v$v.so sample.c
done
strip sample_x64_v1.so sample_x64_v2.so
i686-linux-gnu-strip sample_x86_v1.so sample_x86_v2.so
arm-linux-gnueabihf-strip sample_arm_v1.so sample_arm_v2.so
