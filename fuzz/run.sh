#!/usr/bin/env bash
# Builds the libFuzzer target with clang (AddressSanitizer + UBSan) and runs
# it for the given number of seconds on a copy of the seed corpus.
# Usage: fuzz/run.sh [seconds] [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${2:-build-fuzz}
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTRESSIL_BUILD_FUZZER=ON -DTRESSIL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target tressil_fuzz >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp fuzz/corpus/* "$work/"
"$build/tressil_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 "$work"
