#include "heuristics/heuristics.h"

TreeNode* resetPoolNode(int32_t index, int32_t label) {
    TreeNode* node = g_nodePool[index];
    node->label = static_cast<int16_t>(label);
    node->left = nullptr;
    node->right = nullptr;
    node->weight = 0;
    return node;
}

TreeNode* singleLeafTree() {
    return resetPoolNode(0, 0);
}
