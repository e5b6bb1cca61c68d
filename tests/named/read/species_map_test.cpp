// The map of individuals to species: both forms users hold give the same
// map, and its faults are named at their place.
#include <gtest/gtest.h>

#include <string>

#include "named/read/read.h"
#include "named/road/road.h"

namespace {

TEST(SpeciesMap, BothFormsGiveTheSameMap) {
    const SpeciesMap lines = parseSpeciesMap(
        "# species first\nHomo_sapiens: Hs_1, Hs_2\nPan:Pt_1\r\n\nGorilla:G1,G2,G3\n");
    const SpeciesMap columns = parseSpeciesMap(
        "Hs_1 Homo_sapiens\nHs_2\tHomo_sapiens\nPt_1  Pan\n"
        "G1 Gorilla\nG2 Gorilla\nG3 Gorilla\n");
    EXPECT_EQ(lines.speciesOf, columns.speciesOf);
    EXPECT_EQ(lines.species, columns.species);
    EXPECT_EQ(lines.speciesOf.at("Hs 1"), "Homo sapiens");  // underscores read as blanks
    EXPECT_EQ(lines.species.size(), 3u);
}

TEST(SpeciesMap, FaultsAreNamedAtTheirPlace) {
    const std::pair<const char*, const char*> cases[] = {
        {"A:a1,a2\nB:\n", "2:1: species 'B' has no individuals"},
        {"A:a1\nB:a1\n", "2:3: individual 'a1' is mapped to two species"},
        {"a1 A\na2 A B\n", "2:1: expected two columns"},
        {"A:a1,,a2\n", "1:6: an empty individual name"},
        {"# nothing\n", "0:0: the map names no individual"},
    };
    for (const auto& [text, expected] : cases) {
        try {
            parseSpeciesMap(text);
            ADD_FAILURE() << text;
        } catch (const NewickError& error) {
            const std::string place =
                std::to_string(error.line) + ":" + std::to_string(error.column) + ": ";
            EXPECT_EQ((place + error.message).compare(0, std::string(expected).size(), expected), 0)
                << place << error.message;
        }
    }
}

TEST(SpeciesMap, AnIndividualOutsideItIsNamedInTheGeneTrees) {
    InferOptions options;
    options.rooted = true;
    options.speciesOf = parseSpeciesMap("Ab:a1,a2\nB:b1\nC:c1\nD:d1\n").speciesOf;
    try {
        inferSpeciesTree("((a1,a2),(b1,(c1,d1)));\n((a1,b1),(a3,(c1,d1)));\n", options);
        ADD_FAILURE() << "a3 is in no species";
    } catch (const NewickError& error) {
        EXPECT_EQ(error.line, 2);
        EXPECT_EQ(error.column, 11);
        EXPECT_EQ(error.message.rfind("individual 'a3' is not in the map; did you mean 'a1'", 0),
                  0u)
            << error.message;
    }
}

}  // namespace
