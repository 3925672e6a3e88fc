// Verification of the installed game files against version.data.
//
// version.data (enciphered with the launcher's file key, GBK inside) is cut
// into entries at every line feed: entry 0 is the installed version number,
// then come pairs of a file name (relative to the launcher folder) and the
// file's digest text. A carriage return belongs to its entry, so a digest
// entry that ends in one never matches.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "package/fast_file.h"

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
    bool stopped = false;           // the stop flag ended it before every file was checked
    int32_t installedVersion = 0;   // meaningful only when verified
    std::vector<std::string> mismatches;  // names as listed, in order
    size_t checkedFiles = 0;
    std::vector<std::string> readFiles;   // names as listed of the files read, in order
};

// How a verification reads the files. By default every chosen file is read
// and the cache is left alone.
struct VerifyOptions {
    // Set from another thread: the check ends within a block's read.
    const std::atomic<bool>* stop = nullptr;
    // Trust verify.cache for files whose stamp is unchanged, and renew it.
    bool useCache = false;
    // With useCache: read every file all the same, and write the cache anew.
    bool ignoreCachedDigests = false;
    // The files checked so far and the number to check, on the caller's
    // thread after each file, in list order.
    std::function<void(size_t done, size_t total)> progress;
};

struct ListedFilesCheck {
    bool stopped = false;
    size_t cachedFiles = 0;     // trusted by their unchanged stamp, not read
    bool cacheRebuilt = false;  // a cache was there but damaged or another folder's
    std::vector<std::string> readFiles;
};

// Checks pairs (files of folder) with the options' cache and stop flag, and
// hands each file's digest (null when it cannot be read) to report in list
// order. listed names every file of version.data: the cache keeps their lines.
ListedFilesCheck CheckListedFiles(const std::string& folder, const std::vector<FileDigestPair>& pairs,
                                  const std::vector<FileDigestPair>& listed, CPatchKit& patchKit,
                                  const VerifyOptions& options,
                                  const std::function<void(size_t index, const char* digest)>& report);

// The log note of a check that trusted the cache: how many files it did not
// read, and how to have them read.
constexpr char kCachedFilesNote[] = "验证缓存 : %llu 个文件自上次验证后未改动, 未重新读取 (完整验证 : /verify)";
constexpr char kCacheRebuiltNote[] = "验证缓存无效, 已重新读取全部文件";
constexpr char kVerifyStoppedLog[] = "游戏版本验证已停止";
constexpr char kFullCheckNote[] = "完整验证 : 已读取全部文件, 未使用验证缓存";

// The status line while the files are checked, e.g.
// "正在验证游戏文件 : 37% (1234 / 3300)".
std::string VerifyProgressText(size_t done, size_t total);

// The status line hears of the check at most this often (a ProgressPacer),
// so that thousands of small files do not flood the window.
constexpr std::chrono::milliseconds kVerifyProgressInterval{100};

// Reads <launcherFolder>\version.data with the given key, reports the
// installed version, and writes an Error entry for each chosen file whose
// digest differs or that cannot be read. Nothing but the cache is written.
[[nodiscard]] VerifyReport VerifyGameVersion(const std::string& launcherFolder,
                                             CPatchKit& patchKit, CJournal& journal,
                                             const FileKey& key = LauncherFileKey(),
                                             const VerifyOptions& options = VerifyOptions());

// <folder>\version.data read, deciphered and parsed; false unless usable.
[[nodiscard]] bool ReadUsableVersionFile(const std::string& folder, const FileKey& key, ParsedVersionFile* parsedOut);

// The deciphered content of <folder>\version.data; false when it cannot be
// opened (openedOut false), is larger than kMaxVersionFileBytes (tooLargeOut
// true, when given; nothing of it is read) or gives no content.
[[nodiscard]] bool ReadVersionFile(const std::string& folder, const FileKey& key,
                                   std::string* contentOut, bool* openedOut,
                                   bool* tooLargeOut = nullptr);
