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
    bool runs = true;  // false: too long to run; the run must then fail on its gene file
};

// Every value goes to each program that has the option: tressil takes
// --threads, tressil-newick infer takes them all and score the numbers.
// Each range's ends are taken and the next values refused.
const OptionValue kValues[] = {{"--threads", "1", true},
                               {"--threads", "1024", true},
                               {"--threads", "0", false},
                               {"--threads", "1025", false},
                               {"--threads", "2x", false},
                               {"--threads", "+2", false},
                               {"--threads", "abc", false},
                               {"--threads", "", false},
                               {"--bootstrap", "1", true},
                               {"--bootstrap", "100000", true, false},
                               {"--bootstrap", "0", false},
                               {"--bootstrap", "100001", false},
                               {"--seed", "0", true},
                               {"--seed", "18446744073709551615", true},
                               {"--seed", "18446744073709551616", false},
                               {"--seed", "-1", false},
                               {"--min-support", "0", true},
                               {"--min-support", "100", true},
                               {"--min-support", "100.5", false},
                               {"--min-support", "-0.1", false},
                               {"--min-support", "nan", false},
                               {"--support-field", "1", true},
                               {"--support-field", "100", true},
                               {"--support-field", "0", false},
                               {"--support-field", "101", false},
                               {"--outgroup", "'O''Brien'", true}};

// What tressil-newick says when it refuses a value of the option.
std::string refusalOf(const std::string& option) {
    if (option == "--threads") return "--threads takes a whole number from 1 to 1024";
    if (option == "--bootstrap") return "--bootstrap takes a whole number from 1 to 100000";
    if (option == "--seed") return "--seed takes a whole number from 0 to 18446744073709551615";
    if (option == "--support-field") return "--support-field takes a whole number from 1 to 100";
    return "--min-support takes a number from 0 to 100, on the scale of the trees' labels";
}

// The options a value needs beside it; bootstrap labels are taken off the
// tree to compare it.
std::vector<std::string> companions(const std::string& option) {
    if (option == "--bootstrap") return {"--support=bootstrap"};
    if (option == "--seed") return {"--support=bootstrap", "--bootstrap", "1"};
    if (option == "--support-field") return {"--min-support", "0"};
    return {};
}

std::string withoutLabels(const std::string& tree) {
    std::string plain;
    for (size_t i = 0; i < tree.size(); ++i) {
        plain += tree[i];
        if (tree[i] != ')') continue;
        while (i + 1 < tree.size() && tree[i + 1] >= '0' && tree[i + 1] <= '9')
            ++i;
    }
    return plain;
}

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
        const std::string genes = c.runs ? "genes.nwk" : "none.nwk";
        std::vector<std::vector<std::string>> commands = {{"infer", genes, "species.nwk"}};
        if (c.option != "--outgroup")
            commands.push_back({"score", genes, "plain.nwk", "species.nwk"});
        for (std::vector<std::string> args : commands) {
            // The trees are unrooted: taken as written unless rooted on the outgroup.
            std::vector<std::string> options = companions(c.option);
            options.insert(options.begin(), {c.option, c.value});
            if (c.option != "--outgroup") options.insert(options.begin(), "--rooted");
            args.insert(args.begin() + 1, options.begin(), options.end());
            const ToolRun run = runIn(dir, TRESSIL_NEWICK_BINARY, args);
            const std::string what = "tressil-newick " + args[0] + " " + given + "\n" + run.err;
            EXPECT_EQ(run.status, c.accepted && c.runs ? 0 : 1) << what;
            const std::string refusal = !c.accepted
                                            ? "tressil-newick: " + refusalOf(c.option) + "\n"
                                            : "tressil-newick: cannot read none.nwk";
            if (!c.accepted || !c.runs) {
                EXPECT_EQ(run.err.substr(0, refusal.size()), refusal) << what;
            }
            EXPECT_EQ(withoutLabels(get("species.nwk")), !c.accepted || !c.runs ? "<absent>"
                                                         : c.option == "--outgroup"
                                                             ? kRootedOnOBrien
                                                             : get("plain.nwk"))
                << what;
            std::remove((dir + "/species.nwk").c_str());
        }
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
