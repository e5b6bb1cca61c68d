// The gene trees of infer: read, checked, rooted, numbered and kept in a
// compact form, with a record of what became of every tree of the file.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/progress.h"
#include "named/read/read.h"
#include "named/road/road_steps.h"

namespace {

constexpr int32_t kMinTaxa = 3;  // a tree on fewer displays no triple

// Line numbers of increasing offsets, counted once over the whole text.
struct LineCounter {
    const std::string& text;
    size_t at;
    int32_t line;
};

int32_t lineAt(LineCounter* counter, size_t offset) {
    for (; counter->at < offset && counter->at < counter->text.size(); ++counter->at)
        if (counter->text[counter->at] == '\n') ++counter->line;
    return counter->line;
}

// Every leaf, an individual, takes the name of its species.
void nameSpecies(const std::string& text, NamedTree* tree,
                 const std::unordered_map<std::string, std::string>& speciesOf) {
    for (NamedNode& node : tree->nodes) {
        if (!node.children.empty()) continue;
        const auto found = speciesOf.find(node.name);
        if (found != speciesOf.end()) {
            node.name = found->second;
            continue;
        }
        std::unordered_set<std::string> individuals;
        for (const auto& entry : speciesOf)
            individuals.insert(entry.first);
        throwAt(text, node.offset,
                "individual " + shownName(node.name) + " is not in the map; " +
                    suggestNames(node.name, individuals) + "add it to the map with its species");
    }
}

// The threshold compares with the labels as written; the supports are then
// brought to 0 to 1 for weighing.
void collapseAsAsked(NamedTree* tree, const InferOptions& options, GeneTrees* genes) {
    if (options.minSupport >= 0) {
        const CollapseCounts counts = collapseWeakBranches(tree, options.minSupport);
        genes->collapse.labelled += counts.labelled;
        genes->collapse.collapsed += counts.collapsed;
    }
    normaliseSupports(tree, genes->supportScale);
}

void checkRootedAsWritten(const std::string& text, const NamedTree& tree, int32_t index) {
    const NamedNode& root = tree.nodes[static_cast<size_t>(tree.root)];
    if (tree.mark == RootMark::kUnrooted)
        throwAt(text, tree.offset,
                "tree " + std::to_string(index) +
                    " is marked unrooted ([&U]); give --outgroup, or --rooted to take every root "
                    "as written");
    if (root.children.size() < 3) return;
    throwAt(text, root.offset,
            "tree " + std::to_string(index) + " is unrooted (" +
                std::to_string(root.children.size()) +
                " subtrees at its root); give --outgroup, or --rooted to take every root as "
                "written");
}

// Taxon numbers: first appearance, the ingroup before the outgroup.
std::vector<int32_t> numberIngroupFirst(const std::vector<std::string>& idNames,
                                        const std::unordered_set<std::string>& outgroup,
                                        int32_t* ingroupCount) {
    std::vector<int32_t> number(idNames.size());
    int32_t next = 0;
    for (const bool listed : {false, true}) {
        for (size_t id = 0; id < idNames.size(); ++id)
            if ((outgroup.count(idNames[id]) != 0) == listed) number[id] = next++;
        if (!listed) *ingroupCount = next;
    }
    return number;
}

void checkTaxa(const GeneTrees& genes, const std::vector<std::string>& outgroup,
               const std::unordered_set<std::string>& allNames, size_t taxa) {
    if (genes.read == 0) failWhole("no tree found; write each tree in Newick and end it with ';'");
    checkOutgroupNames(outgroup, allNames);
    if (taxa == 0)
        failWhole("no tree with three or more taxa is left, so there is no triple to use");
}

// --weight hybrid: the support of every branch (1 where there is none) times
// the chance that an alignment of sites holds a substitution on it. Every
// branch needs its length; a negative one counts as 0.
void weighByLengths(const std::string& text, NamedTree* tree, int32_t index, double sites) {
    bool anyLength = false;
    for (const NamedNode& node : tree->nodes)
        anyLength = anyLength || !std::isnan(node.length);
    if (!anyLength)
        throwAt(text, tree->offset,
                "tree " + std::to_string(index) +
                    " has no branch lengths, which --weight hybrid needs; give trees with "
                    "lengths or use --weight support");
    for (size_t v = 0; v < tree->nodes.size(); ++v) {
        if (static_cast<int32_t>(v) == tree->root) continue;
        NamedNode& node = tree->nodes[v];
        if (std::isnan(node.length))
            throwAt(text, node.offset,
                    "this branch of tree " + std::to_string(index) +
                        " has no length, which --weight hybrid needs; give every branch its "
                        "length");
        const double support = std::isnan(node.support) ? 1.0 : node.support;
        node.support = support * (1 - std::exp(-std::max(0.0, node.length) * sites));
    }
}

// The alignment length of tree index (1-based) of the file.
double sitesOf(const std::vector<double>& sites, int32_t index) {
    if (sites.size() == 1) return sites[0];
    if (static_cast<size_t>(index) > sites.size())
        failWhole("the --sites file gives " + std::to_string(sites.size()) +
                  " alignment lengths, but there are more trees; give one length per tree");
    return sites[static_cast<size_t>(index) - 1];
}

}  // namespace

StoredTree storeTree(const NamedTree& tree,
                     const std::unordered_map<std::string, int32_t>& numbers) {
    const size_t count = tree.nodes.size();
    StoredTree stored{tree.weight, std::vector<int32_t>(count, -1), std::vector<int32_t>(count, -1),
                      std::vector<float>(count, 1.0f)};
    for (size_t i = 0; i < count; ++i) {
        const NamedNode& node = tree.nodes[i];
        // A branch without a support counts as fully supported, so trees
        // without labels weigh as they always have.
        if (!std::isnan(node.support)) stored.support[i] = static_cast<float>(node.support);
        if (node.children.empty()) stored.taxon[i] = numbers.at(node.name);
        for (const int32_t child : node.children)
            stored.parent[static_cast<size_t>(child)] = static_cast<int32_t>(i);
    }
    return stored;
}

GeneTree geneTreeOf(const NamedTree& tree,
                    const std::unordered_map<std::string, int32_t>& numbers) {
    const StoredTree stored = storeTree(tree, numbers);
    // A weight comment holds at most INT32_MAX, so the narrowing is exact.
    return GeneTree{stored.parent, stored.taxon, static_cast<int32_t>(tree.weight), {}};
}

GeneTrees readGeneTrees(const std::string& bytes, const InferOptions& options) {
    GeneTrees genes{};
    const std::unordered_set<std::string> outgroup(options.outgroup.begin(),
                                                   options.outgroup.end());
    const bool rooting = !outgroup.empty();
    std::unordered_map<std::string, int32_t> ids;  // by first appearance
    std::vector<std::string> idNames;
    std::unordered_set<std::string> allNames;
    const bool supports = options.weight != WeightRule::kNone || options.minSupport >= 0;
    genes.supportScale = supports ? supportScaleOf(bytes, options.supportField) : 1;
    TreeSource source = openTreeSource(bytes);
    source.repeats = options.families ? RepeatedNames::kCopies : RepeatedNames::kRefusedGeneTrees;
    genes.families = options.families;
    genes.keepTexts[0] = options.pieces;
    genes.keepTexts[1] = options.tags;
    const std::string& text = sourceText(source);
    LineCounter lines{text, 0, 1};
    NamedTree tree{};
    while (readNextTree(&source, &tree, true)) {
        if (genes.read == INT32_MAX) failWhole("more than 2147483647 trees; split the file");
        ++genes.read;
        reportProgress(ProgressStage::kReadTrees, genes.read, 0);
        if (supports) readSupports(text, &tree, options.supportField);
        if (options.families) {
            if (tree.leafCount >= kMinTaxa) {
                collapseAsAsked(&tree, options, &genes);
                if (!options.sites.empty())
                    weighByLengths(text, &tree, genes.read, sitesOf(options.sites, genes.read));
            }
            addFamily(text, &tree, options, lineAt(&lines, tree.offset), &genes, &ids, &idNames,
                      &allNames);
            continue;
        }
        if (!options.speciesOf.empty()) nameSpecies(text, &tree, options.speciesOf);
        for (const NamedNode& node : tree.nodes)
            if (node.children.empty()) allNames.insert(node.name);
        TreeRecord record{lineAt(&lines, tree.offset), tree.leafCount, TreeFate::kAsWritten, 0};
        if (tree.leafCount < kMinTaxa) {
            ++genes.skipped;
            record.fate = TreeFate::kSkipped;
        } else if (!rooting) {
            if (!options.rooted) checkRootedAsWritten(text, tree, genes.read);
            collapseAsAsked(&tree, options, &genes);
            if (!options.sites.empty())
                weighByLengths(text, &tree, genes.read, sitesOf(options.sites, genes.read));
        } else {
            collapseAsAsked(&tree, options, &genes);
            if (!options.sites.empty())
                weighByLengths(text, &tree, genes.read, sitesOf(options.sites, genes.read));
            const RootingResult rooted = rootOnOutgroup(&tree, outgroup);
            record.misplaced = rooted.misplaced;
            record.fate = rooted.how != Rooting::kNoOutgroup ? TreeFate::kOnOutgroup
                          : options.dropUnplaced             ? TreeFate::kLeftOut
                                                             : TreeFate::kBySpeciesTree;
            if (record.fate == TreeFate::kBySpeciesTree)
                ++genes.counts.bySpeciesTree;
            else
                countRooting(rooted, &genes.counts);
        }
        genes.records.push_back(record);
        if (record.fate == TreeFate::kSkipped || record.fate == TreeFate::kLeftOut) continue;
        numberTaxa(tree, ids, idNames);
        if (record.fate == TreeFate::kBySpeciesTree) {
            genes.unplacedAt.push_back(genes.trees.size());
            genes.unplaced.push_back(tree);
        }
        genes.trees.push_back(storeTree(tree, ids));
    }
    checkTaxa(genes, options.outgroup, allNames, idNames.size());
    if (options.sites.size() > 1 && options.sites.size() != static_cast<size_t>(genes.read))
        failWhole("the --sites file gives " + std::to_string(options.sites.size()) +
                  " alignment lengths for " + std::to_string(genes.read) +
                  " trees; give one length per tree");
    genes.weighted = options.weight != WeightRule::kNone;
    genes.weighting = {options.weight == WeightRule::kLargest       ? SupportRule::kLargest
                       : options.weight == WeightRule::kAboveChance ? SupportRule::kAboveChance
                                                                    : SupportRule::kAnyRight,
                       kWeightUnit};
    genes.ingroupCount = static_cast<int32_t>(idNames.size());
    const std::vector<int32_t> number = numberIngroupFirst(idNames, outgroup, &genes.ingroupCount);
    genes.names.resize(idNames.size());
    for (size_t id = 0; id < idNames.size(); ++id)
        genes.names[static_cast<size_t>(number[id])] = idNames[id];
    for (StoredTree& stored : genes.trees)
        for (int32_t& taxon : stored.taxon)
            if (taxon >= 0) taxon = number[static_cast<size_t>(taxon)];
    return genes;
}

void rootUnplacedTrees(GeneTrees* genes, const ResultTree& species,
                       const std::vector<bool>& known) {
    if (genes->families) {
        rootWaitingFamilies(genes, species, known);
        return;
    }
    const auto taxa = static_cast<int32_t>(genes->names.size());
    const SpeciesTreeDepths depths = meetingDepths(species, taxa);
    std::unordered_map<std::string, int32_t> numbers;
    for (int32_t t = 0; t < taxa; ++t)
        numbers.emplace(genes->names[static_cast<size_t>(t)], t);
    for (size_t u = 0; u < genes->unplaced.size(); ++u) {
        NamedTree tree = genes->unplaced[u];
        std::vector<int32_t> leafTaxon(tree.nodes.size(), -1);
        for (size_t i = 0; i < tree.nodes.size(); ++i) {
            if (!tree.nodes[i].children.empty()) continue;
            const int32_t taxon = numbers.at(tree.nodes[i].name);
            if (known.empty() || known[static_cast<size_t>(taxon)]) leafTaxon[i] = taxon;
        }
        rootBySpeciesTree(&tree, leafTaxon, depths);
        genes->trees[genes->unplacedAt[u]] = storeTree(tree, numbers);
    }
}

std::string logText(const std::vector<TreeRecord>& records) {
    std::string text = "tree\tline\ttaxa\trooting\tmisplaced\n";
    for (size_t i = 0; i < records.size(); ++i) {
        const TreeRecord& r = records[i];
        text += std::to_string(i + 1) + "\t" + std::to_string(r.line) + "\t" +
                std::to_string(r.taxa) + "\t";
        switch (r.fate) {
            case TreeFate::kAsWritten:
                text += "as written\t\n";
                break;
            case TreeFate::kOnOutgroup:
                text += "on the outgroup\t" + std::to_string(r.misplaced) + "\n";
                break;
            case TreeFate::kBySpeciesTree:
                text += "by the species tree\t\n";
                break;
            case TreeFate::kLeftOut:
                text += "left out: no outgroup taxon\t\n";
                break;
            case TreeFate::kSkipped:
                text += "skipped: fewer than 3 taxa\t\n";
                break;
        }
    }
    return text;
}
