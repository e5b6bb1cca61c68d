// The input reader: characters -> tokens -> actions on a node stack.
#include <cctype>
#include <cstdint>

#include "io/io.h"
#include "triples/triples.h"

enum class Token {
    kOpen,        // '('
    kClose,       // ')'
    kSeparator,   // ','
    kEndTree,     // ';'
    kEndList,     // '.'
    kLeaf,        // a species number
    kEndOfInput,  // the input ended inside a weight or right after a leaf
};

// Numbers are read saturating here, far above every limit they are tested
// against, so digit strings of any length never overflow.
constexpr uint64_t kSaturated = uint64_t{1} << 40;

// Node stack: an entry is a node or the open marker (null). Entries below
// s_firstPending hold trees already turned into triples and freed.
static TreeNode* s_stack[kNodeStackSize];
static int s_stackCount = 0;
static int s_firstPending = 0;
static int32_t s_currentWeight = 1;  // what the next ';' gives a tree
static int32_t s_leafValue = 0;      // species number of the last kLeaf token

static int readChar() {
    return getc_unlocked(g_inFile);
}
static void unreadChar(int c) {
    std::ungetc(c, g_inFile);
}
static bool isDigit(int c) {
    return c >= '0' && c <= '9';
}

static uint64_t appendDigit(uint64_t value, int c) {
    value = value * 10 + static_cast<uint64_t>(c - '0');
    return value > kSaturated ? kSaturated : value;
}

// Frees every tree still on the stack; the stack ends empty.
static void releaseStack() {
    for (int i = s_firstPending; i < s_stackCount; ++i)
        freeTree(s_stack[i]);
    s_stackCount = 0;
    s_firstPending = 0;
}

[[noreturn]] static void failInput(const char* message) {
    releaseStack();
    fatalExit(kExitInput, message);
}

// A header count as "%u" reads it: leading white space skipped, a count that
// cannot be read stays 0, a '+' is an ordinary sign. A '-' (which "%u" would
// turn into a huge number) or a value past 32 bits makes it larger than any
// limit.
static uint32_t readCount() {
    int c = readChar();
    while (c != EOF && std::isspace(c))
        c = readChar();
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = readChar();
    }
    if (!isDigit(c)) {
        if (c != EOF) unreadChar(c);
        return 0;
    }
    uint64_t value = 0;
    for (; isDigit(c); c = readChar())
        value = appendDigit(value, c);
    if (c != EOF) unreadChar(c);
    if (negative || value > UINT32_MAX) return UINT32_MAX;
    return static_cast<uint32_t>(value);
}

static Token classify(int c);

// After ':' come digits (none is 0); the value, at least 1, becomes the
// current weight. Everything up to the next ',', ')', ';' or '.' is skipped
// and that character is the next token.
static Token readWeight() {
    uint64_t value = 0;
    int c = readChar();
    for (; isDigit(c); c = readChar())
        value = appendDigit(value, c);
    if (value > INT32_MAX) failInput("bad input format\n");
    s_currentWeight = value < 1 ? 1 : static_cast<int32_t>(value);
    while (c != EOF && c != ',' && c != ')' && c != ';' && c != '.')
        c = readChar();
    if (c == EOF) return Token::kEndOfInput;
    return classify(c);
}

// The longest run of digits is the species number; the character after it is
// consumed too, except a ')', which is the next token.
static Token readLeaf(int first) {
    uint64_t value = 0;
    int c = first;
    for (; isDigit(c); c = readChar())
        value = appendDigit(value, c);
    if (c == ')') unreadChar(c);
    if (value >= static_cast<uint64_t>(g_speciesCount)) failInput("bad input format\n");
    s_leafValue = static_cast<int32_t>(value);
    return c == EOF ? Token::kEndOfInput : Token::kLeaf;
}

static Token classify(int c) {
    switch (c) {
        case '(':
            return Token::kOpen;
        case ')':
            return Token::kClose;
        case ',':
            return Token::kSeparator;
        case ';':
            return Token::kEndTree;
        case '.':
            return Token::kEndList;
        case ':':
            return readWeight();
        default:
            break;
    }
    if (isDigit(c)) return readLeaf(c);
    failInput("bad input format\n");  // tabs, letters, signs, end of input
}

static Token readToken() {
    int c = readChar();
    while (c == ' ' || c == '\r' || c == '\n')
        c = readChar();
    return classify(c);
}

static void push(TreeNode* entry) {
    if (s_stackCount == kNodeStackSize) {
        freeTree(entry);
        failInput("bad input format\n");
    }
    s_stack[s_stackCount++] = entry;
}

// A tree whose entries below are all finished trees can never become a child
// again, and once another entry lies on it no ';' can reach it: its triples
// are added and it is freed at once, which keeps memory small. A tree that
// got no weight from a ';' waits for the end, where it takes the weight then
// current.
static void finishSettledTrees() {
    while (s_firstPending < s_stackCount - 1) {
        TreeNode* tree = s_stack[s_firstPending];
        if (tree == nullptr || tree->weight == 0) return;
        addTreeTriples(tree, tree->weight);
        freeTree(tree);
        ++s_firstPending;
    }
}

static void closeGroup() {
    const int top = s_stackCount - 1;
    if (s_stackCount - s_firstPending < 3 || s_stack[top] == nullptr ||
        s_stack[top - 1] == nullptr || s_stack[top - 2] != nullptr)
        failInput("bad input format\n");
    TreeNode* node = allocateNode();
    node->label = takeNextLabel();
    node->left = s_stack[top - 1];
    node->right = s_stack[top];
    node->left->parent = node;
    node->right->parent = node;
    s_stackCount -= 3;
    push(node);
}

static void endTree() {
    if (s_stackCount == s_firstPending || s_stack[s_stackCount - 1] == nullptr)
        failInput("bad input format\n");
    s_stack[s_stackCount - 1]->weight = s_currentWeight;
    s_currentWeight = 1;
}

static void applyToken(Token token) {
    switch (token) {
        case Token::kOpen:
            push(nullptr);
            break;
        case Token::kLeaf: {
            TreeNode* leaf = allocateNode();
            leaf->label = static_cast<int16_t>(s_leafValue);
            push(leaf);
            break;
        }
        case Token::kClose:
            closeGroup();
            break;
        case Token::kEndTree:
            endTree();
            break;
        case Token::kSeparator:
        case Token::kEndList:
        case Token::kEndOfInput:
            break;
    }
    finishSettledTrees();
}

static void readHeader() {
    const uint32_t species = readCount();
    const uint32_t trees = readCount();
    if (species > kMaxSpecies) fatalExit(kExitInput, "too many species\n");
    if (trees > kMaxTrees) fatalExit(kExitInput, "too many triples\n");
    g_speciesCount = static_cast<int32_t>(species);
    g_treeCount = static_cast<int32_t>(trees);
}

static void readTrees() {
    int c = readChar();
    while (c != EOF && c != '(')
        c = readChar();
    if (c == EOF) failInput("bad input format\n");
    for (Token token = Token::kOpen; token != Token::kEndList && token != Token::kEndOfInput;
         token = readToken())
        applyToken(token);
}

// Every remaining entry must be a tree; each takes its own weight, or the
// weight current at the end when no ';' followed it.
static void addRemainingTrees() {
    if (s_stackCount != g_treeCount) failInput("# of triples not match\n");
    for (int i = s_firstPending; i < s_stackCount; ++i)
        if (s_stack[i] == nullptr) failInput("bad input format\n");
    for (int i = s_stackCount - 1; i >= s_firstPending; --i) {
        TreeNode* tree = s_stack[i];
        addTreeTriples(tree, tree->weight != 0 ? tree->weight : s_currentWeight);
    }
    releaseStack();
}

void readInput() {
    s_stackCount = 0;
    s_firstPending = 0;
    s_currentWeight = 1;
    readHeader();
    clearTripleWeights();
    readTrees();
    addRemainingTrees();
    if (tripleWeightTooLarge()) fatalExit(kExitInput, "triple weight too large\n");
    completeTripleWeights();
}
