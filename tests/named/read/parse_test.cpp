// Newick texts as other programs write them, and every malformed form with
// the line and column that its message points at.
#include <gtest/gtest.h>

#include <string>

#include "named/annotate/annotate.h"
#include "named/named_support.h"
#include "named/picture/picture.h"
#include "named/read/read.h"
#include "named/road/road.h"

namespace {

struct Accepted {
    const char* name;
    std::string text;
    std::string trees;  // as renderTrees writes them
};

void PrintTo(const Accepted& c, std::ostream* os) {
    *os << c.name;
}

class NewickAccepts : public ::testing::TestWithParam<Accepted> {};

TEST_P(NewickAccepts, AsTrees) {
    EXPECT_EQ(renderTrees(parseNewick(GetParam().text)), GetParam().trees);
}

const std::string kDeep = std::string(100000, '(') + "A" + std::string(100000, ')') + ";";

INSTANTIATE_TEST_SUITE_P(
    Texts, NewickAccepts,
    ::testing::Values(
        Accepted{"Plain", "((A,B),C);", "((A,B),C);"},
        Accepted{"BlanksTabsCrlf", "\t( (A ,\r\n B) ,C )\r\n;\r\n", "((A,B),C);"},
        Accepted{"BranchLengths", "((A:1,B:0.5):2.5e-3,C:-1E+2):0;", "((A,B),C);"},
        Accepted{"LengthForms", "((A:.5,B:1.):+3,C:7e5);", "((A,B),C);"},
        Accepted{"LengthAfterBlanksAndComment", "((A : [x] 1 ,B),C);", "((A,B),C);"},
        Accepted{"SupportAndRootLabel", "((A,B)95:0.1,C)root;", "((A,B),C);"},
        Accepted{"QuotedInternalLabel", "((A,B)'node x':1,C)'r';", "((A,B),C);"},
        Accepted{"QuotedNames", "(('Homo sapiens','it''s'),'(x:y);');",
                 "((Homo sapiens,it's),(x:y););"},
        Accepted{"QuotedBlanksAndBracketsKept", "(('a [b]',' c '),d);", "((a [b], c ),d);"},
        Accepted{"Comments", "[file]((A[&&NHX:S=x],B)[95],C)[end];", "((A,B),C);"},
        Accepted{"WeightComment", "[&W 3]((A,B),C);", "[&W 3]((A,B),C);"},
        Accepted{"WeightLowercaseNoBlank", "[&w7]((A,B),C);", "[&W 7]((A,B),C);"},
        Accepted{"WeightBlanksInside", "[&W  12 ]\n((A,B),C);", "[&W 12]((A,B),C);"},
        Accepted{"WeightMax", "[&W 2147483647]((A,B),C);", "[&W 2147483647]((A,B),C);"},
        Accepted{"OtherAnnotationsIgnored", "[&R] [&W 2] [&Whatever=1] ((A,B),C);",
                 "[&W 2]((A,B),C);"},
        Accepted{"WeightBelongsToOneTree", "[&W 2](A,(B,C));((A,B),C);",
                 "[&W 2](A,(B,C));((A,B),C);"},
        Accepted{"SingleChildNodesCollapse", "(((A)),(B,(C)));", "(A,(B,C));"},
        Accepted{"SingleChildRootCollapses", "((A:1)x:2,B);", "(A,B);"},
        Accepted{"DeepChainCollapses", kDeep, "A;"}, Accepted{"SingleLeafTree", "A;", "A;"},
        Accepted{"UnquotedPunctuationAndUnderscore", "((sp.1,a-b|c),\"q\"_r);",
                 "((sp.1,a-b|c),\"q\" r);"},
        Accepted{"UnderscoreIsABlankOnlyUnquoted", "((Homo_sapiens,'Pan_paniscus'),' x_');",
                 "((Homo sapiens,Pan_paniscus), x_);"},
        Accepted{"DigitNames", "((1,2),3);", "((1,2),3);"},
        Accepted{"Utf8Names", "((Äb,ß),ø);", "((Äb,ß),ø);"},
        Accepted{"ByteOrderMarkSkipped", "\xEF\xBB\xBF(A,B);", "(A,B);"},
        Accepted{"TreesOnOneLine", "(A,B);(C,D);", "(A,B);(C,D);"},
        Accepted{"OnlyComments", "  [nothing here]\n", ""}),
    [](const ::testing::TestParamInfo<Accepted>& info) { return std::string(info.param.name); });

struct Rejected {
    const char* name;
    std::string text;
    int line;
    int column;
    std::string fragment;  // part of the message
};

void PrintTo(const Rejected& c, std::ostream* os) {
    *os << c.name;
}

class NewickRejects : public ::testing::TestWithParam<Rejected> {};

TEST_P(NewickRejects, AtItsPlace) {
    const Rejected& c = GetParam();
    try {
        parseNewick(c.text);
        ADD_FAILURE() << "accepted";
    } catch (const NewickError& error) {
        EXPECT_EQ(error.line, c.line);
        EXPECT_EQ(error.column, c.column);
        EXPECT_NE(error.message.find(c.fragment), std::string::npos) << error.message;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NewickRejects,
    ::testing::Values(
        Rejected{"ThreeChildren", "(A,B,C);", 1, 1, "3 children"},
        Rejected{"FourChildrenInside", "((A,B,C,D),E);", 1, 2, "4 children"},
        Rejected{"ThreeChildrenOnLineTwo", "((A,B),C);\n((A,B),(C,D),E);", 2, 1, "3 children"},
        Rejected{"RepeatedTaxon", "((A,B),A);", 1, 8,
                 "'A' appears twice in this tree (first at line 1, column 3)"},
        Rejected{"RepeatedQuotedTaxon", "(('A',B),A);", 1, 10, "appears twice"},
        Rejected{"UnderscoreAndBlankOneTaxon", "(('a b',B),a_b);", 1, 12, "'a_b' appears twice"},
        Rejected{"EmptyLeafAfterComma", "((A,B),);", 1, 8, "empty leaf label"},
        Rejected{"EmptyLeafFirst", "(,A);", 1, 2, "empty leaf label"},
        Rejected{"EmptyGroup", "((),A);", 1, 3, "empty leaf label"},
        Rejected{"EmptyQuotedLeaf", "((A,''),B);", 1, 5, "empty leaf label ''"},
        Rejected{"LengthWithoutName", "((A,:1),B);", 1, 5, "empty leaf label"},
        Rejected{"SemicolonInGroup", "((A,B),C;", 1, 9,
                 "';' inside the group opened at line 1, column 1"},
        Rejected{"UnclosedAtEnd", "((A,B),\nC", 1, 1, "'(' is never closed"},
        Rejected{"UnclosedAfterComma", "(A,", 1, 1, "'(' is never closed"},
        Rejected{"ExtraClose", "(A,B));", 1, 6, "')' has no matching '('"},
        Rejected{"CloseFirst", ")A;", 1, 1, "')' has no matching '('"},
        Rejected{"MissingSemicolonAtEnd", "((A,B),C)", 1, 10, "missing ';'"},
        Rejected{"MissingSemicolonBeforeTree", "((A,B),C):0.5 [x]\n((D,E),F);", 1, 14,
                 "missing ';'"},
        Rejected{"MissingComma", "((A B),C);", 1, 5, "missing ','"},
        Rejected{"UnclosedComment", "[comment ((A,B),C);", 1, 1, "'[' is never closed"},
        Rejected{"StrayBracket", "((A,B),C);]", 1, 11, "']' has no matching '['"},
        Rejected{"StrayBracketInTree", "((A,B)],C);", 1, 7, "']' has no matching '['"},
        Rejected{"UnclosedQuote", "((A,'B),C);", 1, 5, "quoted label is never closed"},
        Rejected{"WeightZero", "[&W 0]((A,B),C);", 1, 1, "whole number from 1 to 2147483647"},
        Rejected{"WeightFraction", "x;\n [&W 2.5]((A,B),C);", 2, 2, "whole number"},
        Rejected{"WeightWord", "[&W x]((A,B),C);", 1, 1, "whole number"},
        Rejected{"WeightMissing", "[&W]((A,B),C);", 1, 1, "whole number"},
        Rejected{"WeightPastInt32", "[&W 2147483648]((A,B),C);", 1, 1, "whole number"},
        Rejected{"TwoWeights", "[&W 2] [&W 3]((A,B),C);", 1, 8, "second weight comment"},
        Rejected{"WeightWithoutTree", "((A,B),C);\n[&W 2]\n", 2, 1, "no tree after it"},
        Rejected{"WeightInsideTree", "((A,B),C)[&W 2];", 1, 10, "inside a tree"},
        Rejected{"ColonWithoutLength", "((A:,B),C);", 1, 4, "without a branch length"},
        Rejected{"LengthNotNumber", "((A:1x,B),C);", 1, 5, "'1x' is not a number"},
        Rejected{"SecondLength", "((A:1:2,B),C);", 1, 6, "second branch length"},
        Rejected{"LoneSemicolon", "((A,B),C);;", 1, 11, "';' without a tree"},
        Rejected{"CommaOutside", "A,B;", 1, 2, "outside parentheses"},
        Rejected{"TabInQuotedName", "(('a\tb',B),C);", 1, 3, "tab or a line break"},
        Rejected{"PlaceAfterCrlfAndTab", "((A,B),C);\r\n\t((A,B),A);", 2, 9, "appears twice"},
        Rejected{"ColumnsCountCharacters", "((Ä,B),Ä);", 1, 8, "appears twice"}),
    [](const ::testing::TestParamInfo<Rejected>& info) { return std::string(info.param.name); });

// A root mark before a tree, in Newick or NEXUS, in either case; other
// comments leave the tree unmarked.
TEST(RootMarks, AreReadBeforeEachTree) {
    const std::string newick = "[&U]((A,B),(C,D));[&r][x]((A,B),C);[&Ux]((A,B),C);";
    const std::string nexus =
        "#NEXUS\nBEGIN TREES;\nTREE t = [&u] ((A,B),(C,D));\nTREE s = [&R] ((A,B),C);\nEND;\n";
    for (const std::string& text : {newick, nexus}) {
        TreeSource source = openTreeSource(text);
        std::vector<RootMark> marks;
        NamedTree tree{};
        while (readNextTree(&source, &tree, true))
            marks.push_back(tree.mark);
        marks.resize(3, RootMark::kNone);
        EXPECT_EQ(marks,
                  (std::vector<RootMark>{RootMark::kUnrooted, RootMark::kRooted, RootMark::kNone}))
            << text;
    }
}

}  // namespace
