// The species tree as a picture.
#pragma once

#include <string>
#include <vector>

#include "named/common/named.h"

// The tree as a rectangular cladogram in SVG 1.1: names at the tips, labels
// at the inner nodes, and the legend in one line below. Where the inner
// branches carry lengths, they are drawn to scale (the tips aligned), with
// a scale bar.
std::string drawTreeSvg(const ResultTree& tree, const std::vector<std::string>& names,
                        const std::string& legend = "");
