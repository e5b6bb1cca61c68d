// Progress of a long run, on one line of standard error that updates in
// place. Only runs that ask for it show it (infer does, when standard error
// is a terminal); tressil never does, so its output stays what it is.
#pragma once

#include <cstdint>

// The stages a run reports, in the order they come.
enum class ProgressStage {
    kNone,
    kReadTrees,   // done: trees read (no total)
    kFill,        // done of total units of work of adding the gene trees
    kExact,       // done of total subset sizes solved
    kCandidates,  // done of total candidate trees built
    kStarts,      // done of total trees grown by insertion
    kClimbs,      // done of total starting trees climbed
    kProgramme,   // round done of at most total
    kBound,       // done of total first species of the bound's sets
};

// What the stages run for, named before them: the whole run, one bootstrap
// replicate of several, or a round of rooting gene trees by the species tree
// (round 0: the species tree of the trees rooted on the outgroup).
enum class ProgressPart { kWhole, kReplicate, kRootingRound };

// Starts showing progress when standard error is a terminal: once the run
// has gone on for about two seconds, a line names the stage and how far it
// has got. An interrupt (Ctrl-C) clears the line before it ends the
// process. Does nothing otherwise.
void startProgress();

// Clears the line, if one was shown, and stops showing progress.
void stopProgress();

// Notes which part of the run the stages that follow belong to: the at-th
// of total.
void reportProgressPart(ProgressPart part, int64_t at, int64_t total);

// Notes how far the run has got; cheap enough for any loop, and safe from
// any thread. Nothing is shown unless startProgress ran.
void reportProgress(ProgressStage stage, int64_t done, int64_t total);

// Shows progress from construction to destruction.
struct ProgressLine {
    ProgressLine() { startProgress(); }
    ~ProgressLine() { stopProgress(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
};
