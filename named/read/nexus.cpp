// NEXUS tree files: blocks from BEGIN to END, of which only TREES blocks are
// read. A TRANSLATE table names the leaves of the trees after it in its
// block; each TREE command holds one Newick tree, which the Newick reader
// reads in place, so its errors point into the file itself.
#include <cctype>
#include <string>
#include <unordered_map>

#include "named/read/tree_text.h"

namespace {

constexpr char kNexusHeader[] = "#nexus";

// One word of a command: quoted ('' stands for a quote) or unquoted.
struct Word {
    std::string text;  // without the quotes
    size_t offset;
    bool quoted;
};

// The NEXUS punctuation that ends an unquoted word.
bool endsWord(int c) {
    switch (c) {
        case '(':
        case ')':
        case '[':
        case ']':
        case ',':
        case ';':
        case '=':
        case '*':
        case '\'':
            return true;
        default:
            return isBlankChar(c);
    }
}

// Past blanks and comments; a comment never closed is an error.
size_t skipSpace(const std::string& text, size_t pos) {
    pos = skipBlanksAndComments(text, pos);
    if (pos < text.size() && text[pos] == '[')
        throwAt(text, pos,
                "unbalanced brackets: this '[' is never closed; end the comment with ']'");
    return pos;
}

// The word at *pos, empty where punctuation or the end stands.
Word readWord(const std::string& text, size_t* pos) {
    Word word{"", *pos, false};
    if (*pos < text.size() && text[*pos] == '\'') {
        word.quoted = true;
        for (++*pos;; ++*pos) {
            if (*pos >= text.size())
                throwAt(text, word.offset,
                        "this quoted word is never closed; end it with ' (write '' for a quote "
                        "inside it)");
            if (text[*pos] != '\'') {
                word.text += text[*pos];
            } else if (*pos + 1 < text.size() && text[*pos + 1] == '\'') {
                word.text += '\'';
                ++*pos;
            } else {
                ++*pos;
                return word;
            }
        }
    }
    while (*pos < text.size() && !endsWord(static_cast<unsigned char>(text[*pos])))
        ++*pos;
    word.text = text.substr(word.offset, *pos - word.offset);
    return word;
}

// NEXUS keywords are case-insensitive.
bool isKeyword(const Word& word, const char* keyword) {
    if (word.quoted) return false;
    size_t i = 0;
    for (; i < word.text.size() && keyword[i] != '\0'; ++i)
        if (std::tolower(static_cast<unsigned char>(word.text[i])) != keyword[i]) return false;
    return i == word.text.size() && keyword[i] == '\0';
}

// The taxon name a word stands for, as for a Newick label.
std::string wordName(const Word& word) {
    return word.quoted ? word.text : matchName(word.text);
}

void expectSemicolon(const std::string& text, size_t* pos, const std::string& after) {
    *pos = skipSpace(text, *pos);
    if (*pos >= text.size() || text[*pos] != ';') throwAt(text, *pos, "missing ';' after " + after);
    ++*pos;
}

[[noreturn]] void failUnended(const std::string& text, const Word& command) {
    const std::string name = command.text.empty() ? "" : command.text + " ";
    throwAt(text, command.offset, "this " + name + "command is never ended; end it with ';'");
}

// Skips a command that is not read, through its ';'.
void skipCommand(const std::string& text, size_t* pos, const Word& command) {
    for (;;) {
        *pos = skipSpace(text, *pos);
        if (*pos >= text.size()) failUnended(text, command);
        if (text[*pos] == ';') {
            ++*pos;
            return;
        }
        if (text[*pos] == '\'')
            readWord(text, pos);
        else
            ++*pos;
    }
}

void openBlock(const std::string& text, size_t* pos, NexusPlace* place) {
    const Word begin = readWord(text, pos);
    if (!isKeyword(begin, "begin"))
        throwAt(text, begin.offset,
                "this stands outside any block; a NEXUS file holds blocks, each from 'BEGIN "
                "name;' to 'END;', and its trees stand in TREES blocks");
    *pos = skipSpace(text, *pos);
    const Word name = readWord(text, pos);
    if (name.text.empty())
        throwAt(text, name.offset, "BEGIN without a block name; write BEGIN TREES; for instance");
    expectSemicolon(text, pos, "BEGIN " + name.text);
    place->inBlock = true;
    place->inTrees = isKeyword(name, "trees");
    place->sawTrees = place->sawTrees || place->inTrees;
    place->blockStart = begin.offset;
    place->blockName = name.text;
    place->translate.clear();
}

// "TRANSLATE key name, key name, ...;" The table replaces any earlier one of
// the block.
void readTranslate(const std::string& text, size_t* pos, const Word& command,
                   Translation* translate) {
    translate->clear();
    std::unordered_map<std::string, size_t> keyAt;
    for (;;) {
        *pos = skipSpace(text, *pos);
        if (*pos >= text.size()) failUnended(text, command);
        if (text[*pos] == ';' && keyAt.empty()) {
            ++*pos;
            return;
        }
        const Word key = readWord(text, pos);
        if (key.text.empty())
            throwAt(text, key.offset,
                    "expected a translate key here; write each entry as KEY NAME, separated by "
                    "','");
        *pos = skipSpace(text, *pos);
        const Word name = readWord(text, pos);
        if (name.text.empty())
            throwAt(text, key.offset,
                    "translate key '" + key.text +
                        "' has no taxon name; write each entry as KEY NAME, separated by ','");
        if (name.text.find_first_of("\t\r\n") != std::string::npos)
            throwAt(text, name.offset,
                    "this taxon name holds a tab or a line break, which the name table cannot "
                    "hold; remove it from the name");
        const auto [it, fresh] = keyAt.emplace(wordName(key), key.offset);
        if (!fresh)
            throwAt(text, key.offset,
                    "translate key '" + key.text + "' is given twice (first at " +
                        placeText(text, it->second) + "); give each key once");
        (*translate)[it->first] = wordName(name);
        *pos = skipSpace(text, *pos);
        if (*pos >= text.size()) failUnended(text, command);
        if (text[*pos] == ';') {
            ++*pos;
            return;
        }
        if (text[*pos] != ',')
            throwAt(text, *pos,
                    "missing ',' after the entry of translate key '" + key.text +
                        "'; separate the entries with ','");
        ++*pos;
    }
}

// "TREE [*] name = [comments] (...);" The tree's name is not used.
void readTreeCommand(const std::string& text, size_t* pos, const Word& command,
                     const Translation& translate, NamedTree* tree, bool anyDegree,
                     RepeatedNames repeats) {
    *pos = skipSpace(text, *pos);
    if (*pos < text.size() && text[*pos] == '*') *pos = skipSpace(text, *pos + 1);
    readWord(text, pos);
    *pos = skipSpace(text, *pos);
    if (*pos >= text.size() || text[*pos] != '=')
        throwAt(text, *pos,
                "missing '=' between the tree's name and the tree; write TREE name = (...);");
    ++*pos;
    if (!readTreeAt(text, pos, tree, anyDegree, translate.empty() ? nullptr : &translate, repeats))
        throwAt(text, command.offset, "this TREE command holds no tree; write TREE name = (...);");
}

// At the end of the file: a file without a tree says why.
void finishNexus(const NexusPlace& place) {
    if (!place.sawTrees)
        failWhole(
            "this NEXUS file has no TREES block, so it holds no tree; tressil-newick reads the "
            "trees of TREES blocks");
    if (place.treesRead == 0)
        failWhole("the TREES block of this NEXUS file holds no TREE command, so there is no tree");
}

}  // namespace

size_t skipNexusHeader(const std::string& text, size_t pos) {
    const size_t length = sizeof kNexusHeader - 1;
    if (text.size() - pos < length) return pos;
    for (size_t i = 0; i < length; ++i)
        if (std::tolower(static_cast<unsigned char>(text[pos + i])) != kNexusHeader[i]) return pos;
    const size_t end = pos + length;
    return end == text.size() || !std::isalnum(static_cast<unsigned char>(text[end])) ? end : pos;
}

bool readNexusTree(TreeSource* source, NamedTree* tree, bool anyDegree) {
    const std::string& text = sourceText(*source);
    NexusPlace& place = source->nexus;
    size_t& pos = source->pos;
    for (;;) {
        pos = skipSpace(text, pos);
        if (!place.inBlock) {
            if (pos == text.size()) {
                finishNexus(place);
                return false;
            }
            // Files joined end to end bring their own headers.
            const size_t afterHeader = skipNexusHeader(text, pos);
            if (afterHeader != pos)
                pos = afterHeader;
            else
                openBlock(text, &pos, &place);
            continue;
        }
        if (pos == text.size())
            throwAt(text, place.blockStart,
                    "this BEGIN " + place.blockName + " block is never ended; close it with END;");
        const Word command = readWord(text, &pos);
        if (isKeyword(command, "end") || isKeyword(command, "endblock")) {
            expectSemicolon(text, &pos, command.text);
            place.inBlock = false;
        } else if (place.inTrees && isKeyword(command, "translate")) {
            readTranslate(text, &pos, command, &place.translate);
        } else if (place.inTrees && (isKeyword(command, "tree") || isKeyword(command, "utree"))) {
            readTreeCommand(text, &pos, command, place.translate, tree, anyDegree, source->repeats);
            ++place.treesRead;
            return true;
        } else {
            skipCommand(text, &pos, command);
        }
    }
}
