// infer without the triple table: when the table would not fit, or when
// asked, the species tree is searched with weights counted on the gene
// trees, in memory that grows with the trees rather than with n^3.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/common.h"
#include "named/road/road_steps.h"
#include "named/tablefree/table_free.h"

namespace {

__extension__ using Wide = unsigned __int128;

std::string gigabytes(int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / 1e9);
    return text;
}

int32_t largestSide(const GeneTrees& genes) {
    const auto n = static_cast<int32_t>(genes.names.size());
    const bool rootGiven = genes.ingroupCount > 0 && genes.ingroupCount < n;
    return rootGiven ? std::max(genes.ingroupCount, n - genes.ingroupCount) : n;
}

// Beyond the trees already held: the prepared trees, the pairing evidence of
// the largest side (two doubles per pair), the counts of a side per node,
// and each thread's working rows.
int64_t tableFreeBytes(const GeneTrees& genes) {
    const auto n = static_cast<int32_t>(genes.names.size());
    int64_t nodes = 0;
    for (const StoredTree& tree : genes.trees)
        nodes += static_cast<int64_t>(tree.parent.size());
    const auto trees = static_cast<int64_t>(genes.trees.size());
    const int64_t side = largestSide(genes);
    const int64_t threads = threadCountToUse();
    const int64_t peak = countingTreesBytes(n, trees, nodes) + 16 * side * side + 8 * nodes +
                         threads * (int64_t{n} * 40 + 4096);
    return peak + peak / 8 + (int64_t{8} << 20);
}

// The options that read the table, or weigh triples in ways the counts on
// the gene trees do not take: anchored triples are judged against the
// species tree's clades, each gene tree taken as unrooted.
std::string optionNeedingTable(const InferOptions& options) {
    if (options.method == InferMethod::kExact) return "--exact";
    if (options.method == InferMethod::kHeuristic) return "--heuristic";
    if (options.triples == TripleKind::kAnchored) return "--triples anchored";
    if (!options.speciesOf.empty() && options.weight != WeightRule::kNone)
        return "--weight with --map";
    return "";
}

}  // namespace

bool runsWithoutTable(const GeneTrees& genes, const InferOptions& options) {
    const std::string needing = optionNeedingTable(options);
    if (options.path == InferPath::kTable ||
        (options.path == InferPath::kAuto &&
         (!needing.empty() || tableRunFits(genes, options.method)))) {
        checkRunMemory(genes, options.method);
        return false;
    }
    if (!needing.empty())
        failWhole(needing + " needs the triple table; leave out --path table-free");
    const int64_t needed = tableFreeBytes(genes);
    const int64_t available = availableMemoryBytes();
    if (needed > available)
        failWhole(std::to_string(genes.names.size()) + " taxa need about " + gigabytes(needed) +
                  " of memory even without the triple table, but " + gigabytes(available) +
                  " is available");
    return true;
}

SpeciesTree solveWithoutTable(const GeneTrees& genes, const std::vector<int32_t>& copies) {
    const auto n = static_cast<int32_t>(genes.names.size());
    std::vector<StoredTree> chosen;
    const std::vector<StoredTree>* trees = &genes.trees;
    if (!copies.empty()) {
        for (size_t t = 0; t < genes.trees.size(); ++t)
            if (copies[t] > 0) {
                chosen.push_back(genes.trees[t]);
                chosen.back().weight *= copies[t];
            }
        trees = &chosen;
    }
    const CountingTrees counting =
        prepareCountingTrees(*trees, n, genes.weighted ? &genes.weighting : nullptr);
    chosen.clear();
    const bool rootGiven = genes.ingroupCount > 0 && genes.ingroupCount < n;
    std::vector<int32_t> ingroup(static_cast<size_t>(rootGiven ? genes.ingroupCount : n));
    for (size_t s = 0; s < ingroup.size(); ++s)
        ingroup[s] = static_cast<int32_t>(s);
    SpeciesTree species{{{}, -1}, Method::kSearch, {nullptr, 0, 0, false}, rootGiven};
    int64_t& total = species.figures.total;
    if (!rootGiven) {
        species.tree = searchWithoutTable(counting, ingroup, &total);
        return species;
    }
    std::vector<int32_t> outgroup;
    for (int32_t s = genes.ingroupCount; s < n; ++s)
        outgroup.push_back(s);
    // The outgroup first, then the ingroup, under a new root.
    int64_t inside = 0;
    species.tree = searchWithoutTable(counting, outgroup, &total);
    const ResultTree in = searchWithoutTable(counting, ingroup, &inside);
    CountWork work;
    total += inside + splitWeight(counting, outgroup, ingroup, &work);
    const int32_t outRoot = species.tree.root;
    const auto shift = static_cast<int32_t>(species.tree.nodes.size());
    for (ResultNode node : in.nodes) {
        for (int32_t& child : node.children)
            child += shift;
        species.tree.nodes.push_back(node);
    }
    species.tree.nodes.push_back({-1, {outRoot, in.root + shift}, "", "", ""});
    species.tree.root = static_cast<int32_t>(species.tree.nodes.size() - 1);
    return species;
}

void labelSharesWithoutTable(ResultTree* tree, const GeneTrees& genes) {
    const auto n = static_cast<int32_t>(genes.names.size());
    const CountingTrees counting =
        prepareCountingTrees(genes.trees, n, genes.weighted ? &genes.weighting : nullptr);
    std::vector<std::vector<int32_t>> below(tree->nodes.size());
    for (size_t i = 0; i < tree->nodes.size(); ++i) {
        const ResultNode& node = tree->nodes[i];
        if (node.children.empty()) below[i] = {node.taxon};
        for (const int32_t c : node.children)
            below[i].insert(below[i].end(), below[static_cast<size_t>(c)].begin(),
                            below[static_cast<size_t>(c)].end());
    }
    std::vector<size_t> labelled;
    for (size_t i = 0; i < tree->nodes.size(); ++i)
        if (tree->nodes[i].children.size() == 2) labelled.push_back(i);
    std::atomic<size_t> next{0};
    runOnThreads(threadCountToUse(), [&] {
        CountWork work;
        std::vector<char> inside(static_cast<size_t>(n));
        for (size_t k = next++; k < labelled.size(); k = next++) {
            ResultNode& node = tree->nodes[labelled[k]];
            // The node's two parts against every other taxon: the first
            // resolution agrees, all three are the evidence.
            std::array<std::vector<int32_t>, 3> parts{below[static_cast<size_t>(node.children[0])],
                                                      below[static_cast<size_t>(node.children[1])],
                                                      {}};
            std::fill(inside.begin(), inside.end(), 0);
            for (const int32_t s : below[labelled[k]])
                inside[static_cast<size_t>(s)] = 1;
            for (int32_t s = 0; s < n; ++s)
                if (!inside[static_cast<size_t>(s)]) parts[2].push_back(s);
            const ColourWeights w = colourWeights(counting, parts, &work);
            const int64_t total = w.mixed[0] + w.mixed[1] + w.mixed[2];
            if (total == 0) continue;
            // Sums up to 2^60 (prepareCountingTrees): rounded half up in 128 bits.
            const auto hundredths = static_cast<int64_t>(
                (Wide{200} * static_cast<Wide>(w.mixed[2]) + static_cast<Wide>(total)) /
                (Wide{2} * static_cast<Wide>(total)));
            const std::string digits = std::to_string(100 + hundredths);
            node.label = std::to_string(hundredths / 100) + "." + digits.substr(digits.size() - 2);
        }
    });
}

std::string tableFreeReport(const SpeciesTree& species, const GeneTrees& genes) {
    return "%Number of input trees: " + std::to_string(genes.trees.size()) +
           "\n%Number of species: " + std::to_string(genes.names.size()) +
           "\n%Using method: Search\n%Total weight of satisfied triples: " +
           std::to_string(species.figures.total) + ".\n";
}

std::string tableFreeNote(const InferOptions& options, bool scoring) {
    return std::string("tressil-newick: ") +
           (options.path == InferPath::kTableFree
                ? "as asked, the species tree"
                : "the triple table would not fit in memory, so the species tree") +
           (scoring ? " is weighed" : " is searched") +
           " on the gene trees themselves; the report gives no upper bound, "
           "which needs the table\n";
}
