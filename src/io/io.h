// Reading the input trees and writing the result tree.
#pragma once

#include "common/common.h"

// Reads the header and every tree from g_inFile, fills g_speciesCount,
// g_treeCount and g_tripleWeight, and frees the trees. Returns only when the
// input passed every test; otherwise prints the message and ends the run.
void readInput();

// Writes a tree in nested parentheses with ",\n" between the two members of
// every group to g_outFile.
void writeTree(const TreeNode* node);
