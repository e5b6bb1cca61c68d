// Newick reader: characters -> labels, lengths and comments -> trees built
// with an explicit stack of open groups, so nesting depth costs no recursion.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "named/read/tree_text.h"

namespace {

constexpr int kEnd = -1;  // peek() past the last character
constexpr size_t kNoOffset = static_cast<size_t>(-1);
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// Position in the text being read.
struct Cursor {
    const std::string& text;
    size_t pos;
};

// A '(' whose ')' has not been read yet, with the members read so far.
struct OpenGroup {
    size_t offset;
    std::vector<int32_t> members;
};

int peek(const Cursor& cur) {
    return cur.pos < cur.text.size() ? static_cast<unsigned char>(cur.text[cur.pos]) : kEnd;
}

// Everything but blanks and Newick punctuation may stand in an unquoted label.
bool isLabelChar(int c) {
    if (c == kEnd || isBlankChar(c)) return false;
    switch (c) {
        case '(':
        case ')':
        case '[':
        case ']':
        case '\'':
        case ':':
        case ';':
        case ',':
            return false;
        default:
            return true;
    }
}

bool startsLabel(int c) {
    return c == '\'' || isLabelChar(c);
}

bool isDigitChar(char c) {
    return c >= '0' && c <= '9';
}

// A comment "[&W ...]": '&', then 'W' or 'w' not followed by a letter, so
// other annotations such as "[&Whatever=1]" stay ordinary comments.
bool isWeightComment(const std::string& body) {
    if (body.size() < 2 || body[0] != '&' || (body[1] != 'W' && body[1] != 'w')) return false;
    if (body.size() == 2) return true;
    const char next = body[2];
    return !((next >= 'A' && next <= 'Z') || (next >= 'a' && next <= 'z'));
}

// Reads "[...]" starting at the '['; returns what stands between the brackets.
std::string readComment(Cursor& cur) {
    const size_t open = cur.pos;
    const size_t close = cur.text.find(']', open + 1);
    if (close == std::string::npos)
        throwAt(cur.text, open,
                "unbalanced brackets: this '[' is never closed; end the comment with ']'");
    cur.pos = close + 1;
    return cur.text.substr(open + 1, close - open - 1);
}

// The whole number of a weight comment body, from 1 to INT32_MAX.
int64_t weightValue(const Cursor& cur, size_t open, const std::string& body) {
    size_t first = 2;
    size_t last = body.size();
    while (first < last && isBlankChar(static_cast<unsigned char>(body[first])))
        ++first;
    while (last > first && isBlankChar(static_cast<unsigned char>(body[last - 1])))
        --last;
    int64_t value = 0;
    bool valid = first < last;
    for (size_t i = first; valid && i < last; ++i) {
        valid = isDigitChar(body[i]);
        // Stop growing once past the limit; the test below rejects it anyway.
        if (valid && value <= INT32_MAX) value = value * 10 + (body[i] - '0');
    }
    if (!valid || value < 1 || value > INT32_MAX)
        throwAt(cur.text, open,
                "a tree weight must be a whole number from 1 to 2147483647, written as in "
                "[&W 3]; fix this weight comment");
    return value;
}

// Skips blanks and comments inside a tree. A weight comment there would be
// silently lost, so it is an error.
void skipInTree(Cursor& cur) {
    for (;;) {
        const int c = peek(cur);
        if (isBlankChar(c)) {
            ++cur.pos;
        } else if (c == '[') {
            const size_t open = cur.pos;
            if (isWeightComment(readComment(cur)))
                throwAt(cur.text, open,
                        "a weight comment inside a tree is not used; move it before the tree's "
                        "first '('");
        } else {
            return;
        }
    }
}

// "[&R]" or "[&U]", in either case, as tree writers mark rooted and
// unrooted trees.
RootMark rootMarkOf(const std::string& body) {
    if (body.size() != 2 || body[0] != '&') return RootMark::kNone;
    if (body[1] == 'R' || body[1] == 'r') return RootMark::kRooted;
    if (body[1] == 'U' || body[1] == 'u') return RootMark::kUnrooted;
    return RootMark::kNone;
}

// Skips blanks and comments before a tree and takes its weight comment and
// its root mark.
void skipBeforeTree(Cursor& cur, int64_t* weight, size_t* weightOffset, RootMark* mark) {
    for (;;) {
        const int c = peek(cur);
        if (isBlankChar(c)) {
            ++cur.pos;
            continue;
        }
        if (c != '[') return;
        const size_t open = cur.pos;
        const std::string body = readComment(cur);
        if (rootMarkOf(body) != RootMark::kNone) *mark = rootMarkOf(body);
        if (!isWeightComment(body)) continue;
        if (*weightOffset != kNoOffset)
            throwAt(cur.text, open,
                    "a second weight comment for the same tree; keep only one [&W n] before it");
        *weight = weightValue(cur, open, body);
        *weightOffset = open;
    }
}

// A label at the cursor, quoted ('' stands for a quote) or unquoted (an
// underscore stands for a blank).
std::string readLabel(Cursor& cur) {
    const size_t start = cur.pos;
    if (peek(cur) != '\'') {
        while (isLabelChar(peek(cur)))
            ++cur.pos;
        return matchName(cur.text.substr(start, cur.pos - start));
    }
    std::string label;
    for (++cur.pos;; ++cur.pos) {
        if (cur.pos >= cur.text.size())
            throwAt(cur.text, start,
                    "this quoted label is never closed; end it with ' (write '' for a quote "
                    "inside it)");
        const char c = cur.text[cur.pos];
        if (c != '\'') {
            label += c;
        } else if (cur.pos + 1 < cur.text.size() && cur.text[cur.pos + 1] == '\'') {
            label += '\'';
            ++cur.pos;
        } else {
            ++cur.pos;
            return label;
        }
    }
}

// The label after a ')': kept as the support of the branch above the node
// when it is a number (a leaf left alone in its group takes it too).
void readInnerLabel(Cursor& cur, NamedNode* node) {
    const size_t start = cur.pos;
    const bool quoted = peek(cur) == '\'';
    const std::string label = readLabel(cur);
    node->labelOffset = start;
    if (quoted) return;
    node->label = label;
    if (isNumber(label)) node->support = std::strtod(label.c_str(), nullptr);
}

// An optional ":length" after a node, kept as the length of the branch
// above it (hybrid weights read it).
void readBranchLength(Cursor& cur, NamedNode* node) {
    skipInTree(cur);
    if (peek(cur) != ':') return;
    const size_t colon = cur.pos++;
    skipInTree(cur);
    const size_t start = cur.pos;
    while (isLabelChar(peek(cur)))
        ++cur.pos;
    if (cur.pos == start)
        throwAt(cur.text, colon,
                "':' without a branch length; write a number after it or remove it");
    const std::string length = cur.text.substr(start, cur.pos - start);
    if (!isNumber(length))
        throwAt(cur.text, start,
                "branch length '" + length + "' is not a number; write it as 0.5, 1e-3 or 2");
    node->length = std::strtod(length.c_str(), nullptr);
}

int32_t addNode(NamedTree& tree, std::string name, std::vector<int32_t> children, size_t offset) {
    tree.nodes.push_back(NamedNode{std::move(name), std::move(children), offset});
    return static_cast<int32_t>(tree.nodes.size() - 1);
}

// Names that translate holds were checked where the table was read.
int32_t readLeaf(Cursor& cur, NamedTree& tree, std::unordered_map<std::string, size_t>& seen,
                 const Translation* translate, RepeatedNames repeats) {
    const size_t start = cur.pos;
    std::string name = readLabel(cur);
    if (name.empty())
        throwAt(cur.text, start, "empty leaf label ''; write the taxon name between the quotes");
    if (name.find_first_of("\t\r\n") != std::string::npos)
        throwAt(cur.text, start,
                "this taxon name holds a tab or a line break, which the name table cannot "
                "hold; remove it from the name");
    if (translate != nullptr) {
        const auto known = translate->find(name);
        if (known != translate->end()) name = known->second;
    }
    // In a gene family a name may stand for a species on several leaves.
    const auto [it, fresh] = repeats == RepeatedNames::kCopies ? std::make_pair(seen.end(), true)
                                                               : seen.emplace(name, start);
    if (!fresh)
        throwAt(cur.text, start,
                "taxon " + shownName(name) + " appears twice in this tree (first at " +
                    placeText(cur.text, it->second) + "); each taxon may appear once per tree" +
                    (repeats == RepeatedNames::kRefusedGeneTrees
                         ? "; --families reads gene families, where a species may have several "
                           "copies, and --map reads several individuals per species"
                         : ""));
    ++tree.leafCount;
    return addNode(tree, std::move(name), {}, start);
}

// The node a closed group stands for; a single member replaces its group.
int32_t closeGroup(const Cursor& cur, NamedTree& tree, OpenGroup& group, bool anyDegree) {
    if (group.members.size() == 1) return group.members[0];
    if (group.members.size() > 2 && !anyDegree)
        failWideNode(cur.text, group.offset, group.members.size());
    return addNode(tree, "", std::move(group.members), group.offset);
}

[[noreturn]] void failUnclosed(const Cursor& cur, const std::vector<OpenGroup>& open) {
    throwAt(cur.text, open.back().offset,
            "unbalanced parentheses: this '(' is never closed; add the missing ')' and end the "
            "tree with ';'");
}

[[noreturn]] void failSemicolonInGroup(const Cursor& cur, const std::vector<OpenGroup>& open) {
    throwAt(cur.text, cur.pos,
            "unbalanced parentheses: ';' inside the group opened at " +
                placeText(cur.text, open.back().offset) + "; add the missing ')'");
}

[[noreturn]] void failUnmatchedClose(const Cursor& cur) {
    throwAt(cur.text, cur.pos, "unbalanced parentheses: this ')' has no matching '('; remove it");
}

[[noreturn]] void failStrayBracket(const Cursor& cur) {
    throwAt(cur.text, cur.pos, "unbalanced brackets: this ']' has no matching '['; remove it");
}

// Where a member must start but none does.
[[noreturn]] void failMissingMember(const Cursor& cur, const std::vector<OpenGroup>& open) {
    const int c = peek(cur);
    if (c == ']') failStrayBracket(cur);
    if (open.empty()) {
        if (c == ')') failUnmatchedClose(cur);
        if (c == ';') throwAt(cur.text, cur.pos, "';' without a tree before it; remove it");
    } else {
        if (c == kEnd) failUnclosed(cur, open);
        if (c == ';') failSemicolonInGroup(cur, open);
    }
    if (c == ':')
        throwAt(cur.text, cur.pos,
                "empty leaf label: a branch length without a taxon name; write the name before "
                "':'");
    throwAt(cur.text, cur.pos,
            "empty leaf label: a member is missing here; write the taxon name or remove the "
            "extra ','");
}

// After a complete node, a character that neither separates nor closes.
[[noreturn]] void failAfterNode(const Cursor& cur, const std::vector<OpenGroup>& open,
                                size_t nodeEnd) {
    const int c = peek(cur);
    if (c == ']') failStrayBracket(cur);
    if (c == ':')
        throwAt(cur.text, cur.pos, "a second branch length for one node; remove one of them");
    if (open.empty())
        throwAt(cur.text, nodeEnd, "missing ';' at the end of the tree; end every tree with ';'");
    if (c == kEnd) failUnclosed(cur, open);
    throwAt(cur.text, cur.pos,
            "missing ',' before this member; separate members with ',' and quote names that "
            "hold blanks");
}

// Reads one tree from its first character through its ';'.
NamedTree readTree(Cursor& cur, int64_t weight, bool anyDegree, const Translation* translate,
                   RepeatedNames repeats) {
    NamedTree tree{{}, -1, weight, cur.pos, 0};
    std::vector<OpenGroup> open;
    std::unordered_map<std::string, size_t> seen;
    int32_t node = -1;   // a complete node waiting for ',', ')' or ';'
    size_t nodeEnd = 0;  // just past that node, where a missing ';' belongs
    for (;;) {
        skipInTree(cur);
        const int c = peek(cur);
        if (node < 0) {
            if (c == '(') {
                open.push_back(OpenGroup{cur.pos++, {}});
                continue;
            }
            if (!startsLabel(c)) failMissingMember(cur, open);
            node = readLeaf(cur, tree, seen, translate, repeats);
            readBranchLength(cur, &tree.nodes[static_cast<size_t>(node)]);
            nodeEnd = cur.pos;
        } else if (c == ',' && !open.empty()) {
            open.back().members.push_back(node);
            node = -1;
            ++cur.pos;
        } else if (c == ')') {
            if (open.empty()) failUnmatchedClose(cur);
            open.back().members.push_back(node);
            node = closeGroup(cur, tree, open.back(), anyDegree);
            open.pop_back();
            ++cur.pos;
            skipInTree(cur);
            if (startsLabel(peek(cur))) readInnerLabel(cur, &tree.nodes[static_cast<size_t>(node)]);
            readBranchLength(cur, &tree.nodes[static_cast<size_t>(node)]);
            nodeEnd = cur.pos;
        } else if (c == ';') {
            if (!open.empty()) failSemicolonInGroup(cur, open);
            ++cur.pos;
            tree.root = node;
            return tree;
        } else if (c == ',') {
            throwAt(cur.text, cur.pos,
                    "',' outside parentheses; put the members of the tree in one pair of "
                    "parentheses");
        } else {
            failAfterNode(cur, open, nodeEnd);
        }
    }
}

}  // namespace

// Any decimal form: sign, digits with an optional point, optional exponent.
bool isNumber(const std::string& s) {
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t digits = 0;
    for (; i < s.size() && isDigitChar(s[i]); ++i)
        ++digits;
    if (i < s.size() && s[i] == '.')
        for (++i; i < s.size() && isDigitChar(s[i]); ++i)
            ++digits;
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        size_t exponent = 0;
        for (; i < s.size() && isDigitChar(s[i]); ++i)
            ++exponent;
        if (exponent == 0) return false;
    }
    return i == s.size();
}

void failWideNode(const std::string& text, size_t offset, size_t children) {
    throwAt(text, offset,
            "this node has " + std::to_string(children) +
                " children, but tressil needs rooted binary trees; resolve it into nodes of two "
                "children, root unrooted trees with --outgroup, or use 'tressil-newick infer', "
                "which reads nodes of any number of children");
}

bool isBlankChar(int c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string placeText(const std::string& text, size_t offset) {
    int line = 0;
    int column = 0;
    locateOffset(text, offset, &line, &column);
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

size_t skipBlanksAndComments(const std::string& text, size_t pos) {
    while (pos < text.size()) {
        if (text[pos] == '[') {
            const size_t close = text.find(']', pos + 1);
            if (close == std::string::npos) return pos;
            pos = close + 1;
        } else if (isBlankChar(static_cast<unsigned char>(text[pos]))) {
            ++pos;
        } else {
            break;
        }
    }
    return pos;
}

size_t skipByteOrderMark(const std::string& text, size_t pos) {
    if (pos == 0 && text.compare(0, sizeof kByteOrderMark - 1, kByteOrderMark) == 0)
        return sizeof kByteOrderMark - 1;
    return pos;
}

bool readNextTree(const std::string& text, size_t* pos, NamedTree* tree, bool anyDegree) {
    *pos = skipByteOrderMark(text, *pos);
    return readTreeAt(text, pos, tree, anyDegree, nullptr);
}

bool readTreeAt(const std::string& text, size_t* pos, NamedTree* tree, bool anyDegree,
                const Translation* translate, RepeatedNames repeats) {
    Cursor cur{text, *pos};
    int64_t weight = 1;
    size_t weightOffset = kNoOffset;
    RootMark mark = RootMark::kNone;
    skipBeforeTree(cur, &weight, &weightOffset, &mark);
    if (peek(cur) == kEnd) {
        if (weightOffset != kNoOffset)
            throwAt(text, weightOffset,
                    "a weight comment with no tree after it; remove it or add the tree");
        *pos = cur.pos;
        return false;
    }
    *tree = readTree(cur, weight, anyDegree, translate, repeats);
    tree->mark = mark;
    *pos = cur.pos;
    return true;
}

std::vector<NamedTree> parseNewick(const std::string& text) {
    std::vector<NamedTree> trees;
    size_t pos = 0;
    NamedTree tree{};
    while (readNextTree(text, &pos, &tree))
        trees.push_back(std::move(tree));
    return trees;
}
