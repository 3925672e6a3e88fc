// Entry point of patchkit on Linux: arguments are UTF-8 already.
#include <cstdio>

#include "tools/patchkit/patchkit_cli.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunPatchkit(args, stdout, stderr);
}
