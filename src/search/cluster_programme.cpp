// The best tree whose clusters all lie in a given set X: a dynamic programme
// over the clusters by increasing size. A cluster C is split into two parts
// that are each a single species or a member of X; the split satisfies the
// triples ab|c with a and b in different parts and c outside C, and the best
// score of C adds that to the best scores of its parts.
#include <algorithm>
#include <unordered_map>

#include "search/search_steps.h"

struct SpeciesSetHash {
    size_t operator()(const SpeciesSet& s) const {
        uint64_t h = 0x9E3779B97F4A7C15u;
        for (int32_t w = 0; w < wordCount(s); ++w)
            h = (h ^ speciesWord(s, w)) * 0xFF51AFD7ED558CCDu;
        return static_cast<size_t>(h ^ (h >> 29));
    }
};

static bool comesBefore(const SpeciesSet& a, const SpeciesSet& b) {
    const int ca = countSpecies(a);
    const int cb = countSpecies(b);
    if (ca != cb) return ca < cb;
    for (int w = wordCount(a) - 1; w >= 0; --w)
        if (speciesWord(a, w) != speciesWord(b, w)) return speciesWord(a, w) < speciesWord(b, w);
    return false;
}

// Clusters kept at most: the split search compares every pair of them.
constexpr size_t kMaxClusters = 6000;

constexpr int32_t kSingle = -2;  // a part that is one species (kNoNode is -1)
constexpr int64_t kUnreachable = INT64_MIN;

struct ClusterEntry {
    SpeciesSet set;
    int64_t score;     // kUnreachable while no split of it is possible
    int32_t leftPart;  // cluster index, or kSingle
    int32_t rightPart;
    int32_t leftSpecies;  // the species of a single part
    int32_t rightSpecies;
};

struct ClusterProgramme {
    std::vector<ClusterEntry> entries;
    std::unordered_map<SpeciesSet, int32_t, SpeciesSetHash> index;
    SpeciesSet all;
};

static int64_t partScore(const ClusterProgramme& p, int32_t part) {
    return part == kSingle ? 0 : p.entries[static_cast<size_t>(part)].score;
}

// The index of a part, kSingle for one species, or kNoNode when it is not
// in the set or cannot be built.
static int32_t findPart(const ClusterProgramme& p, const SpeciesSet& part) {
    if (countSpecies(part) == 1) return kSingle;
    const auto found = p.index.find(part);
    if (found == p.index.end()) return kNoNode;
    if (p.entries[static_cast<size_t>(found->second)].score == kUnreachable) return kNoNode;
    return found->second;
}

static void trySplit(const ClusterProgramme& p, ClusterEntry* e, const SpeciesSet& a, int32_t aPart,
                     const SpeciesSet& b, int32_t bPart) {
    const int64_t value = partScore(p, aPart) + partScore(p, bPart) + crossWeight(a, b, p.all);
    if (e->score != kUnreachable && value <= e->score) return;
    e->score = value;
    e->leftPart = aPart;
    e->rightPart = bPart;
    e->leftSpecies = lowestSpecies(a);
    e->rightSpecies = lowestSpecies(b);
}

// Splits in a fixed order, ties keeping the first: one species against the
// rest by increasing species, then two clusters of X by increasing index of
// the part listed first.
static void solveEntry(ClusterProgramme& p, int32_t i) {
    ClusterEntry& e = p.entries[static_cast<size_t>(i)];
    std::vector<int> members(static_cast<size_t>(countSpecies(e.set)));
    const int m = listSpecies(e.set, members.data());
    for (int k = 0; k < m; ++k) {
        const SpeciesSet one = singleSpecies(members[static_cast<size_t>(k)]);
        const SpeciesSet rest = subtractSets(e.set, one);
        const int32_t restPart = findPart(p, rest);
        if (restPart == kNoNode ||
            (restPart == kSingle && members[static_cast<size_t>(k)] > lowestSpecies(rest)))
            continue;
        trySplit(p, &e, one, kSingle, rest, restPart);
    }
    for (int32_t j = 0; j < i; ++j) {
        const ClusterEntry& a = p.entries[static_cast<size_t>(j)];
        if (a.score == kUnreachable || !isSubset(a.set, e.set) || a.set == e.set) continue;
        const SpeciesSet rest = subtractSets(e.set, a.set);
        if (countSpecies(rest) < 2) continue;
        const int32_t restPart = findPart(p, rest);
        if (restPart == kNoNode || restPart < j) continue;
        trySplit(p, &e, a.set, j, rest, restPart);
    }
}

// Builds the subtree of a part under parent (kNoNode for the root).
static int32_t buildPart(const ClusterProgramme& p, int32_t part, int32_t species,
                         SearchTree* tree) {
    if (part == kSingle) return species;
    const ClusterEntry& e = p.entries[static_cast<size_t>(part)];
    const int32_t node = tree->speciesCount + tree->innerCount++;
    const int32_t left = buildPart(p, e.leftPart, e.leftSpecies, tree);
    const int32_t right = buildPart(p, e.rightPart, e.rightSpecies, tree);
    tree->child[node][0] = left;
    tree->child[node][1] = right;
    tree->parent[left] = node;
    tree->parent[right] = node;
    return node;
}

// The distinct clusters, by increasing size and then by species, the full set
// last. When there are too many, the ones found most often are kept, ties
// keeping the earlier in that order.
static std::vector<SpeciesSet> keepFrequentClusters(const std::vector<SpeciesSet>& clusters,
                                                    const SpeciesSet& all) {
    std::vector<SpeciesSet> sets;
    for (const SpeciesSet& s : clusters)
        if (countSpecies(s) >= 2 && isSubset(s, all) && s != all) sets.push_back(s);
    std::sort(sets.begin(), sets.end(), comesBefore);
    std::vector<std::pair<SpeciesSet, size_t>> counted;
    for (const SpeciesSet& s : sets) {
        if (!counted.empty() && counted.back().first == s)
            ++counted.back().second;
        else
            counted.push_back({s, 1});
    }
    if (counted.size() > kMaxClusters) {
        std::stable_sort(counted.begin(), counted.end(),
                         [](const auto& a, const auto& b) { return a.second > b.second; });
        counted.resize(kMaxClusters);
        std::sort(counted.begin(), counted.end(),
                  [](const auto& a, const auto& b) { return comesBefore(a.first, b.first); });
    }
    sets.clear();
    for (const auto& c : counted)
        sets.push_back(c.first);
    sets.push_back(all);
    return sets;
}

bool bestTreeOverClusters(const std::vector<SpeciesSet>& clusters, int32_t n, SearchTree* tree) {
    ClusterProgramme p;
    p.all = firstSpecies(n);
    std::vector<SpeciesSet> sets = keepFrequentClusters(clusters, p.all);
    for (const SpeciesSet& s : sets) {
        p.index.emplace(s, static_cast<int32_t>(p.entries.size()));
        p.entries.push_back({s, kUnreachable, kSingle, kSingle, 0, 0});
    }
    for (int32_t i = 0; i < static_cast<int32_t>(p.entries.size()); ++i)
        solveEntry(p, i);
    const int32_t top = static_cast<int32_t>(p.entries.size()) - 1;
    if (p.entries[static_cast<size_t>(top)].score == kUnreachable) return false;
    resetSearchTree(n, tree);
    tree->root = buildPart(p, top, 0, tree);
    tree->parent[tree->root] = kNoNode;
    return true;
}
