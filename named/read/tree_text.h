// What the files of the read room share; other rooms use read.h.
#pragma once

#include <string>
#include <unordered_map>

#include "named/read/read.h"

// A NEXUS TRANSLATE table: leaf label (as matched) -> taxon name.
using Translation = std::unordered_map<std::string, std::string>;

bool isBlankChar(int c);

// Any decimal form: sign, digits with an optional point, optional exponent.
bool isNumber(const std::string& s);

// "line L, column C" of an offset, for messages that name a second place.
std::string placeText(const std::string& text, size_t offset);

// The first offset from pos on that is neither a blank nor inside a
// [comment]; the offset of a '[' that is never closed stops it too.
size_t skipBlanksAndComments(const std::string& text, size_t pos);

// Reads one Newick tree as readNextTree does, from *pos on; a leaf whose
// label is a key of translate (when given) is named by its taxon name.
bool readTreeAt(const std::string& text, size_t* pos, NamedTree* tree, bool anyDegree,
                const Translation* translate, RepeatedNames repeats = RepeatedNames::kRefused);

// Past a UTF-8 byte order mark at the start of the text.
size_t skipByteOrderMark(const std::string& text, size_t pos);

// Past the "#NEXUS" (in any case) at pos, or pos when none stands there.
size_t skipNexusHeader(const std::string& text, size_t pos);

// Reads the next tree of a NEXUS source (nexus.cpp).
bool readNexusTree(TreeSource* source, NamedTree* tree, bool anyDegree);
