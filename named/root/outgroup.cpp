// Rooting an unrooted tree on an outgroup: find the edge that cuts the
// outgroup taxa off, then turn the tree around so that edge holds the root.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "named/root/root.h"

namespace {

// Renumbers the nodes so that every child comes before its parent again,
// walking from the root without recursion.
void storeChildrenFirst(NamedTree* tree) {
    std::vector<NamedNode> ordered;
    ordered.reserve(tree->nodes.size());
    std::vector<int32_t> newIndex(tree->nodes.size(), -1);
    std::vector<std::pair<int32_t, size_t>> stack{{tree->root, 0}};  // node, children done
    while (!stack.empty()) {
        auto& [node, done] = stack.back();
        const std::vector<int32_t>& children = tree->nodes[static_cast<size_t>(node)].children;
        if (done < children.size()) {
            stack.push_back({children[done++], 0});
            continue;
        }
        NamedNode moved = std::move(tree->nodes[static_cast<size_t>(node)]);
        for (int32_t& child : moved.children)
            child = newIndex[static_cast<size_t>(child)];
        newIndex[static_cast<size_t>(node)] = static_cast<int32_t>(ordered.size());
        ordered.push_back(std::move(moved));
        stack.pop_back();
    }
    tree->nodes = std::move(ordered);
    tree->root = static_cast<int32_t>(tree->nodes.size() - 1);
}

// Puts the root on the edge between node and its parent: every node on the
// way up takes its old parent as a child in place of the child it came
// from. The old root, left with one child, gives way to that child.
void rootAbove(NamedTree* tree, int32_t node, const std::vector<int32_t>& parent) {
    std::vector<NamedNode>& nodes = tree->nodes;
    const int32_t oldRoot = tree->root;
    int32_t holder = -1;  // the node that gets the old root as a child
    for (int32_t from = node, up = parent[static_cast<size_t>(node)]; up >= 0;
         from = up, up = parent[static_cast<size_t>(up)]) {
        std::vector<int32_t>& children = nodes[static_cast<size_t>(up)].children;
        children.erase(std::find(children.begin(), children.end(), from));
        const int32_t above = parent[static_cast<size_t>(up)];
        if (above >= 0) children.push_back(above);
        if (above == oldRoot) holder = up;
    }
    const int32_t top = parent[static_cast<size_t>(node)];
    nodes.push_back(NamedNode{"", {node, top}, nodes[static_cast<size_t>(oldRoot)].offset});
    tree->root = static_cast<int32_t>(nodes.size() - 1);
    if (holder < 0) holder = tree->root;
    const std::vector<int32_t> left = nodes[static_cast<size_t>(oldRoot)].children;
    if (left.size() == 1) {
        std::vector<int32_t>& children = nodes[static_cast<size_t>(holder)].children;
        *std::find(children.begin(), children.end(), oldRoot) = left[0];
    }
    storeChildrenFirst(tree);
}

}  // namespace

Rooting rootOnOutgroup(NamedTree* tree, const std::vector<std::string>& outgroup) {
    const size_t count = tree->nodes.size();
    std::vector<int32_t> parent(count, -1);
    std::vector<int32_t> leaves(count, 0);
    std::vector<int32_t> marked(count, 0);  // outgroup leaves below
    int32_t first = -1;                     // leaf of the first listed taxon present
    size_t firstRank = outgroup.size();
    for (size_t i = 0; i < count; ++i) {
        const NamedNode& node = tree->nodes[i];
        for (const int32_t child : node.children) {
            parent[static_cast<size_t>(child)] = static_cast<int32_t>(i);
            leaves[i] += leaves[static_cast<size_t>(child)];
            marked[i] += marked[static_cast<size_t>(child)];
        }
        if (!node.children.empty()) continue;
        leaves[i] = 1;
        const size_t rank = static_cast<size_t>(
            std::find(outgroup.begin(), outgroup.end(), node.name) - outgroup.begin());
        if (rank == outgroup.size()) continue;
        marked[i] = 1;
        if (rank < firstRank) {
            firstRank = rank;
            first = static_cast<int32_t>(i);
        }
    }
    const size_t root = static_cast<size_t>(tree->root);
    const int32_t present = marked[root];
    if (present == 0) return Rooting::kNoOutgroup;
    // An edge splits the taxa into those below a node and the rest; either
    // side may be the outgroup.
    for (size_t i = 0; i < count; ++i) {
        if (i == root) continue;
        const bool below = marked[i] == present && leaves[i] == present;
        const bool rest = marked[i] == 0 && leaves[i] == leaves[root] - present;
        if (below || rest) {
            rootAbove(tree, static_cast<int32_t>(i), parent);
            return Rooting::kOnOutgroup;
        }
    }
    if (static_cast<size_t>(first) != root) rootAbove(tree, first, parent);
    return Rooting::kOnFirstTaxon;
}

std::vector<std::string> parseOutgroup(const std::string& list) {
    std::vector<std::string> names;
    size_t pos = 0;
    while (pos <= list.size()) {
        std::string name;
        if (pos < list.size() && list[pos] == '\'') {
            for (++pos;; ++pos) {
                if (pos >= list.size()) failWhole("--outgroup: a quoted name is never closed");
                if (list[pos] != '\'') {
                    name += list[pos];
                } else if (pos + 1 < list.size() && list[pos + 1] == '\'') {
                    name += '\'';
                    ++pos;
                } else {
                    ++pos;
                    break;
                }
            }
            if (pos < list.size() && list[pos] != ',')
                failWhole("--outgroup: a quoted name must be followed by ',' or the end");
        } else {
            const size_t end = std::min(list.find(',', pos), list.size());
            name = list.substr(pos, end - pos);
            pos = end;
        }
        if (name.empty())
            failWhole(list.empty() ? "--outgroup lists no taxon; give the outgroup names, "
                                     "separated by ','"
                                   : "--outgroup holds an empty name; separate the names by "
                                     "single ','");
        names.push_back(name);
        ++pos;  // past the ',' or the end
    }
    return names;
}

void checkOutgroupNames(const std::vector<std::string>& outgroup,
                        const std::unordered_set<std::string>& allNames) {
    for (const std::string& name : outgroup)
        if (allNames.count(name) == 0)
            failWhole("outgroup taxon '" + name +
                      "' is in no tree; check its spelling against the tree file");
}

std::string rootingNote(const RootingCounts& counts) {
    return "tressil-newick: rooted " + std::to_string(counts.onOutgroup) +
           " trees on the outgroup, " + std::to_string(counts.onFirstTaxon) +
           " on the first outgroup taxon present (the outgroup taxa were not one group), left "
           "out " +
           std::to_string(counts.leftOut) + " without an outgroup taxon\n";
}
