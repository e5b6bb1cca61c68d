// Anchored triples: each triple of a gene tree judged against every taxon
// outside its clade of the species tree, and the species tree solved again
// from them until it settles.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "named/read/read.h"
#include "named/road/road_steps.h"

AnchorClades anchorCladesOf(const ResultTree& tree, int32_t taxa) {
    const auto n = static_cast<size_t>(taxa);
    const size_t nodes = tree.nodes.size();
    AnchorClades clades{0, {}, std::vector<int32_t>(n * n, -1), {}};
    std::vector<int32_t> cladeOf(nodes, -1);
    std::vector<int32_t> nodeDepth(nodes, 0);
    // Nodes are stored children first: from the top down, depths in clades.
    for (size_t v = nodes; v-- > 0;) {
        if (tree.nodes[v].children.empty()) continue;
        cladeOf[v] = clades.count++;
        for (const int32_t child : tree.nodes[v].children)
            nodeDepth[static_cast<size_t>(child)] = nodeDepth[v] + 1;
    }
    clades.inside.assign(static_cast<size_t>(clades.count) * n, 0);
    clades.depth.assign(static_cast<size_t>(clades.count), 0);
    std::vector<std::vector<int32_t>> below(nodes);
    for (size_t v = 0; v < nodes; ++v) {
        const ResultNode& node = tree.nodes[v];
        if (node.children.empty()) {
            below[v] = {node.taxon};
            continue;
        }
        const auto c = static_cast<size_t>(cladeOf[v]);
        clades.depth[c] = nodeDepth[v];
        for (size_t i = 0; i < node.children.size(); ++i) {
            const auto& one = below[static_cast<size_t>(node.children[i])];
            for (size_t j = i + 1; j < node.children.size(); ++j)
                for (const int32_t a : one)
                    for (const int32_t b : below[static_cast<size_t>(node.children[j])]) {
                        clades.meet[static_cast<size_t>(a) * n + static_cast<size_t>(b)] =
                            cladeOf[v];
                        clades.meet[static_cast<size_t>(b) * n + static_cast<size_t>(a)] =
                            cladeOf[v];
                    }
        }
        for (const int32_t child : node.children) {
            auto& from = below[static_cast<size_t>(child)];
            below[v].insert(below[v].end(), from.begin(), from.end());
            std::vector<int32_t>().swap(from);
        }
        for (const int32_t t : below[v])
            clades.inside[c * n + static_cast<size_t>(t)] = 1;
    }
    return clades;
}

namespace {

// The weight of the triples of the table that the tree displays, and its
// share of the table's whole weight.
struct OwnFit {
    int64_t satisfied;
    double share;
};

OwnFit fitOfTable(const ResultTree& tree, int32_t taxa) {
    const SpeciesTreeDepths depths = meetingDepths(tree, taxa);
    int64_t satisfied = 0;
    int64_t all = 0;
    for (int32_t a = 0; a < taxa; ++a) {
        const int32_t* meet = depths.meet.data() + static_cast<size_t>(a) * taxa;
        for (int32_t b = a + 1; b < taxa; ++b) {
            const int32_t* row = tripleRow(a, b);
            for (int32_t z = 0; z < taxa; ++z) {
                all += row[z];
                if (z != a && z != b && meet[z] < meet[b]) satisfied += row[z];
            }
        }
    }
    return {satisfied, all > 0 ? static_cast<double>(satisfied) / static_cast<double>(all) : 0};
}

}  // namespace

// Each round solves the table filled from the current tree's clades. A
// solved tree that satisfies less of that table than the current tree does
// is no better answer to it: the current tree stays, and the rounds end as
// settled (the heuristic's trees do this, and would otherwise wander from
// round to round). A tree that comes back to the tree of an earlier round
// has entered a cycle that more rounds would only repeat: of the trees of
// the cycle, the one that satisfies the largest share of its own table is
// kept (the earliest on ties), with that table.
SpeciesTree anchorAndSolve(GeneTrees* genes, const InferOptions& options, SpeciesTree species,
                           std::string* notes) {
    const auto taxa = static_cast<int32_t>(genes->names.size());
    // Per round: the tree judged, its key, and how it fits its own table.
    std::vector<SpeciesTree> judged;
    std::vector<std::string> keys;
    std::vector<OwnFit> fits;
    bool changed = true;
    bool kept = false;
    int round = 0;
    size_t cycleFrom = 0;
    bool cycled = false;
    while (changed && round < kMaxAnchoredRounds) {
        ++round;
        genes->anchor = anchorCladesOf(species.tree, taxa);
        fillTable(*genes, {});
        SpeciesTree next = solveSpeciesTree(options.method, genes->ingroupCount);
        const std::string key = topologyKey(next.tree);
        keys.push_back(topologyKey(species.tree));
        changed = key != keys.back();
        if (!changed) {
            species = std::move(next);
            break;
        }
        const OwnFit fit = fitOfTable(species.tree, taxa);
        if (fitOfTable(next.tree, taxa).satisfied < fit.satisfied) {
            // The bound is the table's, as the solve worked it out.
            species.figures = next.figures;
            species.figures.total = fit.satisfied;
            changed = false;
            kept = true;
            break;
        }
        fits.push_back(fit);
        judged.push_back(std::move(species));
        species = std::move(next);
        const auto earlier = std::find(keys.begin(), keys.end(), key);
        if (earlier != keys.end()) {
            cycleFrom = static_cast<size_t>(earlier - keys.begin());
            cycled = true;
            break;
        }
    }
    if (cycled) {
        size_t best = cycleFrom;
        for (size_t r = cycleFrom + 1; r < judged.size(); ++r)
            if (fits[r].share > fits[best].share) best = r;
        if (best + 1 < judged.size()) {
            genes->anchor = anchorCladesOf(judged[best].tree, taxa);
            fillTable(*genes, {});
        }
        // The solve of the tree's own table is the next round's.
        const MethodResult solved =
            best + 1 < judged.size() ? judged[best + 1].figures : species.figures;
        species = std::move(judged[best]);
        species.figures = solved;
        species.figures.total = fits[best].satisfied;
        *notes += "tressil-newick: anchored triples: the species tree came back in round " +
                  std::to_string(round) + " to the tree of round " + std::to_string(cycleFrom + 1) +
                  " of judging triples against the taxa outside their clade; of the " +
                  std::to_string(judged.size() - cycleFrom) +
                  " trees it went round, the one of round " + std::to_string(best + 1) +
                  " satisfies the largest share of its own triples and is kept\n";
        return species;
    }
    *notes +=
        "tressil-newick: anchored triples: the species tree " +
        (changed ? "still changed in round " + std::to_string(round) + ", the last"
                 : "settled after " + std::to_string(round) + " round" + (round > 1 ? "s" : "")) +
        " of judging triples against the taxa outside their clade" +
        (kept ? "; the tree solved in the last satisfied less of its table than the tree "
                "it was filled from, which is kept"
              : "") +
        "\n";
    return species;
}

std::string arbitraryRootTaxon(const std::string& bytes) {
    TreeSource source = openTreeSource(bytes);
    NamedTree tree{};
    if (!readNextTree(&source, &tree, true)) return "";
    for (const NamedNode& node : tree.nodes)
        if (node.children.empty()) return node.name;
    return "";
}

void unrootAtTop(ResultTree* tree) {
    const ResultNode& top = tree->nodes[static_cast<size_t>(tree->root)];
    if (top.children.size() != 2) return;
    // The side of two or more taxa gives its children to the top node.
    const int32_t side = tree->nodes[static_cast<size_t>(top.children[1])].children.empty()
                             ? top.children[0]
                             : top.children[1];
    if (tree->nodes[static_cast<size_t>(side)].children.empty()) return;
    std::vector<int32_t> index(tree->nodes.size());
    ResultTree out{{}, 0};
    for (size_t v = 0; v < tree->nodes.size(); ++v) {
        if (static_cast<int32_t>(v) == side) continue;
        index[v] = static_cast<int32_t>(out.nodes.size());
        ResultNode node = tree->nodes[v];
        std::vector<int32_t> children;
        for (const int32_t child : node.children) {
            if (child != side) {
                children.push_back(index[static_cast<size_t>(child)]);
                continue;
            }
            for (const int32_t grand : tree->nodes[static_cast<size_t>(side)].children)
                children.push_back(index[static_cast<size_t>(grand)]);
        }
        node.children = std::move(children);
        out.nodes.push_back(std::move(node));
    }
    out.root = index[static_cast<size_t>(tree->root)];
    *tree = std::move(out);
}
