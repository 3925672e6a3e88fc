// The one way the engine asks the update server for a file: the version list
// at the server's root, and every file of a version folder (the manifest and
// its signature, the update, delete and patch lists, the packages and the
// delta packages). Behind it sit the step's hosts and the byte count; in it
// sits the release's trust, so that no stage asks whether releases are
// signed:
// - the cap of every fetch is the signed manifest's size of the file, else
//   the cap of its kind;
// - whether "not found" is an answer: with keys the manifest decides (a file
//   it names must come, one it does not name is not asked for); without keys
//   the file's kind decides (a delete or patch list may be missing);
// - a file is checked against the manifest's size and SHA-256 before it is
//   used; a package's SHA-256 is taken from the bytes as they are written,
//   so its check costs no second read.
//
//   CVersionFetcher fetcher(&hosts);
//   fetcher.BeginStep(settings, launcherFolder, &stop);
//   if (!fetcher.OpenVersion("1.0.0.2", &failure)) ...
//   FetchedFile list = fetcher.FetchSmallFile("updatelist.data", VersionFileKind::Required, kMaxListFileBytes);
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/launcher_settings.h"
#include "platform/file_system.h"
#include "update/engine/updater_ports.h"
#include "update/fetch/kept_downloads.h"
#include "update/fetch/release_trust.h"

// A failure as the player sees it and, for the log only, its cause.
struct StepFailure {
    std::string shown;
    std::string reason;
};

enum class VersionFileKind {
    Required,  // the step cannot go on without it
    Optional,  // may be missing from an unsigned release (delete list, patch list)
};

struct FetchedFile {
    int result = 0;         // the transfer's result (0 success)
    bool absent = false;    // not there, and that is an answer: nothing was used
    bool refused = false;   // fetched or named, but not as the signed manifest says
    std::string bytes;      // the file's bytes as served (result 0, not refused)
    StepFailure failure;    // what refused says
};

class CVersionFetcher {
public:
    // transfer: the step's hosts, which every request goes through.
    explicit CVersionFetcher(IUpdateTransfer* transfer) : m_transfer(transfer) {}

    // Checks every release against these keys from now on.
    void UseTrustKeys(std::vector<MinisignPublicKey> keys) { m_trust.UseKeys(std::move(keys)); }
    // A new step on settings' server; small files pass through
    // launcherFolder, and stop (the engine's) ends any request.
    void BeginStep(const LauncherSettings& settings, std::string launcherFolder, const std::atomic<bool>* stop);

    // The server's version list, whole, into rawOut; the transfer's result.
    [[nodiscard]] int FetchVersionList(std::string* rawOut);
    // With keys: the version list's signature, fetched and checked, its
    // serial recorded. False with the failure to show (a stop shows nothing).
    [[nodiscard]] bool CheckVersionList(const std::string& raw, StepFailure* failureOut);

    // Opens the version folder of versionText: the URLs of its files, and
    // with keys its manifest, fetched and checked against its signature and
    // against pinnedSha256, the digest that the checked version list gives
    // for it (empty when the list's line has none, which keys refuse).
    [[nodiscard]] bool OpenVersion(const std::string& versionText, const std::string& pinnedSha256,
                                   StepFailure* failureOut);
    [[nodiscard]] const std::string& BaseUrl() const { return m_baseUrl; }
    [[nodiscard]] std::string UrlOf(const std::string& name) const { return m_baseUrl + name; }

    // A small file of the version folder into memory, at most cap bytes.
    [[nodiscard]] FetchedFile FetchSmallFile(const std::string& name, VersionFileKind kind, int64_t cap);

    // Before the first package: every one is named by the signed manifest.
    [[nodiscard]] bool CheckListed(const std::vector<std::string>& names, StepFailure* failureOut) const;
    // The signed manifest's size of a file; false without keys.
    [[nodiscard]] bool ListedSize(const std::string& name, uint64_t* sizeOut) const;
    // Readies the work folder (its path ends in a separator) for a step
    // toward versionText: what earlier runs fetched toward the same version
    // from the same server stays (see CKeptDownloads), everything else goes.
    // False when the folder cannot be made.
    [[nodiscard]] bool PrepareWorkFolder(const std::string& workFolder, const std::string& versionText);
    // What the whole step downloads, for the kept downloads' "x of y".
    void SetStepBytes(int64_t bytes) { m_kept.SetStepBytes(bytes); }
    // The step was handed over: the downloads are kept no longer.
    void EndKeeping() { m_kept.Close(); }

    // A package (or delta package) into localPath under the work folder, at
    // most its listed size, hashed as it is written; stop may be the step's
    // halt flag. A complete download kept from an earlier run is used
    // without a byte fetched (CheckPackage, or the unpacking of an unsigned
    // package, checks it again), a partial one continues under the terms it
    // came with.
    [[nodiscard]] int FetchPackage(const std::string& name, const std::string& localPath,
                                   const std::atomic<bool>* stop, const FetchWatch& watch);
    // With keys: the fetched package at localPath against the manifest. The
    // digest taken while it was written serves when the file is as it was
    // then; else the file is read (a set *stop ends that and refuses). Only
    // a package that passes counts as complete among the kept downloads.
    [[nodiscard]] bool CheckPackage(const std::string& name, const std::string& localPath,
                                    StepFailure* failureOut, const std::atomic<bool>* stop);
    // For a catch-up or a repair, from the folder of another version than
    // the one open (no manifest of it is at hand: what is taken from these
    // bytes is checked against the state index): bytes [first, first +
    // length) of a package (*rangesIgnoredOut: the server gives no ranges),
    // or the whole package.
    [[nodiscard]] int FetchSpan(const std::string& versionText, const std::string& package,
                                const std::string& localPath, int64_t first, int64_t length,
                                const std::atomic<bool>* stop, bool* rangesIgnoredOut, const FetchWatch& watch);
    [[nodiscard]] int FetchFromVersion(const std::string& versionText, const std::string& package,
                                       const std::string& localPath, const std::atomic<bool>* stop,
                                       const FetchWatch& watch);
    // The package's local file and its kept state go (it is fetched again).
    // True when it was a kept download, used whole or continued: such a file
    // may have failed on the disk, not on its host, which may serve it again.
    bool DropDownload(const std::string& name);
    // A member that a catch-up or a repair made and checked against the
    // state index, kept like a download under a name of its own, so that
    // the next run toward the same version need not fetch it again.
    void KeepMember(const std::string& name, const std::string& localPath, uint64_t size, const std::string& sha256);
    // Writes the members kept since the last write (KeepMember writes at
    // most about once a second, as a catch-up makes many in a row).
    void FlushKeptMembers() { m_kept.Flush(); }
    // Whether an earlier run toward the same version kept that member with
    // this size and SHA-256, its file still of that size; the caller checks
    // its digests before it counts (then NoteReused), or drops it.
    [[nodiscard]] bool FindKeptMember(const std::string& name, const std::string& localPath, uint64_t size,
                                      const std::string& sha256) const;
    void NoteReused(int64_t bytes) { m_reused += bytes; }
    // Bytes used from kept downloads instead of fetched: whole files, and
    // the front of each file that continued.
    [[nodiscard]] int64_t ReusedBytes() const { return m_reused.load(); }

    // The status text of the last failed request: the transfer's own (a
    // stall) when it has one, else generic.
    [[nodiscard]] std::string FailureText(const std::string& generic) const;
    // After a file from the version folder failed its check: leaves its host
    // for the rest of the step; true when another host remains.
    bool LeaveHostOf(const std::string& name) { return m_transfer->LeaveHostOf(UrlOf(name)); }

private:
    struct WrittenDigest {
        fs_port::FileStamp stamp;  // of the file as its last byte was written
        std::string sha256;
    };
    // Fetches url into the launcher folder as localName and reads it back;
    // nothing of it stays on the disk.
    [[nodiscard]] int FetchIntoMemory(const std::string& url, const std::string& localName, int64_t cap,
                                      bool* notFoundOut, std::string* bytesOut);
    [[nodiscard]] bool FetchTrustFile(const std::string& url, const std::string& name, int64_t cap,
                                      std::string* bytesOut, bool* missingOut, StepFailure* failureOut);
    [[nodiscard]] bool Stopped() const { return m_stop != nullptr && m_stop->load(); }
    [[nodiscard]] std::string VersionBaseUrl(const std::string& versionText) const;
    // The kept entry for a package about to be fetched, as the release now
    // describes it; false when it must be fetched from its first byte.
    [[nodiscard]] bool KeptEntry(const std::string& name, const std::string& localPath, KeptFile* fileOut);
    // A kept complete download that still has its size: used as it is.
    [[nodiscard]] bool UseKeptWhole(const KeptFile& entry, const std::string& localPath, const FetchWatch& watch);

    IUpdateTransfer* m_transfer;
    CReleaseTrust m_trust;
    int32_t m_transferMode = kTransferModeHttp;
    std::string m_serverPrefix;
    std::string m_launcherFolder;
    std::string m_baseUrl;
    const std::atomic<bool>* m_stop = nullptr;
    // What each package's bytes hashed to as they were written, by local path.
    std::mutex m_digestMutex;
    std::map<std::string, WrittenDigest> m_written;
    CKeptDownloads m_kept;
    std::string m_workFolder;
    std::set<std::string> m_usedKept;  // kept downloads used or continued (under m_digestMutex)
    std::atomic<int64_t> m_reused{0};
};

// A list image as the server sends it, deciphered (up to a NUL, as a C string
// would be). False when it is not intact under the launcher's key.
[[nodiscard]] bool DecipherListImage(std::string image, std::string* gbkOut);
