// Turns the splits recorded by solveExact into a heap tree.
#include "exact/exact.h"

TreeNode* buildExactTree(uint32_t mask) {
    TreeNode* node = allocateNode();
    if (countCommon(mask, g_fullMask) == 1) {
        node->label = static_cast<int16_t>(highestBit(mask));
        return node;
    }
    // Inner labels are only names; the counter is shared with the reader, so
    // numbering continues where it left off.
    node->label = takeNextLabel();
    const uint32_t leftPart = g_subsetSplit[mask];
    node->left = buildExactTree(leftPart);
    node->right = buildExactTree(mask - leftPart);
    node->left->parent = node;
    node->right->parent = node;
    return node;
}
