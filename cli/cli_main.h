// The whole ouzel-convert program, apart from the process entry.
#pragma once

#include <string>
#include <vector>

// Runs the program with the arguments after its name; returns the exit status.
int run_cli(const std::vector<std::string>& args);
