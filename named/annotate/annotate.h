// Annotating a species tree: support values from the triple table.
#pragma once

#include <string>

#include "named/common/named.h"

// Labels every inner node but the root with the share of the completed
// triple table that agrees with it, with two decimals; no label where no
// triple bears on the node.
void labelSupport(ResultTree* tree);

// The same from tressil's input file at inputPath. Throws NewickError (line
// 0) on a bad input file or one that does not match the tree.
void labelSupportFromInput(ResultTree* tree, const std::string& inputPath);
