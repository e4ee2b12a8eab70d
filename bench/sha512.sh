#!/usr/bin/env bash
# Throughput and peak memory of the updater's SHA-512 file check against
# sha512sum on the same file. Usage: bench/sha512.sh [MiB] (default 512).
set -euo pipefail
cd "$(dirname "$0")/.."
MIB=${1:-512}
TEST=build/tests/src_checksignaturetaskspecification_test
[ -x "$TEST" ] || { echo "build first: ./build.sh build" >&2; exit 1; }
mkdir -p bench/work
FILE=bench/work/sha512-input.bin
head -c "$((MIB * 1024 * 1024))" /dev/urandom > "$FILE"
sync

start=$(date +%s.%N)
HASH=$(sha512sum "$FILE" | cut -d' ' -f1)
end=$(date +%s.%N)
echo "sha512sum: $MIB MiB in $(echo "$end - $start" | bc) s"

# The file was just read twice, so both runs read from the page cache.
OV3_BENCH_FILE=$FILE OV3_BENCH_SHA512=$HASH QT_QPA_PLATFORM=offscreen \
    /usr/bin/time -f "peak RSS of the test program: %M KiB" \
    "$TEST" --gtest_also_run_disabled_tests --gtest_filter='CheckSignatureBenchmark.*' \
    2>&1 | grep -E 'CheckSigFunc|peak RSS|FAILED'
rm -f "$FILE"
