// The command line of patchkit, the operator's tool for the launcher's data
// files and packages.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Runs one command (the arguments after the program name); returns the exit code.
int RunPatchkit(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
