#!/usr/bin/env bash
# Species trees from gene families: how close does `infer --families` come to
# the true species tree, against what users do without it, inferring from
# the single-copy families alone? And what do 10,000 families cost?
#
# For each condition and replicate: a Yule species tree (mean internal
# branch 1 coalescent unit) and gene families grown in it by
# tressil_simulate_families (duplications and losses along the branches,
# then the coalescent inside each copy; leaves SPECIES_k, rooted Newick as
# simulated). The 25-species conditions ask for a mean family size of 125
# (five copies per species) through --mean-size, which sets the duplication
# rate from the loss rate: at loss 0.05 few copies are born and lost, at
# loss 0.8 many (duplication about 0.35 and 1.1 per coalescent unit). The
# 100-species conditions keep one copy per species on average, with equal
# duplication and loss rates of 0.01 and 0.1, so that some families are still
# single-copy. Families with fewer than three genes are drawn again.
#
# Columns: the mean leaves per family, the mean number of single-copy
# families (every species at most once, three species or more), the mean
# nRF (normalised Robinson-Foulds distance) ± its standard error over the
# replicates of `infer --families` on all families, once per entry of
# FAMILY_VARIANTS, and of plain `infer` on the single-copy families
# relabelled by species, with the number of replicates where they held
# every species (only those count).
# Then the time and peak memory (/usr/bin/time) of `infer --families` on
# 10,000 families of about 50 genes (25 species), beside plain `infer` on
# 10,000 single-copy gene trees of 50 species for scale.
#
#   bench/accuracy/families.sh [build-dir] [replicates]
#
# Environment:
#   FAMILY_VARIANTS  the families runs to compare, "label|options" entries
#                    separated by ';' (default "families|"); for example
#                    FAMILY_VARIANTS='shared|--piece-weight shared;whole|--piece-weight whole'
#                    to compare two rules for the weight of a family's pieces
#   FAMILY_NAMING    how infer learns each leaf's species (default
#                    "--delimiter _"); MAP stands for the map the simulator
#                    wrote, as in FAMILY_NAMING="--map MAP"
#   TIMING_RUNS      how many timed runs (default 3; 0 skips the timing)
#   SIMULATE_OPTIONS more tressil_simulate_families options for every run,
#                    say "--unrooted" to give infer the families as tree
#                    builders write them (the single-copy column is then
#                    empty: without an outgroup, plain infer cannot root them)
#
# Everything is seeded, so every run prints the same table, but for the
# times.
#
# With 10 replicates it printed:
#
#   condition                                leaves  single      families   single-copy  runs
#   25 species, 250 families, low dup         125.2     0.1  0.009±0.006             -  0/10
#   25 species, 250 families, high dup        181.7     0.3  0.027±0.007             -  0/10
#   100 species, 100 families, low dup         99.3    18.3  0.056±0.007  0.125±0.013 10/10
#   100 species, 100 families, high dup       102.4     1.3  0.046±0.008             -  0/10
#
# and `infer --families` took 2.6 to 3.4 s and 201 MiB on the 10,000
# families (plain infer on 10,000 single-copy trees of 50 species: 1.0 to
# 1.1 s, 51 MiB), on the 2-core machine shared with other builds.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build-bench}
replicates=${2:-10}
variants_text=${FAMILY_VARIANTS:-families|}
naming=${FAMILY_NAMING:---delimiter _}
timing_runs=${TIMING_RUNS:-3}
simulate_options=${SIMULATE_OPTIONS:-}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTRESSIL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target tressil-newick tressil_simulate_families \
    tressil_simulate_genes tressil_tree_distance >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
IFS=';' read -r -a variants <<<"$variants_text"

# name | species | families | simulator options
conditions=(
    "25 species, 250 families, low dup|25|250|--mean-size 125 --loss-rate 0.05"
    "25 species, 250 families, high dup|25|250|--mean-size 125 --loss-rate 0.8"
    "100 species, 100 families, low dup|100|100|--dup-rate 0.01 --loss-rate 0.01"
    "100 species, 100 families, high dup|100|100|--dup-rate 0.1 --loss-rate 0.1"
)

# The families where no species has two copies and three species or more
# have one, with each leaf named by its species.
singleCopy() {
    awk '{
        n = split($0, parts, /[(),;]/)
        delete seen
        ok = 1
        count = 0
        for (i = 1; i <= n; i++) {
            name = parts[i]
            sub(/:.*/, "", name)
            if (name == "") continue
            sub(/_[0-9]+$/, "", name)
            if (name in seen) { ok = 0; break }
            seen[name] = 1
            count++
        }
        if (ok && count >= 3) { line = $0; gsub(/_[0-9]+:/, ":", line); print line }
    }' "$1"
}

# Mean and standard error of the mean of one number a line; "-" for none.
meanError() {
    awk '{ s += $1; q += $1 * $1; n++ }
         END { if (n == 0) { printf "-"; exit }
               m = s / n; v = n > 1 ? (q - n * m * m) / (n - 1) : 0; if (v < 0) v = 0;
               printf "%.3f±%.3f", m, sqrt(v / n) }'
}
mean() { awk '{ s += $1; n++ } END { printf "%.1f", n ? s / n : 0 }'; }

printf '%-38s %8s %7s' condition leaves single
for v in "${variants[@]}"; do printf ' %13s' "${v%%|*}"; done
printf ' %13s %5s\n' single-copy runs
for c in "${conditions[@]}"; do
    IFS='|' read -r name species families options <<<"$c"
    : >"$work/leaves"
    : >"$work/singles"
    : >"$work/single.nrf"
    for v in "${variants[@]}"; do : >"$work/${v%%|*}.nrf"; done
    for r in $(seq 1 "$replicates"); do
        dir="$work/r$r"
        mkdir -p "$dir"
        # shellcheck disable=SC2086
        "$build/tressil_simulate_families" --species "$species" --families "$families" \
            $options $simulate_options --map "$dir/map.txt" --seed "$r" "$dir/species.nwk" "$dir/families.nwk" \
            2>/dev/null
        awk -F, '{ n += NF } END { print n / NR }' "$dir/families.nwk" >>"$work/leaves"
        singleCopy "$dir/families.nwk" >"$dir/single.nwk"
        wc -l <"$dir/single.nwk" >>"$work/singles"
        for v in "${variants[@]}"; do
            IFS='|' read -r label extra <<<"$v"
            # shellcheck disable=SC2086
            if "$build/tressil-newick" infer --families ${naming//MAP/$dir/map.txt} $extra \
                "$dir/families.nwk" "$dir/out-$label.nwk" >/dev/null 2>"$dir/$label.err"; then
                "$build/tressil_tree_distance" "$dir/species.nwk" "$dir/out-$label.nwk" \
                    >>"$work/$label.nrf"
            fi
        done
        # Only a tree of every species counts: the distance over the species
        # a few small families hold would flatter it.
        if [ -s "$dir/single.nwk" ] &&
            "$build/tressil-newick" infer "$dir/single.nwk" "$dir/single-out.nwk" \
                >/dev/null 2>&1 &&
            [ "$(awk -F, '{ print NF }' "$dir/single-out.nwk")" -eq "$species" ]; then
            "$build/tressil_tree_distance" "$dir/species.nwk" "$dir/single-out.nwk" \
                >>"$work/single.nrf"
        fi
    done
    printf '%-38s %8s %7s' "$name" "$(mean <"$work/leaves")" "$(mean <"$work/singles")"
    for v in "${variants[@]}"; do
        printf ' %13s' "$(meanError <"$work/${v%%|*}.nrf")"
    done
    printf ' %13s %5s\n' "$(meanError <"$work/single.nrf")" \
        "$(wc -l <"$work/single.nrf")/$replicates"
done
for v in "${variants[@]}"; do
    label=${v%%|*}
    if [ -s "$work/r1/$label.err" ] && [ ! -s "$work/r1/out-$label.nwk" ]; then
        printf '%s failed: %s\n' "$label" "$(head -n 1 "$work/r1/$label.err")"
    fi
done

[ "$timing_runs" -gt 0 ] || exit 0
# shellcheck disable=SC2086
"$build/tressil_simulate_families" --species 25 --families 10000 --mean-size 50 \
    --loss-rate 0.1 $simulate_options --map "$work/big-map.txt" --seed 1 "$work/big-species.nwk" "$work/big.nwk" \
    2>/dev/null
"$build/tressil_simulate_genes" --species 50 --genes 10000 --seed 1 "$work/plain-species.nwk" \
    "$work/plain.nwk"
printf '\n%s leaves per family over 10000 families (25 species)\n' \
    "$(awk -F, '{ n += NF } END { printf "%.1f", n / NR }' "$work/big.nwk")"
printf '%-46s %10s %10s\n' run seconds "peak MiB"
IFS='|' read -r label extra <<<"${variants[0]}"
# One timed run: its seconds and peak MiB, or "failed".
timed() {
    if /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>&1; then
        awk '{ printf "%10s %10.0f", $1, $2 / 1024 }' "$work/time"
    else
        printf '%10s %10s' failed -
    fi
}
for _ in $(seq 1 "$timing_runs"); do
    # shellcheck disable=SC2086
    printf '%-46s %s\n' "infer --families ($label), 10000 families" \
        "$(timed "$build/tressil-newick" infer --families ${naming//MAP/$work/big-map.txt} $extra \
            "$work/big.nwk" "$work/big-out.nwk")"
    printf '%-46s %s\n' "infer, 10000 single-copy trees of 50 species" \
        "$(timed "$build/tressil-newick" infer "$work/plain.nwk" "$work/plain-out.nwk")"
done
