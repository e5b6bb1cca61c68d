// The user's whole road with the real programs: named Newick trees ->
// tressil-newick encode -> tressil -> tressil-newick decode, with files,
// messages and exit statuses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/run_support.h"
#include "named/annotate/annotate.h"
#include "named/named_support.h"
#include "named/picture/picture.h"
#include "named/read/read.h"
#include "named/road/road.h"

namespace {

class NewickTool : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = makeScratchDirectory(); }
    void TearDown() override { removeScratchDirectory(dir_); }

    ToolRun newick(const std::vector<std::string>& args) {
        return runIn(dir_, TRESSIL_NEWICK_BINARY, args);
    }
    ToolRun tressil(const std::vector<std::string>& args) {
        return runIn(dir_, TRESSIL_BINARY, args);
    }
    void put(const std::string& name, const std::string& text) {
        writeFile(dir_ + "/" + name, text);
    }
    std::string get(const std::string& name) { return readFile(dir_ + "/" + name); }
    std::vector<std::string> files() { return listDirectory(dir_); }

    std::string dir_;
};

using Clusters = std::set<std::set<std::string>>;

// Some cluster holds x and y but not z: the tree displays xy|z.
bool displays(const Clusters& clusters, const std::string& x, const std::string& y,
              const std::string& z) {
    for (const std::set<std::string>& c : clusters)
        if (c.count(x) != 0 && c.count(y) != 0 && c.count(z) == 0) return true;
    return false;
}

// The weight of the input triples that the result displays, counted on the
// named trees themselves.
int64_t satisfiedByNames(const std::vector<NamedTree>& trees, const NamedTree& result) {
    const Clusters resultClusters = clusterSets(result);
    int64_t total = 0;
    for (const NamedTree& tree : trees) {
        const Clusters clusters = clusterSets(tree);
        const std::set<std::string> names = leafNames(tree);
        for (const std::string& x : names)
            for (const std::string& y : names)
                for (const std::string& z : names)
                    if (x < y && z != x && z != y && displays(clusters, x, y, z) &&
                        displays(resultClusters, x, y, z))
                        total += tree.weight;
    }
    return total;
}

int64_t reportedTotal(const std::string& result) {
    const std::string key = "%Total weight of satisfied triples: ";
    const size_t at = result.find(key);
    return at == std::string::npos ? -1 : std::stoll(result.substr(at + key.size()));
}

TEST_F(NewickTool, RoundTripKeepsTheTaxaAndTheReportedWeight) {
    const std::vector<std::string> pool = {"Homo sapiens", "Pan", "it's", "x(1)",
                                           "a:b",          "G_g", "[c]",  "semi;colon",
                                           "Ünï",          "d,e", "f",    "9"};
    std::mt19937 rng(5);
    for (int trial = 0; trial < 9; ++trial) {
        const std::vector<std::string> taxa(pool.begin(), pool.begin() + 4 + trial);
        std::vector<NamedTree> trees;
        std::set<std::string> kept;  // taxa of trees with three or more
        std::string text;
        for (int t = 0; t < 8; ++t) {
            NamedTree tree = t > 0 && rng() % 4 == 0
                                 ? trees[rng() % trees.size()]
                                 : randomTree(randomTaxa(taxa, t == 0 ? 3 : 2, rng), rng);
            tree.weight = 1 + static_cast<int64_t>(rng() % 4);
            text += writeRandomNewick(tree, rng);
            if (tree.leafCount >= 3) {
                const std::set<std::string> names = leafNames(tree);
                kept.insert(names.begin(), names.end());
                trees.push_back(tree);
            }
        }
        put("trees.nwk", text);
        ASSERT_EQ(newick({"encode", "trees.nwk", "in.txt", "names.tsv"}).status, 0) << text;
        for (const std::string method : {"1", "H"}) {
            ASSERT_EQ(tressil({"in.txt", "result.txt", method}).status, 0);
            ASSERT_EQ(newick({"decode", "names.tsv", "result.txt", "tree.nwk"}).status, 0);
            const std::string line = get("tree.nwk");
            EXPECT_EQ(line.find('\n'), line.size() - 1);
            const std::vector<NamedTree> decoded = parseNewick(line);
            ASSERT_EQ(decoded.size(), 1u);
            EXPECT_EQ(leafNames(decoded[0]), kept);
            EXPECT_EQ(satisfiedByNames(trees, decoded[0]), reportedTotal(get("result.txt")))
                << "method " << method << "\n"
                << text;
        }
    }
}

TEST_F(NewickTool, ShippedExampleGivesTheDocumentedResult) {
    put("primates.nwk", readFile(std::string(TRESSIL_SOURCE_DIR) + "/examples/primates.nwk"));
    const ToolRun encode = newick({"encode", "primates.nwk", "input.txt", "names.tsv"});
    EXPECT_EQ(encode.status, 0);
    EXPECT_EQ(encode.out, "5 trees read: 4 distinct trees on 6 taxa\n");
    EXPECT_EQ(
        get("input.txt"),
        "6 4\n(((0,1),2),(3,4)):4;\n(((0,2),1),(3,4));\n((0,(1,2)),3);\n((0,1),(3,5)):2;\n.\n");
    EXPECT_EQ(tressil({"input.txt", "result.txt", "1"}).status, 0);
    EXPECT_EQ(newick({"decode", "names.tsv", "result.txt", "tree.nwk"}).status, 0);
    EXPECT_EQ(get("tree.nwk"),
              "((Gibbon,(Rhesus_macaque,Orangutan)),(Gorilla,(Chimpanzee,Human)));\n");
}

// The README's first command, and decode --support on the same trees
// through encode and tressil, which must label the same tree alike.
TEST_F(NewickTool, InferOnTheShippedGeneTreesMatchesTheThreeCommandRoad) {
    put("genes.nwk", readFile(std::string(TRESSIL_SOURCE_DIR) + "/examples/genes.nwk"));
    const ToolRun infer = newick({"infer", "--outgroup", "Protopsis_basalis", "--support", "--svg",
                                  "tree.svg", "genes.nwk", "species.nwk"});
    ASSERT_EQ(infer.status, 0) << infer.err;
    EXPECT_EQ(infer.out,
              "%Number of input trees: 40\n%Number of species: 12\n%Using method: Exact\n"
              "%Total weight of satisfied triples: 7089.\n");
    EXPECT_EQ(infer.err,
              "tressil-newick: rooted 40 trees on the outgroup; every tree holds an outgroup "
              "taxon\n");
    EXPECT_EQ(get("tree.svg").find("<svg"), 39u);
    ASSERT_EQ(
        newick({"encode", "--outgroup", "Protopsis_basalis", "genes.nwk", "in.txt", "names.tsv"})
            .status,
        0);
    ASSERT_EQ(tressil({"in.txt", "result.txt", "1"}).status, 0);
    ASSERT_EQ(
        newick({"decode", "--support", "in.txt", "names.tsv", "result.txt", "decoded.nwk"}).status,
        0);
    // decode knows no outgroup, so it labels the ingroup, whose split infer
    // took as given.
    std::string species = get("species.nwk");
    species.insert(species.size() - 3, "1.00");
    EXPECT_EQ(get("decoded.nwk"), species);
    EXPECT_EQ(reportedTotal(get("result.txt")), 7089);
}

TEST_F(NewickTool, SkippedTreesAreCountedOnStandardError) {
    put("t.nwk", "(A,B);\n((A,B),C);\nD;\n");
    const ToolRun run = newick({"encode", "t.nwk", "in.txt", "names.tsv"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "tressil-newick: skipped 2 of 3 trees with fewer than 3 taxa\n");
    EXPECT_EQ(get("names.tsv"), "0\tA\n1\tB\n2\tC\n");
}

// Outputs are written through a symbolic link, into a pipe and to standard
// output, which then holds the tree alone while the report goes to
// standard error.
TEST_F(NewickTool, OutputsGoThroughLinksPipesAndStandardOutput) {
    put("g.nwk", "((A,B),C);\n((A,B),D);\n((C,D),A);\n");
    const std::string tree = "((D,C),(B,A));\n";
    put("real.nwk", "old");
    ASSERT_EQ(symlink("real.nwk", (dir_ + "/link.nwk").c_str()), 0);
    ASSERT_EQ(symlink("made.tsv", (dir_ + "/dangling.tsv").c_str()), 0);
    ToolRun run = newick({"infer", "--log", "dangling.tsv", "g.nwk", "link.nwk"});
    ASSERT_EQ(run.status, 0) << run.err;
    struct stat link {};
    ASSERT_EQ(lstat((dir_ + "/link.nwk").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_EQ(get("real.nwk"), tree);
    EXPECT_EQ(get("made.tsv").substr(0, 5), "tree\t");
    EXPECT_EQ(run.out.substr(0, 24), "%Number of input trees: ");

    run = newick({"infer", "g.nwk", "-"});
    EXPECT_EQ(run.out, tree);
    EXPECT_EQ(run.err.substr(0, 24), "%Number of input trees: ");

    ASSERT_EQ(mkfifo((dir_ + "/pipe").c_str(), 0600), 0);
    const std::string command = "cd " + shellQuote(dir_) + " && { cat pipe > piped.nwk & " +
                                shellQuote(TRESSIL_NEWICK_BINARY) +
                                " infer g.nwk pipe > /dev/null; wait; }";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(get("piped.nwk"), tree);
}

TEST_F(NewickTool, HelpAndVersionGoToStandardOutput) {
    const std::string overview = newick({"--help"}).out;
    const std::string inferHelp = newick({"infer", "--help"}).out;
    EXPECT_EQ(overview.compare(0, 5, "use: "), 0);
    EXPECT_EQ(inferHelp.compare(0, 26, "use: tressil-newick infer "), 0);
    // -h and any prefix of --help that no other option begins answer alike.
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-h"},
                                                 {"--h"},
                                                 {"infer", "-h"},
                                                 {"infer", "--hel"},
                                                 {"infer", "t.nwk", "-h", "x"},
                                                 {"--version"},
                                                 {"--vers"}}) {
        const ToolRun run = newick(args);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, args[0].compare(0, 3, "--v") == 0 ? "tressil-newick " TRESSIL_VERSION
                                                               "\n"
                           : args.size() == 1 ? overview
                                              : inferHelp);
    }
}

// Under --map an individual given as the outgroup stands for its species,
// and names that differ only in blanks and underscores are pointed out.
TEST_F(NewickTool, NotesNameTheOutgroupsSpeciesAndLookalikeNames) {
    put("ind.nwk", "((S05_2,(S05_1,S06_1)),S07_1);\n((S06_1,S07_1),S05_2);\n");
    put("map.txt", "S05:S05_1,S05_2\nS06:S06_1\nS07:S07_1\n");
    const ToolRun bySpecies =
        newick({"infer", "--map", "map.txt", "--outgroup", "S05", "ind.nwk", "-"});
    const ToolRun byIndividual =
        newick({"infer", "--map", "map.txt", "--outgroup", "S05_2,S05_1", "ind.nwk", "-"});
    EXPECT_EQ(byIndividual.status, 0);
    EXPECT_EQ(byIndividual.out, bySpecies.out);
    EXPECT_EQ(byIndividual.err,
              "tressil-newick: outgroup 'S05_2' is an individual of species 'S05'; the outgroup "
              "holds that species\ntressil-newick: outgroup 'S05_1' is an individual of species "
              "'S05'; the outgroup holds that species\n" +
                  bySpecies.err);
    put("t.nwk", "((Mouse_Lemur,B),(C,D));\n(('Mouse_Lemur',B),C);\n");
    EXPECT_EQ(newick({"infer", "--rooted", "t.nwk", "new.nwk"}).err,
              "tressil-newick: Mouse_Lemur and 'Mouse_Lemur' are different taxa, since outside "
              "quotes an underscore reads as a blank; write them alike if they are one\n");
}

// A prefix that only one option begins stands for it; a mistake takes two
// lines, the reason and where to read the usage.
TEST_F(NewickTool, OptionPrefixesWorkAndMistakesTakeTwoLines) {
    put("t.nwk", "((A,B),(C,D));\n(A,(B,C));\n");
    const ToolRun full = newick({"infer", "--outgroup=A", "--drop-unplaced", "t.nwk", "-"});
    const ToolRun shortened = newick({"infer", "--out", "A", "--drop", "t.nwk", "-"});
    EXPECT_EQ(full.status, 0);
    EXPECT_EQ(shortened.out, full.out);
    EXPECT_EQ(shortened.err, full.err);
    const std::vector<std::pair<std::vector<std::string>, std::string>> mistakes = {
        {{"infer", "--s", "t.nwk", "x.nwk"},
         "tressil-newick: --s is ambiguous for infer: --search, --support, --seed, --sites, "
         "--support-field or --svg\n"
         "try 'tressil-newick infer --help'\n"},
        {{"infer", "--support", "pp", "t.nwk", "x.nwk"},
         "tressil-newick: infer takes 2 file names, not 3; 'pp' after --support was read as a "
         "file name: write --support=pp\ntry 'tressil-newick infer --help'\n"},
        {{}, "tressil-newick: give a command\ntry 'tressil-newick --help'\n"},
    };
    for (const auto& [args, message] : mistakes) {
        const ToolRun run = newick(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, message);
        EXPECT_EQ(run.out, "");
    }
}

// The map is read, never written: naming it as any output of infer or score
// is refused, and it stays as it was.
TEST_F(NewickTool, TheMapIsNeverAnOutput) {
    put("genes.nwk", "((a1,b1),(c1,(d1,d2)));\n");
    put("map.txt", "A:a1\nB:b1\nC:c1\nD:d1,d2\n");
    put("species.nwk", "((A,B),(C,D));\n");
    const std::vector<std::string> runs[] = {
        {"infer", "--map", "map.txt", "genes.nwk", "map.txt"},
        {"infer", "--map", "map.txt", "--log", "map.txt", "genes.nwk", "out.nwk"},
        {"score", "--map", "map.txt", "genes.nwk", "species.nwk", "map.txt"},
        {"score", "--map", "map.txt", "--svg", "map.txt", "genes.nwk", "species.nwk", "out.nwk"}};
    for (const std::vector<std::string>& args : runs) {
        const ToolRun run = newick(args);
        EXPECT_EQ(run.status, 1) << args[0] << " " << args[3];
        EXPECT_EQ(run.err.rfind("tressil-newick: map.txt and map.txt are the same file", 0), 0u)
            << run.err;
        EXPECT_EQ(get("map.txt"), "A:a1\nB:b1\nC:c1\nD:d1,d2\n");
    }
    EXPECT_EQ(newick({"infer", "--map", "map.txt", "genes.nwk", "out.nwk"}).status, 0);
}

struct Failing {
    const char* name;
    std::string input;  // written to "t.nwk" (encode) or "result.txt" (decode)
    std::vector<std::string> args;
    std::string message;  // standard error starts with it
};

void PrintTo(const Failing& c, std::ostream* os) {
    *os << c.name;
}

class NewickToolFails : public NewickTool, public ::testing::WithParamInterface<Failing> {};

// An error leaves exactly the files that were there, unchanged.
TEST_P(NewickToolFails, WritesNothing) {
    const Failing& c = GetParam();
    put("t.nwk", c.input);
    put("result.txt", c.input);
    put("names.tsv", "0\tA\n1\tB\n");
    put("old.txt", "old");
    put("ro.txt", "old");
    chmod((dir_ + "/ro.txt").c_str(), 0444);
    mkdir((dir_ + "/dir").c_str(), 0777);
    const std::vector<std::string> before = files();
    const ToolRun run = newick(c.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.compare(0, c.message.size(), c.message), 0) << run.err;
    EXPECT_EQ(files(), before);
    EXPECT_EQ(get("old.txt"), "old");
    EXPECT_EQ(get("names.tsv"), "0\tA\n1\tB\n");
}

const std::vector<std::string> kEncode = {"encode", "t.nwk", "old.txt", "new.tsv"};
const std::vector<std::string> kDecode = {"decode", "names.tsv", "result.txt", "old.txt"};

INSTANTIATE_TEST_SUITE_P(
    Cases, NewickToolFails,
    ::testing::Values(
        Failing{"Multifurcation", "((A,B),C);\n(A,B,C);", kEncode,
                "tressil-newick: t.nwk:2:1: this node has 3 children"},
        Failing{"TooManyTaxa", caterpillar(129), kEncode,
                "tressil-newick: t.nwk: too many taxa: 129 found, but tressil takes at most 128"},
        Failing{"OutputOverInput",
                "((A,B),C);",
                {"encode", "t.nwk", "t.nwk", "new.tsv"},
                "tressil-newick: t.nwk and t.nwk are the same file"},
        Failing{"MissingInput",
                "",
                {"encode", "none.nwk", "new.txt", "new.tsv"},
                "tressil-newick: cannot read none.nwk"},
        Failing{"NumberNotInTable", "(0,\n2);\n", kDecode,
                "tressil-newick: result.txt:2:1: taxon number 2 is not in the name table"},
        Failing{"EmptyResult", "", kDecode, "tressil-newick: result.txt: the result file is empty"},
        Failing{"DecodeOutputOverInput",
                "",
                {"decode", "names.tsv", "result.txt", "result.txt"},
                "tressil-newick: result.txt and result.txt are the same file"},
        Failing{"PictureOverTree",
                "((A,B),C);",
                {"infer", "--svg", "new.nwk", "t.nwk", "new.nwk"},
                "tressil-newick: new.nwk and new.nwk are the same file"},
        Failing{"OutgroupNotATaxon",
                "((A,B),C);",
                {"infer", "--outgroup=A,Z", "t.nwk", "new.nwk"},
                "tressil-newick: t.nwk: outgroup taxon 'Z' is in no tree"},
        Failing{"EmptyOutgroup",
                "((A,B),C);",
                {"encode", "--outgroup", "", "t.nwk", "new.txt", "new.tsv"},
                "tressil-newick: t.nwk: --outgroup lists no taxon"},
        Failing{"FewerThanThreeTaxa",
                "(A,B);\n(B,(C));",
                {"infer", "--outgroup", "A", "t.nwk", "new.nwk"},
                "tressil-newick: t.nwk: no tree with three or more taxa is left"},
        Failing{"WideAfterRooting",
                "((A,B),C);\n(A,B,C,(D,E));",
                {"encode", "--outgroup", "E,D", "t.nwk", "new.txt", "new.tsv"},
                "tressil-newick: t.nwk:2:1: this node has 3 children after rooting"},
        Failing{"MalformedTreeInInfer",
                "((A,B),C);\n(A,,B,C);",
                {"infer", "t.nwk", "new.nwk"},
                "tressil-newick: t.nwk:2:4: empty leaf label"},
        Failing{"ExactAboveTwentyTaxa",
                caterpillar(21),
                {"infer", "--exact", "t.nwk", "new.nwk"},
                "tressil-newick: t.nwk: 21 taxa found, but --exact takes at most 20"},
        Failing{"UnknownOption",
                "",
                {"infer", "--fast", "t.nwk", "new.nwk"},
                "tressil-newick: unknown option --fast for infer"},
        Failing{"ReadOnlyOutput",
                "((A,B),C);",
                {"infer", "t.nwk", "ro.txt"},
                "tressil-newick: cannot write ro.txt: the file is read-only"},
        Failing{"FolderOutput",
                "((A,B),C);",
                {"infer", "t.nwk", "dir"},
                "tressil-newick: cannot write dir: it is a folder"},
        Failing{"MissingFolder",
                "((A,B),C);",
                {"infer", "t.nwk", "none/new.nwk"},
                "tressil-newick: cannot write none/new.nwk: the folder none does not exist"},
        Failing{"TwoOutputsOnStandardOutput",
                "((A,B),C);",
                {"infer", "--svg", "-", "t.nwk", "-"},
                "tressil-newick: - and - both go to standard output"},
        Failing{"UnrootedTree",
                "((A,B),C);\n(A,B,(C,D));",
                {"infer", "t.nwk", "new.nwk"},
                "tressil-newick: t.nwk:2:1: tree 2 is unrooted (3 subtrees at its root); give "
                "--outgroup, or --rooted to take every root as written\n"},
        Failing{"RootedWithOutgroup",
                "((A,B),C);",
                {"infer", "--rooted", "--outgroup=A", "t.nwk", "new.nwk"},
                "tressil-newick: give only one of --rooted and --outgroup"},
        Failing{"RootUnplacedWithoutOutgroup",
                "((A,B),C);",
                {"infer", "--root-unplaced", "t.nwk", "new.nwk"},
                "tressil-newick: --root-unplaced needs --outgroup"},
        Failing{"RootAndDropUnplaced",
                "((A,B),C);",
                {"infer", "--outgroup=A", "--root-unplaced", "--drop-unplaced", "t.nwk", "new.nwk"},
                "tressil-newick: give only one of --root-unplaced and --drop-unplaced"},
        Failing{"OutgroupIsEveryTaxon",
                "((A,B),C);\n(A,(B,D));",
                {"infer", "--outgroup=D,C,B,A", "t.nwk", "new.nwk"},
                "tressil-newick: t.nwk: --outgroup lists all 4 taxa of the trees, which leaves "
                "none for the ingroup; list only the outgroup's taxa\n"},
        Failing{"NamesShownAsWritten",
                "((S05_2,B),C);",
                {"infer", "--outgroup=S05_3", "t.nwk", "new.nwk"},
                "tressil-newick: t.nwk: outgroup taxon 'S05_3' is in no tree; did you mean "
                "'S05_2'?"},
        Failing{"OutgroupMisspelt",
                "((Homo,Pan),Gorilla);",
                {"infer", "--outgroup", "gorila", "t.nwk", "new.nwk"},
                "tressil-newick: t.nwk: outgroup taxon 'gorila' is in no tree; did you mean "
                "'Gorilla'?"},
        Failing{"ScoreOnANameTable",
                "((A,B),C);",
                {"score", "t.nwk", "names.tsv", "new.nwk"},
                "tressil-newick: names.tsv:1:1: this is neither a Newick"},
        Failing{"SupportKindUnknown",
                "((A,B),C);",
                {"infer", "--support=posterior", "t.nwk", "new.nwk"},
                "tressil-newick: --support takes share, pp, full or bootstrap, not 'posterior'"},
        Failing{"AnchoredWithoutOutgroup",
                "((A,B),C);",
                {"infer", "--triples", "anchored", "--map", "t.nwk", "t.nwk", "new.nwk"},
                "tressil-newick: --triples anchored without --outgroup does not take --map"},
        Failing{"HybridWithoutSites",
                "((A,B),C);",
                {"infer", "--outgroup", "C", "--weight", "hybrid", "t.nwk", "new.nwk"},
                "tressil-newick: --weight hybrid needs --sites N or --sites FILE"},
        Failing{
            "SitesNotPositive",
            "((A,B),C);",
            {"infer", "--outgroup", "C", "--weight", "hybrid", "--sites", "-5", "t.nwk", "new.nwk"},
            "tressil-newick: --sites takes a positive number of sites, or a file of one a line, "
            "not '-5'"},
        Failing{"HybridWithoutLengths",
                "((A,B),C);",
                {"infer", "--outgroup", "C", "--weight", "hybrid", "--sites", "300", "t.nwk",
                 "new.nwk"},
                "tressil-newick: t.nwk:1:1: tree 1 has no branch lengths, which --weight hybrid "
                "needs"},
        Failing{"UnknownCommand",
                "",
                {"convert", "a", "b", "c"},
                "tressil-newick: unknown command convert"}),
    [](const ::testing::TestParamInfo<Failing>& info) { return std::string(info.param.name); });

}  // namespace
