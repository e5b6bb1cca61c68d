// The limits of tressil, in a header of their own so that programs that
// prepare its input can check them without the rest of the core.
#pragma once

constexpr int kMaxSpecies = 128;      // species 0..n-1, n at most this
constexpr int kMaxTrees = 5000;       // input trees named in the header
constexpr int kPoolSize = 256;        // node records shared by the heuristics
constexpr int kMaxExactSpecies = 20;  // the exact method runs up to here
constexpr int kMaxSubsets = 1 << kMaxExactSpecies;
constexpr int kNodeStackSize = 9999;    // entries of the reader's node stack
constexpr int kFirstInnerLabel = 5000;  // first label handed to an inner node
