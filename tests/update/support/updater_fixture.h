// Pieces for running the update engine natively in tests: a window that
// records what it is told, transfers served from a folder, a program start
// that records its calls, a server tree writer and a journal reader.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/util/launcher_util.h"
#include "journal/journal.h"
#include "package/bundle.h"
#include "package/fast_file.h"
#include "package/patch_kit.h"
#include "platform/file_system.h"
#include "platform/text_encoding.h"
#include "support/test_support.h"
#include "trust/file_sha256.h"
#include "trust/minisign.h"
#include "trust/release_manifest.h"
#include "update/engine/updater_ports.h"
#include "update/engine/version_list.h"
#include "update/fetch/release_trust.h"

namespace test_update {

// The MD5 text of a content, as the lists carry it.
inline std::string Md5Of(const std::string& text) {
    TempDir dir;
    WriteTextFile(dir.File("f"), text);
    std::string hex;
    EXPECT_TRUE(ComputeFileMd5(dir.File("f"), &hex));
    return hex;
}

class RecordingWindow : public IUpdaterWindow {
public:
    void SetStatusText(const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        statuses.push_back(text);
    }
    void ShowVersionLine(int32_t version) override { versionLines.push_back(version); }
    void EnableStartButton(bool enable) override { startButton.push_back(enable); }
    void ShowMessageBox(const std::string& text) override { boxes.push_back(text); }
    void ShowProgress(double fraction, const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        progress.emplace_back(fraction, text);
    }
    void EndProgress() override { ++progressEnds; }
    int32_t InstalledVersion() const override { return installed; }
    LauncherSettings Settings() const override { return settings; }

    bool Shown(const std::string& text) const {
        return std::find(statuses.begin(), statuses.end(), text) != statuses.end();
    }
    std::string Last() const { return statuses.empty() ? std::string() : statuses.back(); }

    std::vector<std::string> statuses;
    std::vector<int32_t> versionLines;
    std::vector<bool> startButton;
    std::vector<std::string> boxes;
    std::vector<std::pair<double, std::string>> progress;
    int progressEnds = 0;
    int32_t installed = 1000;
    LauncherSettings settings;
    std::mutex m_mutex;
};

// The first progress row whose "done / total" or fraction is beyond its
// total (empty: none); endOut: whether a row showed the whole step done.
inline std::string RowBeyondTotal(const std::vector<std::pair<double, std::string>>& rows, bool* endOut) {
    std::string beyond;
    for (const auto& [fraction, text] : rows) {
        const double done = std::atof(text.c_str() + text.rfind(' ', text.find(" / ") - 1) + 1);
        const double total = std::atof(text.c_str() + text.find(" / ") + 3);
        if (beyond.empty() && (done > total || fraction > 1.0)) beyond = text;
        *endOut = *endOut || (fraction == 1.0 && done == total);
    }
    return beyond;
}

// Serves "http://host/<path>" and "ftp://host:port\<path>" from a folder
// (whatever the host); a missing file or a URL of notFoundUrls answers as
// the HTTP client does to a 404 ("transfer failed", 5, not found), a URL of
// failUrls with its code. Like the clients, a failed fetch leaves an empty
// local file.
class FolderTransfer : public IUpdateTransfer {
public:
    explicit FolderTransfer(std::string root) : m_root(std::move(root)) {}

    int FetchToFile(int32_t, const std::string& url, const std::string& localPath, int64_t maxBytes,
                    const std::atomic<bool>* stop, bool* notFoundOut, const FetchWatch& watch) override {
        urls.push_back(url);
        caps.push_back(maxBytes);
        const std::string source = Source(url);
        const bool missing = !fs_port::IsRegularFile(source) || notFoundUrls.count(url) != 0;
        if (notFoundOut) *notFoundOut = missing && !failUrls.count(url);
        if (failUrls.count(url) || missing) {
            WriteTextFile(fs_port::NativePath(localPath), "");
            return failUrls.count(url) ? failUrls.at(url) : 5;
        }
        if (maxBytes != kNoByteCap && fs_port::FileSize(source) > maxBytes) return 5;
        const std::string content = ReadTextFile(source);
        const int64_t size = static_cast<int64_t>(content.size());
        if (watch.progress) watch.progress(0, size);
        WriteTextFile(fs_port::NativePath(localPath), content);
        if (!cutOnce.empty() && url.find(cutOnce) != std::string::npos && watch.progress) {
            cutOnce.clear();
            (void)WaitUntil([&] { return stop->load(); }, 5000);
            watch.progress(size - 1, size);
            return 5;
        }
        if (watch.wrote) watch.wrote(0, content.data(), content.size());
        std::this_thread::sleep_for(lastReportAfter);
        if (watch.progress) watch.progress(size, size);
        return 0;
    }
    int FetchToMemory(int32_t, const std::string& url, int64_t maxBytes, std::string* contentOut,
                      const std::atomic<bool>*) override {
        urls.push_back(url);
        caps.push_back(maxBytes);
        const std::string source = Source(url);
        if (!fs_port::IsRegularFile(source)) return 1004;
        *contentOut = ReadTextFile(source);
        return 0;
    }

    std::vector<std::string> urls;
    std::vector<int64_t> caps;  // the maxBytes of each fetch, beside urls
    std::map<std::string, int> failUrls;
    std::set<std::string> notFoundUrls;
    // The first fetch of a URL with this in it waits for the stop flag, tells
    // of all of its file but the last byte and fails, as one cut short does.
    std::string cutOnce;
    // A transfer that takes its time: its last report comes this much later.
    std::chrono::milliseconds lastReportAfter{0};

private:
    std::string Source(const std::string& url) const {
        size_t at = url.find("://");
        at = url.find_first_of("/\\", at == std::string::npos ? 0 : at + 3);
        std::string rel = at == std::string::npos ? url : url.substr(at + 1);
        std::replace(rel.begin(), rel.end(), '\\', '/');
        return m_root + "/" + rel;
    }
    std::string m_root;
};

// Two hosts, each a folder: fetches go to the current one; LeaveHostOf moves
// on from the first to the second (true) and from there nowhere (false).
class TwoHostTransfer : public IUpdateTransfer {
public:
    TwoHostTransfer(const std::string& first, const std::string& second)
        : hosts{FolderTransfer(first), FolderTransfer(second)} {}
    int FetchToFile(int32_t mode, const std::string& url, const std::string& localPath, int64_t maxBytes,
                    const std::atomic<bool>* stop, bool* notFoundOut, const FetchWatch& watch) override {
        return hosts[current].FetchToFile(mode, url, localPath, maxBytes, stop, notFoundOut, watch);
    }
    int FetchToMemory(int32_t mode, const std::string& url, int64_t maxBytes, std::string* contentOut,
                      const std::atomic<bool>* stop) override {
        return hosts[current].FetchToMemory(mode, url, maxBytes, contentOut, stop);
    }
    bool LeaveHostOf(const std::string& url) override {
        left.push_back(url);
        if (current + 1 == 2) return false;
        ++current;
        return true;
    }

    FolderTransfer hosts[2];
    size_t current = 0;
    std::vector<std::string> left;  // the URLs given to LeaveHostOf
};

// Copies a folder tree (a second host's copy of a server tree).
inline void CopyFolder(const std::string& from, const std::string& to) {
    fs_port::MakeDirectories(to);
    std::vector<fs_port::DirEntry> entries;
    EXPECT_TRUE(fs_port::ListDirectory(from, &entries)) << from;
    for (const fs_port::DirEntry& entry : entries) {
        const std::string source = from + "/" + entry.name;
        if (entry.isDirectory) {
            CopyFolder(source, to + "/" + entry.name);
        } else {
            WriteTextFile(to + "/" + entry.name, ReadTextFile(source));
        }
    }
}

class RecordingStarter : public IProgramStarter {
public:
    bool Start(const std::string& path, const std::string& parameters, int* codeOut) override {
        starts.push_back(path + "|" + parameters);
        if (failWith != 0) *codeOut = failWith;
        return failWith == 0;
    }
    void StopLeftoverInstaller() override { ++stops; }

    std::vector<std::string> starts;
    int stops = 0;
    int failWith = 0;
};

// Writes a server tree: the version list and, per version folder, the
// enciphered lists and packages.
class ServerTree {
public:
    explicit ServerTree(std::string root) : m_root(std::move(root)) {}

    void VersionList(const std::string& text) const { WriteTextFile(m_root + "/versionlist.data", text); }
    void EncipheredList(const std::string& version, const std::string& name, const std::string& text) const {
        fs_port::MakeDirectories(m_root + "/" + version);
        CFastFile file(ModeWrite);
        const std::string path = m_root + "/" + version + "/" + name;
        std::string gbk;
        if (!Utf8ToGbk(text, &gbk)) gbk = text;  // tests of undecodable lists pass raw bytes
        if (file.Open(path.c_str(), "w+")) (void)file.Write(gbk.c_str(), &LauncherFileKey(), true);
        file.Close();
    }
    // members: name inside the package -> content.
    void Package(const std::string& version, const std::string& name,
                 const std::map<std::string, std::string>& members) const {
        fs_port::MakeDirectories(m_root + "/" + version);
        TempDir sources;
        CBundle bundle;
        if (!bundle.Create((m_root + "/" + version + "/" + name).c_str(), nullptr)) return;
        int index = 0;
        for (const auto& member : members) {
            const std::string source = sources.File(std::to_string(index++));
            WriteTextFile(source, member.second);
            (void)bundle.AddFile(source.c_str(), member.first.c_str());
        }
        bundle.Release();
    }
    std::string Path(const std::string& rel) const { return m_root + "/" + rel; }

private:
    std::string m_root;
};

// Signs a server tree as the operator does, with a key pair of its own and
// the serial and expiry the test chooses: a manifest per version folder,
// pinned in the version list, and the version list.
class ReleaseSigner {
public:
    ReleaseSigner() { EXPECT_TRUE(GenerateMinisignKey(&m_key)); }
    std::vector<MinisignPublicKey> Keys() const { return {PublicKeyOf(m_key)}; }

    void SignVersion(const std::string& root, const std::string& version, uint64_t serial) const {
        const std::string folder = root + "/" + version;
        std::vector<fs_port::DirEntry> files;
        EXPECT_TRUE(fs_port::ListDirectory(folder, &files));
        std::vector<ManifestEntry> entries;
        for (const auto& file : files) {
            if (file.isDirectory || file.name == kManifestName || file.name == kManifestSignatureName) continue;
            ManifestEntry entry{file.name, 0, ""};
            EXPECT_TRUE(ComputeFileSha256(folder + "/" + file.name, &entry.sha256Hex, &entry.size));
            entries.push_back(entry);
        }
        const std::string manifest = FormatReleaseManifest(entries);
        WriteTextFile(folder + "/" + kManifestName, manifest);
        const std::string list = root + "/versionlist.data";
        WriteTextFile(list, PinManifest(ReadTextFile(list), VersionTextToNumber(version.c_str()), Sha256Hex(manifest)));
        Sign(manifest, FormatManifestComment({version, serial}), folder + "/" + kManifestSignatureName);
    }
    void SignList(const std::string& root, uint64_t serial, int64_t expires) const {
        Sign(ReadTextFile(root + "/versionlist.data"), FormatListComment({serial, expires}),
             root + "/" + kVersionListSignatureName);
    }

private:
    void Sign(const std::string& content, const std::string& comment, const std::string& path) const {
        std::string signature;
        EXPECT_TRUE(SignMinisign(content, comment, m_key, &signature));
        WriteTextFile(path, signature);
    }
    MinisignSecretKey m_key;
};

// Attaches the journal to a file for the lifetime of the object.
class JournalLines {
public:
    JournalLines() : m_path(m_dir.File("journal.log")) { TheJournal().AttachFile(m_path.c_str()); }
    ~JournalLines() { TheJournal().Detach(); }
    // The entries' texts with their kinds, "[Info] text", in order.
    std::vector<std::string> Entries() const {
        std::vector<std::string> out;
        const std::string all = ReadTextFile(m_path);
        size_t begin = 0;
        while (begin < all.size()) {
            size_t end = all.find('\n', begin);
            if (end == std::string::npos) end = all.size();
            const std::string line = all.substr(begin, end - begin);
            const size_t kind = line.find(" [");
            if (kind != std::string::npos) out.push_back(line.substr(kind + 1));
            begin = end + 1;
        }
        return out;
    }
    bool Has(const std::string& entry) const {
        const auto all = Entries();
        return std::find(all.begin(), all.end(), entry) != all.end();
    }
    // Whether the entries were written in this order (others may lie between).
    bool HasInOrder(const std::vector<std::string>& entries) const {
        const auto all = Entries();
        auto at = all.begin();
        for (const std::string& entry : entries) {
            at = std::find(at, all.end(), entry);
            if (at == all.end()) return false;
            ++at;
        }
        return true;
    }

private:
    TempDir m_dir;
    std::string m_path;
};

}  // namespace test_update
