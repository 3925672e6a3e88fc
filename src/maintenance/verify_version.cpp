#include "maintenance/verify_version.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "external/journal.h"
#include "external/patch_kit.h"
#include "external/sealed_content.h"
#include "platform/file_system.h"
#include "platform/text_encoding.h"
#include "update/version_list.h"

namespace {

constexpr char kVersionFileName[] = "version.data";

// Files hashed at once. Once the files are in the cache the hashing is the
// whole cost, and the window waits for it at start-up, so every core up to
// this many takes files; more streams than this would only make a disk seek
// between them.
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

// Digests of the files of one verification, in list order. Worker threads
// take the next file of the list in turn, each with a digest object of its
// own (the caller's serves the first); the calling thread hands every digest
// on (null when the file could not be read) in list order, as soon as it and
// all before it are known, so the log reads as a file-by-file check writes it.
class OrderedDigests {
public:
    OrderedDigests(const std::vector<std::string>& paths, CPatchKit& callerKit)
        : m_paths(paths), m_digests(paths.size()), m_done(paths.size(), false) {
        const unsigned workers = DigestWorkerCount(paths.size());
        m_kits.resize(workers > 0 ? workers - 1 : 0);
        for (unsigned i = 0; i < workers; ++i) {
            CPatchKit& kit = i == 0 ? callerKit : m_kits[i - 1];
            try {
                m_workers.emplace_back([this, &kit] { Work(kit); });
            } catch (const std::system_error&) {
                break;  // the threads already running take every file
            }
        }
        // Without any thread the caller hashes the files itself.
        if (m_workers.empty()) Work(callerKit);
    }

    ~OrderedDigests() {
        for (std::thread& worker : m_workers) worker.join();
    }

    template <typename Report>
    void ReportInOrder(Report report) {
        for (size_t i = 0; i < m_paths.size(); ++i) {
            std::optional<std::string> digest;
            {
                std::unique_lock<std::mutex> hold(m_lock);
                m_ready.wait(hold, [&] { return m_done[i]; });
                digest = std::move(m_digests[i]);
            }
            report(i, digest ? digest->c_str() : nullptr);
        }
    }

private:
    void Work(CPatchKit& kit) {
        for (;;) {
            size_t index = 0;
            {
                std::lock_guard<std::mutex> hold(m_lock);
                if (m_next == m_paths.size()) return;
                index = m_next++;
            }
            const char* digest = kit.ComputeDigest(m_paths[index].c_str());
            std::lock_guard<std::mutex> hold(m_lock);
            if (digest) m_digests[index] = std::string(digest);
            m_done[index] = true;
            m_ready.notify_all();
        }
    }

    const std::vector<std::string>& m_paths;
    std::vector<std::optional<std::string>> m_digests;
    std::vector<bool> m_done;
    size_t m_next = 0;
    std::mutex m_lock;
    std::condition_variable m_ready;
    std::vector<CPatchKit> m_kits;
    std::vector<std::thread> m_workers;
};

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

VerifyReport VerifyGameVersion(const std::string& launcherFolder, CPatchKit& patchKit,
                               CJournal& journal, const FileKey& key) {
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
    report.verified = true;
    report.installedVersion = parsed.installedVersion;
    journal.AddEntry(EntryKind::Error, parsed.versionText.c_str());
    std::vector<std::string> paths;
    paths.reserve(parsed.chosenPairs.size());
    for (const FileDigestPair& pair : parsed.chosenPairs) {
        paths.push_back(JoinFolder(launcherFolder, pair.name));
    }
    OrderedDigests digests(paths, patchKit);
    digests.ReportInOrder([&](size_t index, const char* digest) {
        const FileDigestPair& pair = parsed.chosenPairs[index];
        ++report.checkedFiles;
        if (digest && pair.digest == digest) return;
        journal.AddEntryF(EntryKind::Error, "警告 : %s  文件验证不匹配。", pair.name.c_str());
        report.mismatches.push_back(pair.name);
    });
    journal.AddEntry(EntryKind::Info, "游戏版本验证完毕");
    return report;
}
