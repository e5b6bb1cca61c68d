// Trees without an outgroup taxon: rooted by the species tree unless
// --drop-unplaced leaves them out, which must give what leaving them out
// always gave (recorded in unplaced/drop_unplaced.expected).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/run_support.h"
#include "named/named_support.h"

namespace {

const std::string kDirectory = std::string(TRESSIL_SOURCE_DIR) + "/tests/e2e/unplaced/";

struct UnplacedRuns {
    std::string outputs;  // status, report, tree, log and replicates of every run
    std::string notes;    // standard error of every run
};

// infer with a log, infer with bootstrap replicates, and score, each with
// the flags given.
UnplacedRuns runWith(const std::vector<std::string>& flags) {
    const std::string dir = makeScratchDirectory();
    for (const char* name : {"genes.nwk", "species.nwk"})
        writeFile(dir + "/" + name, readFile(kDirectory + name));
    const auto run = [&](std::vector<std::string> args, const std::string& genes) {
        args.insert(args.begin() + 1, {"--outgroup", "O1,O2"});
        args.insert(args.begin() + 3, flags.begin(), flags.end());
        args.push_back(genes);
        return runIn(dir, TRESSIL_NEWICK_BINARY, args);
    };
    const auto file = [&](const char* name) { return readFile(dir + "/" + name); };
    UnplacedRuns runs;
    ToolRun r = run({"infer", "--log", "log.tsv", "genes.nwk"}, "tree.nwk");
    runs.outputs += "== infer --log\nstatus " + std::to_string(r.status) + "\n-- stdout\n" + r.out +
                    "-- tree\n" + file("tree.nwk") + "-- log\n" + file("log.tsv");
    runs.notes += r.err;
    r = run({"infer", "--bootstrap", "4", "--replicates", "reps.nwk", "genes.nwk"}, "tree.nwk");
    runs.outputs += "== infer --bootstrap\nstatus " + std::to_string(r.status) +
                    "\n-- replicates\n" + file("reps.nwk");
    runs.notes += r.err;
    r = run({"score", "--log", "log.tsv", "genes.nwk", "species.nwk"}, "tree.nwk");
    runs.outputs += "== score --log\nstatus " + std::to_string(r.status) + "\n-- stdout\n" + r.out +
                    "-- tree\n" + file("tree.nwk") + "-- log\n" + file("log.tsv");
    runs.notes += r.err;
    removeScratchDirectory(dir);
    return runs;
}

TEST(Unplaced, RootedByDefaultAsWithRootUnplacedAndDroppedAsBefore) {
    const UnplacedRuns byDefault = runWith({});
    const UnplacedRuns rooted = runWith({"--root-unplaced"});
    const UnplacedRuns dropped = runWith({"--drop-unplaced"});
    EXPECT_EQ(byDefault.outputs, rooted.outputs);
    EXPECT_EQ(byDefault.notes, rooted.notes);
    EXPECT_EQ(dropped.outputs, readFile(kDirectory + "drop_unplaced.expected"));
    // The file is chosen so that the two roads give different trees.
    EXPECT_NE(byDefault.outputs, dropped.outputs);
    EXPECT_EQ(byDefault.outputs.find("left out"), std::string::npos);
    EXPECT_NE(byDefault.notes.find("; rooted 15 without an outgroup taxon by the species tree\n"),
              std::string::npos)
        << byDefault.notes;
    EXPECT_NE(dropped.notes.find("; left out 15 without an outgroup taxon\n"), std::string::npos)
        << dropped.notes;
}

}  // namespace
