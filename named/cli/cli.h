// The command line of tressil-newick.
#pragma once

// The whole command line; returns the exit status.
int runNewickTool(int argc, char** argv);
