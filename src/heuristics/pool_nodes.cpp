#include "heuristics/heuristics.h"

TreeNode* resetPoolNode(TreeNode** pool, int32_t index, int32_t label) {
    TreeNode* node = pool[index];
    node->label = static_cast<int16_t>(label);
    node->left = nullptr;
    node->right = nullptr;
    node->weight = 0;
    return node;
}

TreeNode* singleLeafTree(TreeNode** pool) {
    return resetPoolNode(pool, 0, 0);
}
