#include "update/fetch/version_fetcher.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <limits>
#include <memory>

#include "app/util/launcher_util.h"
#include "journal/journal.h"
#include "package/patch_kit.h"
#include "package/sealed_content.h"
#include "platform/byte_sink.h"
#include "platform/file_system.h"
#include "platform/text_format.h"
#include "trust/file_sha256.h"
#include "trust/trust_state.h"
#include "update/engine/version_list.h"
#include "update/fetch/mirrored_transfer.h"
#include "update/report/status_texts.h"

namespace {

int64_t AsCap(uint64_t size) {
    return static_cast<int64_t>(std::min<uint64_t>(size, static_cast<uint64_t>(std::numeric_limits<int64_t>::max())));
}

StepFailure FailureOf(const TrustRefusal& refusal) { return {refusal.shown, refusal.reason}; }

// A fetched file whole; the transfer's cap has bounded its size.
bool ReadFetched(const std::string& path, std::string* bytesOut) {
    const UniqueFile file(fs_port::OpenFile(path, "rb"));
    if (!file) return false;
    char block[64 * 1024];
    size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) bytesOut->append(block, got);
    return std::ferror(file.get()) == 0;
}

// Hashes a download's bytes as the transfer writes them. A transfer that
// starts over writes at 0 again and the hash starts over with it; any other
// jump (a resume of bytes this tap never saw) leaves the digest unknown, and
// the file is then read instead.
class Sha256Tap {
public:
    void Wrote(int64_t offset, const char* data, size_t size) {
        if (offset == 0 && m_hashed != 0) {
            m_digest = std::make_unique<DigestSink>(DigestAlgorithm::Sha256);
            m_hashed = 0;
            m_lost = false;
        }
        if (m_lost || offset != m_hashed || !m_digest->Write(data, size)) {
            m_lost = true;
            return;
        }
        m_hashed += static_cast<int64_t>(size);
    }
    // The digest of the file's first `size` bytes, when this tap saw them all.
    [[nodiscard]] bool Digest(int64_t size, std::string* hexOut) {
        if (m_lost || m_hashed != size) return false;
        *hexOut = m_digest->FinishHex();
        return !hexOut->empty();
    }

private:
    std::unique_ptr<DigestSink> m_digest = std::make_unique<DigestSink>(DigestAlgorithm::Sha256);
    int64_t m_hashed = 0;
    bool m_lost = false;
};

}  // namespace

bool DecipherListImage(std::string image, std::string* gbkOut) {
    if (image.size() > kMaxWholeFileBytes + kSealOverheadBytes) return false;
    size_t size = 0;
    if (!UnsealInPlace(reinterpret_cast<unsigned char*>(image.data()), image.size(), LauncherFileKey(), &size)) {
        return false;
    }
    image.resize(size);
    gbkOut->assign(image.c_str());
    return true;
}

void CVersionFetcher::BeginStep(const LauncherSettings& settings, std::string launcherFolder,
                                const std::atomic<bool>* stop) {
    m_transferMode = settings.TransferMode;
    m_serverPrefix = ServerUrlPrefix(settings);
    m_launcherFolder = std::move(launcherFolder);
    m_baseUrl.clear();
    m_stop = stop;
    std::lock_guard<std::mutex> hold(m_digestMutex);
    m_written.clear();
}

std::string CVersionFetcher::FailureText(const std::string& generic) const {
    const std::string own = m_transfer->FailureText();
    return own.empty() ? generic : own;
}

int CVersionFetcher::FetchIntoMemory(const std::string& url, const std::string& localName, int64_t cap,
                                     bool* notFoundOut, std::string* bytesOut) {
    const std::string localPath = m_launcherFolder + "\\" + localName;
    // A leftover from a run that died may be of another file state; a resume
    // would splice the two, so every small file is fetched whole.
    (void)fs_port::RemoveFile(localPath);
    const int result = m_transfer->FetchToFile(m_transferMode, url, localPath, cap, m_stop, notFoundOut, {});
    bytesOut->clear();
    if (result == 0 && !ReadFetched(localPath, bytesOut)) bytesOut->clear();
    // Also what a failed fetch left: at most the cap, or an empty file.
    (void)fs_port::RemoveFile(localPath);
    return result;
}

int CVersionFetcher::FetchVersionList(std::string* rawOut) {
    const std::string url = m_serverPrefix + "versionlist.data";
    rawOut->clear();
    if (m_transferMode != kTransferModeHttp) {
        return m_transfer->FetchToMemory(m_transferMode, url, kMaxVersionListBytes, rawOut, m_stop);
    }
    return FetchIntoMemory(url, "versionlist.data", kMaxVersionListBytes, nullptr, rawOut);
}

bool CVersionFetcher::FetchTrustFile(const std::string& url, const std::string& name, int64_t cap,
                                     std::string* bytesOut, bool* missingOut, StepFailure* failureOut) {
    *missingOut = false;
    const int result = FetchIntoMemory(url, name, cap, missingOut, bytesOut);
    if (result == 0 && !bytesOut->empty()) return true;
    if (*missingOut || Stopped()) return false;
    *failureOut = {FailureText(StringPrintf(update_text::kTrustFileFetchFailed, name.c_str(), result * 10)), url};
    return false;
}

bool CVersionFetcher::CheckVersionList(const std::string& raw, StepFailure* failureOut) {
    if (!m_trust.Enabled()) {
        static std::atomic<bool> s_logged{false};
        if (!s_logged.exchange(true)) TheJournal().AddEntry(EntryKind::Notice, update_text::kReleasesNotChecked);
        return true;
    }
    const std::string url = m_serverPrefix + "versionlist.data.minisig";
    std::string signature;
    bool missing = false;
    if (!FetchTrustFile(url, kVersionListSignatureName, kMaxFetchedSignatureBytes, &signature, &missing,
                        failureOut) && !missing) {
        return false;
    }
    TrustRefusal refusal;
    const std::string statePath = m_launcherFolder + "\\" + kTrustStateFileName;
    if (m_trust.CheckVersionList(raw, missing ? nullptr : &signature, statePath,
                                 static_cast<int64_t>(std::time(nullptr)), &refusal)) {
        return true;
    }
    *failureOut = FailureOf(refusal);
    return false;
}

std::string CVersionFetcher::VersionBaseUrl(const std::string& versionText) const {
    return m_serverPrefix + versionText + (m_transferMode == kTransferModeHttp ? "/" : "\\");
}

bool CVersionFetcher::OpenVersion(const std::string& versionText, const std::string& pinnedSha256,
                                  StepFailure* failureOut) {
    m_baseUrl = VersionBaseUrl(versionText);
    if (!m_trust.Enabled()) return true;
    std::string manifest;
    std::string signature;
    bool manifestMissing = false;
    bool signatureMissing = false;
    if (!FetchTrustFile(UrlOf(kManifestName), kManifestName, kMaxFetchedManifestBytes, &manifest, &manifestMissing,
                        failureOut) && !manifestMissing) {
        return false;
    }
    if (!manifestMissing &&
        !FetchTrustFile(UrlOf(kManifestSignatureName), kManifestSignatureName, kMaxFetchedSignatureBytes,
                        &signature, &signatureMissing, failureOut) && !signatureMissing) {
        return false;
    }
    TrustRefusal refusal;
    const bool signedManifest = !manifestMissing && !signatureMissing;
    if (m_trust.CheckManifest(manifest, signedManifest ? &signature : nullptr, versionText, pinnedSha256,
                              &refusal)) {
        return true;
    }
    *failureOut = FailureOf(refusal);
    return false;
}

FetchedFile CVersionFetcher::FetchSmallFile(const std::string& name, VersionFileKind kind, int64_t cap) {
    FetchedFile file;
    bool mayBeMissing = kind == VersionFileKind::Optional;
    if (m_trust.Enabled()) {
        // The signed manifest says whether the version has the file: one it
        // names must come (a 404 is a host's fault, and the next host is
        // asked), one it does not name is not asked for.
        if (mayBeMissing && !m_trust.Lists(name)) {
            file.absent = true;
            return file;
        }
        mayBeMissing = false;
        uint64_t size = 0;
        TrustRefusal refusal;
        if (!m_trust.ExpectedSize(name, &size, &refusal)) {
            file.refused = true;
            file.failure = FailureOf(refusal);
            return file;
        }
        cap = std::min(cap, AsCap(size));
    }
    bool notFound = false;
    file.result = FetchIntoMemory(UrlOf(name), name, cap, mayBeMissing ? &notFound : nullptr, &file.bytes);
    file.absent = file.result != 0 && notFound;
    // The bytes that are used are the bytes that are checked: the file is
    // read once, and not again by path after its check.
    TrustRefusal refusal;
    if (file.result == 0 && m_trust.Enabled() &&
        !m_trust.CheckDigest(name, file.bytes.size(), Sha256Hex(file.bytes), &refusal)) {
        file.refused = true;
        file.failure = FailureOf(refusal);
        file.bytes.clear();
    }
    return file;
}

bool CVersionFetcher::CheckListed(const std::vector<std::string>& names, StepFailure* failureOut) const {
    if (!m_trust.Enabled()) return true;
    for (const std::string& name : names) {
        uint64_t size = 0;
        TrustRefusal refusal;
        if (!m_trust.ExpectedSize(name, &size, &refusal)) {
            *failureOut = FailureOf(refusal);
            return false;
        }
    }
    return true;
}

bool CVersionFetcher::ListedSize(const std::string& name, uint64_t* sizeOut) const {
    TrustRefusal refusal;
    return m_trust.Enabled() && m_trust.ExpectedSize(name, sizeOut, &refusal);
}

bool CVersionFetcher::PrepareWorkFolder(const std::string& workFolder, const std::string& versionText) {
    m_workFolder = workFolder;
    {
        std::lock_guard<std::mutex> hold(m_digestMutex);
        m_usedKept.clear();
        m_written.clear();
    }
    const std::string base = VersionBaseUrl(versionText);
    if (m_kept.Open(workFolder) && m_kept.IsFor(versionText, base)) {
        m_kept.KeepOnlyItsFiles();
        TheJournal().AddEntryF(EntryKind::Notice, update_text::kKeptDownloadsLog, versionText.c_str());
        return true;
    }
    DeleteFolderTree(workFolder);
    if (!fs_port::MakeDirectory(workFolder.substr(0, workFolder.size() - 1))) return false;
    m_kept.Start(workFolder, versionText, base);
    return true;
}

bool CVersionFetcher::KeptEntry(const std::string& name, const std::string& localPath, KeptFile* fileOut) {
    KeptFile wanted;
    wanted.name = name;
    wanted.localPath = localPath.compare(0, m_workFolder.size(), m_workFolder) == 0
                           ? localPath.substr(m_workFolder.size())
                           : std::string();
    uint64_t listed = 0;
    if (ListedSize(name, &listed)) {
        wanted.wholeSize = AsCap(listed);
        wanted.sha256 = m_trust.ExpectedSha256(name);
    }
    KeptFile kept;
    // A kept file is that release's file only while the release still
    // describes it the same way; anything else starts from the first byte.
    const bool same = m_kept.Find(name, &kept) && kept.localPath == wanted.localPath && kept.sha256 == wanted.sha256 &&
                      (wanted.wholeSize < 0 || kept.wholeSize == wanted.wholeSize);
    const int64_t size = fs_port::FileSize(localPath);
    if (same && size > 0 && (kept.wholeSize < 0 || size <= kept.wholeSize) &&
        (kept.complete || !kept.validator.empty() || kept.wholeSize >= 0)) {
        *fileOut = kept;
        return true;
    }
    if (size >= 0) {
        TheJournal().AddEntryF(EntryKind::Info, update_text::kKeptDownloadDropped, name.c_str());
    }
    m_kept.Forget(name);
    (void)fs_port::RemoveFile(localPath);
    wanted.validator.clear();
    *fileOut = wanted;
    return false;
}

bool CVersionFetcher::UseKeptWhole(const KeptFile& entry, const std::string& localPath, const FetchWatch& watch) {
    // A file of its whole size is used as it is, marked complete or not (a
    // run may end between its last byte and the mark): it is checked before
    // it counts, like any kept file.
    const int64_t size = fs_port::FileSize(localPath);
    if (entry.wholeSize < 0 || size != entry.wholeSize) return false;
    {
        std::lock_guard<std::mutex> hold(m_digestMutex);
        m_usedKept.insert(entry.name);
    }
    m_reused += size;
    if (watch.progress) watch.progress(size, size);
    TheJournal().AddEntryF(EntryKind::Notice, update_text::kKeptDownloadUsed, entry.name.c_str(),
                           static_cast<long long>(size));
    return true;
}

int CVersionFetcher::FetchPackage(const std::string& name, const std::string& localPath,
                                  const std::atomic<bool>* stop, const FetchWatch& watch) {
    int64_t cap = kNoByteCap;
    if (m_trust.Enabled()) {
        uint64_t size = 0;
        // Not listed cannot happen after CheckListed; were it so, a cap of
        // nothing fails the fetch rather than taking what the server sends.
        cap = ListedSize(name, &size) ? AsCap(size) : 0;
    }
    {
        std::lock_guard<std::mutex> hold(m_digestMutex);
        m_written.erase(localPath);
        m_usedKept.erase(name);
    }
    KeptFile entry;
    const bool kept = KeptEntry(name, localPath, &entry);
    if (kept && UseKeptWhole(entry, localPath, watch)) return 0;
    entry.complete = false;
    m_kept.Record(entry);

    Sha256Tap tap;
    FetchWatch fetching = watch;
    if (kept) fetching.resume = {entry.validator, entry.wholeSize};
    // The kept bytes a continued fetch began after; a fetch that starts
    // over writes at 0 and took none of them.
    int64_t continuedAfter = -1;
    fetching.wrote = [&](int64_t offset, const char* data, size_t size) {
        if (continuedAfter < 0 || offset == 0) continuedAfter = offset;
        if (m_trust.Enabled()) tap.Wrote(offset, data, size);
        if (watch.wrote) watch.wrote(offset, data, size);
    };
    // Recorded before the first byte of the answer lands, so that a run cut
    // off in the middle knows what the bytes on the disk belong to.
    fetching.answered = [&](const std::string& validator, int64_t wholeSize) {
        // A stall resume later in this step continues under this answer.
        fetching.resume = {validator, wholeSize};
        if (entry.validator != validator || (!m_trust.Enabled() && entry.wholeSize != wholeSize)) {
            entry.validator = validator;
            if (!m_trust.Enabled()) entry.wholeSize = wholeSize;
            m_kept.Record(entry);
        }
        if (watch.answered) watch.answered(validator, wholeSize);
    };
    const int result = m_transfer->FetchToFile(m_transferMode, UrlOf(name), localPath, cap, stop, nullptr, fetching);
    // A failed fetch that kept no byte (a 404 leaves an empty file) keeps nothing.
    if (result != 0 && fs_port::FileSize(localPath) <= 0) m_kept.Forget(name);
    if (continuedAfter > 0) m_reused += continuedAfter;
    if (result == 0 && continuedAfter > 0) {
        // Its front came from the disk, which a power loss may have left
        // with a hole: a failed check then is not the host's fault.
        std::lock_guard<std::mutex> hold(m_digestMutex);
        m_usedKept.insert(name);
    }
    fs_port::FileStamp stamp;
    if (result == 0 && !m_trust.Enabled() && fs_port::ReadFileStamp(localPath, &stamp)) {
        // Unsigned, a whole download is complete: its unpacking checks it.
        entry.complete = true;
        entry.wholeSize = static_cast<int64_t>(stamp.size);
        m_kept.Record(entry);
    }
    WrittenDigest written;
    if (result == 0 && m_trust.Enabled() && fs_port::ReadFileStamp(localPath, &stamp) &&
        tap.Digest(static_cast<int64_t>(stamp.size), &written.sha256)) {
        written.stamp = stamp;
        std::lock_guard<std::mutex> hold(m_digestMutex);
        m_written[localPath] = written;
    }
    return result;
}

int CVersionFetcher::FetchSpan(const std::string& versionText, const std::string& package,
                               const std::string& localPath, int64_t first, int64_t length,
                               const std::atomic<bool>* stop, bool* rangesIgnoredOut, const FetchWatch& watch) {
    (void)fs_port::RemoveFile(localPath);
    return m_transfer->FetchSpanToFile(m_transferMode, VersionBaseUrl(versionText) + package, localPath, first, length,
                                       stop, rangesIgnoredOut, watch);
}

int CVersionFetcher::FetchFromVersion(const std::string& versionText, const std::string& package,
                                      const std::string& localPath, const std::atomic<bool>* stop,
                                      const FetchWatch& watch) {
    (void)fs_port::RemoveFile(localPath);
    return m_transfer->FetchToFile(m_transferMode, VersionBaseUrl(versionText) + package, localPath, kNoByteCap, stop,
                                   nullptr, watch);
}

void CVersionFetcher::KeepMember(const std::string& name, const std::string& localPath, uint64_t size,
                                 const std::string& sha256) {
    if (localPath.compare(0, m_workFolder.size(), m_workFolder) != 0) return;
    KeptFile file;
    file.name = name;
    file.localPath = localPath.substr(m_workFolder.size());
    file.wholeSize = AsCap(size);
    file.sha256 = sha256;
    file.complete = true;
    m_kept.RecordSoon(file);
}

bool CVersionFetcher::FindKeptMember(const std::string& name, const std::string& localPath, uint64_t size,
                                     const std::string& sha256) const {
    KeptFile kept;
    return m_kept.Find(name, &kept) && kept.complete && kept.sha256 == sha256 && kept.wholeSize == AsCap(size) &&
           m_workFolder + kept.localPath == localPath && fs_port::FileSize(localPath) == kept.wholeSize;
}

bool CVersionFetcher::DropDownload(const std::string& name) {
    bool used = false;
    {
        std::lock_guard<std::mutex> hold(m_digestMutex);
        used = m_usedKept.erase(name) > 0;
    }
    KeptFile entry;
    if (m_kept.Find(name, &entry)) {
        m_kept.Forget(name);
    } else {
        (void)fs_port::RemoveFile(m_workFolder + name);
    }
    return used;
}

bool CVersionFetcher::CheckPackage(const std::string& name, const std::string& localPath, StepFailure* failureOut,
                                   const std::atomic<bool>* stop) {
    if (!m_trust.Enabled()) return true;
    WrittenDigest written;
    bool known = false;
    {
        std::lock_guard<std::mutex> hold(m_digestMutex);
        const auto found = m_written.find(localPath);
        known = found != m_written.end();
        if (known) written = found->second;
    }
    fs_port::FileStamp stamp;
    TrustRefusal refusal;
    const bool asWritten = known && fs_port::ReadFileStamp(localPath, &stamp) && stamp == written.stamp;
    const bool good = asWritten ? m_trust.CheckDigest(name, stamp.size, written.sha256, &refusal)
                                : m_trust.CheckFile(name, localPath, &refusal, stop);
    KeptFile entry;
    if (good && m_kept.Find(name, &entry) && !entry.complete) {
        entry.complete = true;
        m_kept.Record(entry);
    }
    if (!good) *failureOut = FailureOf(refusal);
    return good;
}
