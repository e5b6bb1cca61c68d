#!/usr/bin/env bash
# Accuracy on estimated gene trees: does weighting each triple by the support
# of the gene-tree branches that resolve it (--weight), or collapsing weak
# branches (--min-support), bring the species tree closer to the true one?
#
# For each condition and replicate: a species tree and 200 gene trees under
# the multispecies coalescent (tressil_simulate_genes, one outgroup species),
# a GTR+Gamma alignment along each gene (tressil_simulate_sequences), each
# gene estimated back with FastTree (JC+CAT, SH-like supports), then infer
# with each option set. Prints the mean normalised Robinson-Foulds distance
# to the true species tree per condition and option set, and the mean
# distance of the estimated gene trees from the true ones.
#
#   bench/accuracy/weighting.sh [build-dir] [replicates]
#
# Everything is seeded, so every run prints the same table. The estimated
# gene trees are kept in BUILD/accuracy-cache, so a second run takes
# a minute; the first took 38 minutes on a 2-core machine, almost all FastTree.
# Installs FastTree (Debian's fasttree) when it is missing. JOBS sets how many
# FastTree runs go at once (2).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build-bench}
replicates=${2:-10}
# shellcheck source=bench/accuracy/setup.sh
. bench/accuracy/setup.sh "$build" accuracy-cache

# name | species | sites | mean internal branch length (coalescent units)
conditions=(
    "20 species, 300 sites, moderate ILS|20|300|2"
    "20 species, 300 sites, high ILS|20|300|0.7"
    "20 species, 1000 sites, moderate ILS|20|1000|2"
    "20 species, 1000 sites, high ILS|20|1000|0.7"
    "50 species, 300 sites, moderate ILS|50|300|2"
    "50 species, 300 sites, high ILS|50|300|0.7"
    "50 species, 1000 sites, moderate ILS|50|1000|2"
    "50 species, 1000 sites, high ILS|50|1000|0.7"
)
# label | infer options
variants=(
    "plain|"
    "any|--weight support-any"
    "max|--weight support-max"
    "chance|--weight support-chance"
    "min0.1|--min-support 0.1"
    "min0.5|--min-support 0.5"
    "min0.9|--min-support 0.9"
)

# One dataset: true trees and estimated gene trees, made once.
dataset() {
    local dir=$1 species=$2 sites=$3 internal=$4 seed=$5
    [ -s "$dir/estimated.nwk" ] && return 0
    mkdir -p "$dir"
    "$build/tressil_simulate_genes" --species "$species" --outgroup 1 --mean-internal "$internal" \
        --genes 200 --theta 0.01 --unrooted --seed "$seed" "$dir/species.nwk" "$dir/genes.nwk"
    "$build/tressil_simulate_sequences" --length "$sites" --alpha 1 \
        --frequencies 0.3,0.2,0.2,0.3 --exchangeabilities 1,4,1,1,4,1 --seed "$seed" \
        "$dir/genes.nwk" "$dir/alignments.phy"
    fasttree -nt -quiet -n 200 "$dir/alignments.phy" >"$dir/estimated.tmp" 2>/dev/null
    mv "$dir/estimated.tmp" "$dir/estimated.nwk"
    rm -f "$dir/alignments.phy"
}
export -f dataset
export build

jobs=()
for c in "${conditions[@]}"; do
    IFS='|' read -r _ species sites internal <<<"$c"
    for r in $(seq 1 "$replicates"); do
        jobs+=("$cache/s${species}-l${sites}-i${internal}-r$r $species $sites $internal $r")
    done
done
printf '%s\n' "${jobs[@]}" | xargs -P "${JOBS:-2}" -L 1 bash -c 'dataset "$@"' _

mean() { awk '{ s += $1 } END { printf "%.3f", s / NR }'; }
printf '%-38s %6s' condition "genes"
for v in "${variants[@]}"; do printf ' %7s' "${v%%|*}"; done
printf '\n'
for c in "${conditions[@]}"; do
    IFS='|' read -r name species sites internal <<<"$c"
    printf '%-38s' "$name"
    gene_errors=() 
    for r in $(seq 1 "$replicates"); do
        dir="$cache/s${species}-l${sites}-i${internal}-r$r"
        for g in 1 2 3 4 5 6 7 8 9 10; do
            "$build/tressil_tree_distance" <(sed -n "${g}p" "$dir/genes.nwk") \
                <(sed -n "${g}p" "$dir/estimated.nwk")
        done
    done | mean | xargs printf ' %6s'
    for v in "${variants[@]}"; do
        IFS='|' read -r label options <<<"$v"
        for r in $(seq 1 "$replicates"); do
            dir="$cache/s${species}-l${sites}-i${internal}-r$r"
            # shellcheck disable=SC2086
            "$build/tressil-newick" infer --outgroup O1 $options "$dir/estimated.nwk" \
                "$dir/$label.nwk" >/dev/null 2>&1
            "$build/tressil_tree_distance" "$dir/species.nwk" "$dir/$label.nwk"
        done | mean | xargs printf ' %7s'
    done
    printf '\n'
done
