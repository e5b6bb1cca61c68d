// Reading tree files: Newick text into NamedTree records.
#pragma once

#include <string>
#include <vector>

#include "named/common/named.h"

// Reads the next tree of a Newick text from *pos on into *tree and moves *pos
// past it; returns false when only blanks and comments are left. Throws
// NewickError on malformed text, and on a node of more than two children
// unless anyDegree is set.
bool readNextTree(const std::string& text, size_t* pos, NamedTree* tree, bool anyDegree = false);

// Throws the error for a node of more than two children where tressil needs
// two.
[[noreturn]] void failWideNode(const std::string& text, size_t offset, size_t children);

// Every tree of a Newick text; an empty result means the text holds no tree.
std::vector<NamedTree> parseNewick(const std::string& text);
