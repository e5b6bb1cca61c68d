// Writes DNA alignments evolved along gene trees under GTR+Gamma, one per
// tree, for tree builders to estimate the gene trees back.
//
//   tressil_simulate_sequences [options] GENES.nwk OUTPUT
//
// GENES.nwk holds the trees, every branch with a length in substitutions per
// site (tressil_simulate_genes --theta writes such trees). OUTPUT gets every
// alignment in relaxed PHYLIP, one after another ("-" for standard output),
// as `fasttree -nt -n COUNT` reads them in one run; with --split, OUTPUT is a
// directory that gets one file per tree, gene0001.phy, gene0002.phy, ...
//
//   --length L                  sites per alignment (default 500)
//   --frequencies A,C,G,T       stationary base frequencies, scaled to sum 1
//                               (default 0.25 each)
//   --exchangeabilities AC,AG,AT,CG,CT,GT
//                               GTR exchangeabilities (default 1 each, which
//                               with equal frequencies is JC69)
//   --alpha A                   gamma shape of the rates across sites, a
//                               continuous rate per site of mean 1
//                               (default 0: equal rates)
//   --fasta                     FASTA instead of PHYLIP (needs --split when
//                               there is more than one tree)
//   --split                     one file per tree in the directory OUTPUT
//   --seed S                    0 to 2^64-1 (default 1)
//
// Taxa are written in name order. Branch lengths are expected substitutions
// per site: the rate matrix is scaled to one substitution per site per unit
// time. The same options and seed give the same files with any standard
// library.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "simulate/random.h"
#include "simulate/sequences.h"
#include "simulate/tool_support.h"
#include "simulate/tree.h"

namespace {

constexpr char kUsage[] =
    "use tressil_simulate_sequences [--length L] [--frequencies A,C,G,T]\n"
    "    [--exchangeabilities AC,AG,AT,CG,CT,GT] [--alpha A] [--fasta] [--split] [--seed S]\n"
    "    GENES.nwk OUTPUT\n";

// A stream apart from the gene-tree simulator's, so that one seed given to
// both tools draws unrelated numbers for trees and sequences.
constexpr uint32_t kSequenceStream = 16;

SubstitutionModel readModel(const ParsedArguments& arguments) {
    SubstitutionModel model{{0.25, 0.25, 0.25, 0.25}, {1, 1, 1, 1, 1, 1}, 0.0};
    if (hasOption(arguments, "frequencies")) {
        const std::vector<double> given = numberListOption(arguments, "frequencies", 4, 4);
        double sum = 0.0;
        for (const double f : given) {
            if (!(f > 0.0)) failSimulation("every base frequency must be above 0");
            sum += f;
        }
        for (size_t i = 0; i < 4; ++i)
            model.frequencies[i] = given[i] / sum;
    }
    if (hasOption(arguments, "exchangeabilities")) {
        const std::vector<double> given = numberListOption(arguments, "exchangeabilities", 6, 6);
        for (size_t i = 0; i < 6; ++i) {
            if (!(given[i] > 0.0)) failSimulation("every exchangeability must be above 0");
            model.exchangeabilities[i] = given[i];
        }
    }
    model.alpha = numberOption(arguments, "alpha", 0.0, 0.0, 1e6);
    return model;
}

std::vector<SimTree> readGeneTrees(const std::string& path) {
    bool missing = false;
    const std::vector<SimTree> trees = parseTrees(readTextFile(path), &missing);
    if (trees.empty()) failSimulation(path + ": no tree");
    if (missing) failSimulation(path + ": every branch needs a length in substitutions per site");
    for (const SimTree& tree : trees)
        for (const SimNode& node : tree.nodes) {
            if (!(node.length >= 0.0)) failSimulation(path + ": a branch length is negative");
            for (const char c : node.name)
                if (c == ' ' || c == '\t') failSimulation(path + ": a taxon name holds a blank");
        }
    return trees;
}

std::string geneFileName(size_t index, bool fasta) {
    std::string number = std::to_string(index + 1);
    if (number.size() < 4) number.insert(0, 4 - number.size(), '0');
    return "gene" + number + (fasta ? ".fasta" : ".phy");
}

void run(int argc, char** argv) {
    const ParsedArguments arguments =
        parseArguments(argc, argv, {"length", "frequencies", "exchangeabilities", "alpha", "seed"},
                       {"fasta", "split"});
    if (arguments.positional.size() != 2) failSimulation("two file names are needed");
    const int length = static_cast<int>(integerOption(arguments, "length", 500, 1, 100000000));
    const SubstitutionModel model = readModel(arguments);
    const uint64_t seed = seedOption(arguments);
    const bool fasta = hasOption(arguments, "fasta");
    const bool split = hasOption(arguments, "split");
    const std::vector<SimTree> trees = readGeneTrees(arguments.positional[0]);
    const std::string& output = arguments.positional[1];
    if (fasta && !split && trees.size() > 1)
        failSimulation("FASTA holds one alignment a file: give --split for several trees");
    if (split) std::filesystem::create_directories(output);
    std::string all;
    for (size_t g = 0; g < trees.size(); ++g) {
        std::mt19937_64 rng = engineFor(seed, kSequenceStream, static_cast<uint32_t>(g));
        const Alignment alignment = evolveAlignment(trees[g], model, length, rng);
        const std::string text = fasta ? writeFasta(alignment) : writePhylip(alignment);
        if (split)
            writeTextFile((std::filesystem::path(output) / geneFileName(g, fasta)).string(), text);
        else
            all += text;
    }
    if (!split) writeTextFile(output, all);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tressil_simulate_sequences: %s\n%s", error.what(), kUsage);
        return 1;
    }
    return 0;
}
