// Internal to the rooting: turning a tree around, and what the tie rules
// compare.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "named/common/named.h"

// The parent of every node; -1 at the root.
std::vector<int32_t> parentsOf(const NamedTree& tree);

// Puts the root on the edge between node and its parent: every node on the
// way up takes its old parent as a child in place of the child it came
// from. The old root, left with one child, gives way to that child. Nodes
// stay children first.
void rootAbove(NamedTree* tree, int32_t node, const std::vector<int32_t>& parent);

// The taxon names below node (below) or on the rest of the tree, sorted.
std::vector<std::string> namesOnSide(const NamedTree& tree, const std::vector<int32_t>& parent,
                                     int32_t node, bool below);
