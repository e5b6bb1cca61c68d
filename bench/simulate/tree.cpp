#include "simulate/tree.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <utility>

#include "simulate/random.h"

void failSimulation(const std::string& message) {
    throw std::runtime_error(message);
}

int addNode(SimTree* tree, const std::string& name, double length) {
    tree->nodes.push_back(SimNode{name, {}, -1, length});
    return static_cast<int>(tree->nodes.size() - 1);
}

void attachChild(SimTree* tree, int parent, int child) {
    tree->nodes[static_cast<size_t>(parent)].children.push_back(child);
    tree->nodes[static_cast<size_t>(child)].parent = parent;
}

std::vector<int> postorder(const SimTree& tree) {
    // Reversed preorder with children pushed in their order lists every
    // child before its parent without recursion, so deep trees are safe.
    std::vector<int> order;
    std::vector<int> stack{tree.root};
    while (!stack.empty()) {
        const int node = stack.back();
        stack.pop_back();
        order.push_back(node);
        for (const int child : tree.nodes[static_cast<size_t>(node)].children)
            stack.push_back(child);
    }
    return std::vector<int>(order.rbegin(), order.rend());
}

std::vector<int> leavesOf(const SimTree& tree) {
    std::vector<int> leaves;
    std::vector<int> stack{tree.root};
    while (!stack.empty()) {
        const int node = stack.back();
        stack.pop_back();
        const std::vector<int>& children = tree.nodes[static_cast<size_t>(node)].children;
        if (children.empty()) leaves.push_back(node);
        for (size_t i = children.size(); i > 0; --i)
            stack.push_back(children[i - 1]);
    }
    return leaves;
}

// ---- reading ----

static bool isDelimiter(char c) {
    return c == '(' || c == ')' || c == ',' || c == ':' || c == ';' || c == '[' || c == ']' ||
           c == '\'' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

[[noreturn]] static void failAt(size_t pos, const std::string& message) {
    failSimulation("Newick, at byte " + std::to_string(pos + 1) + ": " + message);
}

// Skips blanks and [comments].
static void skipBlanks(const std::string& text, size_t* pos) {
    while (*pos < text.size()) {
        const char c = text[*pos];
        if (c == '[') {
            const size_t end = text.find(']', *pos);
            if (end == std::string::npos) failAt(*pos, "comment without ']'");
            *pos = end + 1;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++*pos;
        } else {
            return;
        }
    }
}

// A label, quoted or not; empty when none stands here.
static std::string readLabel(const std::string& text, size_t* pos) {
    skipBlanks(text, pos);
    std::string label;
    if (*pos < text.size() && text[*pos] == '\'') {
        const size_t start = *pos;
        for (++*pos;; ++*pos) {
            if (*pos >= text.size()) failAt(start, "quoted name without its closing quote");
            if (text[*pos] != '\'') {
                label += text[*pos];
            } else if (*pos + 1 < text.size() && text[*pos + 1] == '\'') {
                label += '\'';
                ++*pos;
            } else {
                ++*pos;
                return label;
            }
        }
    }
    while (*pos < text.size() && !isDelimiter(text[*pos]))
        label += text[(*pos)++];
    return label;
}

// An optional ":length" after a node; NaN stands for a missing one until
// the whole tree is read, when only the root may lack it.
static void readLength(const std::string& text, size_t* pos, SimNode* node) {
    skipBlanks(text, pos);
    if (*pos >= text.size() || text[*pos] != ':') {
        node->length = std::nan("");
        return;
    }
    ++*pos;
    skipBlanks(text, pos);
    const char* start = text.c_str() + *pos;
    char* end = nullptr;
    node->length = std::strtod(start, &end);
    if (end == start) failAt(*pos, "a branch length must follow ':'");
    *pos += static_cast<size_t>(end - start);
}

// One tree from *pos to its ';'.
static SimTree readTree(const std::string& text, size_t* pos) {
    SimTree tree{{}, -1};
    std::vector<int> open;  // inner nodes whose ')' is still to come
    bool expectMember = true;
    for (;;) {
        skipBlanks(text, pos);
        if (*pos >= text.size()) failAt(*pos, "tree without ';'");
        const char c = text[*pos];
        if (c == ';' || c == ',' || c == ')') {
            if (expectMember) failAt(*pos, "a name or '(' must come here");
            if (c == ';') {
                if (!open.empty()) failAt(*pos, "'(' without its ')'");
                ++*pos;
                return tree;
            }
            if (open.empty()) failAt(*pos, std::string("'") + c + "' outside any '('");
            ++*pos;
            if (c == ',') {
                expectMember = true;
                continue;
            }
            const int node = open.back();
            open.pop_back();
            readLabel(text, pos);  // a support value or node name, not kept
            readLength(text, pos, &tree.nodes[static_cast<size_t>(node)]);
            continue;
        }
        if (!expectMember) failAt(*pos, "',' or ')' must come here");
        expectMember = false;
        int node;
        if (c == '(') {
            ++*pos;
            node = addNode(&tree, "", 0.0);
            expectMember = true;
        } else {
            const size_t start = *pos;
            const std::string name = readLabel(text, pos);
            if (name.empty()) failAt(start, "unexpected '" + std::string(1, c) + "'");
            node = addNode(&tree, name, 0.0);
            readLength(text, pos, &tree.nodes[static_cast<size_t>(node)]);
        }
        if (!open.empty()) {
            attachChild(&tree, open.back(), node);
        } else if (tree.root < 0) {
            tree.root = node;
        } else {
            failAt(*pos, "a second tree before ';'");
        }
        if (c == '(') open.push_back(node);
    }
}

std::vector<SimTree> parseTrees(const std::string& text, bool* lengthsMissing) {
    std::vector<SimTree> trees;
    bool missing = false;
    size_t pos = 0;
    for (skipBlanks(text, &pos); pos < text.size(); skipBlanks(text, &pos)) {
        SimTree tree = readTree(text, &pos);
        // The root's length is no branch of the tree, given or not.
        tree.nodes[static_cast<size_t>(tree.root)].length = 0.0;
        for (SimNode& node : tree.nodes)
            if (std::isnan(node.length)) {
                node.length = 0.0;
                missing = true;
            }
        trees.push_back(std::move(tree));
    }
    if (lengthsMissing != nullptr) *lengthsMissing = missing;
    return trees;
}

// ---- writing ----

static std::string quoted(const std::string& name) {
    bool plain = !name.empty();
    for (const char c : name)
        if (isDelimiter(c)) plain = false;
    if (plain) return name;
    std::string text = "'";
    for (const char c : name)
        text += c == '\'' ? std::string("''") : std::string(1, c);
    return text + "'";
}

static void writeNode(const SimTree& tree, int index, std::string* text) {
    const SimNode& node = tree.nodes[static_cast<size_t>(index)];
    if (node.children.empty()) {
        *text += quoted(node.name);
    } else {
        *text += '(';
        for (size_t i = 0; i < node.children.size(); ++i) {
            if (i > 0) *text += ',';
            writeNode(tree, node.children[i], text);
        }
        *text += ')';
    }
    if (index == tree.root) return;
    char length[32];
    std::snprintf(length, sizeof length, ":%.9g", node.length);
    *text += length;
}

std::string writeNewick(const SimTree& tree) {
    std::string text;
    writeNode(tree, tree.root, &text);
    return text + ";\n";
}

// ---- edits ----

void scaleLengths(SimTree* tree, double factor) {
    for (SimNode& node : tree->nodes)
        node.length *= factor;
}

SimTree restrictTree(const SimTree& tree, const std::vector<bool>& keep) {
    SimTree result{{}, -1};
    // mapped[old] is the new node that stands for the old one's subtree, or
    // -1 when nothing of it is kept.
    std::vector<int> mapped(tree.nodes.size(), -1);
    for (const int old : postorder(tree)) {
        const SimNode& node = tree.nodes[static_cast<size_t>(old)];
        if (node.children.empty()) {
            if (keep[static_cast<size_t>(old)])
                mapped[static_cast<size_t>(old)] = addNode(&result, node.name, node.length);
            continue;
        }
        std::vector<int> kept;
        for (const int child : node.children)
            if (mapped[static_cast<size_t>(child)] >= 0)
                kept.push_back(mapped[static_cast<size_t>(child)]);
        if (kept.size() == 1) {
            result.nodes[static_cast<size_t>(kept[0])].length += node.length;
            mapped[static_cast<size_t>(old)] = kept[0];
        } else if (kept.size() > 1) {
            const int copy = addNode(&result, "", node.length);
            for (const int child : kept)
                attachChild(&result, copy, child);
            mapped[static_cast<size_t>(old)] = copy;
        }
    }
    result.root = mapped[static_cast<size_t>(tree.root)];
    if (result.root < 0) failSimulation("a restricted tree must keep a leaf");
    result.nodes[static_cast<size_t>(result.root)].length = 0.0;
    return result;
}

void unrootTree(SimTree* tree, std::mt19937_64& rng) {
    SimNode& root = tree->nodes[static_cast<size_t>(tree->root)];
    if (root.children.size() != 2) return;
    std::vector<size_t> inner;
    for (size_t i = 0; i < 2; ++i)
        if (!tree->nodes[static_cast<size_t>(root.children[i])].children.empty())
            inner.push_back(i);
    if (inner.empty()) return;
    const size_t slot = inner[inner.size() == 1 ? 0 : drawBelow(rng, 2)];
    const int dissolved = root.children[slot];
    const int other = root.children[1 - slot];
    tree->nodes[static_cast<size_t>(other)].length +=
        tree->nodes[static_cast<size_t>(dissolved)].length;
    std::vector<int> children{other};
    for (const int child : tree->nodes[static_cast<size_t>(dissolved)].children)
        children.push_back(child);
    tree->nodes[static_cast<size_t>(dissolved)].children.clear();
    root.children.clear();
    for (const int child : children)
        attachChild(tree, tree->root, child);
    // Copying drops the dissolved node, so no unreachable node is left.
    *tree = restrictTree(*tree, std::vector<bool>(tree->nodes.size(), true));
}

void shuffleChildren(SimTree* tree, std::mt19937_64& rng) {
    for (SimNode& node : tree->nodes)
        for (size_t i = node.children.size(); i > 1; --i)
            std::swap(node.children[i - 1], node.children[drawBelow(rng, i)]);
}
