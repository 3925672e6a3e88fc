// Verifies a game folder against its version.data as the launcher does at
// start-up. Measured against md5sum over the same files by run_bench.py.
#include <cstdio>
#include <string>

#include "journal/journal.h"
#include "maintenance/verify_version.h"
#include "package/patch_kit.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: verify_bench GAME_DIR\n");
        return 2;
    }
    CPatchKit kit;
    CJournal journal;  // no file attached: the entries are not wanted here
    const VerifyReport report = VerifyGameVersion(argv[1], kit, journal);
    if (!report.verified) {
        std::fprintf(stderr, "verify_bench: %s/version.data gives nothing to verify\n", argv[1]);
        return 1;
    }
    std::printf("%llu files checked, %llu differ\n",
                static_cast<unsigned long long>(report.checkedFiles),
                static_cast<unsigned long long>(report.mismatches.size()));
    return report.mismatches.empty() ? 0 : 1;
}
