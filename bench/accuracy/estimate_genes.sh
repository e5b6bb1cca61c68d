#!/usr/bin/env bash
# Estimates gene trees back from sequences, as an empirical study would:
# evolves one alignment along each tree of GENES.nwk (lengths in
# substitutions per site, e.g. from tressil_simulate_genes --theta) with
# tressil_simulate_sequences, then estimates every gene with FastTree under
# GTR (its CAT rates across sites) in one run, and writes the estimated
# trees, one a line, unrooted, with FastTree's SH-like support values
# (0 to 1) and branch lengths, in the order of GENES.nwk.
#
#   bench/accuracy/estimate_genes.sh GENES.nwk ESTIMATED.nwk [SEQUENCE OPTIONS...]
#
# The options go to tressil_simulate_sequences (--length, --frequencies,
# --exchangeabilities, --alpha, --seed); e.g.
#   bench/accuracy/estimate_genes.sh genes.nwk estimated.nwk --length 300 --alpha 1 --seed 7
# BUILD names the build folder of the simulator (default build-bench). Needs
# FastTree (Debian: apt-get install fasttree). Identical sequences come back
# as one node of several zero-length children, so estimated trees need not
# be binary.
set -euo pipefail
if [ $# -lt 2 ]; then
    echo "use bench/accuracy/estimate_genes.sh GENES.nwk ESTIMATED.nwk [SEQUENCE OPTIONS...]" >&2
    exit 1
fi
genes=$1
estimated=$2
shift 2
fasttree=$(command -v fasttree || command -v FastTree || true)
if [ -z "$fasttree" ]; then
    echo "estimate_genes.sh: FastTree not found (apt-get install fasttree)" >&2
    exit 1
fi
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD:-$root/build-bench}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTRESSIL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target tressil_simulate_sequences >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/tressil_simulate_sequences" "$@" "$genes" "$work/alignments.phy"
count=$(grep -c ';' "$genes")
# -n reads that many PHYLIP alignments one after another and writes one tree
# a line; one process for all genes saves a start per gene.
"$fasttree" -nt -gtr -quiet -n "$count" "$work/alignments.phy" >"$work/estimated.nwk"
written=$(grep -c ';' "$work/estimated.nwk")
if [ "$written" -ne "$count" ]; then
    echo "estimate_genes.sh: FastTree wrote $written trees for $count alignments" >&2
    exit 1
fi
mv "$work/estimated.nwk" "$estimated"
