// Prints the MD5 digest of a file, as the launcher computes it when it
// verifies the installed game. Measured against md5sum by run_bench.py.
#include <cstdio>
#include <string>

#include "package/patch_kit.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: digest_bench FILE\n");
        return 2;
    }
    std::string digest;
    if (!ComputeFileMd5(argv[1], &digest)) {
        std::fprintf(stderr, "digest_bench: cannot read %s\n", argv[1]);
        return 1;
    }
    std::printf("%s  %s\n", digest.c_str(), argv[1]);
    return 0;
}
