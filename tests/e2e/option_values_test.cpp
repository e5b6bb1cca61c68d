// Option values as both programs take them, from one table, and the method
// infer picks when none is asked for.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/run_support.h"
#include "named/named_support.h"

namespace {

struct OptionValue {
    std::string option;
    std::string value;
    bool accepted;
};

// Every value goes to each program that has the option: tressil takes
// --threads, tressil-newick infer takes --threads and --outgroup.
const OptionValue kValues[] = {
    {"--threads", "1", true},     {"--threads", "1024", true}, {"--threads", "0", false},
    {"--threads", "1025", false}, {"--threads", "2x", false},  {"--threads", "+2", false},
    {"--threads", "abc", false},  {"--threads", "", false},    {"--outgroup", "'O''Brien'", true}};

// Unrooted gene trees; rooted on O'Brien they agree on one species tree.
const char kGenes[] =
    "('O''Brien',A,(B,(C,D)));\n(A,'O''Brien',(B,(C,D)));\n(('O''Brien',B),A,(C,D));\n";
const char kRootedOnOBrien[] = "('O''Brien',(A,(B,(D,C))));\n";

TEST(OptionValues, BothProgramsAcceptExactlyTheDocumentedValues) {
    const std::string dir = makeScratchDirectory();
    const auto get = [&dir](const char* name) { return readFile(dir + "/" + name); };
    writeFile(dir + "/in.txt", "4 2 ((0,1),2);((2,3),0):2;.");
    writeFile(dir + "/genes.nwk", kGenes);
    ASSERT_EQ(runIn(dir, TRESSIL_BINARY, {"in.txt", "plain.txt"}).status, 0);
    ASSERT_EQ(
        runIn(dir, TRESSIL_NEWICK_BINARY, {"infer", "--rooted", "genes.nwk", "plain.nwk"}).status,
        0);
    for (const OptionValue& c : kValues) {
        const std::string given = c.option + " '" + c.value + "'";
        if (c.option == "--threads") {
            const ToolRun run =
                runIn(dir, TRESSIL_BINARY, {c.option, c.value, "in.txt", "out.txt"});
            EXPECT_EQ(run.status, c.accepted ? 0 : 1) << "tressil " << given;
            EXPECT_EQ(get("out.txt"), c.accepted ? get("plain.txt") : "<absent>") << given;
            if (!c.accepted) {
                EXPECT_EQ(run.out, "bad value for --threads: " + c.value +
                                       " (a whole number from 1 to 1024)\n");
            }
            std::remove((dir + "/out.txt").c_str());
        }
        // The trees are unrooted: taken as written unless rooted on the outgroup.
        std::vector<std::string> args = {"infer", c.option, c.value, "genes.nwk", "species.nwk"};
        if (c.option != "--outgroup") args.insert(args.begin() + 1, "--rooted");
        const ToolRun run = runIn(dir, TRESSIL_NEWICK_BINARY, args);
        EXPECT_EQ(run.status, c.accepted ? 0 : 1) << "tressil-newick " << given << "\n" << run.err;
        const std::string refusal =
            "tressil-newick: --threads takes a whole number from 1 to 1024\n";
        if (!c.accepted) {  // only --threads values are refused
            EXPECT_EQ(run.err.substr(0, refusal.size()), refusal) << given;
        }
        EXPECT_EQ(get("species.nwk"), !c.accepted                ? "<absent>"
                                      : c.option == "--outgroup" ? kRootedOnOBrien
                                                                 : get("plain.nwk"))
            << "tressil-newick " << given;
        std::remove((dir + "/species.nwk").c_str());
    }
    removeScratchDirectory(dir);
}

// A caterpillar of weight 1 satisfies all of its n choose 3 triples; the
// report counts the gene trees as trees whatever the method.
TEST(InferMethod, ExactUpToTwentyTaxaAndTheSearchAbove) {
    const std::string dir = makeScratchDirectory();
    for (const int taxa : {20, 21}) {
        writeFile(dir + "/genes.nwk", caterpillar(taxa) + "\n");
        const std::string total = std::to_string(taxa * (taxa - 1) * (taxa - 2) / 6);
        const std::string head =
            "%Number of input trees: 1\n%Number of species: " + std::to_string(taxa) +
            "\n%Using method: ";
        const std::string satisfied = "\n%Total weight of satisfied triples: " + total + ".\n";
        EXPECT_EQ(runIn(dir, TRESSIL_NEWICK_BINARY, {"infer", "genes.nwk", "out.nwk"}).out,
                  head + (taxa == 20 ? "Exact" : "Search") + satisfied +
                      (taxa == 20 ? ""
                                  : "%Upper bound on satisfied weight of any tree on these "
                                    "species: " +
                                        total + ".\n"));
        EXPECT_EQ(
            runIn(dir, TRESSIL_NEWICK_BINARY, {"infer", "--heuristic", "genes.nwk", "out.nwk"}).out,
            head + "Heuristic" + satisfied);
    }
    removeScratchDirectory(dir);
}

}  // namespace
