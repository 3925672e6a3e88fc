// The verify verb: an installation against its own version.data, every
// listed file, for the operator (the launcher itself only logs mismatches).
#include <cstdio>
#include <string>

#include "app/util/launcher_util.h"
#include "maintenance/verify_version.h"
#include "package/patch_kit.h"
#include "platform/file_system.h"
#include "tools/patchkit/patchkit_verbs.h"

int VerbVerify(const VerbCall& call) {
    const std::string& dir = call.operands[0];
    if (!fs_port::IsDirectory(dir)) return call.Fail(dir + " is not a folder");
    std::string content;
    bool opened = false;
    if (!ReadVersionFile(dir, call.key, &content, &opened)) {
        return call.Fail(opened ? dir + "\\version.data cannot be deciphered or is empty"
                                : "cannot open " + dir + "\\version.data");
    }
    ParsedVersionFile parsed;
    if (ParseVersionContent(content, &parsed) != VersionContentState::Usable) {
        return call.Fail(dir + "\\version.data lists no files");
    }
    // The launcher's cache, as the launcher uses it; --full reads every file
    // all the same and writes the cache anew.
    VerifyOptions options;
    options.useCache = true;
    options.ignoreCachedDigests = call.flags.count("--full") != 0;
    CPatchKit kit;
    size_t bad = 0;
    const ListedFilesCheck check = CheckListedFiles(
        dir, parsed.allPairs, parsed.allPairs, kit, options, [&](size_t index, const char* digest) {
            const FileDigestPair& pair = parsed.allPairs[index];
            if (digest && pair.digest == digest) return;
            std::fprintf(call.out, "%s\t%s\n", digest ? "mismatch" : "missing", pair.name.c_str());
            ++bad;
        });
    std::fprintf(call.out, "version %s (%d): %llu files checked, %llu differ\n",
                 VersionNumberToText(parsed.installedVersion).c_str(),
                 static_cast<int>(parsed.installedVersion),
                 static_cast<unsigned long long>(parsed.allPairs.size()),
                 static_cast<unsigned long long>(bad));
    if (check.cachedFiles > 0) {
        std::fprintf(call.out, "%llu files unchanged since the last check were not read "
                               "(verify.cache); --full reads every file\n",
                     static_cast<unsigned long long>(check.cachedFiles));
    }
    if (bad > 0) return call.Fail(std::to_string(bad) + " files differ from version.data");
    // With an odd number of entries after the version the launcher checks
    // only the first file; a release must not ship such a list.
    if (!parsed.evenEntryCount) {
        return call.Fail("version.data ends with a line feed or an unpaired name: the launcher "
                         "would check only its first file");
    }
    return kExitOk;
}
