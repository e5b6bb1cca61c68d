#!/usr/bin/env bash
# Builds a libFuzzer target with clang (AddressSanitizer + UBSan) and runs
# it for the given number of seconds on a copy of its seed corpus.
# Usage: fuzz/run.sh [seconds] [build-dir] [reader|named]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${2:-build-fuzz}
case ${3:-reader} in
    reader) target=tressil_fuzz corpus=fuzz/corpus ;;
    named) target=tressil_named_fuzz corpus=fuzz/named_corpus ;;
    *) echo "unknown fuzz target: $3 (reader or named)" >&2; exit 1 ;;
esac
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTRESSIL_BUILD_FUZZER=ON -DTRESSIL_BUILD_TESTS=OFF >/dev/null
# A build that fails shows why.
cmake --build "$build" -j2 --target "$target" >"$build/build.log" 2>&1 ||
    { tail -n 40 "$build/build.log"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$corpus"/* "$work/"
"$build/$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/" "$work"
