// --min-support read on the scale of the file's own labels: the same trees
// labelled 0 to 1 and 0 to 100 give the same tree and the same counts, the
// counts match the labels below the threshold counted on the text, and each
// value of IQ-TREE's a/b labels can be chosen.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "common/run_support.h"
#include "named/named_support.h"

namespace {

// The example trees, whose inner labels are whole numbers from 0 to 100,
// with every such label l replaced by relabel(l).
template <typename Relabel>
std::string relabelled(Relabel relabel) {
    const std::string text = readFile(std::string(TRESSIL_SOURCE_DIR) + "/examples/genes.nwk");
    const std::regex label("\\)([0-9]+):");
    std::string out;
    size_t last = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), label);
         it != std::sregex_iterator(); ++it) {
        out += text.substr(last, static_cast<size_t>(it->position()) - last) + ")" +
               relabel(std::stoi((*it)[1])) + ":";
        last = static_cast<size_t>(it->position() + it->length());
    }
    return out + text.substr(last);
}

std::string hundredths(int label) {
    char text[16];
    std::snprintf(text, sizeof text, "%g", label / 100.0);
    return text;
}

// The species tree and the --min-support note of one run.
struct Collapsed {
    std::string tree;
    std::string note;
};

Collapsed infer(const std::string& genes, const std::vector<std::string>& options, int status = 0) {
    const std::string dir = makeScratchDirectory();
    writeFile(dir + "/genes.nwk", genes);
    std::vector<std::string> args = {"infer", "--outgroup", "Protopsis_basalis"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {"genes.nwk", "species.nwk"});
    const ToolRun run = runIn(dir, TRESSIL_NEWICK_BINARY, args);
    EXPECT_EQ(run.status, status) << run.err;
    Collapsed result{readFile(dir + "/species.nwk"), ""};
    removeScratchDirectory(dir);
    const size_t at = run.err.find("--min-support");
    result.note = at == std::string::npos ? run.err : run.err.substr(at);
    return result;
}

TEST(MinSupport, MeansTheSameOnEitherScale) {
    const std::string percent = relabelled([](int l) { return std::to_string(l); });
    const std::string shares = relabelled(hundredths);
    int labelled = 0;
    relabelled([&labelled](int) { return std::to_string(++labelled); });
    for (const int threshold : {1, 30, 50, 75, 90}) {
        int below = 0;
        relabelled([&](int l) { return std::to_string(below += l < threshold ? 1 : 0); });
        const Collapsed p = infer(percent, {"--min-support", std::to_string(threshold)});
        const Collapsed s = infer(shares, {"--min-support", hundredths(threshold)});
        EXPECT_EQ(p.tree, s.tree) << threshold;
        const std::string counts = ": collapsed " + std::to_string(below) + " of " +
                                   std::to_string(labelled) + " labelled branches";
        EXPECT_EQ(p.note.substr(0, p.note.find(':')),
                  "--min-support " + std::to_string(threshold) + " on labels from 0 to 100");
        EXPECT_EQ(p.note.substr(p.note.find(':'), counts.size()), counts);
        EXPECT_EQ(s.note.substr(s.note.find(':')), p.note.substr(p.note.find(':')));
        EXPECT_EQ(p.note.find("more than half") != std::string::npos, 2 * below > labelled);
    }
    // A fraction on percentages is read as it stands, and the note says what
    // the user likely meant.
    EXPECT_NE(infer(percent, {"--min-support", "0.5"}).note.find("give --min-support 50"),
              std::string::npos);
}

// "S/B" labels with S and B unlike: each field is read as the file of that
// value alone; the last is the default; a field the labels lack is an error.
TEST(MinSupport, ReadsTheFieldAskedOfSlashedLabels) {
    const auto first = [](int l) { return std::to_string(l * 9 / 10) + ".5"; };
    const auto second = [](int l) { return std::to_string(100 - l); };
    const std::string both = relabelled([&](int l) { return first(l) + "/" + second(l); });
    const Collapsed one = infer(relabelled(first), {"--min-support", "60"});
    const Collapsed two = infer(relabelled(second), {"--min-support", "60"});
    ASSERT_NE(one.tree, two.tree);
    EXPECT_EQ(infer(both, {"--min-support", "60", "--support-field", "1"}).tree, one.tree);
    EXPECT_EQ(infer(both, {"--min-support", "60", "--support-field", "2"}).tree, two.tree);
    const Collapsed last = infer(both, {"--min-support", "60"});
    EXPECT_EQ(last.tree, two.tree);
    EXPECT_EQ(last.note, two.note);
    EXPECT_NE(infer(both, {"--min-support", "60", "--support-field", "3"}, 1)
                  .note.find("this branch label holds 2 values, but --support-field 3 asks for "
                             "value 3; give a field from 1 to 2"),
              std::string::npos);
}

}  // namespace
