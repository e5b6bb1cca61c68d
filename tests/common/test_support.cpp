#include "common/test_support.h"

#include <algorithm>
#include <cstring>

void resetTable(int n) {
    g_speciesCount = n;
    sizeTripleTable(std::max(n, kDumpSpecies));
}

void setTriple(int i, int j, int k, int32_t weight) {
    changeTripleRow(i, j)[k] = weight;  // the same entry as w[j][i][k]
}

void fillRandomTable(int n, std::mt19937& rng, int32_t maxWeight, double zeroShare,
                     bool allowRepeats) {
    resetTable(n);
    std::uniform_int_distribution<int32_t> weightDist(0, maxWeight);
    std::uniform_real_distribution<double> share(0.0, 1.0);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            for (int k = 0; k < n; ++k) {
                if (!allowRepeats && (k == i || k == j)) continue;
                if (share(rng) < zeroShare) continue;
                setTriple(i, j, k, weightDist(rng));
            }
}

void fillTableInRange(int n, std::mt19937& rng, int32_t lo, int32_t hi) {
    resetTable(n);
    std::uniform_int_distribution<int32_t> weight(lo, hi);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            for (int k = 0; k < n; ++k)
                setTriple(i, j, k, weight(rng));
}

LeafBitset leafSet(const TreeNode* node) {
    LeafBitset set;
    if (node == nullptr) return set;
    if (node->left == nullptr && node->right == nullptr) {
        set.set(static_cast<size_t>(node->label));
        return set;
    }
    return leafSet(node->left) | leafSet(node->right);
}

static void collectClusters(const TreeNode* node, std::vector<LeafBitset>& clusters) {
    if (node == nullptr || (node->left == nullptr && node->right == nullptr)) return;
    clusters.push_back(leafSet(node));
    collectClusters(node->left, clusters);
    collectClusters(node->right, clusters);
}

int64_t satisfiedWeight(const TreeNode* root) {
    std::vector<LeafBitset> clusters;
    collectClusters(root, clusters);
    std::sort(clusters.begin(), clusters.end(),
              [](const LeafBitset& a, const LeafBitset& b) { return a.count() < b.count(); });
    const LeafBitset all = leafSet(root);
    int64_t total = 0;
    for (int i = 0; i < g_speciesCount; ++i)
        for (int j = i + 1; j < g_speciesCount; ++j) {
            if (!all[i] || !all[j]) continue;
            const LeafBitset* smallest = nullptr;
            for (const LeafBitset& c : clusters)
                if (c[i] && c[j]) {
                    smallest = &c;
                    break;
                }
            if (smallest == nullptr) continue;
            for (int k = 0; k < g_speciesCount; ++k)
                if (all[k] && !(*smallest)[k]) total += tripleWeight(i, j, k);
        }
    return total;
}

std::string treeText(const TreeNode* root) {
    if (root == nullptr) return "";
    if (root->left == nullptr && root->right == nullptr) return std::to_string(root->label);
    return "(" + treeText(root->left) + "," + treeText(root->right) + ")";
}

static bool checkNode(const TreeNode* node, std::vector<int>& seen) {
    if (node == nullptr) return false;
    if (node->left == nullptr && node->right == nullptr) {
        if (node->label < 0 || node->label >= static_cast<int>(seen.size())) return false;
        return ++seen[static_cast<size_t>(node->label)] == 1;
    }
    return checkNode(node->left, seen) && checkNode(node->right, seen);
}

bool isBinaryTreeOnAllSpecies(const TreeNode* root, int n) {
    std::vector<int> seen(static_cast<size_t>(n), 0);
    if (!checkNode(root, seen)) return false;
    return std::all_of(seen.begin(), seen.end(), [](int c) { return c == 1; });
}

bool isLeaf(const TreeNode* node) {
    return node->left == nullptr && node->right == nullptr;
}

std::string detailText(const TreeNode* node) {
    std::string text;
    if (!isLeaf(node)) text = "(" + detailText(node->left) + "," + detailText(node->right) + ")";
    return text + std::to_string(node->label) + ":" + std::to_string(node->weight);
}

GeneTree randomTreeOver(const std::vector<int32_t>& leaves, int32_t weight, int widest,
                        std::mt19937& rng) {
    GeneTree tree{{}, {}, weight, {}};
    std::vector<int32_t> parts;
    for (const int32_t s : leaves) {
        parts.push_back(static_cast<int32_t>(tree.parent.size()));
        tree.parent.push_back(-1);
        tree.species.push_back(s);
    }
    while (parts.size() > 1) {
        const auto node = static_cast<int32_t>(tree.parent.size());
        tree.parent.push_back(-1);
        tree.species.push_back(-1);
        const size_t children =
            widest > 2
                ? std::min<size_t>(parts.size(), 2 + rng() % static_cast<unsigned>(widest - 1))
                : 2;
        for (size_t c = 0; c < children; ++c) {
            const size_t at = rng() % parts.size();
            tree.parent[static_cast<size_t>(parts[at])] = node;
            parts[at] = parts.back();
            parts.pop_back();
        }
        parts.push_back(node);
    }
    return tree;
}
