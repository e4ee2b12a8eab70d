#!/usr/bin/env bash
# Compares the engine's binary diff (ovpatch diff --method 2 / apply-diff)
# with bsdiff/bspatch on a real pair of shared libraries: libcrypto.so.3 from
# two Debian libssl3 packages. Downloads go to bench/work/ (git-ignored).
#
#   bench/diff_benchmark.sh            # RUNS=5 runs of each tool, medians
#   RUNS=3 OLD_VERSION=... NEW_VERSION=... bench/diff_benchmark.sh
#
# Needs build/bin/ovpatch (./build.sh build) and the bsdiff package; prints a
# Markdown table for BENCHMARKS.md. The downloaded packages are kept in
# bench/work/ for the next run, everything else is removed.
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS=${RUNS:-5}
OLD_VERSION=${OLD_VERSION:-3.0.17-1~deb12u2}
NEW_VERSION=${NEW_VERSION:-3.0.20-1~deb12u2}
WORK=bench/work
OVPATCH=build/bin/ovpatch

if [ ! -x "$OVPATCH" ]; then
    echo "build first: ./build.sh build" >&2
    exit 2
fi
if ! command -v bsdiff >/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends bsdiff
fi

mkdir -p "$WORK"

# fetch VERSION -> path of libcrypto.so.3 unpacked from libssl3=VERSION
fetch() {
    local version=$1
    local dir="$WORK/libssl3_${version//[~:]/_}"
    if [ ! -d "$dir" ]; then
        (cd "$WORK" && apt-get download "libssl3=$version" >/dev/null 2>&1)
        local deb
        deb=$(ls "$WORK"/libssl3_"${version//:/%3a}"_*.deb | head -n1)
        dpkg -x "$deb" "$dir"
    fi
    find "$dir" -name 'libcrypto.so.3' -type f | head -n1
}

OLD=$(fetch "$OLD_VERSION")
NEW=$(fetch "$NEW_VERSION")

# measure NAME COMMAND... : one run under /usr/bin/time -v, appends
# "elapsed_s cpu_s maxrss_kb" to $WORK/NAME.times
measure() {
    local name=$1
    shift
    /usr/bin/time -v -o "$WORK/time.txt" "$@" >/dev/null 2>&1
    awk -F': ' '
        /Elapsed \(wall clock\)/ { n = split($2, t, ":"); e = 0; for (i = 1; i <= n; i++) e = e * 60 + t[i] }
        /User time/ { u = $2 } /System time/ { s = $2 }
        /Maximum resident set size/ { m = $2 }
        END { printf "%.2f %.2f %d\n", e, u + s, m }' "$WORK/time.txt" >>"$WORK/$name.times"
}

# median NAME COLUMN
median() {
    cut -d' ' -f"$2" "$WORK/$1.times" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

rm -f "$WORK"/*.times
for _ in $(seq "$RUNS"); do
    measure ov_create "$OVPATCH" diff --method 2 "$OLD" "$NEW" "$WORK/ov.diff"
    measure ov_apply "$OVPATCH" apply-diff "$OLD" "$WORK/ov.diff" "$WORK/ov.new"
    measure bs_create bsdiff "$OLD" "$NEW" "$WORK/bs.patch"
    measure bs_apply bspatch "$OLD" "$WORK/bs.new" "$WORK/bs.patch"
done
cmp "$NEW" "$WORK/ov.new"
cmp "$NEW" "$WORK/bs.new"
OV_SIZE=$(stat -c %s "$WORK/ov.diff")
BS_SIZE=$(stat -c %s "$WORK/bs.patch")
# The downloaded packages stay for the next run; the outputs go.
rm -f "$WORK/ov.diff" "$WORK/ov.new" "$WORK/bs.patch" "$WORK/bs.new" "$WORK/time.txt"

size() { stat -c %s "$1"; }
echo "Pair: libcrypto.so.3 of libssl3 $OLD_VERSION ($(size "$OLD") bytes) -> $NEW_VERSION ($(size "$NEW") bytes); $RUNS runs, medians; both results verified with cmp."
echo
echo "| Tool | Diff size (bytes) | Create wall (s) | Create CPU (s) | Create peak RSS (KiB) | Apply wall (s) | Apply CPU (s) | Apply peak RSS (KiB) |"
echo "|---|---|---|---|---|---|---|---|"
echo "| ovpatch diff --method 2 | $OV_SIZE | $(median ov_create 1) | $(median ov_create 2) | $(median ov_create 3) | $(median ov_apply 1) | $(median ov_apply 2) | $(median ov_apply 3) |"
echo "| bsdiff / bspatch | $BS_SIZE | $(median bs_create 1) | $(median bs_create 2) | $(median bs_create 3) | $(median bs_apply 1) | $(median bs_apply 2) | $(median bs_apply 3) |"
