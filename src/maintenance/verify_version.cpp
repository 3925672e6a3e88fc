#include "maintenance/verify_version.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "journal/journal.h"
#include "maintenance/verify_cache.h"
#include "package/patch_kit.h"
#include "package/sealed_content.h"
#include "platform/file_system.h"
#include "platform/text_encoding.h"
#include "platform/text_format.h"
#include "update/engine/version_list.h"
#include "update/install/installer.h"

namespace {

constexpr char kVersionFileName[] = "version.data";

// Files hashed at once. Once the files are in the system's file cache the
// hashing is the whole cost, and the update check waits for it, so every
// core up to this many takes files; more streams than this would only make a
// disk seek between them.
constexpr unsigned kMaxDigestWorkers = 4;

// The file's texts are GBK; inside the program they are UTF-8. A name that
// is not valid GBK is kept as its bytes: it can still be looked up and
// reported (the journal makes the line readable).
std::string FromGbk(const std::string& gbk) {
    std::string utf8;
    if (GbkToUtf8(gbk, &utf8)) return utf8;
    return gbk;
}

std::vector<FileDigestPair> PairsFrom(const std::vector<std::string>& entries) {
    std::vector<FileDigestPair> pairs;
    for (size_t i = 1; i + 1 < entries.size(); i += 2) {
        pairs.push_back({FromGbk(entries[i]), entries[i + 1]});
    }
    return pairs;
}

std::string JoinFolder(const std::string& folder, const std::string& name) {
    return folder + "\\" + name;
}


unsigned DigestWorkerCount(size_t files) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return static_cast<unsigned>(std::min<size_t>({cores, kMaxDigestWorkers, files}));
}

// What the check of one file found.
struct FileOutcome {
    enum class Kind { Cached, Read, Unreadable, Stopped };
    Kind kind = Kind::Unreadable;
    std::string md5;
    fs_port::FileStamp stamp;
    bool stampHeld = false;  // md5 belongs to stamp: from the cache, or unchanged while read
};

using CheckOneFile = std::function<FileOutcome(size_t index, CPatchKit& kit)>;

// The checks of one verification, in list order. Worker threads take the
// next file of the list in turn, each with a digest object of its own (the
// caller's serves the first); the calling thread hands every outcome on in
// list order, as soon as it and all before it are known, so the log reads as
// a file-by-file check writes it. Once stop is set no file is begun.
class OrderedChecks {
public:
    OrderedChecks(size_t count, CPatchKit& callerKit, CheckOneFile check, const std::atomic<bool>* stop)
        : m_check(std::move(check)), m_stop(stop), m_outcomes(count), m_done(count, false) {
        const unsigned workers = DigestWorkerCount(count);
        m_kits.resize(workers > 0 ? workers - 1 : 0);
        for (unsigned i = 0; i < workers; ++i) {
            CPatchKit& kit = i == 0 ? callerKit : m_kits[i - 1];
            try {
                m_workers.emplace_back([this, &kit] { Work(kit); });
            } catch (const std::system_error&) {
                break;  // the threads already running take every file
            }
        }
        // Without any thread the caller checks the files itself.
        if (m_workers.empty()) Work(callerKit);
    }

    ~OrderedChecks() {
        for (std::thread& worker : m_workers) worker.join();
    }

    // False when the stop came before every file was handed on.
    template <typename Report>
    bool ReportInOrder(Report report) {
        for (size_t i = 0; i < m_outcomes.size(); ++i) {
            FileOutcome outcome;
            {
                std::unique_lock<std::mutex> hold(m_lock);
                m_ready.wait(hold, [&] { return m_done[i]; });
                outcome = std::move(m_outcomes[i]);
            }
            if (outcome.kind == FileOutcome::Kind::Stopped) return false;
            report(i, outcome);
        }
        return true;
    }

private:
    void Work(CPatchKit& kit) {
        for (;;) {
            size_t index = 0;
            {
                std::lock_guard<std::mutex> hold(m_lock);
                if (m_stop && m_stop->load()) GiveUpRest();
                if (m_next == m_outcomes.size()) return;
                index = m_next++;
            }
            FileOutcome outcome = m_check(index, kit);
            std::lock_guard<std::mutex> hold(m_lock);
            m_outcomes[index] = std::move(outcome);
            m_done[index] = true;
            m_ready.notify_all();
        }
    }

    // Under the lock: every file not begun counts as stopped.
    void GiveUpRest() {
        for (; m_next < m_outcomes.size(); ++m_next) {
            m_outcomes[m_next].kind = FileOutcome::Kind::Stopped;
            m_done[m_next] = true;
        }
        m_ready.notify_all();
    }

    const CheckOneFile m_check;
    const std::atomic<bool>* m_stop;
    std::vector<FileOutcome> m_outcomes;
    std::vector<bool> m_done;
    size_t m_next = 0;
    std::mutex m_lock;
    std::condition_variable m_ready;
    std::vector<CPatchKit> m_kits;
    std::vector<std::thread> m_workers;
};

FileOutcome CheckOne(const std::string& path, const std::string& listedName, CPatchKit& kit,
                     const VerifyCacheIndex* cache, const std::atomic<bool>* stop) {
    FileOutcome outcome;
    if (cache) {
        fs_port::FileStamp stamp;
        const std::string* md5 = fs_port::ReadFileStamp(path, &stamp) ? cache->Find(listedName, stamp) : nullptr;
        if (md5) {
            outcome.kind = FileOutcome::Kind::Cached;
            outcome.md5 = *md5;
            outcome.stamp = stamp;
            outcome.stampHeld = true;
            return outcome;
        }
    }
    StampedDigest digest;
    switch (kit.ComputeStampedDigest(path, stop, &digest)) {
        case DigestRead::Done:
            outcome.kind = FileOutcome::Kind::Read;
            outcome.md5 = std::move(digest.hex);
            outcome.stamp = digest.stamp;
            outcome.stampHeld = digest.unchangedWhileRead;
            break;
        case DigestRead::Stopped:
            outcome.kind = FileOutcome::Kind::Stopped;
            break;
        case DigestRead::Unreadable:
            break;
    }
    return outcome;
}

// An update is handed to the installer and not yet settled: the lines it
// recorded for the files it installs are kept until a check finds them.
bool InstallPending(const std::string& folder) {
    return fs_port::PathExists(JoinFolder(folder, kHandOffFileName)) ||
           fs_port::PathExists(JoinFolder(folder, kInstallJournalName));
}

}  // namespace

VersionFileEntries SplitVersionEntries(std::string_view content) {
    VersionFileEntries split;
    size_t start = 0;
    for (size_t i = 0; i < content.size(); ++i) {
        if (content[i] != '\n') continue;
        split.entries.emplace_back(content.substr(start, i - start));
        ++split.endedByLineFeed;
        start = i + 1;
    }
    split.entries.emplace_back(content.substr(start));
    return split;
}

VersionContentState ParseVersionContent(std::string_view content, ParsedVersionFile* parsedOut) {
    if (content.empty() || content[0] == '\0') return VersionContentState::NoContent;
    const VersionFileEntries split = SplitVersionEntries(content);
    if (split.endedByLineFeed < 2) return VersionContentState::TooFewLineFeeds;
    const std::vector<std::string>& entries = split.entries;
    const size_t afterFirst = entries.size() - 1;  // E, at least 2 here
    ParsedVersionFile parsed;
    parsed.versionText = FromGbk(entries[0]);
    parsed.installedVersion = LeadingNumber(entries[0]);
    parsed.evenEntryCount = afterFirst % 2 == 0;
    parsed.allPairs = PairsFrom(entries);
    parsed.chosenPairs = parsed.allPairs;
    if (!parsed.evenEntryCount && parsed.chosenPairs.size() > 1) parsed.chosenPairs.resize(1);
    *parsedOut = std::move(parsed);
    return VersionContentState::Usable;
}

bool ReadVersionFile(const std::string& folder, const FileKey& key, std::string* contentOut,
                     bool* openedOut, bool* tooLargeOut) {
    const std::string path = JoinFolder(folder, kVersionFileName);
    CFastFile file(ModeRead);
    *openedOut = file.Open(path.c_str(), "r+");
    if (!*openedOut) return false;
    // Measured before reading: a file far over the cap is never loaded.
    const bool tooLarge =
        static_cast<uint64_t>(fs_port::FileSize(path)) > kMaxVersionFileBytes + kSealOverheadBytes;
    if (tooLargeOut) *tooLargeOut = tooLarge;
    if (tooLarge) return false;
    size_t size = 0;
    std::unique_ptr<char[]> content = file.Read(&size, &key, true);
    file.Close();
    if (!content || size > kMaxVersionFileBytes) return false;
    contentOut->assign(content.get(), size);
    return true;
}

ListedFilesCheck CheckListedFiles(const std::string& folder, const std::vector<FileDigestPair>& pairs,
                                  const std::vector<FileDigestPair>& listed, CPatchKit& patchKit,
                                  const VerifyOptions& options,
                                  const std::function<void(size_t index, const char* digest)>& report) {
    ListedFilesCheck check;
    std::vector<VerifyCacheLine> cached;
    if (options.useCache) {
        const VerifyCacheRead read = LoadVerifyCache(folder, &cached);
        check.cacheRebuilt = read == VerifyCacheRead::Damaged || read == VerifyCacheRead::Foreign;
    }
    const bool pending = options.useCache && InstallPending(folder);
    const VerifyCacheIndex index(cached);
    const VerifyCacheIndex* trusted = options.useCache && !options.ignoreCachedDigests ? &index : nullptr;
    if (options.progress) options.progress(0, pairs.size());
    OrderedChecks checks(
        pairs.size(), patchKit,
        [&](size_t i, CPatchKit& kit) {
            return CheckOne(JoinFolder(folder, pairs[i].name), pairs[i].name, kit, trusted, options.stop);
        },
        options.stop);
    std::vector<VerifyCacheLine> seen;
    check.stopped = !checks.ReportInOrder([&](size_t i, const FileOutcome& outcome) {
        if (outcome.kind == FileOutcome::Kind::Cached) ++check.cachedFiles;
        if (outcome.kind != FileOutcome::Kind::Cached) check.readFiles.push_back(pairs[i].name);
        if (outcome.stampHeld) {
            seen.push_back({VerifyCacheLine::Kind::Verified, pairs[i].name, outcome.stamp, outcome.md5});
        }
        const bool readable = outcome.kind == FileOutcome::Kind::Cached || outcome.kind == FileOutcome::Kind::Read;
        report(i, readable ? outcome.md5.c_str() : nullptr);
        if (options.progress) options.progress(i + 1, pairs.size());
    });
    if (options.useCache) {
        std::vector<std::string> names;
        names.reserve(listed.size());
        for (const FileDigestPair& pair : listed) names.push_back(pair.name);
        // A cache that cannot be written only costs the next check its reads;
        // one that nothing renewed is not written again.
        const std::vector<VerifyCacheLine> renewed = RenewedCacheLines(cached, seen, names, pending);
        if (FormatVerifyCache(folder, renewed) != FormatVerifyCache(folder, cached)) {
            (void)SaveVerifyCache(folder, renewed);
        }
    }
    return check;
}

bool ReadUsableVersionFile(const std::string& folder, const FileKey& key, ParsedVersionFile* parsedOut) {
    std::string content;
    bool opened = false;
    return ReadVersionFile(folder, key, &content, &opened) &&
           ParseVersionContent(content, parsedOut) == VersionContentState::Usable;
}

VerifyReport VerifyGameVersion(const std::string& launcherFolder, CPatchKit& patchKit,
                               CJournal& journal, const FileKey& key, const VerifyOptions& options) {
    VerifyReport report;
    journal.AddEntry(EntryKind::Info, "开始验证游戏版本");
    std::string content;
    bool opened = false;
    bool tooLarge = false;
    const bool read = ReadVersionFile(launcherFolder, key, &content, &opened, &tooLarge);
    if (!opened) {
        journal.AddEntry(EntryKind::Error, "版本文件打开失败");
        return report;
    }
    if (tooLarge) {
        journal.AddEntryF(EntryKind::Error, "版本文件过大 : 超过 %lld 字节",
                          static_cast<long long>(kMaxVersionFileBytes));
        return report;
    }
    ParsedVersionFile parsed;
    if (!read || ParseVersionContent(content, &parsed) != VersionContentState::Usable) {
        return report;
    }
    report.installedVersion = parsed.installedVersion;
    journal.AddEntry(EntryKind::Error, parsed.versionText.c_str());
    const ListedFilesCheck check = CheckListedFiles(
        launcherFolder, parsed.chosenPairs, parsed.allPairs, patchKit, options,
        [&](size_t index, const char* digest) {
            const FileDigestPair& pair = parsed.chosenPairs[index];
            ++report.checkedFiles;
            if (digest && pair.digest == digest) return;
            journal.AddEntryF(EntryKind::Error, "警告 : %s  文件验证不匹配。", pair.name.c_str());
            report.mismatches.push_back(pair.name);
        });
    report.readFiles = check.readFiles;
    if (check.stopped) {
        report.stopped = true;
        journal.AddEntry(EntryKind::Notice, kVerifyStoppedLog);
        return report;
    }
    report.verified = true;
    journal.AddEntry(EntryKind::Info, "游戏版本验证完毕");
    if (check.cacheRebuilt) journal.AddEntry(EntryKind::Notice, kCacheRebuiltNote);
    if (options.useCache && options.ignoreCachedDigests) journal.AddEntry(EntryKind::Notice, kFullCheckNote);
    if (check.cachedFiles > 0) {
        journal.AddEntryF(EntryKind::Info, kCachedFilesNote, static_cast<unsigned long long>(check.cachedFiles));
    }
    return report;
}

std::string VerifyProgressText(size_t done, size_t total) {
    const unsigned long long percent = total == 0 ? 100 : static_cast<unsigned long long>(done) * 100 / total;
    return StringPrintf("正在验证游戏文件 : %llu%% (%llu / %llu)", percent,
                        static_cast<unsigned long long>(done), static_cast<unsigned long long>(total));
}
