// infer's picture read back with a real XML parser: the names as given, and
// lines that draw the written tree, each inner node left of its children,
// the tips evenly spaced and no two lines on top of each other.
#include <expat.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "common/run_support.h"
#include "named/named_support.h"

namespace {

struct Line {
    double x1, y1, x2, y2;  // x1 <= x2, y1 <= y2
};

struct Text {
    double x;
    double y;
    std::string text;
};

struct Picture {
    std::string error;  // empty when the file is well-formed XML
    std::vector<Line> across;
    std::vector<Line> down;
    std::vector<Text> texts;
    double left = 0;  // of the view box
    bool inText = false;
};

double attribute(const XML_Char** attributes, const std::string& name) {
    for (; *attributes != nullptr; attributes += 2)
        if (name == attributes[0]) return std::stod(attributes[1]);
    return NAN;
}

void startElement(void* data, const XML_Char* name, const XML_Char** attributes) {
    auto* p = static_cast<Picture*>(data);
    p->inText = std::string(name) == "text";
    if (std::string(name) == "svg") {
        for (const XML_Char** a = attributes; *a != nullptr; a += 2)
            if (std::string(a[0]) == "viewBox") p->left = std::stod(a[1]);
    }
    if (p->inText) p->texts.push_back({attribute(attributes, "x"), attribute(attributes, "y"), ""});
    if (std::string(name) != "line") return;
    const double x[2] = {attribute(attributes, "x1"), attribute(attributes, "x2")};
    const double y[2] = {attribute(attributes, "y1"), attribute(attributes, "y2")};
    const Line line{std::min(x[0], x[1]), std::min(y[0], y[1]), std::max(x[0], x[1]),
                    std::max(y[0], y[1])};
    if (x[0] != x[1] && y[0] != y[1]) ADD_FAILURE() << "a slanted line at " << x[0];
    (y[0] == y[1] ? p->across : p->down).push_back(line);
}

// A run of tressil-newick --svg on the trees (and a species tree for score):
// the picture as read, and the written tree.
Picture drawnPicture(const std::string& trees, std::string* written,
                     std::vector<std::string> args = {"infer"}, const std::string& species = "") {
    const std::string dir = makeScratchDirectory();
    writeFile(dir + "/genes.nwk", trees);
    args.insert(args.end(), {"--svg", "tree.svg", "genes.nwk"});
    if (!species.empty()) {
        writeFile(dir + "/given.nwk", species);
        args.push_back("given.nwk");
    }
    args.push_back("species.nwk");
    const ToolRun run = runIn(dir, TRESSIL_NEWICK_BINARY, args);
    EXPECT_EQ(run.status, 0) << run.err;
    *written = readFile(dir + "/species.nwk");
    const std::string svg = readFile(dir + "/tree.svg");
    removeScratchDirectory(dir);
    Picture picture;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &picture);
    XML_SetElementHandler(parser, startElement, [](void* data, const XML_Char*) {
        static_cast<Picture*>(data)->inText = false;
    });
    XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* s, int length) {
        auto* p = static_cast<Picture*>(data);
        if (p->inText) p->texts.back().text.append(s, static_cast<size_t>(length));
    });
    if (XML_Parse(parser, svg.data(), static_cast<int>(svg.size()), 1) != XML_STATUS_OK)
        picture.error = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
                        std::to_string(XML_GetCurrentLineNumber(parser));
    XML_ParserFree(parser);
    return picture;
}

constexpr double kSlack = 0.01;

bool near(double a, double b) {
    return std::fabs(a - b) < kSlack;
}

bool onLine(const Line& down, double x, double y) {
    return near(down.x1, x) && down.y1 - kSlack < y && y < down.y2 + kSlack;
}

// The subtree drawn from where a branch ends, as Newick with the children
// from top to bottom: an inner node is a line down whose two ends start the
// branches to its children; a tip is a branch end on no line down, named by
// the text on its row. Tip rows are collected from top to bottom.
std::string shownTree(const Picture& p, double x, double y, std::vector<double>* rows) {
    const auto node =
        std::find_if(p.down.begin(), p.down.end(), [&](const Line& l) { return onLine(l, x, y); });
    if (node == p.down.end()) {
        rows->push_back(y);
        const auto name = std::min_element(p.texts.begin(), p.texts.end(), [y](auto& a, auto& b) {
            return std::fabs(a.y - y) < std::fabs(b.y - y);
        });
        return name == p.texts.end() ? "?" : name->text;
    }
    std::vector<Line> branches;
    for (const Line& l : p.across)
        if (onLine(*node, l.x1, l.y1)) branches.push_back(l);
    std::sort(branches.begin(), branches.end(),
              [](const Line& a, const Line& b) { return a.y1 < b.y1; });
    if (branches.size() != 2 || !near(branches[0].y1, node->y1) ||
        !near(branches[1].y1, node->y2) || branches[0].x2 < x + kSlack ||
        branches[1].x2 < x + kSlack) {
        ADD_FAILURE() << "no inner node with two children right of it at " << x << "," << y;
        return "?";
    }
    const std::string top = shownTree(p, branches[0].x2, branches[0].y1, rows);
    return "(" + top + "," + shownTree(p, branches[1].x2, branches[1].y1, rows) + ")";
}

// Two lines along one row or one column share at most an end.
void expectNoOverlap(const std::vector<Line>& lines, bool down) {
    for (size_t i = 0; i < lines.size(); ++i)
        for (size_t j = i + 1; j < lines.size(); ++j) {
            const Line& a = lines[i];
            const Line& b = lines[j];
            const bool oneTrack = down ? near(a.x1, b.x1) : near(a.y1, b.y1);
            const double shared = down ? std::min(a.y2, b.y2) - std::max(a.y1, b.y1)
                                       : std::min(a.x2, b.x2) - std::max(a.x1, b.x1);
            EXPECT_FALSE(oneTrack && shared > kSlack) << "lines overlap at " << a.x1 << "," << a.y1;
        }
}

TEST(InferPicture, NamesWithXmlSpecialsReadBackAsGiven) {
    std::string written;
    const Picture picture =
        drawnPicture("((('A&B','<C>'),'it''s'),('say \"hi\"','x>y'));\n", &written);
    ASSERT_EQ(picture.error, "");
    std::vector<std::string> names;
    for (const Text& t : picture.texts)
        names.push_back(t.text);
    std::sort(names.begin(), names.end());
    // The names, and the legend below them.
    EXPECT_EQ(names, (std::vector<std::string>{"<C>", "A&B", "Species tree from 1 gene tree",
                                               "it's", "say \"hi\"", "x>y"}));
}

// A single input tree is the best tree, written and drawn.
TEST(InferPicture, DrawsTheWrittenTreeWithEvenlySpacedTips) {
    for (const std::string tree :
         {"((a,b),c);", "((((a,b),c),d),e);", "(((a,b),(c,d)),((e,f),(g,h)));",
          "((a,(b,c)),((d,e),(f,(g,(h,i)))));"}) {
        std::string written;
        const Picture picture = drawnPicture(tree + "\n", &written);
        ASSERT_EQ(picture.error, "") << tree;
        ASSERT_FALSE(picture.across.empty()) << tree;
        expectNoOverlap(picture.across, false);
        expectNoOverlap(picture.down, true);
        // The root is the line down left of every other.
        const Line root =
            *std::min_element(picture.down.begin(), picture.down.end(),
                              [](const Line& a, const Line& b) { return a.x1 < b.x1; });
        std::vector<double> rows;
        EXPECT_EQ(shownTree(picture, root.x1, (root.y1 + root.y2) / 2, &rows) + ";\n", written)
            << tree;
        for (size_t i = 1; i < rows.size(); ++i)
            EXPECT_TRUE(rows[i] > rows[0] && near(rows[i] - rows[i - 1], rows[1] - rows[0]))
                << tree << ": tip " << i;
    }
}

// Drawn to scale, branches of length 0 put a node beside its parent and
// grandparent; the labels must still stand apart, each inside the picture.
TEST(InferPicture, LabelsNeverRunTogether) {
    std::mt19937 rng(5);
    std::string genes;
    const std::vector<std::string> taxa = {"a", "b", "c", "d", "e", "f"};
    for (int t = 0; t < 60; ++t) {  // random but for (g,h): one long branch, the others short
        const std::string random = writeRandomNewick(randomTree(taxa, rng), rng);
        genes += "(" + random.substr(0, random.size() - 2) + ",(g,h));\n";
    }
    std::string written;
    const Picture p = drawnPicture(genes, &written, {"score", "--support=pp", "--lengths"},
                                   "(((((a,(b,(c,d))),e),f)),(g,h));\n");
    ASSERT_EQ(p.error, "");
    // Glyph boxes of the 10 px labels, a little smaller than any font draws.
    std::vector<Text> labels;
    for (const Text& t : p.texts)
        if (t.text.size() == 4 && t.text[1] == '.') labels.push_back(t);
    ASSERT_EQ(labels.size(), 6u) << written;
    for (size_t i = 0; i < labels.size(); ++i) {
        EXPECT_GE(labels[i].x - 5.5 * static_cast<double>(labels[i].text.size()), p.left);
        for (size_t j = i + 1; j < labels.size(); ++j) {
            const Text& a = labels[i];
            const Text& b = labels[j];
            const bool across = std::fabs(a.y - b.y) < 7.5;
            const bool along = std::fabs(a.x - b.x) < 5.5 * static_cast<double>(a.text.size());
            EXPECT_FALSE(across && along) << a.text << " at " << a.x << "," << a.y << " and "
                                          << b.text << " at " << b.x << "," << b.y;
        }
    }
}

}  // namespace
