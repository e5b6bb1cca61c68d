# Shared start of the accuracy benchmarks that estimate gene trees: FastTree
# installed when missing, the programs built in BUILD, and a cache folder
# there for the estimated trees. Sourced with the build folder and the
# cache's name:
#   . bench/accuracy/setup.sh "$build" accuracy-cache   # sets $cache
if ! command -v fasttree >/dev/null; then
    apt-get install -y -qq fasttree >/dev/null
fi
cmake -S . -B "$1" -DCMAKE_BUILD_TYPE=Release -DTRESSIL_BUILD_TESTS=OFF >/dev/null
cmake --build "$1" -j2 --target tressil-newick tressil_simulate_genes \
    tressil_simulate_sequences tressil_tree_distance >/dev/null
cache="$1/$2"
mkdir -p "$cache"
