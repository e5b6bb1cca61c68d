// Turning a tree around so that a chosen edge holds its root.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "named/root/root_steps.h"

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

// A support belongs to the branch above its node. Turning the tree around
// reverses the branches on the way from node to the old root, so each of
// those nodes takes the support of the node it came from; the two halves of
// the new root's branch keep that branch's support.
void moveSupportsUp(std::vector<NamedNode>& nodes, int32_t node,
                    const std::vector<int32_t>& parent) {
    double carried = nodes[static_cast<size_t>(node)].support;
    for (int32_t up = parent[static_cast<size_t>(node)]; up >= 0;
         up = parent[static_cast<size_t>(up)])
        std::swap(carried, nodes[static_cast<size_t>(up)].support);
}

}  // namespace

void rootAbove(NamedTree* tree, int32_t node, const std::vector<int32_t>& parent) {
    std::vector<NamedNode>& nodes = tree->nodes;
    const int32_t oldRoot = tree->root;
    moveSupportsUp(nodes, node, parent);
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
        // The old root's two branches were one: its remaining child keeps
        // its own support, or takes the one the old root was given.
        NamedNode& kept = nodes[static_cast<size_t>(left[0])];
        if (std::isnan(kept.support)) kept.support = nodes[static_cast<size_t>(oldRoot)].support;
    }
    storeChildrenFirst(tree);
}

std::vector<std::string> namesOnSide(const NamedTree& tree, const std::vector<int32_t>& parent,
                                     int32_t node, bool below) {
    std::vector<bool> under(tree.nodes.size(), false);
    under[static_cast<size_t>(node)] = true;
    // Nodes are stored children first: a node is under the given one when
    // its parent is, so one pass from the top down marks them all.
    for (size_t i = tree.nodes.size(); i-- > 0;)
        if (parent[i] >= 0 && under[static_cast<size_t>(parent[i])]) under[i] = true;
    std::vector<std::string> names;
    for (size_t i = 0; i < tree.nodes.size(); ++i)
        if (tree.nodes[i].children.empty() && under[i] == below)
            names.push_back(tree.nodes[i].name);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<int32_t> parentsOf(const NamedTree& tree) {
    std::vector<int32_t> parent(tree.nodes.size(), -1);
    for (size_t i = 0; i < tree.nodes.size(); ++i)
        for (const int32_t child : tree.nodes[i].children)
            parent[static_cast<size_t>(child)] = static_cast<int32_t>(i);
    return parent;
}
