#!/usr/bin/env bash
# Times tressil and tressil-newick infer on fixed workloads: median wall time
# of 3 runs and the peak resident memory of the whole process; then prints the
# search's quality table (bench/quality.sh).
#
# With --scale it times infer at scale instead, against its targets: 200,
# 500 and 1,000 species on 1,000 gene trees that each miss up to 30% of the
# taxa, and 120 species on 20,000 complete gene trees (about ten minutes
# in all, most of it the three runs of 1,000 species). Beside each: the time of
# filling the table alone and the memory infer works out before it
# allocates, against the peak; then the search's quality at 200 species
# against both bounds ("below%" is its distance to the bound of sets of
# four). Then the table-free path at 1,000 species beside the table's,
# and at 2,000 species, where the table does not fit. --large adds 5,000 and
# 10,000 species on the table-free path, one run each (about half an hour).
#
# Usage: bench/run.sh [build-dir] [--scale [--large]]
set -euo pipefail
cd "$(dirname "$0")/.."
scale=no
large=no
args=()
for a in "$@"; do
    case "$a" in
    --scale) scale=yes ;;
    --large) large=yes ;;
    *) args+=("$a") ;;
    esac
done
build=${args[0]:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTRESSIL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target tressil tressil_generate tressil-newick tressil_generate_genes \
    tressil_scale_probe tressil_plain_climb >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# name | method argument | species trees leaves seed [max weight [noise]]
# (5000 trees of 128 leaves display about 1.7e9 triples: with weights above 1
# the table would pass its total limit, so that input has weight 1 only)
workloads=(
    "exact 16 species, 2000 triples|1|16 2000 3 16"
    "exact 20 species, 2000 triples|1|20 2000 3 20"
    "heuristic 128 species, 5000 triples|H|128 5000 3 128"
    "heuristic 128 species, 500 trees of 64|H|128 500 64 64"
    "heuristic 128 species, 5000 trees of 128|H|128 5000 128 5000 1"
    "search 40 species, 2000 triples|--search|40 2000 3 40"
    "search 40 species, 300 gene trees|--search|40 300 40 5 1 25"
    "search 128 species, 5000 triples|--search|128 5000 3 128"
    "search 128 species, 500 trees of 64|--search|128 500 64 64"
    "search 128 species, 5000 trees of 128|--search|128 5000 128 5000 1"
)

# name | infer options | taxa trees collapse seed (gene trees, outgroup t001)
infer_workloads=(
    "infer, 400 unrooted trees of 100 taxa|--heuristic|100 400 0 7"
    "infer search, 400 trees of 100 taxa|--search|100 400 0 7"
    "infer, the same, support <= 50 collapsed|--heuristic|100 400 50 7"
    "infer search, the same collapsed|--search|100 400 50 7"
)

# Median wall time of 3 runs (of $runs, when set) and peak memory of one
# command.
measure() {
    local name=$1
    shift
    local times=() peak=0 seconds kib
    for _ in $(seq "${runs:-3}"); do
        if ! /usr/bin/time -f '%e %M' -o "$work/time.txt" "$@" >"$work/stdout.txt" 2>&1; then
            echo "$name: failed: $(tail -c 200 "$work/stdout.txt")" >&2
            exit 1
        fi
        read -r seconds kib <"$work/time.txt"
        times+=("$seconds")
        [ "$kib" -gt "$peak" ] && peak=$kib
    done
    median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((${#times[@]} + 1) / 2))p")
    printf '%-42s %12s %12.1f\n' "$name" "$median" "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')"
}

# name | generator arguments | outgroup | target seconds | target MiB
scale_workloads=(
    "infer, 200 species, 1000 gene trees|200 1000 0 7 --present 70|t001|20|512"
    "infer, 500 species, 1000 gene trees|500 1000 0 7 --present 70|t001|180|2048"
    "infer, the same, a four-taxon outgroup|500 1000 0 7 --present 70|t001,t002,t003,t004|180|2048"
    "infer, 1000 species, 1000 gene trees|1000 1000 0 7 --present 70|t0001|1200|8192"
    "infer, 120 species, 20000 complete trees|120 20000 0 7|t001|30|256"
)

# name | generator arguments | infer options | target seconds | target MiB
table_free_workloads=(
    "table path, 1000 species, 1000 gene trees|1000 1000 0 7 --present 70|--path table|1200|8192"
    "table-free, 1000 species, 1000 gene trees|1000 1000 0 7 --present 70|--path table-free|30|1024"
    "table-free, 2000 species, 1000 gene trees|2000 1000 0 7 --present 70||180|2048"
)
large_workloads=(
    "table-free, 5000 species, 1000 gene trees|5000 1000 0 7 --present 70||1200|6144"
    "table-free, 10000 species, 1000 gene trees|10000 1000 0 7 --present 70||3600|12288"
)

# One row of the table-free table: the workload's time, peak and the
# report's satisfied weight, with the first taxon, t0001, as the outgroup
# (the generator's names have four digits from 1,000 taxa on).
table_free_row() {
    local name gen options seconds mib line weight
    IFS='|' read -r name gen options seconds mib <<<"$1"
    # shellcheck disable=SC2086
    "$build/tressil_generate_genes" $gen >"$work/genes.nwk"
    # shellcheck disable=SC2086
    line=$(measure "$name" "$build/tressil-newick" infer --outgroup t0001 \
        $options "$work/genes.nwk" "$work/species.nwk")
    weight=$(sed -n 's/^%Total weight of satisfied triples: \([0-9]*\)\./\1/p' "$work/stdout.txt")
    printf '%-42s %9s %9s %9s %9s %18s\n' "$name" "$(awk '{print $(NF-1)}' <<<"$line")" \
        "$seconds" "$(awk '{print $NF}' <<<"$line")" "$mib" "$weight"
}

if [ "$scale" = yes ]; then
    printf '%-42s %9s %9s %9s %9s %9s %10s %9s\n' workload "median s" "target s" "peak MiB" \
        "target" "fill s" "estimate" "est/peak"
    for w in "${scale_workloads[@]}"; do
        IFS='|' read -r name gen outgroup seconds mib <<<"$w"
        # shellcheck disable=SC2086
        "$build/tressil_generate_genes" $gen >"$work/genes.nwk"
        line=$(measure "$name" "$build/tressil-newick" infer --outgroup "$outgroup" \
            "$work/genes.nwk" "$work/species.nwk")
        read -r _ _ fill estimate <<<"$("$build/tressil_scale_probe" "$work/genes.nwk" "$outgroup")"
        median=$(awk '{print $(NF-1)}' <<<"$line")
        peak=$(awk '{print $NF}' <<<"$line")
        printf '%-42s %9s %9s %9s %9s %9s %10s %9s\n' "$name" "$median" "$seconds" "$peak" "$mib" \
            "$fill" "$estimate" "$(awk -v e="$estimate" -v p="$peak" 'BEGIN { printf "%.2f", e / p }')"
    done
    echo
    # Without the triple table: 1,000 species on both paths, then sizes the
    # table cannot reach, which infer runs table-free by itself. The
    # satisfied weight is the report's.
    printf '%-42s %9s %9s %9s %9s %18s\n' workload "median s" "target s" "peak MiB" target \
        "satisfied weight"
    for w in "${table_free_workloads[@]}"; do table_free_row "$w"; done
    if [ "$large" = yes ]; then
        runs=1
        for w in "${large_workloads[@]}"; do table_free_row "$w"; done
        runs=3
    fi
    echo
    # The search at 200 species against the plain climbs and the bound: on
    # the trees of the first target, and on half of them with half of
    # another species tree's, whose conflict leaves the search more to do.
    printf '%-14s %12s %12s %12s %12s %12s %12s %7s\n' "200 species" heuristic "its climb" \
        search "search climb" "4-set bound" "3-set bound" "below%"
    "$build/tressil_generate_genes" 200 1000 0 7 --present 70 >"$work/target.nwk"
    { "$build/tressil_generate_genes" 200 500 0 7 --present 70
      "$build/tressil_generate_genes" 200 500 0 8 --present 70; } >"$work/mixed.nwk"
    for data in target mixed; do
        read -r heuristic climb search ownClimb quartets triples <<<"$("$build/tressil_plain_climb" \
            --genes "$work/$data.nwk" t001)"
        printf '%-14s %12s %12s %12s %12s %12s %12s %7s\n' "$data trees" "$heuristic" "$climb" \
            "$search" "$ownClimb" "$quartets" "$triples" \
            "$(awk -v b="$quartets" -v s="$search" 'BEGIN { printf "%.3f", 100 * (b - s) / b }')"
    done
    exit 0
fi

printf '%-42s %12s %12s\n' workload "median s" "peak MiB"
for w in "${workloads[@]}"; do
    IFS='|' read -r name method gen <<<"$w"
    # shellcheck disable=SC2086
    "$build/tressil_generate" $gen >"$work/in.txt"
    measure "$name" "$build/tressil" "$work/in.txt" "$work/out.txt" "$method"
done
for w in "${infer_workloads[@]}"; do
    IFS='|' read -r name options gen <<<"$w"
    # shellcheck disable=SC2086
    "$build/tressil_generate_genes" $gen >"$work/genes.nwk"
    # shellcheck disable=SC2086
    measure "$name" "$build/tressil-newick" infer --outgroup t001 $options "$work/genes.nwk" \
        "$work/species.nwk"
done

echo
bench/quality.sh "$build"
