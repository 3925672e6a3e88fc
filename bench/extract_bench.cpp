// Unpacks every member of a package into a folder, the way the update engine
// unpacks the members its update list names. Measured against unzip by
// run_bench.py.
#include <cstdio>
#include <string>

#include "package/bundle.h"
#include "platform/file_system.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: extract_bench PACKAGE FOLDER\n");
        return 2;
    }
    CBundle bundle;
    if (!bundle.Open(argv[1], kBundleTag)) {
        std::fprintf(stderr, "extract_bench: %s\n", bundle.LastError().c_str());
        return 1;
    }
    const std::string folder = argv[2];
    unsigned long long bytes = 0;
    size_t files = 0;
    for (const BundleMember& member : bundle.Members()) {
        const std::string dest = folder + "\\" + member.name;
        if (member.isDirectory) {
            fs_port::MakeDirectories(dest);
            continue;
        }
        if (!bundle.Extract(member.name.c_str(), dest.c_str())) {
            std::fprintf(stderr, "extract_bench: %s\n", bundle.LastError().c_str());
            return 1;
        }
        bytes += member.size;
        ++files;
    }
    std::printf("%zu files, %llu bytes\n", files, bytes);
    return 0;
}
