// The species tree in every output format, read back: by the project's own
// reader (the same tree, the same annotations node by node) and, where it is
// installed, by DendroPy (the same names, clusters and values).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/run_support.h"
#include "named/named_support.h"
#include "named/read/read.h"

namespace {

// Names that need quotes in every way a reader can trip on them.
const char kGenes[] =
    "(('it''s',\"x\"),(('a=b','c(d)'),(Homo_sapiens,'Pan_paniscus')));\n"
    "((\"x\",'it''s'),(('a=b',Homo_sapiens),('c(d)','Pan_paniscus')));\n"
    "(('it''s','a=b'),((\"x\",'c(d)'),(Homo_sapiens,'Pan_paniscus')));\n";

// The bracketed comments of a text that start with prefix, in order, with
// the separators between values made ','.
std::vector<std::string> comments(const std::string& text, const std::string& prefix,
                                  char between) {
    std::vector<std::string> found;
    for (size_t at = text.find('['); at != std::string::npos; at = text.find('[', at + 1)) {
        const std::string body = text.substr(at + 1, text.find(']', at) - at - 1);
        if (body.compare(0, prefix.size(), prefix) != 0 || body == "&R") continue;
        std::string values = body.substr(prefix.size());
        for (char& c : values)
            if (c == between) c = ',';
        found.push_back(values);
    }
    return found;
}

NamedTree readBack(const std::string& bytes) {
    TreeSource source = openTreeSource(bytes);
    NamedTree tree{};
    EXPECT_TRUE(readNextTree(&source, &tree, true));
    NamedTree another{};
    EXPECT_FALSE(readNextTree(&source, &another, true));
    return tree;
}

// Every inner node: its sorted leaf names, then its annotations, one line
// each, sorted; DendroPy's names and rooting first.
const char kDendroPy[] = R"(import sys, dendropy
tree = dendropy.Tree.get(path=sys.argv[1], schema=sys.argv[2], extract_comment_metadata=True)
print("rooted", tree.is_rooted)
print("|".join(sorted(leaf.taxon.label for leaf in tree.leaf_node_iter())))
lines = []
for node in tree.internal_nodes():
    values = ",".join(sorted(a.name + "=" + str(a.value) for a in node.annotations))
    lines.append("|".join(sorted(l.taxon.label for l in node.leaf_iter())) + " " + values)
print("\n".join(sorted(lines)))
)";

class TreeOutput : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = makeScratchDirectory();
        writeFile(dir_ + "/genes.nwk", kGenes);
        for (const char* format : {"newick", "nexus", "nhx"}) {
            const ToolRun run =
                runIn(dir_, TRESSIL_NEWICK_BINARY,
                      {"infer", "--support=full", "--lengths", "--bootstrap", "3", "--format",
                       format, "genes.nwk", std::string("species.") + format});
            ASSERT_EQ(run.status, 0) << run.err;
        }
    }
    void TearDown() override { removeScratchDirectory(dir_); }
    std::string get(const std::string& name) { return readFile(dir_ + "/" + name); }
    std::string dir_;
};

TEST_F(TreeOutput, EveryFormatReadsBackAsTheSameAnnotatedTree) {
    const std::string newick = get("species.newick");
    const std::string nexus = get("species.nexus");
    const std::string nhx = get("species.nhx");
    ASSERT_EQ(nexus.compare(0, 7, "#NEXUS\n"), 0) << nexus;
    EXPECT_NE(nexus.find("TREE species_tree = [&R] ("), std::string::npos) << nexus;
    const NamedTree plain = readBack(newick);
    for (const std::string& text : {nexus, nhx}) {
        const NamedTree tree = readBack(text);
        EXPECT_EQ(leafNames(tree), leafNames(plain)) << text;
        EXPECT_EQ(clusterSets(tree), clusterSets(plain)) << text;
        EXPECT_EQ(tree.nodes.size(), plain.nodes.size()) << text;
    }
    // --support=full writes every value in its comment, in the order the
    // annotated formats write them; the root gets none.
    const std::vector<std::string> full = comments(newick, "&", ',');
    EXPECT_EQ(full.size(), plain.nodes.size() - 6 - 1);
    for (const std::string& values : full)
        EXPECT_EQ(values.compare(0, 10, "posterior="), 0) << values;
    EXPECT_EQ(comments(nexus, "&", ','), full);
    EXPECT_EQ(comments(nhx, "&&NHX:", ':'), full);
}

// The NEXUS file and the plain one with its full comments, as DendroPy reads
// them: the names as given, and the same values at the same clusters.
TEST_F(TreeOutput, DendroPyReadsTheNamesAndEveryValue) {
    std::string python;
    for (const char* candidate : {"python3", "/usr/bin/python3"})
        if (python.empty() &&
            runIn(dir_, "/bin/sh", {"-c", std::string(candidate) + " -c 'import dendropy'"})
                    .status == 0)
            python = candidate;
    if (python.empty()) GTEST_SKIP() << "python3 with dendropy is not installed";
    writeFile(dir_ + "/read.py", kDendroPy);
    const ToolRun nexus = runIn(dir_, "/bin/sh", {"-c", python + " read.py species.nexus nexus"});
    const ToolRun newick =
        runIn(dir_, "/bin/sh", {"-c", python + " read.py species.newick newick"});
    ASSERT_EQ(nexus.status, 0) << nexus.err;
    ASSERT_EQ(newick.status, 0) << newick.err;
    EXPECT_EQ(nexus.out.substr(0, nexus.out.find('\n')), "rooted True");
    const std::string names = "\"x\"|Homo sapiens|Pan_paniscus|a=b|c(d)|it's\n";
    EXPECT_NE(nexus.out.find(names), std::string::npos) << nexus.out;
    for (const char* value : {" bootstrap=", ",pp3=", ",length="})
        EXPECT_NE(nexus.out.find(value), std::string::npos) << value;
    // The plain file is unrooted to DendroPy, which knows no [&R] there.
    EXPECT_EQ(nexus.out.substr(nexus.out.find('\n')), newick.out.substr(newick.out.find('\n')));
}

// Replicates always reach the labels: alone without --support, after the
// other kind's value with one.
TEST_F(TreeOutput, BootstrapShowsWithAnyKind) {
    std::vector<std::vector<std::string>> labels;
    for (const char* support : {"", "--support=bootstrap", "--support=pp"}) {
        std::vector<std::string> args = {"infer", "--bootstrap", "3", "genes.nwk", "out.nwk"};
        if (*support != '\0') args.insert(args.begin() + 1, support);
        const ToolRun run = runIn(dir_, TRESSIL_NEWICK_BINARY, args);
        ASSERT_EQ(run.status, 0) << run.err;
        labels.emplace_back();
        for (const NamedNode& node : readBack(get("out.nwk")).nodes)
            if (node.labelOffset != kNoLabel) labels.back().push_back(node.label);
    }
    ASSERT_EQ(labels[0].size(), 4u);
    EXPECT_EQ(labels[0], labels[1]);
    ASSERT_EQ(labels[2].size(), labels[0].size());
    for (size_t k = 0; k < labels[0].size(); ++k)
        EXPECT_EQ(labels[2][k].substr(4), "/" + labels[0][k]) << labels[2][k];
}

}  // namespace
