// libFuzzer target: arbitrary bytes through the tree reader (Newick or
// NEXUS, plain or gzip), the rooting and infer, with support weights, weak
// branches collapsed, rooting by the species tree and the bootstrap picked by
// the input. The first line is an outgroup list as --outgroup takes it; the
// rest is the tree text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/common.h"
#include "named/annotate/annotate.h"
#include "named/picture/picture.h"
#include "named/read/read.h"
#include "named/road/road.h"

namespace {

constexpr size_t kMaxInferTaxa = 12;  // keeps every input fast

// Rooting keeps the leaves, stores children first and leaves no node with
// fewer than two children; a rooted tree has two at its root.
void checkRooted(const NamedTree& before, const NamedTree& after, const RootingResult& how) {
    size_t leavesBefore = 0;
    size_t leavesAfter = 0;
    for (const NamedNode& node : before.nodes)
        leavesBefore += node.children.empty();
    for (size_t i = 0; i < after.nodes.size(); ++i) {
        const NamedNode& node = after.nodes[i];
        leavesAfter += node.children.empty();
        if (node.children.size() == 1) std::abort();
        for (const int32_t child : node.children)
            if (child < 0 || static_cast<size_t>(child) >= i) std::abort();
    }
    if (leavesBefore != leavesAfter || after.root != static_cast<int32_t>(after.nodes.size() - 1))
        std::abort();
    const size_t rootChildren = after.nodes.back().children.size();
    if (how.how != Rooting::kNoOutgroup && leavesAfter > 1 && rootChildren != 2) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const size_t newline = bytes.find('\n');
    const std::string list = newline == std::string::npos ? "" : bytes.substr(0, newline);
    const std::string text = newline == std::string::npos ? bytes : bytes.substr(newline + 1);
    std::vector<std::string> outgroup;
    try {
        outgroup = parseOutgroup(list);
    } catch (const NewickError&) {
    }
    size_t taxa = 0;
    try {
        TreeSource source = openTreeSource(text);
        NamedTree tree{};
        while (readNextTree(&source, &tree, true)) {
            NamedTree rooted = tree;
            checkRooted(tree, rooted,
                        rootOnOutgroup(&rooted, std::unordered_set<std::string>(outgroup.begin(),
                                                                                outgroup.end())));
            taxa += static_cast<size_t>(tree.leafCount);
        }
    } catch (const NewickError&) {
        return 0;
    }
    try {
        encodeTrees(text, outgroup);
    } catch (const NewickError&) {
    }
    if (taxa > kMaxInferTaxa) return 0;
    try {
        InferOptions options;
        options.outgroup = outgroup;
        options.rooted = outgroup.empty();
        options.support = SupportKind::kFull;
        options.lengths = true;
        options.picture = true;
        options.threads = 1;
        // The input's own bytes pick the road's options, so every option
        // meets every kind of input.
        uint32_t pick = 0;
        for (const uint8_t byte : bytes)
            pick = pick * 31 + byte;
        const WeightRule rules[] = {WeightRule::kNone, WeightRule::kAnyRight, WeightRule::kLargest,
                                    WeightRule::kAboveChance};
        options.weight = rules[pick % 4];
        if ((pick >> 2) % 3 == 0) options.minSupport = 0.5;
        options.dropUnplaced = !outgroup.empty() && (pick >> 4) % 2 == 0;
        if ((pick >> 5) % 4 == 0) {
            options.support = SupportKind::kBootstrap;
            options.bootstrap = 2;
        }
        if (!outgroup.empty() && (pick >> 7) % 3 == 0) options.triples = TripleKind::kAnchored;
        options.supportField = 1 + static_cast<int>((pick >> 9) % 3);
        const TreeOutput formats[] = {TreeOutput::kNewick, TreeOutput::kNexus, TreeOutput::kNhx};
        options.format = formats[(pick >> 11) % 3];
        if ((pick >> 13) % 3 == 0) options.sites = {300};
        if ((pick >> 15) % 3 == 0) {
            options.families = true;
            options.rooted = false;
            options.pieces = true;
            options.tags = true;
            if ((pick >> 17) % 2 == 0) options.delimiter = '_';
        }
        inferSpeciesTree(text, options);
    } catch (const NewickError&) {
    }
    return 0;
}
