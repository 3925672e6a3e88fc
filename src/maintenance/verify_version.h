// Verification of the installed game files against version.data.
//
// version.data (enciphered with the launcher's file key, GBK inside) is cut
// into entries at every line feed: entry 0 is the installed version number,
// then come pairs of a file name (relative to the launcher folder) and the
// file's digest text. A carriage return belongs to its entry, so a digest
// entry that ends in one never matches.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "external/fast_file.h"

class CJournal;
class CPatchKit;

// Largest version.data accepted: far above any game's file list, small
// enough that a hostile or damaged file cannot exhaust memory.
constexpr size_t kMaxVersionFileBytes = 16u * 1024u * 1024u;

struct VersionFileEntries {
    std::vector<std::string> entries;  // raw bytes of each entry, in order
    size_t endedByLineFeed = 0;        // how many entries a line feed closed
};

enum class VersionContentState {
    Usable,          // two or more line feeds: a version and at least one pair
    NoContent,       // empty or starting with a NUL byte
    TooFewLineFeeds  // fewer than two line feeds
};

struct FileDigestPair {
    std::string name;    // as listed, UTF-8 (raw bytes when they are not GBK)
    std::string digest;  // as listed, compared exactly
};

struct ParsedVersionFile {
    std::string versionText;       // entry 0, UTF-8
    int32_t installedVersion = 0;  // entry 0 read as a leading decimal number
    // The pairs the launcher verifies. With an even count E of entries after
    // entry 0 every pair is chosen; with E odd (a content that ends with a
    // line feed after complete pairs, or a name without digest) only the first.
    std::vector<FileDigestPair> chosenPairs;
    // Every complete pair, whatever E: what an operator's full check needs.
    std::vector<FileDigestPair> allPairs;
    bool evenEntryCount = false;  // E even
};

// Cuts content at line feeds; the text after the last one is one more entry.
VersionFileEntries SplitVersionEntries(std::string_view content);

// The whole rule set over the deciphered bytes.
[[nodiscard]] VersionContentState ParseVersionContent(std::string_view content,
                                                      ParsedVersionFile* parsedOut);

struct VerifyReport {
    bool verified = false;          // version.data was read and parsed
    int32_t installedVersion = 0;   // meaningful only when verified
    std::vector<std::string> mismatches;  // names as listed, in order
    size_t checkedFiles = 0;
};

// Reads <launcherFolder>\version.data with the given key, reports the
// installed version, and writes an Error entry for each chosen file whose
// digest differs or that cannot be read. Nothing on disk is changed.
[[nodiscard]] VerifyReport VerifyGameVersion(const std::string& launcherFolder,
                                             CPatchKit& patchKit, CJournal& journal,
                                             const FileKey& key = LauncherFileKey());

// The deciphered content of <folder>\version.data; false when it cannot be
// opened (openedOut false), is larger than kMaxVersionFileBytes (tooLargeOut
// true, when given; nothing of it is read) or gives no content.
[[nodiscard]] bool ReadVersionFile(const std::string& folder, const FileKey& key,
                                   std::string* contentOut, bool* openedOut,
                                   bool* tooLargeOut = nullptr);
