// A gene family's leaves named by species, its cutting at duplications into
// pieces of one copy per species, and its writing as Newick.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <unordered_set>
#include <vector>

#include "named/family/family.h"
#include "named/root/root.h"

namespace {

// A Newick file writes a blank as '_', so the two split alike.
bool splitsAt(char c, char delimiter) {
    if (delimiter == '_' || delimiter == ' ') return c == '_' || c == ' ';
    return c == delimiter;
}

// The field-th field of the name (from 1), or false when it has fewer.
bool fieldOf(const std::string& name, char delimiter, int field, std::string* out) {
    size_t start = 0;
    for (int f = 1;; ++f) {
        size_t end = start;
        while (end < name.size() && !splitsAt(name[end], delimiter))
            ++end;
        if (f == field) {
            *out = name.substr(start, end - start);
            return true;
        }
        if (end == name.size()) return false;
        start = end + 1;
    }
}

std::string speciesOfLeaf(const std::string& text, const NamedNode& leaf,
                          const SpeciesNaming& naming) {
    if (!naming.speciesOf.empty()) {
        const auto found = naming.speciesOf.find(leaf.name);
        if (found != naming.speciesOf.end()) return found->second;
        std::unordered_set<std::string> genes;
        for (const auto& entry : naming.speciesOf)
            genes.insert(entry.first);
        throwAt(text, leaf.offset,
                "gene " + shownName(leaf.name) + " is not in the map; " +
                    suggestNames(leaf.name, genes) + "add it to the map with its species");
    }
    if (naming.delimiter == 0) return leaf.name;
    std::string species;
    const std::string shown(1, naming.delimiter);
    if (!fieldOf(leaf.name, naming.delimiter, naming.field, &species))
        throwAt(text, leaf.offset,
                "leaf " + shownName(leaf.name) + " has no field " + std::to_string(naming.field) +
                    " when split at '" + shown + "'; name every leaf SPECIES" + shown +
                    "GENE, or give the species by --map");
    if (species.empty())
        throwAt(text, leaf.offset,
                "leaf " + shownName(leaf.name) + " has an empty field " +
                    std::to_string(naming.field) + " when split at '" + shown +
                    "', so no species; name every leaf SPECIES" + shown + "GENE");
    return species;
}

// Lengths of two branches joined into one; an unknown one counts nothing.
double joinedLength(double a, double b) {
    if (std::isnan(a)) return b;
    if (std::isnan(b)) return a;
    return a + b;
}

// The sorted leaf names of what is left of the subtree of node: a
// duplication stands for the child it kept (rep).
std::vector<std::string> namesLeft(const NamedTree& tree, const std::vector<int32_t>& rep,
                                   int32_t node) {
    std::vector<std::string> names;
    std::vector<int32_t> stack{rep[static_cast<size_t>(node)]};
    while (!stack.empty()) {
        const NamedNode& at = tree.nodes[static_cast<size_t>(stack.back())];
        stack.pop_back();
        if (at.children.empty()) names.push_back(at.name);
        for (const int32_t child : at.children)
            stack.push_back(rep[static_cast<size_t>(child)]);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The piece made of what is left below top, children first, without
// recursion; each branch takes the joined length of the path it stands for.
NamedTree buildPiece(const NamedTree& tree, const std::vector<int32_t>& rep,
                     const std::vector<double>& length, int32_t top) {
    NamedTree piece{{}, -1, tree.weight, tree.offset, 0};
    struct Step {
        int32_t via;  // the node of the family this one stands for
        size_t done;
        std::vector<int32_t> made;
    };
    std::vector<Step> stack{{top, 0, {}}};
    while (!stack.empty()) {
        const int32_t at = rep[static_cast<size_t>(stack.back().via)];
        const std::vector<int32_t>& children = tree.nodes[static_cast<size_t>(at)].children;
        if (stack.back().done < children.size()) {
            const int32_t next = children[stack.back().done++];
            stack.push_back({next, 0, {}});
            continue;
        }
        NamedNode node = tree.nodes[static_cast<size_t>(at)];
        node.children = std::move(stack.back().made);
        node.length = stack.back().via == top ? std::numeric_limits<double>::quiet_NaN()
                                              : length[static_cast<size_t>(stack.back().via)];
        if (node.children.empty()) ++piece.leafCount;
        piece.nodes.push_back(std::move(node));
        stack.pop_back();
        const auto made = static_cast<int32_t>(piece.nodes.size() - 1);
        if (!stack.empty()) stack.back().made.push_back(made);
    }
    piece.root = static_cast<int32_t>(piece.nodes.size() - 1);
    return piece;
}

}  // namespace

std::vector<std::string> leafSpecies(const std::string& text, const NamedTree& tree,
                                     const SpeciesNaming& naming) {
    std::vector<std::string> species(tree.nodes.size());
    for (size_t v = 0; v < tree.nodes.size(); ++v)
        if (tree.nodes[v].children.empty()) species[v] = speciesOfLeaf(text, tree.nodes[v], naming);
    return species;
}

std::vector<NamedTree> splitFamily(const NamedTree& rooted, const std::vector<bool>& duplication) {
    const size_t count = rooted.nodes.size();
    std::vector<int32_t> rep(count);       // the node that stands for each one now
    std::vector<int32_t> left(count, 0);   // leaves left below each node
    std::vector<double> length(count, 0);  // of the path each node's branch stands for
    std::vector<int32_t> tops;             // the nodes whose remainders are pieces
    for (size_t v = 0; v < count; ++v) {
        const NamedNode& node = rooted.nodes[v];
        rep[v] = static_cast<int32_t>(v);
        length[v] = node.length;
        if (node.children.empty()) left[v] = 1;
        if (!duplication[v]) {
            for (const int32_t child : node.children)
                left[v] += left[static_cast<size_t>(child)];
            continue;
        }
        int32_t kept = node.children[0];
        std::vector<std::string> keptNames;
        for (size_t c = 1; c < node.children.size(); ++c) {
            const int32_t child = node.children[c];
            const int32_t size = left[static_cast<size_t>(child)];
            const int32_t keptSize = left[static_cast<size_t>(kept)];
            if (size < keptSize) continue;
            if (size == keptSize) {
                // Equal sizes: the sorted names decide, not the order written.
                if (keptNames.empty()) keptNames = namesLeft(rooted, rep, kept);
                std::vector<std::string> names = namesLeft(rooted, rep, child);
                if (!(names < keptNames)) continue;
                keptNames = std::move(names);
            } else {
                keptNames.clear();
            }
            kept = child;
        }
        for (const int32_t child : node.children)
            if (child != kept) tops.push_back(child);
        rep[v] = rep[static_cast<size_t>(kept)];
        left[v] = left[static_cast<size_t>(kept)];
        length[v] = joinedLength(node.length, length[static_cast<size_t>(kept)]);
    }
    tops.push_back(rooted.root);
    std::vector<NamedTree> pieces;
    for (const int32_t top : tops)
        pieces.push_back(buildPiece(rooted, rep, length, top));
    return pieces;
}

CutTree rootAndCut(const NamedTree& family, int32_t node,
                   const std::unordered_map<std::string, int32_t>& speciesOf) {
    CutTree cut{family, {}, {}};
    if (node != cut.rooted.root) rootOnEdgeAbove(&cut.rooted, node);
    std::vector<int32_t> species(cut.rooted.nodes.size(), -1);
    for (size_t v = 0; v < species.size(); ++v)
        if (cut.rooted.nodes[v].children.empty())
            species[v] = speciesOf.at(cut.rooted.nodes[v].name);
    rootedFamilyCost(cut.rooted, species, &cut.duplication);
    cut.pieces = splitFamily(cut.rooted, cut.duplication);
    return cut;
}

std::string familyNewick(const NamedTree& tree, const std::vector<std::string>* labels) {
    std::vector<std::string> text(tree.nodes.size());
    for (size_t v = 0; v < tree.nodes.size(); ++v) {
        const NamedNode& node = tree.nodes[v];
        if (node.children.empty()) {
            text[v] = quoteName(node.name);
        } else {
            text[v] = "(";
            for (size_t c = 0; c < node.children.size(); ++c) {
                std::string& child = text[static_cast<size_t>(node.children[c])];
                text[v] += (c == 0 ? "" : ",") + child;
                std::string().swap(child);  // each subtree is copied into its parent once
            }
            text[v] += ")" + (labels != nullptr ? (*labels)[v] : node.label);
        }
        if (!std::isnan(node.length) && static_cast<int32_t>(v) != tree.root) {
            char value[32];
            std::snprintf(value, sizeof value, ":%.10g", node.length);
            text[v] += value;
        }
    }
    return text[static_cast<size_t>(tree.root)] + ";\n";
}
