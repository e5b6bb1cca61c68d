// Anchored triples: each triple of a gene tree judged against every taxon
// outside its clade of the species tree, and the species tree solved again
// from them until it settles.
#include <cstdint>
#include <string>
#include <vector>

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

SpeciesTree anchorAndSolve(GeneTrees* genes, const InferOptions& options, SpeciesTree species,
                           std::string* notes) {
    const auto taxa = static_cast<int32_t>(genes->names.size());
    bool changed = true;
    int round = 0;
    while (changed && round < kMaxAnchoredRounds) {
        ++round;
        genes->anchor = anchorCladesOf(species.tree, taxa);
        fillTable(*genes, {});
        SpeciesTree next = solveSpeciesTree(options.method, genes->ingroupCount);
        changed = topologyKey(next.tree) != topologyKey(species.tree);
        species = std::move(next);
    }
    *notes +=
        "tressil-newick: anchored triples: the species tree " +
        (changed ? "still changed in round " + std::to_string(round) + ", the last"
                 : "settled after " + std::to_string(round) + " round" + (round > 1 ? "s" : "")) +
        " of judging triples against the taxa outside their clade\n";
    return species;
}
