// The files users hold: the same trees as NEXUS (with and without TRANSLATE),
// gzip-compressed and on standard input must give what plain Newick gives;
// and each new way of failing says what is wrong, and where.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/run_support.h"
#include "named/named_support.h"
#include "named/read/read.h"
#include "named/road/road.h"

namespace {

const std::vector<std::string> kPool = {"Homo sapiens", "Pan_paniscus", "it's",      "x(1)",
                                        "Gorilla",      "Pongo abelii", "Hylobates", "a;b"};

std::string gzipped(const std::string& text) {
    const std::string dir = makeScratchDirectory();
    writeFile(dir + "/t", text);
    EXPECT_EQ(std::system(("gzip -n " + shellQuote(dir + "/t")).c_str()), 0);
    const std::string bytes = readFile(dir + "/t.gz");
    removeScratchDirectory(dir);
    return bytes;
}

// The trees as a NEXUS file in two TREES blocks among other blocks and
// comments; with translate, leaves are written as keys of a TRANSLATE table.
std::string nexusText(const std::vector<NamedTree>& trees, bool translate, std::mt19937& rng) {
    std::string text = "#nexus\n[from a test]\nBEGIN TAXA; TAXLABELS 'x;y' z; END;\n";
    for (size_t block = 0; block < 2; ++block) {
        text += "Begin Trees; [block]\n";
        std::map<std::string, std::string> keys;
        for (size_t k = 0; translate && k < kPool.size(); ++k) {
            keys[kPool[k]] = std::to_string(k + 1);
            text += (k == 0 ? "  Translate\n    " : ",\n    ") + keys[kPool[k]] + " " +
                    quoteName(kPool[k]);
        }
        text += translate ? ";\n" : "";
        for (size_t t = block; t < trees.size(); t += 2) {
            NamedTree tree = trees[t];
            for (NamedNode& node : tree.nodes)
                if (translate && node.children.empty()) node.name = keys[node.name];
            text += std::string(t % 3 == 0 ? "  TREE * " : "  tree ") + "t" + std::to_string(t) +
                    " [&lnP=-1] = [&R] " + writeRandomNewick(tree, rng);
        }
        text += "END;\nbegin mrbayes; set autoclose=yes; [end;] end;\n";
    }
    return text;
}

// encode's output with its numbers read back as names: each tree's clusters
// and weight in order, which do not depend on the order leaves were written in.
std::string namedTrees(const std::string& input, const std::string& table) {
    const std::vector<std::string> names = parseNameTable(table);
    std::string out;
    size_t start = input.find('\n') + 1;  // past the header
    for (size_t end; (end = input.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = input.substr(start, end - start);
        if (line == ".") break;
        NamedTree tree = parseNewick(line).at(0);
        for (NamedNode& node : tree.nodes)
            if (node.children.empty()) node.name = names.at(std::stoul(node.name));
        for (const std::set<std::string>& cluster : clusterSets(tree)) {
            for (const std::string& name : cluster)
                out += name + ",";
            out += "|";
        }
        out += line.substr(line.rfind(')') + 1) + "\n";
    }
    return out;
}

class TreeFileForms : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = makeScratchDirectory(); }
    void TearDown() override { removeScratchDirectory(dir_); }

    // encode's two outputs, or its message.
    std::string encode(const std::string& bytes, bool onStandardInput = false) {
        writeFile(dir_ + "/t", bytes);
        const ToolRun run =
            runIn(dir_, TRESSIL_NEWICK_BINARY,
                  {"encode", onStandardInput ? "-" : "t", "in.txt", "names.tsv"}, "t");
        if (run.status != 0) return run.err;
        return namedTrees(readFile(dir_ + "/in.txt"), readFile(dir_ + "/names.tsv"));
    }
    // The report: counts and the optimal total, whatever the taxon numbers.
    std::string infer(const std::string& bytes, const std::string& genes) {
        writeFile(dir_ + "/t", bytes);
        const ToolRun run = runIn(dir_, TRESSIL_NEWICK_BINARY, {"infer", genes, "sp.nwk"}, "t");
        return run.status == 0 ? run.out : run.err;
    }

    std::string dir_;
};

TEST_F(TreeFileForms, GiveWhatPlainNewickGives) {
    std::mt19937 rng(15);
    for (int trial = 0; trial < 3; ++trial) {
        std::vector<NamedTree> trees;
        std::string newick;
        for (int t = 0; t < 9; ++t) {
            trees.push_back(randomTree(randomTaxa(kPool, t == 0 ? 3 : 2, rng), rng));
            trees.back().weight = 1 + static_cast<int64_t>(rng() % 3);
        }
        // NEXUS writes its blocks' trees in turn: even ones first.
        for (size_t start : {0, 1})
            for (size_t t = start; t < trees.size(); t += 2)
                newick += writeRandomNewick(trees[t], rng);
        const std::string expected = encode(newick);
        ASSERT_EQ(expected.find("tressil-newick"), std::string::npos) << expected;
        const std::string half = newick.substr(0, newick.size() / 2);
        EXPECT_EQ(encode(nexusText(trees, false, rng)), expected);
        EXPECT_EQ(encode(nexusText(trees, true, rng)), expected);
        EXPECT_EQ(encode(gzipped(half) + gzipped(newick.substr(half.size()))), expected);
        EXPECT_EQ(encode(gzipped(nexusText(trees, true, rng)), true), expected);
        EXPECT_EQ(infer(gzipped(nexusText(trees, true, rng)), "-"), infer(newick, "t"));
    }
}

TEST_F(TreeFileForms, DamagedGzipNamesTheFile) {
    std::string bytes = gzipped("((A,B),C);\n");
    const std::string cut = encode(bytes.substr(0, bytes.size() - 5));
    EXPECT_EQ(cut.rfind("tressil-newick: t: the gzip data ends before its end mark", 0), 0u) << cut;
    bytes[bytes.size() - 8] ^= 0x55;  // its CRC
    const std::string damaged = encode(bytes);
    EXPECT_EQ(damaged.rfind("tressil-newick: t: the gzip data is damaged", 0), 0u) << damaged;
}

struct Failure {
    const char* name;
    std::string text;
    int line;
    int column;
    std::string fragment;
};

void PrintTo(const Failure& c, std::ostream* os) {
    *os << c.name;
}

class TreeFileFails : public ::testing::TestWithParam<Failure> {};

TEST_P(TreeFileFails, AtItsPlace) {
    const Failure& c = GetParam();
    try {
        encodeTrees(c.text);
        ADD_FAILURE() << "accepted";
    } catch (const NewickError& error) {
        EXPECT_EQ(error.line, c.line);
        EXPECT_EQ(error.column, c.column);
        EXPECT_NE(error.message.find(c.fragment), std::string::npos) << error.message;
    }
}

const std::string kTrees = "#NEXUS\nbegin trees;\n";

// Every tree of a file, as read, or the message.
std::string readTrees(const std::string& bytes) {
    try {
        TreeSource source = openTreeSource(bytes);
        std::vector<NamedTree> trees;
        for (NamedTree tree{}; readNextTree(&source, &tree, true);)
            trees.push_back(tree);
        return renderTrees(trees);
    } catch (const NewickError& error) {
        return error.message;
    }
}

// A byte order mark before either format, PAUP's UTREE, and a TRANSLATE
// table that names the trees of its own block alone.
TEST(TreeFileRead, TakesWhatTreeBuildersWrite) {
    const std::string bom = "\xEF\xBB\xBF";
    const std::pair<std::string, std::string> cases[] = {
        {bom + "[c] ((A,B),C);", "((A,B),C);"},
        {bom + "#NEXUS\nbegin trees; tree t = ((A,B),C); end;", "((A,B),C);"},
        {kTrees + "UTREE * u = [&U] ((A,B),C);\nutree v = (A,(B,C));\nend;",
         "((A,B),C);(A,(B,C));"},
        {kTrees + "translate 1 A, 2 B, 3 C, 4 D;\ntree t = ((1,2),(3,4));\nend;\n" + kTrees +
             "tree t = ((1,2),(3,4));\nend;",
         "((A,B),(C,D));((1,2),(3,4));"}};
    for (const auto& [bytes, trees] : cases)
        EXPECT_EQ(readTrees(bytes), trees) << bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TreeFileFails,
    ::testing::Values(
        Failure{"Neither", "[x]\n  A B;", 2, 3, "neither a Newick tree file"},
        Failure{"NexusWithoutTrees", "#NEXUS\nbegin taxa; end;", 0, 0, "no TREES block"},
        Failure{"NexusWithoutTree", kTrees + "end;", 0, 0, "holds no TREE command"},
        Failure{"UnendedBlock", kTrees + "tree a = ((A,B),C);", 2, 1, "block is never ended"},
        Failure{"OutsideBlock", "#NEXUS\n((A,B),C);", 2, 1, "outside any block"},
        Failure{"TreeErrorInPlace", kTrees + "\ttree a = [&U]\n  ((A B),C);\nend;", 4, 7,
                "missing ','"},
        Failure{"TranslatedTwice", kTrees + "translate 1 A, 2 A;\ntree a = ((1,2),C);", 4, 14,
                "taxon 'A' appears twice"},
        Failure{"TranslateKeyTwice", kTrees + "translate 1 A,\n 1 B;", 4, 2,
                "key '1' is given twice (first at line 3, column 11)"},
        Failure{"TranslateKeyWithoutName", kTrees + "translate 1 A, 2;", 3, 16,
                "key '2' has no taxon name"},
        Failure{"TranslateWithoutComma", kTrees + "translate 1 A 2 B;", 3, 15, "missing ','"},
        Failure{"UnendedTranslate", kTrees + "translate 1 A", 3, 1, "never ended"},
        Failure{"TreeWithoutEquals", kTrees + "tree a ((A,B),C);", 3, 8, "missing '='"}),
    [](const ::testing::TestParamInfo<Failure>& info) { return std::string(info.param.name); });

}  // namespace
