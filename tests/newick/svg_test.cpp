// infer's picture read back with a real XML parser: the names as given, and
// a drawing that shows the written tree, each inner node left of its
// children, the tips evenly spaced and no two lines on top of each other.
#include <expat.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "common/run_support.h"
#include "newick/newick_support.h"

namespace {

struct Line {
    double x1, y1, x2, y2;
};

struct Text {
    double x, y;
    std::string text;
};

struct Picture {
    std::string error;  // empty when the file is well-formed XML
    std::vector<Line> lines;
    std::vector<Text> texts;
    bool inText = false;
};

double attribute(const XML_Char** attributes, const std::string& name) {
    for (; *attributes != nullptr; attributes += 2)
        if (name == attributes[0]) return std::stod(attributes[1]);
    ADD_FAILURE() << "no attribute " << name;
    return 0;
}

Picture readPicture(const std::string& svg) {
    Picture picture;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &picture);
    XML_SetElementHandler(
        parser,
        [](void* data, const XML_Char* name, const XML_Char** attributes) {
            auto* p = static_cast<Picture*>(data);
            const std::string element = name;
            if (element == "line")
                p->lines.push_back({attribute(attributes, "x1"), attribute(attributes, "y1"),
                                    attribute(attributes, "x2"), attribute(attributes, "y2")});
            if (element == "text")
                p->texts.push_back({attribute(attributes, "x"), attribute(attributes, "y"), ""});
            p->inText = element == "text";
        },
        [](void* data, const XML_Char*) { static_cast<Picture*>(data)->inText = false; });
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

// The lines of the picture: across (x1 < x2) and down (y1 < y2).
struct Drawing {
    std::vector<Line> across;
    std::vector<Line> down;
    std::vector<Text> names;
};

Drawing sortLines(const Picture& picture) {
    Drawing d{{}, {}, picture.texts};
    for (Line l : picture.lines) {
        if (l.x1 > l.x2) std::swap(l.x1, l.x2);
        if (l.y1 > l.y2) std::swap(l.y1, l.y2);
        if (near(l.y1, l.y2) && !near(l.x1, l.x2))
            d.across.push_back(l);
        else if (near(l.x1, l.x2) && !near(l.y1, l.y2))
            d.down.push_back(l);
        else
            ADD_FAILURE() << "a line of no length or a slanted one at " << l.x1 << "," << l.y1;
    }
    return d;
}

// Two lines along the same row or column share at most an end.
void expectNoOverlap(const Drawing& d) {
    for (const bool isDown : {false, true}) {
        const std::vector<Line>& lines = isDown ? d.down : d.across;
        for (size_t i = 0; i < lines.size(); ++i)
            for (size_t j = i + 1; j < lines.size(); ++j) {
                const Line& a = lines[i];
                const Line& b = lines[j];
                if (isDown ? !near(a.x1, b.x1) : !near(a.y1, b.y1)) continue;
                const double shared = isDown ? std::min(a.y2, b.y2) - std::max(a.y1, b.y1)
                                             : std::min(a.x2, b.x2) - std::max(a.x1, b.x1);
                EXPECT_LE(shared, kSlack) << "lines overlap at " << a.x1 << "," << a.y1;
            }
    }
}

// The subtree drawn from the point where a branch ends, as Newick with the
// children from top to bottom: an inner node is a line down that joins the
// two branches to its children; a tip is a branch end with its name on its
// row. Tip rows are collected top to bottom.
std::string shownTree(const Drawing& d, double x, double y, std::vector<double>* tipRows) {
    const auto node = std::find_if(d.down.begin(), d.down.end(), [&](const Line& l) {
        return near(l.x1, x) && l.y1 - kSlack < y && y < l.y2 + kSlack;
    });
    if (node == d.down.end()) {
        tipRows->push_back(y);
        const auto name = std::min_element(
            d.names.begin(), d.names.end(),
            [y](const Text& a, const Text& b) { return std::fabs(a.y - y) < std::fabs(b.y - y); });
        return name == d.names.end() ? "?" : name->text;
    }
    std::vector<Line> branches;
    for (const Line& l : d.across)
        if (near(l.x1, x) && node->y1 - kSlack < l.y1 && l.y1 < node->y2 + kSlack)
            branches.push_back(l);
    std::sort(branches.begin(), branches.end(),
              [](const Line& a, const Line& b) { return a.y1 < b.y1; });
    if (branches.size() != 2 || !near(branches[0].y1, node->y1) ||
        !near(branches[1].y1, node->y2)) {
        ADD_FAILURE() << "the node at " << x << "," << y << " does not join two branches";
        return "?";
    }
    std::string text = "(";
    for (const Line& branch : branches) {
        EXPECT_GT(branch.x2, x + kSlack) << "a child not right of its parent at " << x;
        text += (branch.x2 > x + kSlack ? shownTree(d, branch.x2, branch.y1, tipRows) : "?") +
                (&branch == &branches[0] ? "," : ")");
    }
    return text;
}

class InferPicture : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = makeScratchDirectory(); }
    void TearDown() override { removeScratchDirectory(dir_); }

    // infer on the trees; the picture read back, and the written tree.
    Picture draw(const std::string& trees, std::string* written) {
        writeFile(dir_ + "/genes.nwk", trees);
        const ToolRun run = runIn(dir_, TRESSIL_NEWICK_BINARY,
                                  {"infer", "--svg", "tree.svg", "genes.nwk", "species.nwk"});
        EXPECT_EQ(run.status, 0) << run.err;
        *written = readFile(dir_ + "/species.nwk");
        return readPicture(readFile(dir_ + "/tree.svg"));
    }

    std::string dir_;
};

TEST_F(InferPicture, NamesWithXmlSpecialsReadBackAsGiven) {
    std::string written;
    const Picture picture = draw("((('A&B','<C>'),'it''s'),('say \"hi\"','x>y'));\n", &written);
    ASSERT_EQ(picture.error, "");
    std::vector<std::string> names;
    for (const Text& t : picture.texts)
        names.push_back(t.text);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"<C>", "A&B", "it's", "say \"hi\"", "x>y"}));
}

// The one input tree is the best tree, so the picture must show it as written.
TEST_F(InferPicture, ShowsTheWrittenTreeWithEvenlySpacedTips) {
    for (const std::string tree :
         {"((a,b),c);", "((((a,b),c),d),e);", "(((a,b),(c,d)),((e,f),(g,h)));",
          "((a,(b,c)),((d,e),(f,(g,(h,i)))));"}) {
        std::string written;
        const Picture picture = draw(tree + "\n", &written);
        ASSERT_EQ(picture.error, "") << tree;
        const Drawing d = sortLines(picture);
        expectNoOverlap(d);
        // The root's branch is the one line across whose left end is on no node.
        std::vector<Line> stubs;
        for (const Line& l : d.across)
            if (std::none_of(d.down.begin(), d.down.end(), [&l](const Line& n) {
                    return near(n.x1, l.x1) && n.y1 - kSlack < l.y1 && l.y1 < n.y2 + kSlack;
                }))
                stubs.push_back(l);
        ASSERT_EQ(stubs.size(), 1u) << tree;
        std::vector<double> rows;
        EXPECT_EQ(shownTree(d, stubs[0].x2, stubs[0].y1, &rows) + ";\n", written) << tree;
        ASSERT_GE(rows.size(), 3u) << tree;
        EXPECT_GT(rows[1] - rows[0], kSlack) << tree;
        for (size_t i = 2; i < rows.size(); ++i)
            EXPECT_NEAR(rows[i] - rows[i - 1], rows[1] - rows[0], kSlack) << tree << ": tip " << i;
    }
}

}  // namespace
