// Writes deterministic random gene trees in Newick, as tree builders write
// them: unrooted (three or more children at the base), with branch lengths
// and support values. A random species tree with the first taxon as its
// outgroup is copied TREES times, each copy with a few ingroup taxa swapped
// (discordance); branches with support at or below COLLAPSE (0..100) are
// collapsed into their parent, as careful users do before a species-tree
// analysis. With --present PERCENT, each tree keeps only a share of the
// taxa, drawn between PERCENT and 100 (the outgroup always stays), as gene
// trees of real studies miss taxa.
//
//   tressil_generate_genes TAXA TREES COLLAPSE SEED [NAME,NAME,...] [--present PERCENT] > genes.nwk
//
// Names default to t001, t002, ... (t0001, ... from 1000 taxa); t001 (or the
// first name) is the outgroup.
// Only the raw 32-bit engine output is used, so the same arguments give the
// same file with any standard library.
#include <algorithm>
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

// What one gene tree is written with: the taxa it keeps (all when empty)
// and the support at or below which inner branches are collapsed.
struct Writing {
    int collapse;
    std::vector<char> present;  // by taxon
};

// Number of kept taxa below a node.
int keptBelow(const std::vector<Node>& nodes, int index, const Writing& how) {
    const Node& node = nodes[static_cast<size_t>(index)];
    if (node.taxon >= 0)
        return how.present.empty() || how.present[static_cast<size_t>(node.taxon)] ? 1 : 0;
    int kept = 0;
    for (const int child : node.children)
        kept += keptBelow(nodes, child, how);
    return kept;
}

// The node itself, or, while it keeps taxa below one child only, that child.
int keptDescendant(const std::vector<Node>& nodes, int index, const Writing& how) {
    for (;;) {
        const Node& node = nodes[static_cast<size_t>(index)];
        if (node.taxon >= 0) return index;
        int only = -1;
        for (const int child : node.children)
            if (keptBelow(nodes, child, how) > 0) {
                if (only >= 0) return index;
                only = child;
            }
        index = only;
    }
}

// Writes a node with its children in random order; inner branches whose
// support is at or below the collapse value are dissolved into the parent,
// and so are inner nodes left with one kept child. Parts without a kept
// taxon are left out.
std::string writeNode(const std::vector<Node>& nodes, int index, const Writing& how,
                      const std::vector<std::string>& names, std::mt19937& rng);

std::string writeMembers(const std::vector<Node>& nodes, const std::vector<int>& children,
                         const Writing& how, const std::vector<std::string>& names,
                         std::mt19937& rng) {
    std::vector<std::string> parts;
    for (const int child : children) {
        int index = child;
        if (!how.present.empty()) {
            if (keptBelow(nodes, index, how) == 0) continue;
            index = keptDescendant(nodes, index, how);
        }
        const Node& node = nodes[static_cast<size_t>(index)];
        if (node.taxon < 0 && node.support <= how.collapse)
            parts.push_back(writeMembers(nodes, node.children, how, names, rng));
        else
            parts.push_back(writeNode(nodes, index, how, names, rng));
    }
    for (size_t i = parts.size(); i > 1; --i)
        std::swap(parts[i - 1], parts[below(rng, static_cast<unsigned>(i))]);
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : ",") + part;
    return text;
}

std::string writeNode(const std::vector<Node>& nodes, int index, const Writing& how,
                      const std::vector<std::string>& names, std::mt19937& rng) {
    const Node& node = nodes[static_cast<size_t>(index)];
    if (node.taxon >= 0) return names[static_cast<size_t>(node.taxon)] + length(rng);
    return "(" + writeMembers(nodes, node.children, how, names, rng) + ")" +
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

// Keeps a share of the taxa drawn between minPercent and 100, the outgroup
// (taxon 0) and at least three others always among them.
std::vector<char> drawPresent(int taxa, int minPercent, std::mt19937& rng) {
    const int percent =
        minPercent + static_cast<int>(below(rng, static_cast<unsigned>(101 - minPercent)));
    const int keep = std::max(4, (taxa * percent + 50) / 100);
    std::vector<int> ingroup;
    for (int t = 1; t < taxa; ++t)
        ingroup.push_back(t);
    // The first keep - 1 of a partial shuffle stay.
    std::vector<char> present(static_cast<size_t>(taxa), 0);
    present[0] = 1;
    for (int i = 0; i < keep - 1; ++i) {
        const unsigned j =
            static_cast<unsigned>(i) + below(rng, static_cast<unsigned>(taxa - 1 - i));
        std::swap(ingroup[static_cast<size_t>(i)], ingroup[j]);
        present[static_cast<size_t>(ingroup[static_cast<size_t>(i)])] = 1;
    }
    return present;
}

// Names t001, t002, ...: three digits below 1000 taxa, four from there.
std::string defaultName(int taxon, int taxa) {
    const int digits = taxa < 1000 ? 3 : 4;
    std::string number = std::to_string(taxon + 1);
    return "t" +
           std::string(static_cast<size_t>(std::max(0, digits - static_cast<int>(number.size()))),
                       '0') +
           number;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    int minPercent = 100;
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "--present") {
            minPercent = std::atoi(args[i + 1].c_str());
            args.erase(args.begin() + static_cast<long>(i),
                       args.begin() + static_cast<long>(i) + 2);
            break;
        }
    if (args.size() != 4 && args.size() != 5) {
        std::fputs(
            "use tressil_generate_genes TAXA TREES COLLAPSE SEED [NAME,NAME,...] "
            "[--present PERCENT]\n",
            stderr);
        return 1;
    }
    const int taxa = std::atoi(args[0].c_str());
    const int trees = std::atoi(args[1].c_str());
    const int collapse = std::atoi(args[2].c_str());
    std::mt19937 rng(static_cast<unsigned>(std::strtoul(args[3].c_str(), nullptr, 10)));
    std::vector<std::string> names;
    if (args.size() == 5) names = splitNames(args[4]);
    for (int t = static_cast<int>(names.size()); t < taxa; ++t)
        names.push_back(defaultName(t, taxa));
    if (taxa < 4 || trees < 1 || collapse < 0 || collapse > 100 ||
        names.size() != static_cast<size_t>(taxa) || minPercent < 1 || minPercent > 100) {
        std::fputs(
            "need TAXA >= 4 (as many names), TREES >= 1, COLLAPSE 0..100 and PERCENT "
            "1..100\n",
            stderr);
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
        Writing how{collapse, {}};
        if (minPercent < 100) how.present = drawPresent(taxa, minPercent, rng);
        // Unrooted: the outgroup and the ingroup's children around one node.
        std::vector<int> base = gene[static_cast<size_t>(ingroup)].children;
        base.push_back(0);
        std::printf("(%s);\n", writeMembers(gene, base, how, names, rng).c_str());
    }
    return 0;
}
