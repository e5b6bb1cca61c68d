// Top-down construction: the cluster of all species is divided by minimum
// cuts of its pairwise triple weights until every part is a single species.
//
// Every node has a cluster id: species i is id i, inner nodes get n+1, n+2, ...
// in creation order (n is never used), and inner node id x lives in pool entry
// x-1 with label x. The root's weight is the weight of the triples the tree
// satisfies; every other inner node keeps the cut value of its division.
#include <memory>

#include "heuristics/heuristics.h"

// Working storage of one call.
struct CutTreeWork {
    SpeciesSet members[kPoolSize];   // species of each inner cluster id
    TreeNode** pool;                 // the records the tree is built in
    TreeNode* nodes[kPoolSize];      // node of each cluster id
    int16_t lastId;                  // id handed out last; ids stay below kPoolSize
    int32_t stack[kMaxSpecies / 2];  // disjoint clusters of two or more species
    int32_t stackSize;
    int32_t member[kMaxSpecies];  // species of the cluster being divided, increasing
    int64_t capacity[kMaxSpecies][kMaxSpecies];
    // The cluster divided last and, for species i < j in it, the weight of
    // the triples pairing i and j against a third species of that cluster.
    SpeciesSet lastCluster;
    int64_t pairSum[kMaxSpecies][kMaxSpecies];
    int32_t side[kMaxSpecies];
    // Sum of the real cut capacities of all divisions. Each triple entry is
    // counted in at most one cut, so with non-negative entries this stays
    // below the table total.
    int64_t cutTotal;
};

static int32_t createInner(CutTreeWork& work) {
    TreeNode* node = resetPoolNode(work.pool, work.lastId, work.lastId + 1);
    ++work.lastId;
    work.nodes[work.lastId] = node;
    return work.lastId;
}

// capacity[a][b]: weight of the triples that pair members a and b against a
// third member of the cluster (either of the pair included). Zero diagonal.
//
// A cluster divided straight after its parent (the right part, or the left
// one when the right is a leaf) starts from the parent's sums and subtracts
// the species it lost, when they are fewer than its own members; otherwise
// each sum is taken afresh. The sums are exact either way: each lies within
// the table total, which 64 bits hold for any table.
static void fillCapacity(const SpeciesSet& cluster, int32_t m, CutTreeWork& work) {
    int32_t lostSpecies[kMaxSpecies];
    const int32_t lostCount = listSpecies(subtractSets(work.lastCluster, cluster), lostSpecies);
    const bool fromParent = isSubset(cluster, work.lastCluster) && lostCount < m;

    for (int a = 0; a < m; ++a) {
        work.capacity[a][a] = 0;
        const int32_t i = work.member[a];
        for (int b = a + 1; b < m; ++b) {
            const int32_t j = work.member[b];
            const int32_t* row = tripleRow(i, j);
            int64_t sum = 0;
            if (fromParent) {
                sum = work.pairSum[i][j];
                for (int c = 0; c < lostCount; ++c)
                    sum -= row[lostSpecies[c]];
            } else {
                for (int c = 0; c < m; ++c)
                    sum += row[work.member[c]];
            }
            work.pairSum[i][j] = sum;
            work.capacity[a][b] = sum;
            work.capacity[b][a] = sum;
        }
    }
    work.lastCluster = cluster;
}

// The triples whose pair the division separates while the third species is in
// the cluster: exactly those the tree contradicts at this node.
static int64_t realCut(int32_t m, const CutTreeWork& work) {
    int64_t cut = 0;
    for (int a = 0; a < m; ++a) {
        if (work.side[a] == 0) continue;
        for (int b = 0; b < m; ++b)
            if (work.side[b] == 0) cut += work.capacity[a][b];
    }
    return cut;
}

// Turns the members labelled `label` into a child of the divided node: a
// leaf for one species, otherwise a new inner cluster that waits on the stack.
static TreeNode* makePart(int32_t m, int32_t label, CutTreeWork& work) {
    SpeciesSet part{};
    int32_t count = 0;
    int32_t only = 0;
    for (int a = 0; a < m; ++a) {
        if ((work.side[a] != 0) != (label != 0)) continue;
        only = work.member[a];
        insertSpecies(&part, only);
        ++count;
    }
    if (count == 1) return work.nodes[only];
    const int32_t id = createInner(work);
    work.members[id] = part;
    work.stack[work.stackSize++] = id;
    return work.nodes[id];
}

static void divideCluster(int32_t id, CutTreeWork& work) {
    TreeNode* node = work.nodes[id];
    const int32_t m = listSpecies(work.members[id], work.member);
    fillCapacity(work.members[id], m, work);
    node->weight = minCutSplit(m, work.capacity, work.side);
    work.cutTotal += realCut(m, work);
    // Left first: it is pushed first, so the right part is divided first.
    node->left = makePart(m, 1, work);
    node->right = makePart(m, 0, work);
}

// Weight of every triple once: an unordered pair and any third species.
static int64_t tableTotal(int32_t n) {
    int64_t total = 0;
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) {
            const int32_t* row = tripleRow(i, j);
            for (int k = 0; k < n; ++k)
                total += row[k];
        }
    return total;
}

TreeNode* minCutTree() {
    return minCutTreeInPool(g_nodePool);
}

TreeNode* minCutTreeInPool(TreeNode** pool) {
    const int32_t n = g_speciesCount;
    if (n <= 1) {
        // Nothing to divide: the single species alone (also stands in for an
        // empty species set, so the caller always gets a root to score).
        return singleLeafTree(pool);
    }
    // Every field read below is set first; too large for a thread's stack.
    std::unique_ptr<CutTreeWork> owned(new CutTreeWork);
    CutTreeWork& work = *owned;
    work.pool = pool;
    work.lastId = static_cast<int16_t>(n);
    work.stackSize = 0;
    work.cutTotal = 0;
    work.lastCluster = SpeciesSet{};
    for (int i = 0; i < n; ++i) {
        work.nodes[i] = resetPoolNode(pool, i, i);
    }
    const int32_t rootId = createInner(work);
    work.members[rootId] = firstSpecies(n);
    work.stack[work.stackSize++] = rootId;
    while (work.stackSize > 0)
        divideCluster(work.stack[--work.stackSize], work);

    TreeNode* root = work.nodes[rootId];
    // Every division separates the triples its cut counts, and no others, so
    // this is the weight the tree satisfies.
    root->weight = tableTotal(n) - work.cutTotal;
    return root;
}
