// Reading the input trees and writing the result tree.
#pragma once

#include "common/common.h"

// Reads the header and every tree from g_inFile, fills g_speciesCount,
// g_treeCount and g_tripleWeight, and frees the trees. Returns only when the
// input passed every test; otherwise prints the message and ends the run.
void readInput();

// Ends the run with "bad input format".
[[noreturn]] void inputError();

// Frees a node and everything below it; null does nothing. Works without
// recursion, so trees of any depth are safe.
void freeTree(TreeNode* node);

// Writes a tree in nested parentheses with ",\n" between the two members of
// every group to g_outFile.
void writeTree(const TreeNode* node);
