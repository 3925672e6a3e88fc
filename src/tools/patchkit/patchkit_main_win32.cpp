// Entry point of patchkit.exe: wide arguments, turned into UTF-8.
#include <cstdio>

#include "net/socket_port.h"
#include "platform/win32/wide.h"
#include "tools/patchkit/patchkit_cli.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(FromWide(argv[i]));
    // The update verb downloads: without Winsock started every socket fails.
    const bool networking = socket_port::StartNetworking();
    const int rc = RunPatchkit(args, stdout, stderr);
    if (networking) socket_port::StopNetworking();
    return rc;
}
