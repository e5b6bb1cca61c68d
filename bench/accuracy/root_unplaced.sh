#!/usr/bin/env bash
# Should trees without an outgroup taxon be rooted by the species tree (the
# default) rather than left out (--drop-unplaced)? Simulates gene trees under the
# multispecies coalescent with a four-species outgroup that is missing from
# some trees, infers the species tree both ways, and prints the mean
# normalised Robinson-Foulds distance to the true species tree per
# condition, over the replicates.
#
#   bench/accuracy/root_unplaced.sh [build-dir] [replicates]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build-bench}
replicates=${2:-10}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTRESSIL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target tressil-newick tressil_simulate_genes tressil_tree_distance \
    >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# name | species (ingroup) | genes | mean internal length | outgroup missing %
conditions=(
    "46+4 species, 200 genes, moderate ILS, outgroup in 70%|46|200|1|30"
    "46+4 species, 200 genes, high ILS, outgroup in 70%|46|200|0.3|30"
    "46+4 species, 200 genes, high ILS, outgroup in 40%|46|200|0.3|60"
    "96+4 species, 400 genes, high ILS, outgroup in 70%|96|400|0.3|30"
)

printf '%-52s %12s %14s\n' condition "left out" "rooted"
for c in "${conditions[@]}"; do
    IFS='|' read -r name species genes internal missing <<<"$c"
    left=0 rooted=0
    for r in $(seq 1 "$replicates"); do
        "$build/tressil_simulate_genes" --species "$species" --outgroup 4 --stem 0.1 \
            --mean-internal "$internal" --genes "$genes" --unrooted --keep 0.8,1 \
            --drop-outgroup "$missing" --seed "$r" "$work/true.nwk" "$work/genes.nwk"
        for mode in left rooted; do
            option=()
            [ "$mode" = left ] && option=(--drop-unplaced)
            "$build/tressil-newick" infer "${option[@]}" --outgroup O1,O2,O3,O4 \
                "$work/genes.nwk" "$work/$mode.nwk" >/dev/null 2>&1
        done
        left=$(awk -v a="$left" -v b="$("$build/tressil_tree_distance" "$work/true.nwk" "$work/left.nwk")" 'BEGIN { print a + b }')
        rooted=$(awk -v a="$rooted" -v b="$("$build/tressil_tree_distance" "$work/true.nwk" "$work/rooted.nwk")" 'BEGIN { print a + b }')
    done
    printf '%-52s %12.4f %14.4f\n' "$name" "$(awk -v s="$left" -v n="$replicates" 'BEGIN { print s / n }')" \
        "$(awk -v s="$rooted" -v n="$replicates" 'BEGIN { print s / n }')"
done
