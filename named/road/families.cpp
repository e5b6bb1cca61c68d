// Gene families on the road: each family read, rooted, tagged and cut into
// pieces of one copy per species, which fill the triple table as gene trees
// do; families still tied after the outgroup wait for the species tree.
#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/common.h"
#include "named/family/family.h"
#include "named/road/road_steps.h"
#include "named/root/root.h"

namespace {

constexpr int32_t kMinSpecies = 3;  // a piece on fewer displays no triple

// The family's pieces as the table takes them, and the texts asked for.
struct CutFamily {
    std::vector<StoredTree> trees;
    int32_t dropped;
    std::string pieces;
    std::string tags;
};

// Roots the family (as read) on the edge above node, tags and cuts it.
CutFamily cutFamily(const NamedTree& asRead, const std::vector<std::string>& species, int32_t node,
                    const std::unordered_map<std::string, int32_t>& numbers,
                    const bool keepTexts[2]) {
    std::unordered_map<std::string, int32_t> numberOf;  // of every gene name
    for (size_t v = 0; v < asRead.nodes.size(); ++v)
        if (asRead.nodes[v].children.empty())
            numberOf.emplace(asRead.nodes[v].name, numbers.at(species[v]));
    const CutTree tree = rootAndCut(asRead, node, numberOf);
    CutFamily cut{{}, 0, "", ""};
    for (const NamedTree& piece : tree.pieces) {
        if (keepTexts[0]) cut.pieces += familyNewick(piece, nullptr);
        if (piece.leafCount < kMinSpecies) {
            ++cut.dropped;
            continue;
        }
        cut.trees.push_back(storeTree(piece, numberOf));  // gene names give species numbers
    }
    if (keepTexts[1]) {
        std::vector<std::string> labels(tree.rooted.nodes.size());
        for (size_t v = 0; v < labels.size(); ++v)
            if (!tree.rooted.nodes[v].children.empty()) labels[v] = tree.duplication[v] ? "D" : "S";
        cut.tags = familyNewick(tree.rooted, &labels);
    }
    return cut;
}

// Species numbers by first appearance in the text, as numberTaxa gives
// taxa theirs.
void numberSpecies(const NamedTree& tree, const std::vector<std::string>& species,
                   std::unordered_map<std::string, int32_t>* ids,
                   std::vector<std::string>* idNames) {
    std::vector<size_t> leaves;
    for (size_t v = 0; v < tree.nodes.size(); ++v)
        if (tree.nodes[v].children.empty()) leaves.push_back(v);
    std::sort(leaves.begin(), leaves.end(),
              [&tree](size_t a, size_t b) { return tree.nodes[a].offset < tree.nodes[b].offset; });
    for (const size_t v : leaves)
        if (ids->emplace(species[v], static_cast<int32_t>(idNames->size())).second)
            idNames->push_back(species[v]);
}

// The pieces go to the end of trees (familyOf beside it); the record and
// the texts take the family's counts and lines.
void storeCut(GeneTrees* genes, int32_t record, int32_t unit, CutFamily cut,
              std::vector<StoredTree>* trees, std::vector<int32_t>* familyOf) {
    FamilyRecord& r = genes->familyRecords[static_cast<size_t>(record)];
    r.kept = static_cast<int32_t>(cut.trees.size());
    r.dropped = cut.dropped;
    for (StoredTree& tree : cut.trees) {
        trees->push_back(std::move(tree));
        familyOf->push_back(unit);
    }
    if (genes->keepTexts[0]) genes->piecesText[static_cast<size_t>(record)] = std::move(cut.pieces);
    if (genes->keepTexts[1]) genes->tagsText[static_cast<size_t>(record)] = std::move(cut.tags);
}

// A waiting family rooted among its tied roots where the species tree
// displays the most of its triples (of known taxa only, when known is not
// empty), then by the smaller side, and cut.
struct Rerooted {
    CutFamily cut;
    FamilyTie tie;
};

Rerooted rerootFamily(const WaitingFamily& family, const SpeciesTreeDepths& depths,
                      const std::unordered_map<std::string, int32_t>& numbers,
                      const std::vector<bool>& known, const bool keepTexts[2]) {
    std::vector<int32_t> leafTaxon(family.tree.nodes.size(), -1);
    for (size_t v = 0; v < leafTaxon.size(); ++v) {
        if (!family.tree.nodes[v].children.empty()) continue;
        const int32_t taxon = numbers.at(family.species[v]);
        if (known.empty() || known[static_cast<size_t>(taxon)]) leafTaxon[v] = taxon;
    }
    const std::vector<int64_t> score = speciesTreeScores(family.tree, leafTaxon, depths);
    std::vector<int32_t> best;
    for (const int32_t x : family.candidates) {
        const int64_t s = score[static_cast<size_t>(x)];
        if (!best.empty() && s < score[static_cast<size_t>(best[0])]) continue;
        if (!best.empty() && s > score[static_cast<size_t>(best[0])]) best.clear();
        best.push_back(x);
    }
    return {cutFamily(family.tree, family.species, firstBySmallerSide(family.tree, best), numbers,
                      keepTexts),
            best.size() == 1 ? FamilyTie::kSpeciesTree : FamilyTie::kSmallerSide};
}

const char* tieText(FamilyTie tie) {
    switch (tie) {
        case FamilyTie::kNone:
            return "none";
        case FamilyTie::kOutgroup:
            return "outgroup";
        case FamilyTie::kSpeciesTree:
            return "species tree";
        case FamilyTie::kSmallerSide:
            return "smaller side";
    }
    return "";
}

}  // namespace

void addFamily(const std::string& text, NamedTree* tree, const InferOptions& options, int32_t line,
               GeneTrees* genes, std::unordered_map<std::string, int32_t>* ids,
               std::vector<std::string>* idNames, std::unordered_set<std::string>* allNames) {
    const SpeciesNaming naming{options.speciesOf, options.delimiter, options.field};
    const std::vector<std::string> species = leafSpecies(text, *tree, naming);
    std::unordered_set<std::string> distinct;
    bool hasOutgroup = false;
    const std::unordered_set<std::string> outgroup(options.outgroup.begin(),
                                                   options.outgroup.end());
    for (size_t v = 0; v < species.size(); ++v) {
        if (!tree->nodes[v].children.empty()) continue;
        distinct.insert(species[v]);
        allNames->insert(species[v]);
        hasOutgroup = hasOutgroup || outgroup.count(species[v]) != 0;
    }
    const auto record = static_cast<int32_t>(genes->familyRecords.size());
    genes->familyRecords.push_back({line,
                                    tree->leafCount,
                                    static_cast<int32_t>(distinct.size()),
                                    TreeFate::kAsWritten,
                                    {0, 0},
                                    0,
                                    FamilyTie::kNone,
                                    0,
                                    0});
    genes->piecesText.emplace_back();
    genes->tagsText.emplace_back();
    FamilyRecord& r = genes->familyRecords.back();
    if (distinct.size() < static_cast<size_t>(kMinSpecies)) {
        r.fate = TreeFate::kSkipped;
        ++genes->skipped;
        return;
    }
    if (!outgroup.empty() && !hasOutgroup && options.dropUnplaced) {
        r.fate = TreeFate::kLeftOut;
        ++genes->counts.leftOut;
        return;
    }
    numberSpecies(*tree, species, ids, idNames);
    std::vector<int32_t> number(species.size(), -1);
    std::vector<bool> outgroupLeaf;
    if (hasOutgroup) outgroupLeaf.assign(species.size(), false);
    for (size_t v = 0; v < species.size(); ++v) {
        if (!tree->nodes[v].children.empty()) continue;
        number[v] = ids->at(species[v]);
        if (hasOutgroup) outgroupLeaf[v] = outgroup.count(species[v]) != 0;
    }
    const FamilyRoots roots = bestFamilyRoots(*tree, number, outgroupLeaf);
    r.cost = roots.cost;
    r.tied = roots.tied;
    const int32_t unit = genes->familyCount++;
    if (hasOutgroup) {
        ++genes->counts.onOutgroup;
        if (roots.misplaced > 0) {
            ++genes->counts.misplacing;
            genes->counts.misplacedTaxa += roots.misplaced;
        }
    } else if (!outgroup.empty()) {
        ++genes->counts.bySpeciesTree;
    }
    if (roots.candidates.size() == 1) {
        r.tie = roots.tied > 1 ? FamilyTie::kOutgroup : FamilyTie::kNone;
        storeCut(genes, record, unit,
                 cutFamily(*tree, species, roots.candidates[0], *ids, genes->keepTexts),
                 &genes->trees, &genes->familyOf);
        return;
    }
    // Its pieces come when the species tree has chosen its root; the first
    // species tree rests on the other families alone.
    genes->waiting.push_back({record, unit, std::move(*tree), species, roots.candidates});
}

bool rootsWait(const GeneTrees& genes) {
    return !genes.unplaced.empty() || !genes.waiting.empty();
}

void rootWaitingFamilies(GeneTrees* genes, const ResultTree& species,
                         const std::vector<bool>& known) {
    const auto taxa = static_cast<int32_t>(genes->names.size());
    const SpeciesTreeDepths depths = meetingDepths(species, taxa);
    std::unordered_map<std::string, int32_t> numbers;
    for (int32_t t = 0; t < taxa; ++t)
        numbers.emplace(genes->names[static_cast<size_t>(t)], t);
    // Each family is rooted on its own, so the threads share them out; the
    // trees are then stored in file order, whatever the thread count.
    const std::vector<WaitingFamily>& waiting = genes->waiting;
    std::vector<Rerooted> done(waiting.size());
    const size_t threads = std::max<size_t>(
        1, std::min<size_t>(static_cast<size_t>(threadCountToUse()), waiting.size()));
    std::vector<std::thread> workers;
    for (size_t w = 0; w < threads; ++w)
        workers.emplace_back([&, w] {
            for (size_t i = w; i < waiting.size(); i += threads)
                done[i] = rerootFamily(waiting[i], depths, numbers, known, genes->keepTexts);
        });
    for (std::thread& worker : workers)
        worker.join();
    std::vector<StoredTree> trees;
    std::vector<int32_t> familyOf;
    std::vector<StoredTree> old = std::move(genes->trees);
    genes->unplacedAt.clear();
    size_t at = 0;  // in old, whose trees are in family order
    for (size_t i = 0; i < waiting.size(); ++i) {
        const WaitingFamily& family = waiting[i];
        for (; at < old.size() && genes->familyOf[at] < family.unit; ++at) {
            trees.push_back(std::move(old[at]));
            familyOf.push_back(genes->familyOf[at]);
        }
        while (at < old.size() && genes->familyOf[at] == family.unit)
            ++at;
        genes->familyRecords[static_cast<size_t>(family.record)].tie = done[i].tie;
        const size_t first = trees.size();
        storeCut(genes, family.record, family.unit, std::move(done[i].cut), &trees, &familyOf);
        for (size_t t = first; t < trees.size(); ++t)
            genes->unplacedAt.push_back(t);
    }
    for (; at < old.size(); ++at) {
        trees.push_back(std::move(old[at]));
        familyOf.push_back(genes->familyOf[at]);
    }
    genes->trees = std::move(trees);
    genes->familyOf = std::move(familyOf);
}

std::string familyLogText(const std::vector<FamilyRecord>& records) {
    std::string text =
        "family\tline\tleaves\tspecies\tduplications\tlosses\ttied roots\ttie broken by\t"
        "pieces kept\tpieces dropped\n";
    for (size_t i = 0; i < records.size(); ++i) {
        const FamilyRecord& r = records[i];
        text += std::to_string(i + 1) + "\t" + std::to_string(r.line) + "\t" +
                std::to_string(r.leaves) + "\t" + std::to_string(r.species) + "\t";
        if (r.fate == TreeFate::kSkipped) {
            text += "\t\t\tskipped: fewer than 3 species\t\t\n";
            continue;
        }
        if (r.fate == TreeFate::kLeftOut) {
            text += "\t\t\tleft out: no outgroup taxon\t\t\n";
            continue;
        }
        text += std::to_string(r.cost.duplications) + "\t" + std::to_string(r.cost.losses) + "\t" +
                std::to_string(r.tied) + "\t" + tieText(r.tie) + "\t" + std::to_string(r.kept) +
                "\t" + std::to_string(r.dropped) + "\n";
    }
    return text;
}

std::string familyNote(const GeneTrees& genes) {
    int64_t duplications = 0;
    int64_t kept = 0;
    int64_t dropped = 0;
    int32_t withDuplications = 0;
    int32_t broken[4] = {0, 0, 0, 0};  // by FamilyTie
    for (const FamilyRecord& r : genes.familyRecords) {
        if (r.fate != TreeFate::kAsWritten) continue;
        duplications += r.cost.duplications;
        withDuplications += r.cost.duplications > 0 ? 1 : 0;
        kept += r.kept;
        dropped += r.dropped;
        ++broken[static_cast<int>(r.tie)];
    }
    return "tressil-newick: " + std::to_string(genes.familyCount) + " gene families, " +
           std::to_string(withDuplications) + " with duplications (" +
           std::to_string(duplications) + " in all), gave " + std::to_string(kept) +
           " pieces of 3 species or more and " + std::to_string(dropped) +
           " smaller ones, dropped; tied best roots were broken by the outgroup in " +
           std::to_string(broken[1]) + " families, by the species tree in " +
           std::to_string(broken[2]) + " and by the smaller side in " + std::to_string(broken[3]) +
           "\n";
}

void familyTexts(const GeneTrees& genes, InferResult* out) {
    for (const std::string& text : genes.piecesText)
        out->pieces += text;
    for (const std::string& text : genes.tagsText)
        out->tags += text;
}
