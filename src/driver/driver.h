// The run order of tressil: command line, input, dump, method, output.
#pragma once

// Runs the whole program and returns the process exit status. Fatal
// conditions end the process through fatalExit.
int runTressil(int argc, char** argv);
