#!/usr/bin/env bash
# Accuracy on estimated gene trees where the outgroup misleads: high
# incomplete lineage sorting, short alignments (300 or 500 sites) and one
# outgroup species on a long stem, so that FastTree misplaces the outgroup
# in many gene trees. Compares rooted triples (plain), rooted triples
# weighed by support alone (--weight support), anchored triples (--triples
# anchored), hybrid branch weights (--weight hybrid --sites, support times
# the chance of a substitution on the branch) and both together.
#
# For each condition and replicate: a species tree and its gene trees under
# the multispecies coalescent (tressil_simulate_genes, outgroup O1 on the
# default stem of 5 coalescent units), a GTR+Gamma alignment along each gene
# (tressil_simulate_sequences), each gene estimated back with FastTree
# (JC+CAT, SH-like supports), then infer with each option set. Prints, per
# condition and option set, the mean normalised Robinson-Foulds distance to
# the true species tree and its standard error over the replicates, and how
# many anchored runs settled before their last round; then each option
# set's mean difference from plain on the same replicates, with the
# standard error of that difference (negative: closer to the truth).
#
#   bench/accuracy/anchored.sh [build-dir] [replicates]
#
# Everything is seeded, so every run prints the same table. With 20
# replicates it printed (mean ± standard error of nRF; the estimation took
# about 40 minutes on a shared 2-core machine):
#
#   condition                               plain       support     anchored    hybrid      anch+hyb
#   20 species, 200 genes, 300 sites        0.081±0.012 0.075±0.012 0.069±0.011 0.053±0.012 0.061±0.011
#   50 species, 150 genes, 300 sites        0.065±0.009 0.058±0.009 0.068±0.009 0.061±0.008 0.059±0.009
#   50 species, 150 genes, 500 sites        0.058±0.007 0.052±0.008 0.055±0.007 0.054±0.007 0.055±0.009
#   difference from plain, same replicates
#   20 species, 200 genes, 300 sites        -0.006±0.009 -0.011±0.006 -0.028±0.009 -0.019±0.010
#   50 species, 150 genes, 300 sites        -0.006±0.005  0.003±0.003 -0.003±0.007 -0.005±0.008
#   50 species, 150 genes, 500 sites        -0.006±0.004 -0.003±0.003 -0.004±0.006 -0.003±0.006
#
# The estimated gene trees are kept in BUILD/anchored-cache, so a second run, or one with
# more replicates, only estimates what is new. Installs FastTree (Debian's
# fasttree) when it is missing. JOBS sets how many FastTree runs go at once
# (2).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build-bench}
replicates=${2:-20}
# shellcheck source=bench/accuracy/setup.sh
. bench/accuracy/setup.sh "$build" anchored-cache

# name | species (outgroup included) | genes | sites | mean internal length
conditions=(
    "20 species, 200 genes, 300 sites, high ILS|20|200|300|0.7"
    "50 species, 150 genes, 300 sites, high ILS|50|150|300|0.7"
    "50 species, 150 genes, 500 sites, high ILS|50|150|500|0.7"
)
# label | infer options (SITES stands for the condition's alignment length)
variants=(
    "plain|"
    "support|--weight support"
    "anchored|--triples anchored"
    "hybrid|--weight hybrid --sites SITES"
    "anch+hyb|--triples anchored --weight hybrid --sites SITES"
)

# One dataset: true trees and estimated gene trees, made once.
dataset() {
    local dir=$1 species=$2 genes=$3 sites=$4 internal=$5 seed=$6
    [ -s "$dir/estimated.nwk" ] && return 0
    mkdir -p "$dir"
    "$build/tressil_simulate_genes" --species "$species" --outgroup 1 --mean-internal "$internal" \
        --genes "$genes" --theta 0.01 --unrooted --seed "$seed" "$dir/species.nwk" "$dir/genes.nwk"
    "$build/tressil_simulate_sequences" --length "$sites" --alpha 1 \
        --frequencies 0.3,0.2,0.2,0.3 --exchangeabilities 1,4,1,1,4,1 --seed "$seed" \
        "$dir/genes.nwk" "$dir/alignments.phy"
    fasttree -nt -quiet -n "$genes" "$dir/alignments.phy" >"$dir/estimated.tmp" 2>/dev/null
    mv "$dir/estimated.tmp" "$dir/estimated.nwk"
    rm -f "$dir/alignments.phy"
}
export -f dataset
export build

jobs=()
for c in "${conditions[@]}"; do
    IFS='|' read -r _ species genes sites internal <<<"$c"
    for r in $(seq 1 "$replicates"); do
        jobs+=("$cache/s$species-g$genes-l$sites-i$internal-r$r $species $genes $sites $internal $r")
    done
done
printf '%s\n' "${jobs[@]}" | xargs -P "${JOBS:-2}" -L 1 bash -c 'dataset "$@"' _

# Mean and standard error of the mean of one number a line.
meanError() {
    awk '{ s += $1; q += $1 * $1; n++ }
         END { m = s / n; v = n > 1 ? (q - n * m * m) / (n - 1) : 0; if (v < 0) v = 0;
               printf "%.3f±%.3f", m, sqrt(v / n) }'
}
printf '%-44s' condition
for v in "${variants[@]}"; do printf ' %13s' "${v%%|*}"; done
printf ' %9s\n' settled
for c in "${conditions[@]}"; do
    IFS='|' read -r name species genes sites internal <<<"$c"
    printf '%-44s' "$name"
    for v in "${variants[@]}"; do
        IFS='|' read -r label options <<<"$v"
        options=${options//SITES/$sites}
        for r in $(seq 1 "$replicates"); do
            dir="$cache/s$species-g$genes-l$sites-i$internal-r$r"
            # shellcheck disable=SC2086
            "$build/tressil-newick" infer --outgroup O1 $options "$dir/estimated.nwk" \
                "$dir/$label.nwk" >/dev/null 2>"$dir/$label.notes"
            "$build/tressil_tree_distance" "$dir/species.nwk" "$dir/$label.nwk"
        done | meanError | xargs printf ' %13s'
    done
    # Anchored runs (both variants) whose species tree settled.
    for r in $(seq 1 "$replicates"); do
        dir="$cache/s$species-g$genes-l$sites-i$internal-r$r"
        cat "$dir/anchored.notes" "$dir/anch+hyb.notes"
    done | grep -c settled | xargs -I{} printf ' %6s\n' "{}/$((2 * replicates))"
done

printf '\n%-44s' "difference from plain, same replicates"
for v in "${variants[@]:1}"; do printf ' %14s' "${v%%|*}"; done
printf '\n'
for c in "${conditions[@]}"; do
    IFS='|' read -r name species genes sites internal <<<"$c"
    printf '%-44s' "$name"
    for v in "${variants[@]:1}"; do
        label=${v%%|*}
        for r in $(seq 1 "$replicates"); do
            dir="$cache/s$species-g$genes-l$sites-i$internal-r$r"
            a=$("$build/tressil_tree_distance" "$dir/species.nwk" "$dir/$label.nwk")
            b=$("$build/tressil_tree_distance" "$dir/species.nwk" "$dir/plain.nwk")
            awk -v a="$a" -v b="$b" 'BEGIN { print a - b }'
        done | meanError | xargs printf ' %14s'
    done
    printf '\n'
done
