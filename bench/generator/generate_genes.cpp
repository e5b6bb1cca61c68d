// Writes deterministic random gene trees in Newick, as tree builders write
// them: unrooted (three or more children at the base), with branch lengths
// and support values. A random species tree with the first taxon as its
// outgroup is copied TREES times, each copy with a few ingroup taxa swapped
// (discordance); branches with support at or below COLLAPSE (0..100) are
// collapsed into their parent, as careful users do before a species-tree
// analysis.
//
//   tressil_generate_genes TAXA TREES COLLAPSE SEED [NAME,NAME,...] > genes.nwk
//
// Names default to t001, t002, ...; t001 (or the first name) is the outgroup.
// Only the raw 32-bit engine output is used, so the same arguments give the
// same file with any standard library.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Node {
    int taxon;  // -1 at an inner node
    std::vector<int> children;
    int support;  // of the branch above, 0..100
};

unsigned below(std::mt19937& rng, unsigned bound) {
    return static_cast<unsigned>(rng() % bound);
}

// Joins two random subtrees until one is left; returns the root.
int randomTree(std::vector<Node>& nodes, std::vector<int> parts, std::mt19937& rng) {
    while (parts.size() > 1) {
        const unsigned a = below(rng, static_cast<unsigned>(parts.size()));
        std::swap(parts[a], parts.back());
        const int right = parts.back();
        parts.pop_back();
        const unsigned b = below(rng, static_cast<unsigned>(parts.size()));
        nodes.push_back(Node{-1, {parts[b], right}, 0});
        parts[b] = static_cast<int>(nodes.size() - 1);
    }
    return parts[0];
}

// Mostly high, sometimes low, as bootstrap values tend to be.
int randomSupport(std::mt19937& rng) {
    const int r = static_cast<int>(below(rng, 100));
    return 100 - r * r / 100;
}

std::string length(std::mt19937& rng) {
    return ":0." + std::to_string(1000 + below(rng, 9000)).substr(1);
}

// Writes a node with its children in random order; inner branches whose
// support is at or below collapse are dissolved into the parent.
std::string writeNode(const std::vector<Node>& nodes, int index, int collapse,
                      const std::vector<std::string>& names, std::mt19937& rng);

std::string writeMembers(const std::vector<Node>& nodes, const std::vector<int>& children,
                         int collapse, const std::vector<std::string>& names, std::mt19937& rng) {
    std::vector<std::string> parts;
    for (const int child : children) {
        const Node& node = nodes[static_cast<size_t>(child)];
        if (node.taxon < 0 && node.support <= collapse)
            parts.push_back(writeMembers(nodes, node.children, collapse, names, rng));
        else
            parts.push_back(writeNode(nodes, child, collapse, names, rng));
    }
    for (size_t i = parts.size(); i > 1; --i)
        std::swap(parts[i - 1], parts[below(rng, static_cast<unsigned>(i))]);
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : ",") + part;
    return text;
}

std::string writeNode(const std::vector<Node>& nodes, int index, int collapse,
                      const std::vector<std::string>& names, std::mt19937& rng) {
    const Node& node = nodes[static_cast<size_t>(index)];
    if (node.taxon >= 0) return names[static_cast<size_t>(node.taxon)] + length(rng);
    return "(" + writeMembers(nodes, node.children, collapse, names, rng) + ")" +
           std::to_string(node.support) + length(rng);
}

std::vector<std::string> splitNames(const std::string& list) {
    std::vector<std::string> names;
    size_t start = 0;
    for (size_t comma; (comma = list.find(',', start)) != std::string::npos; start = comma + 1)
        names.push_back(list.substr(start, comma - start));
    names.push_back(list.substr(start));
    return names;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 && argc != 6) {
        std::fputs("use tressil_generate_genes TAXA TREES COLLAPSE SEED [NAME,NAME,...]\n", stderr);
        return 1;
    }
    const int taxa = std::atoi(argv[1]);
    const int trees = std::atoi(argv[2]);
    const int collapse = std::atoi(argv[3]);
    std::mt19937 rng(static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)));
    std::vector<std::string> names;
    if (argc == 6) names = splitNames(argv[5]);
    for (int t = static_cast<int>(names.size()); t < taxa; ++t)
        names.push_back("t" + std::to_string(1001 + t).substr(1));
    if (taxa < 4 || trees < 1 || collapse < 0 || collapse > 100 ||
        names.size() != static_cast<size_t>(taxa)) {
        std::fputs("need TAXA >= 4 (as many names), TREES >= 1 and COLLAPSE 0..100\n", stderr);
        return 1;
    }
    std::vector<Node> species;
    std::vector<int> leaves;
    for (int t = 0; t < taxa; ++t) {
        species.push_back(Node{t, {}, 100});
        leaves.push_back(t);
    }
    // The outgroup (taxon 0) stays outside: the ingroup is one subtree.
    const int ingroup =
        randomTree(species, std::vector<int>(leaves.begin() + 1, leaves.end()), rng);
    for (int g = 0; g < trees; ++g) {
        std::vector<Node> gene = species;
        for (Node& node : gene)
            if (node.taxon < 0) node.support = randomSupport(rng);
        // Discordance: swap the places of a few ingroup taxa.
        for (unsigned swaps = below(rng, 4); swaps > 0; --swaps) {
            const unsigned a = 1 + below(rng, static_cast<unsigned>(taxa - 1));
            const unsigned b = 1 + below(rng, static_cast<unsigned>(taxa - 1));
            std::swap(gene[a].taxon, gene[b].taxon);
        }
        // Unrooted: the outgroup and the ingroup's children around one node.
        std::vector<int> base = gene[static_cast<size_t>(ingroup)].children;
        base.push_back(0);
        std::printf("(%s);\n", writeMembers(gene, base, collapse, names, rng).c_str());
    }
    return 0;
}
