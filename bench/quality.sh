#!/usr/bin/env bash
# Quality of the search: on generated inputs, the satisfied weight of the
# heuristic method, of a plain best-improvement climb of subtree moves from
# the heuristic method's tree, of the search and (up to 20 species) of the
# exact method, with the search's upper bound and the search's wall time.
# "below%" is how far the search falls short of the exact optimum, or above
# 20 species of the bound.
# Usage: bench/quality.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTRESSIL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target tressil tressil_generate tressil_plain_climb >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

total() { sed -n 's/^%Total weight of satisfied triples: \(-*[0-9]*\)\.$/\1/p' "$1"; }
bound() { sed -n 's/^%Upper bound on satisfied weight: \([0-9]*\)\.$/\1/p' "$1"; }

# name | tressil_generate arguments: species trees leaves seed maxweight [noise]
inputs=()
for n in 12 14 16 18 20; do
    for seed in 1 2 3 4; do
        inputs+=("genes n=$n s=$seed|$n 200 $n $seed 1 25")
        inputs+=("part n=$n s=$seed|$n 300 $((n * 2 / 3)) $seed 3 40")
        inputs+=("triples n=$n s=$seed|$n 1000 3 $seed 9")
    done
done
for n in 40 64 128; do
    inputs+=("genes n=$n|$n 300 $n 7 1 25")
    inputs+=("part n=$n|$n 500 $((n / 2)) 7 3 40")
    inputs+=("triples n=$n|$n 5000 3 7 9")
done

printf '%-20s %12s %12s %12s %12s %12s %8s %7s\n' input heuristic climb search exact bound \
    "below%" "s"
for line in "${inputs[@]}"; do
    IFS='|' read -r name gen <<<"$line"
    # shellcheck disable=SC2086
    "$build/tressil_generate" $gen >"$work/in.txt"
    n=${gen%% *}
    "$build/tressil" "$work/in.txt" "$work/h.txt" >/dev/null
    /usr/bin/time -f '%e' -o "$work/time.txt" \
        "$build/tressil" --search "$work/in.txt" "$work/s.txt" >/dev/null
    exact=-
    best=$(bound "$work/s.txt")
    if [ "$n" -le 20 ]; then
        "$build/tressil" "$work/in.txt" "$work/e.txt" 1 >/dev/null
        exact=$(total "$work/e.txt")
        best=$exact
    fi
    below=$(awk -v e="$best" -v s="$(total "$work/s.txt")" \
        'BEGIN { printf "%.3f", (e > 0 ? 100 * (e - s) / e : 0) }')
    printf '%-20s %12s %12s %12s %12s %12s %8s %7s\n' "$name" "$(total "$work/h.txt")" \
        "$("$build/tressil_plain_climb" "$work/in.txt")" "$(total "$work/s.txt")" "$exact" \
        "$(bound "$work/s.txt")" "$below" "$(cat "$work/time.txt")"
done
