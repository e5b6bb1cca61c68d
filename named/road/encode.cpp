// Named trees -> numbered taxa -> one entry per distinct rooted topology.
#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/limits.h"
#include "named/read/read.h"
#include "named/road/road.h"
#include "named/root/root.h"

namespace {

// A tree on fewer taxa displays no triple.
constexpr int32_t kMinTaxa = 3;

// Roots the tree on the outgroup and counts how; false when the tree holds
// no outgroup taxon and is left out. A node that stays wider than two
// children cannot be written for tressil.
bool rootForEncode(const std::string& text, NamedTree* tree,
                   const std::unordered_set<std::string>& outgroup, RootingCounts* counts) {
    const RootingResult rooting = rootOnOutgroup(tree, outgroup);
    countRooting(rooting, counts);
    if (rooting.how == Rooting::kNoOutgroup) return false;
    for (const NamedNode& node : tree->nodes)
        if (node.children.size() > 2)
            throwAt(text, node.offset,
                    "this node has " + std::to_string(node.children.size()) +
                        " children after rooting on the outgroup, but tressil needs rooted "
                        "binary trees; resolve it, or use 'tressil-newick infer', which reads "
                        "nodes of any number of children");
    return true;
}

// The tree in tressil's notation with the children of every node ordered by
// their smallest taxon number. Taxa within a tree are distinct, so the order
// is strict and two trees get the same text exactly when they have the same
// rooted topology on the same taxa. Nodes are stored children first, so one
// forward pass sees every child before its parent.
std::string topologyText(const NamedTree& tree,
                         const std::unordered_map<std::string, int32_t>& numbers) {
    std::vector<std::string> text(tree.nodes.size());
    std::vector<int32_t> smallest(tree.nodes.size());
    for (size_t i = 0; i < tree.nodes.size(); ++i) {
        const NamedNode& node = tree.nodes[i];
        if (node.children.empty()) {
            smallest[i] = numbers.at(node.name);
            text[i] = std::to_string(smallest[i]);
            continue;
        }
        size_t first = static_cast<size_t>(node.children[0]);
        size_t second = static_cast<size_t>(node.children[1]);
        if (smallest[second] < smallest[first]) std::swap(first, second);
        smallest[i] = smallest[first];
        text[i] = "(" + text[first] + "," + text[second] + ")";
        text[first].clear();  // each subtree is copied into its parent once
        text[second].clear();
    }
    return text[static_cast<size_t>(tree.root)];
}

// Tressil takes rooted binary trees: a piece with a wider node cannot go.
void checkBinary(const std::string& text, const NamedTree& tree) {
    for (const NamedNode& node : tree.nodes)
        if (node.children.size() > 2)
            throwAt(text, node.offset,
                    "this node has " + std::to_string(node.children.size()) +
                        " children in a piece of its gene family, but tressil needs rooted "
                        "binary trees; resolve it, or use 'tressil-newick infer --families'");
}

// A gene family's pieces of three species or more, their leaves named by
// species, for encoding as trees; none when it holds no outgroup species
// though an outgroup is given.
std::vector<NamedTree> familyPieces(const std::string& text, const NamedTree& family,
                                    const std::unordered_set<std::string>& outgroup,
                                    const SpeciesNaming& naming, EncodedTrees* encoded,
                                    std::unordered_set<std::string>* allNames) {
    const std::vector<std::string> species = leafSpecies(text, family, naming);
    std::unordered_map<std::string, std::string> speciesOf;  // gene name -> species name
    std::unordered_map<std::string, int32_t> numberOf;       // gene name -> species in the family
    std::unordered_map<std::string, int32_t> local;
    std::vector<int32_t> number(species.size(), -1);
    std::vector<bool> outgroupLeaf(species.size(), false);
    bool anyOutgroup = false;
    for (size_t v = 0; v < species.size(); ++v) {
        if (!family.nodes[v].children.empty()) continue;
        number[v] = local.emplace(species[v], static_cast<int32_t>(local.size())).first->second;
        numberOf.emplace(family.nodes[v].name, number[v]);
        speciesOf.emplace(family.nodes[v].name, species[v]);
        allNames->insert(species[v]);
        outgroupLeaf[v] = outgroup.count(species[v]) != 0;
        anyOutgroup = anyOutgroup || outgroupLeaf[v];
    }
    if (local.size() < static_cast<size_t>(kMinTaxa)) {
        ++encoded->treesSkipped;
        return {};
    }
    if (!outgroup.empty()) {
        if (!anyOutgroup) {
            ++encoded->rooting.leftOut;
            return {};
        }
        ++encoded->rooting.onOutgroup;
    }
    const FamilyRoots roots =
        bestFamilyRoots(family, number, anyOutgroup ? outgroupLeaf : std::vector<bool>{});
    const int32_t node = firstBySmallerSide(family, roots.candidates);
    std::vector<NamedTree> pieces;
    for (NamedTree& piece : rootAndCut(family, node, numberOf).pieces) {
        if (piece.leafCount < kMinTaxa) continue;
        checkBinary(text, piece);
        for (size_t v = 0; v < piece.nodes.size(); ++v)
            if (piece.nodes[v].children.empty())
                piece.nodes[v].name = speciesOf.at(piece.nodes[v].name);
        pieces.push_back(std::move(piece));
    }
    return pieces;
}

}  // namespace

// Leaves are sorted by their place in the text: rooting may have moved them
// in the node list.
void numberTaxa(const NamedTree& tree, std::unordered_map<std::string, int32_t>& numbers,
                std::vector<std::string>& names) {
    std::vector<const NamedNode*> leaves;
    for (const NamedNode& node : tree.nodes)
        if (node.children.empty()) leaves.push_back(&node);
    std::sort(leaves.begin(), leaves.end(),
              [](const NamedNode* a, const NamedNode* b) { return a->offset < b->offset; });
    for (const NamedNode* leaf : leaves)
        if (numbers.emplace(leaf->name, static_cast<int32_t>(names.size())).second)
            names.push_back(leaf->name);
}

EncodedTrees encodeTrees(const std::string& bytes, const std::vector<std::string>& outgroup,
                         const SpeciesNaming* families) {
    // Trees are handled one at a time as they are read, so only the distinct
    // topologies stay in memory, however many gene trees the file holds.
    EncodedTrees encoded{{}, {}, {}, 0, 0, {}};
    const std::unordered_set<std::string> outgroupSet(outgroup.begin(), outgroup.end());
    std::unordered_set<std::string> allNames;  // of every tree, for the outgroup check
    std::unordered_map<std::string, int32_t> numbers;
    std::unordered_map<std::string, size_t> indexOf;
    std::vector<size_t> firstOffset;  // where each topology was first seen
    TreeSource source = openTreeSource(bytes);
    const std::string& text = sourceText(source);
    NamedTree tree{};
    const bool rooting = !outgroup.empty();
    if (families != nullptr) source.repeats = RepeatedNames::kCopies;
    const auto addTree = [&](const NamedTree& rooted) {
        numberTaxa(rooted, numbers, encoded.names);
        // Past the taxon limit the run fails; the rest is read only to count
        // the taxa and to find errors in the text.
        if (encoded.names.size() > kMaxSpecies) return;
        std::string topology = topologyText(rooted, numbers);
        const auto [it, fresh] = indexOf.emplace(std::move(topology), encoded.topologies.size());
        if (fresh) {
            encoded.topologies.push_back(it->first);
            encoded.weights.push_back(0);
            firstOffset.push_back(rooted.offset);
        }
        // At most INT32_MAX per tree and far fewer than 2^32 trees: no overflow.
        encoded.weights[it->second] += rooted.weight;
    };
    while (readNextTree(&source, &tree, rooting || families != nullptr)) {
        ++encoded.treesRead;
        if (families != nullptr) {
            for (const NamedTree& piece :
                 familyPieces(text, tree, outgroupSet, *families, &encoded, &allNames))
                addTree(piece);
            continue;
        }
        if (rooting)
            for (const NamedNode& node : tree.nodes)
                if (node.children.empty()) allNames.insert(node.name);
        if (tree.leafCount < kMinTaxa) {
            ++encoded.treesSkipped;
            continue;
        }
        if (!rooting && tree.mark == RootMark::kUnrooted)
            throwAt(text, tree.offset,
                    "tree " + std::to_string(encoded.treesRead) +
                        " is marked unrooted ([&U]), but tressil needs rooted trees; give "
                        "--outgroup");
        if (rooting && !rootForEncode(text, &tree, outgroupSet, &encoded.rooting)) continue;
        addTree(tree);
    }
    if (encoded.treesRead == 0)
        failWhole("no tree found; write each tree in Newick and end it with ';'");
    checkOutgroupNames(outgroup, allNames);
    if (encoded.names.empty())
        failWhole("no tree has three or more taxa, so there is no triple to give tressil");
    if (encoded.names.size() > kMaxSpecies)
        failWhole("too many taxa: " + std::to_string(encoded.names.size()) +
                  " found, but tressil takes at most " + std::to_string(kMaxSpecies) +
                  "; split the taxa into smaller sets");
    if (encoded.topologies.size() > kMaxTrees)
        failWhole("too many distinct trees: " + std::to_string(encoded.topologies.size()) +
                  " found after merging identical topologies, but tressil takes at most " +
                  std::to_string(kMaxTrees) + "; split the trees into smaller sets");
    for (size_t i = 0; i < encoded.weights.size(); ++i)
        if (encoded.weights[i] > INT32_MAX)
            throwAt(text, firstOffset[i],
                    "the trees with the topology of this tree weigh " +
                        std::to_string(encoded.weights[i]) +
                        " together, above 2147483647, the largest tree weight tressil takes; "
                        "lower their [&W] weights");
    return encoded;
}

std::string tressilInputText(const EncodedTrees& encoded) {
    // Every topology has at least three taxa, so it ends in ')', the one place
    // where tressil reads a ':' weight.
    std::string text = std::to_string(encoded.names.size()) + " " +
                       std::to_string(encoded.topologies.size()) + "\n";
    for (size_t i = 0; i < encoded.topologies.size(); ++i) {
        text += encoded.topologies[i];
        if (encoded.weights[i] != 1) text += ":" + std::to_string(encoded.weights[i]);
        text += ";\n";
    }
    return text + ".\n";
}

std::string nameTableText(const EncodedTrees& encoded) {
    std::string text;
    for (size_t i = 0; i < encoded.names.size(); ++i)
        text += std::to_string(i) + "\t" + quoteName(encoded.names[i]) + "\n";
    return text;
}
