// tressil's result tree with numbers -> one line of Newick with names.
#include <cstdint>
#include <string>
#include <vector>

#include "common/limits.h"
#include "named/road/road.h"

namespace {

// Species numbers are read saturating here, far above every valid number.
constexpr int64_t kSaturated = int64_t{1} << 40;

bool isDigitChar(int c) {
    return c >= '0' && c <= '9';
}

bool isResultBlank(int c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Digits at pos, saturating; pos moves past them.
int64_t readNumber(const std::string& text, size_t* pos) {
    int64_t value = 0;
    for (; *pos < text.size() && isDigitChar(text[*pos]); ++*pos)
        value = value >= kSaturated ? kSaturated : value * 10 + (text[*pos] - '0');
    return value;
}

// A name as the table holds it: a whole quoted label, or unquoted text. The
// unquoted form reads every name that earlier versions wrote as it was
// (blanks, quotes and colons included) with the meaning the underscore rule
// gives it today.
std::string readTableName(const std::string& field) {
    if (field.size() > 2 && field.front() == '\'' && field.back() == '\'') {
        std::string name;
        size_t i = 1;
        for (; i + 1 < field.size(); ++i) {
            if (field[i] != '\'') {
                name += field[i];
            } else if (field[i + 1] == '\'' && i + 2 < field.size()) {
                name += '\'';
                ++i;
            } else {
                break;  // a lone quote: not one quoted label
            }
        }
        if (i + 1 == field.size()) return name;
    }
    return matchName(field);
}

// One "number<TAB>name" line from start to end (the '\n' or the text's end).
void readTableLine(const std::string& text, size_t start, size_t end,
                   std::vector<std::string>& names, std::vector<size_t>& lineOf) {
    if (end > start && text[end - 1] == '\r') --end;  // CRLF line ends
    size_t pos = start;
    const int64_t number = readNumber(text, &pos);
    if (pos == start)
        throwAt(text, start, "expected a line 'number<TAB>name'; is this the name table?");
    if (pos == end || text[pos] != '\t')
        throwAt(text, pos, "expected a tab between the taxon number and its name");
    if (number >= kMaxSpecies)
        throwAt(text, start,
                "taxon number " + std::to_string(number) + " is above " +
                    std::to_string(kMaxSpecies - 1) + ", the largest that tressil uses");
    const size_t index = static_cast<size_t>(number);
    if (pos + 1 == end)
        throwAt(text, pos + 1, "empty name for taxon number " + std::to_string(number));
    if (names.size() <= index) {
        names.resize(index + 1);
        lineOf.resize(index + 1);
    }
    if (!names[index].empty()) {
        int line = 0;
        int column = 0;
        locateOffset(text, lineOf[index], &line, &column);
        throwAt(text, start,
                "taxon number " + std::to_string(number) + " appears twice (first on line " +
                    std::to_string(line) + "); keep one line per number");
    }
    names[index] = readTableName(text.substr(pos + 1, end - pos - 1));
    lineOf[index] = start;
}

// After the tree's ';' tressil writes only report lines that start with '%'.
void checkReportLines(const std::string& text, size_t pos) {
    while (pos < text.size()) {
        if (isResultBlank(text[pos])) {
            ++pos;
            continue;
        }
        if (text[pos] != '%')
            throwAt(text, pos,
                    "unexpected text after the tree's ';'; give the output file of tressil "
                    "unchanged");
        const size_t lineEnd = text.find('\n', pos);
        pos = lineEnd == std::string::npos ? text.size() : lineEnd;
    }
}

// A character that does not fit where the tree stands; expected says what does.
[[noreturn]] void failUnexpected(const std::string& text, size_t pos, const char* expected) {
    if (pos >= text.size())
        throwAt(text, pos, "the tree ends early; give the complete output file of tressil");
    throwAt(text, pos,
            std::string("unexpected '") + text[pos] + "' where " + expected +
                " belongs; give the output file of tressil unchanged");
}

// A number of the result, checked against the name table.
void checkMember(const std::string& text, size_t start, int64_t number,
                 const std::vector<std::string>& names, std::vector<bool>& used) {
    const size_t index = static_cast<size_t>(number);
    if (index >= names.size() || names[index].empty())
        throwAt(text, start,
                "taxon number " + std::to_string(number) +
                    " is not in the name table; use the table written with this tree's input");
    if (used[index])
        throwAt(text, start,
                "taxon number " + std::to_string(number) + " appears twice in the tree");
    used[index] = true;
}

int32_t addResultNode(ResultTree& tree, int32_t taxon, std::vector<int32_t> children) {
    tree.nodes.push_back(ResultNode{taxon, std::move(children), "", "", ""});
    return static_cast<int32_t>(tree.nodes.size() - 1);
}

// A name as NEXUS writes it: quoted also where NEXUS punctuation stands,
// which Newick readers take in a name.
std::string nexusName(const std::string& name) {
    const std::string newick = quoteName(name);
    if (newick[0] == '\'' || newick.find_first_of("*+-/<>`&") == std::string::npos) return newick;
    return "'" + newick + "'";  // a name that needs no quotes in Newick holds none
}

// The annotation of a node in a format: FigTree's [&a=1,b=2] or NHX's
// [&&NHX:a=1:b=2].
std::string annotation(const ResultNode& node, const std::string& open, char between) {
    if (node.values.empty()) return "";
    std::string text = open;
    for (size_t k = 0; k < node.values.size(); ++k)
        text += (k == 0 ? "" : std::string(1, between)) + node.values[k].first + "=" +
                node.values[k].second;
    return text + "]";
}

// One tree without its ';'. Plain Newick writes the labels and the comment
// kept for it; the annotated formats write every value by name instead,
// where their readers look for it: before the length in NEXUS, after it in
// NHX.
std::string treeText(const ResultTree& tree, const std::vector<std::string>& names,
                     TreeOutput format) {
    std::vector<std::string> text(tree.nodes.size());
    for (size_t i = 0; i < tree.nodes.size(); ++i) {
        const ResultNode& node = tree.nodes[i];
        if (node.children.empty()) {
            const std::string& name = names[static_cast<size_t>(node.taxon)];
            text[i] = format == TreeOutput::kNexus ? nexusName(name) : quoteName(name);
        } else {
            text[i] = "(";
            for (const int32_t child : node.children) {
                std::string& part = text[static_cast<size_t>(child)];
                text[i] += (text[i].size() > 1 ? "," : "") + part;
                part.clear();  // each subtree is copied into its parent once
            }
            text[i] += ")";
            if (format == TreeOutput::kNewick) text[i] += node.label;
        }
        if (format == TreeOutput::kNewick) text[i] += node.comment;
        if (format == TreeOutput::kNexus) text[i] += annotation(node, "[&", ',');
        if (!node.length.empty()) text[i] += ":" + node.length;
        if (format == TreeOutput::kNhx) text[i] += annotation(node, "[&&NHX:", ':');
    }
    return text[static_cast<size_t>(tree.root)];
}

}  // namespace

std::vector<std::string> parseNameTable(const std::string& text) {
    std::vector<std::string> names;
    std::vector<size_t> lineOf;  // offset of the line that named each number
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const bool blank = end == start || (end == start + 1 && text[start] == '\r');
        if (!blank) readTableLine(text, start, end, names, lineOf);
        start = end + 1;
    }
    return names;
}

ResultTree parseResultTree(const std::string& resultText, const std::vector<std::string>& names) {
    const std::string& text = resultText;
    ResultTree tree{{}, -1};
    std::vector<int32_t> members;     // finished members, innermost last
    std::vector<size_t> open;         // '(' offsets of unclosed groups
    std::vector<size_t> firstMember;  // index into members where each group starts
    std::vector<bool> used(names.size(), false);
    size_t pos = 0;
    while (pos < text.size() && isResultBlank(text[pos]))
        ++pos;
    if (pos == text.size())
        throw NewickError{0, 0,
                          "the result file is empty: tressil wrote no tree; see its messages"};
    bool expectMember = true;
    for (;;) {
        while (pos < text.size() && isResultBlank(text[pos]))
            ++pos;
        const int c = pos < text.size() ? static_cast<unsigned char>(text[pos]) : -1;
        if (expectMember) {
            if (c == '(') {
                open.push_back(pos++);
                firstMember.push_back(members.size());
                continue;
            }
            if (!isDigitChar(c)) failUnexpected(text, pos, "'(' or a taxon number");
            const size_t start = pos;
            const int64_t number = readNumber(text, &pos);
            checkMember(text, start, number, names, used);
            members.push_back(addResultNode(tree, static_cast<int32_t>(number), {}));
            expectMember = false;
        } else if (c == ',' && !open.empty()) {
            expectMember = true;
            ++pos;
        } else if (c == ')' && !open.empty()) {
            if (members.size() - firstMember.back() != 2)
                throwAt(text, open.back(),
                        "a group of " + std::to_string(members.size() - firstMember.back()) +
                            " members; tressil writes two, give its output file unchanged");
            const int32_t right = members.back();
            members.pop_back();
            members.back() = addResultNode(tree, -1, {members.back(), right});
            open.pop_back();
            firstMember.pop_back();
            ++pos;
        } else if (c == ';' && open.empty()) {
            checkReportLines(text, pos + 1);
            tree.root = members.back();
            return tree;
        } else {
            failUnexpected(text, pos, open.empty() ? "';'" : "',' or ')'");
        }
    }
}

std::string resultNewick(const ResultTree& tree, const std::vector<std::string>& names) {
    return treeText(tree, names, TreeOutput::kNewick) + ";\n";
}

std::string speciesTreeText(const ResultTree& tree, const std::vector<std::string>& names,
                            TreeOutput format) {
    if (format != TreeOutput::kNexus) return treeText(tree, names, format) + ";\n";
    // FigTree and DendroPy want a TAXA block to match the tree's names to.
    std::string text =
        "#NEXUS\nBEGIN TAXA;\n\tDIMENSIONS NTAX=" + std::to_string(names.size()) + ";\n\tTAXLABELS";
    for (const std::string& name : names)
        text += "\n\t\t" + nexusName(name);
    return text + "\n\t;\nEND;\nBEGIN TREES;\n\tTREE species_tree = [&R] " +
           treeText(tree, names, format) + ";\nEND;\n";
}

std::string decodeResult(const std::string& resultText, const std::vector<std::string>& names) {
    return resultNewick(parseResultTree(resultText, names), names);
}
