// The normalised Robinson-Foulds distance between a true tree and estimated
// ones, as species-tree accuracy is reported: the splits (bipartitions of
// the leaves) of one tree missing from the other, counted both ways, over
// the most there can be, 2(n - 3) for n shared leaves. Roots are ignored, so
// rooted and unrooted trees compare alike; both trees are first restricted
// to the leaves they share.
//
//   tressil_tree_distance TRUE.nwk ESTIMATED.nwk
//
// prints one distance per tree of ESTIMATED.nwk, compared with the first
// tree of TRUE.nwk. With --lengths first, it prints instead the mean
// absolute difference between the branch lengths of the two trees over the
// inner branches (rooted clusters) that both have and the estimate gives a
// length, and how many those were.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "simulate/tool_support.h"
#include "simulate/tree.h"

namespace {

using Split = std::vector<bool>;  // by leaf name order; normalised to leave the first out

std::set<Split> splitsOf(const SimTree& tree, const std::vector<std::string>& names) {
    const size_t n = names.size();
    std::vector<Split> below(tree.nodes.size(), Split(n, false));
    std::set<Split> splits;
    for (const int node : postorder(tree)) {
        const SimNode& record = tree.nodes[static_cast<size_t>(node)];
        Split& mine = below[static_cast<size_t>(node)];
        if (record.children.empty()) {
            const auto at = std::lower_bound(names.begin(), names.end(), record.name);
            mine[static_cast<size_t>(at - names.begin())] = true;
        }
        for (const int child : record.children)
            for (size_t i = 0; i < n; ++i)
                mine[i] = mine[i] || below[static_cast<size_t>(child)][i];
        const size_t size = static_cast<size_t>(std::count(mine.begin(), mine.end(), true));
        if (size < 2 || size > n - 2) continue;  // a leaf's edge, or the root's
        Split split = mine;
        if (split[0]) split.flip();
        splits.insert(split);
    }
    return splits;
}

std::vector<std::string> leafNames(const SimTree& tree) {
    std::vector<std::string> names;
    for (const SimNode& node : tree.nodes)
        if (node.children.empty()) names.push_back(node.name);
    std::sort(names.begin(), names.end());
    return names;
}

SimTree restrictTo(const SimTree& tree, const std::vector<std::string>& names) {
    std::vector<bool> keep(tree.nodes.size(), false);
    for (size_t i = 0; i < tree.nodes.size(); ++i)
        keep[i] = tree.nodes[i].children.empty() &&
                  std::binary_search(names.begin(), names.end(), tree.nodes[i].name);
    return restrictTree(tree, keep);
}

double distance(const SimTree& truth, const SimTree& estimate) {
    const std::vector<std::string> a = leafNames(truth);
    const std::vector<std::string> b = leafNames(estimate);
    std::vector<std::string> shared;
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(shared));
    if (shared.size() < 4) return 0;
    const std::set<Split> one = splitsOf(restrictTo(truth, shared), shared);
    const std::set<Split> other = splitsOf(restrictTo(estimate, shared), shared);
    size_t missing = 0;
    for (const Split& s : one)
        missing += other.count(s) == 0 ? 1 : 0;
    for (const Split& s : other)
        missing += one.count(s) == 0 ? 1 : 0;
    return static_cast<double>(missing) / (2.0 * static_cast<double>(shared.size() - 3));
}

// The length of the branch above every inner node below the root's
// children, by its cluster: with an outgroup at the root, the branch between
// the root's two sides is given, not estimated.
std::map<std::vector<std::string>, double> innerLengths(const SimTree& tree) {
    std::map<std::vector<std::string>, double> lengths;
    std::vector<std::vector<std::string>> below(tree.nodes.size());
    for (const int node : postorder(tree)) {
        const SimNode& record = tree.nodes[static_cast<size_t>(node)];
        auto& mine = below[static_cast<size_t>(node)];
        if (record.children.empty()) mine.push_back(record.name);
        for (const int child : record.children)
            mine.insert(mine.end(), below[static_cast<size_t>(child)].begin(),
                        below[static_cast<size_t>(child)].end());
        std::sort(mine.begin(), mine.end());
        if (!record.children.empty() && record.parent >= 0 &&
            tree.nodes[static_cast<size_t>(record.parent)].parent >= 0)
            lengths[mine] = record.length;
    }
    return lengths;
}

void printLengthError(const SimTree& truth, const SimTree& estimate) {
    const auto trueLengths = innerLengths(truth);
    double sum = 0;
    int count = 0;
    for (const auto& [cluster, length] : innerLengths(estimate)) {
        const auto found = trueLengths.find(cluster);
        if (found == trueLengths.end()) continue;
        sum += std::fabs(length - found->second);
        ++count;
    }
    std::printf("%.4f %d\n", count == 0 ? 0.0 : sum / count, count);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const bool lengths = argc == 4 && std::string(argv[1]) == "--lengths";
        if (lengths) {
            const std::vector<SimTree> truth = parseTrees(readTextFile(argv[2]));
            const std::vector<SimTree> estimates = parseTrees(readTextFile(argv[3]));
            if (truth.empty()) failSimulation(std::string(argv[2]) + " holds no tree");
            for (const SimTree& estimate : estimates)
                printLengthError(truth[0], estimate);
            return 0;
        }
        if (argc != 3)
            failSimulation("use tressil_tree_distance [--lengths] TRUE.nwk ESTIMATED.nwk");
        const std::vector<SimTree> truth = parseTrees(readTextFile(argv[1]));
        const std::vector<SimTree> estimates = parseTrees(readTextFile(argv[2]));
        if (truth.empty()) failSimulation(std::string(argv[1]) + " holds no tree");
        for (const SimTree& estimate : estimates)
            std::printf("%.4f\n", distance(truth[0], estimate));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tressil_tree_distance: %s\n", error.what());
        return 1;
    }
    return 0;
}
