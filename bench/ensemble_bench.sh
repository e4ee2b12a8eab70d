#!/usr/bin/env bash
# Ensemble patches against the usual binary-delta tools on real executable
# pairs from Debian: patch size, make and apply time, peak memory. Every
# ensemble patch is also applied and compared with the new file.
#
#   bench/ensemble_bench.sh [BUILD_DIR]      (default: build)
#
# Pairs are fetched with apt-get download into bench/.cache (reused later).
# Needs bsdiff, xdelta3, zstd and GNU time; they are installed when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
OVPATCH=$(realpath -m "$BUILD")/bin/ovpatch
CACHE=$PWD/bench/.cache
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

[ -x "$OVPATCH" ] || { echo "build ovpatch first (./build.sh build)" >&2; exit 1; }
missing=()
for tool in bsdiff xdelta3 zstd; do command -v $tool >/dev/null || missing+=($tool); done
[ -x /usr/bin/time ] || missing+=(time)
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
fi

# fetch PACKAGE VERSION PATH-IN-PACKAGE -> prints the cached file
fetch() {
    local dir="$CACHE/$1_$2"
    if [ ! -f "$dir/$3" ]; then
        mkdir -p "$dir"
        (cd "$dir" && apt-get download "$1=$2" >/dev/null 2>&1 && dpkg -x ./*.deb . && rm -f ./*.deb)
    fi
    echo "$dir/$3"
}

# measure COMMAND... -> "cpu-seconds peak-KiB" of the command. CPU time
# (user + system) rather than wall time, because the machines this runs on
# are shared and wall time mostly measures the neighbours.
measure() {
    /usr/bin/time -f "%U %S %M" -o "$WORK/time" "${@}" >/dev/null 2>&1
    awk '{ printf "%.2f %d\n", $1 + $2, $3 }' "$WORK/time"
}

row() { printf "| %-34s | %10s | %12s | %10s | %13s | %11s |\n" "$@"; }

bench_pair() {
    local name=$1 old=$2 new=$3
    echo
    echo "### $name"
    echo
    echo "old $(stat -c %s "$old") bytes, new $(stat -c %s "$new") bytes"
    echo
    row "tool" "patch (B)" "make (cpu s)" "make (KiB)" "apply (cpu s)" "apply (KiB)"
    row "---" "---:" "---:" "---:" "---:" "---:"

    read -r mt mm < <(measure "$OVPATCH" make "$old" "$new" "$WORK/p.ens")
    read -r at am < <(measure "$OVPATCH" apply "$old" "$WORK/p.ens" "$WORK/out.ens")
    cmp -s "$new" "$WORK/out.ens" || { echo "ensemble round trip differs for $name" >&2; exit 1; }
    row "ovpatch make / apply" "$(stat -c %s "$WORK/p.ens")" "$mt" "$mm" "$at" "$am"

    read -r mt mm < <(measure bsdiff "$old" "$new" "$WORK/p.bs")
    read -r at am < <(measure bspatch "$old" "$WORK/out.bs" "$WORK/p.bs")
    row "bsdiff / bspatch" "$(stat -c %s "$WORK/p.bs")" "$mt" "$mm" "$at" "$am"

    read -r mt mm < <(measure xdelta3 -9 -S djw -f -e -s "$old" "$new" "$WORK/p.xd")
    read -r at am < <(measure xdelta3 -f -d -s "$old" "$WORK/p.xd" "$WORK/out.xd")
    row "xdelta3 -9 -S djw" "$(stat -c %s "$WORK/p.xd")" "$mt" "$mm" "$at" "$am"

    read -r mt mm < <(measure zstd -q -f -19 --long=31 --patch-from="$old" "$new" -o "$WORK/p.zst")
    read -r at am < <(measure zstd -q -f -d --long=31 --patch-from="$old" "$WORK/p.zst" -o "$WORK/out.zst")
    row "zstd -19 --long=31 --patch-from" "$(stat -c %s "$WORK/p.zst")" "$mt" "$mm" "$at" "$am"
}

echo "## Ensemble patches ($(date -u +%Y-%m-%d), $(nproc) cores)"
bench_pair "libcrypto.so.3, libssl3 3.0.17-1~deb12u2 -> 3.0.20-1~deb12u2 (ELF x86-64)" \
    "$(fetch libssl3 3.0.17-1~deb12u2 usr/lib/x86_64-linux-gnu/libcrypto.so.3)" \
    "$(fetch libssl3 3.0.20-1~deb12u2 usr/lib/x86_64-linux-gnu/libcrypto.so.3)"
bench_pair "postgres, postgresql-15 15.18-0+deb12u1 -> 15.20-0+deb12u1 (ELF x86-64)" \
    "$(fetch postgresql-15 15.18-0+deb12u1 usr/lib/postgresql/15/bin/postgres)" \
    "$(fetch postgresql-15 15.20-0+deb12u1 usr/lib/postgresql/15/bin/postgres)"
