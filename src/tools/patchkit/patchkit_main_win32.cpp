// Entry point of patchkit.exe: wide arguments, turned into UTF-8.
#include <cstdio>

#include "platform/win32/wide.h"
#include "tools/patchkit/patchkit_cli.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(FromWide(argv[i]));
    return RunPatchkit(args, stdout, stderr);
}
