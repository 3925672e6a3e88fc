// The engine's side of signed releases: it fetches the signatures and the
// manifest, caps every fetch from the version folder at the manifest's size,
// and hands the bytes to CReleaseTrust before anything is used.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <ctime>

#include "app/util/launcher_util.h"
#include "external/fast_file.h"
#include "external/journal.h"
#include "platform/file_system.h"
#include "platform/text_format.h"
#include "trust/trust_state.h"
#include "update/game_updater.h"
#include "update/installer.h"
#include "update/status_texts.h"

bool CGameUpdater::FetchSmallFile(const std::string& url, const std::string& name, int64_t cap,
                                  std::string* contentOut, bool* notFoundOut) {
    const std::string localPath = m_strLauncherFolder + "\\" + name;
    (void)fs_port::RemoveFile(localPath);
    *notFoundOut = false;
    const int result =
        m_pTransfer->FetchToFile(m_settings.TransferMode, url, localPath, cap, &m_bStopRequested, notFoundOut, {});
    const bool read = result == 0 && ReadWholeFile(localPath, nullptr, false, contentOut);
    (void)fs_port::RemoveFile(localPath);
    if (read || *notFoundOut || StopHere()) return read;
    Fail(FetchFailure(StringPrintf(update_text::kTrustFileFetchFailed, name.c_str(), result * 10)), url);
    return false;
}

void CGameUpdater::RefuseRelease(const TrustRefusal& refusal) { Fail(refusal.shown, refusal.reason); }

bool CGameUpdater::CheckListSignature(const std::string& raw, const std::string& signatureUrl) {
    if (!m_trust.Enabled()) {
        static std::atomic<bool> s_logged{false};
        if (!s_logged.exchange(true)) TheJournal().AddEntry(EntryKind::Notice, update_text::kReleasesNotChecked);
        return true;
    }
    std::string signature;
    bool notFound = false;
    if (!FetchSmallFile(signatureUrl, kVersionListSignatureName, kMaxFetchedSignatureBytes, &signature, &notFound) &&
        !notFound) {
        return false;
    }
    TrustRefusal refusal;
    const std::string statePath = m_strLauncherFolder + "\\" + kTrustStateFileName;
    if (m_trust.CheckVersionList(raw, notFound ? nullptr : &signature, statePath,
                                 static_cast<int64_t>(std::time(nullptr)), &refusal)) {
        return true;
    }
    RefuseRelease(refusal);
    return false;
}

bool CGameUpdater::LoadManifest(const std::string& baseUrl, const std::string& versionText) {
    if (!m_trust.Enabled()) return true;
    std::string manifest;
    std::string signature;
    bool manifestMissing = false;
    bool signatureMissing = false;
    if (!FetchSmallFile(baseUrl + kManifestName, kManifestName, kMaxFetchedManifestBytes, &manifest,
                        &manifestMissing) && !manifestMissing) {
        return false;
    }
    if (!manifestMissing &&
        !FetchSmallFile(baseUrl + kManifestSignatureName, kManifestSignatureName, kMaxFetchedSignatureBytes,
                        &signature, &signatureMissing) && !signatureMissing) {
        return false;
    }
    TrustRefusal refusal;
    const bool signedManifest = !manifestMissing && !signatureMissing;
    if (m_trust.CheckManifest(manifest, signedManifest ? &signature : nullptr, versionText, m_target.manifestSha256,
                              &refusal)) {
        return true;
    }
    RefuseRelease(refusal);
    return false;
}

bool CGameUpdater::CapOfVersionFile(const std::string& name, int64_t* capInOut) {
    if (!m_trust.Enabled()) return true;
    uint64_t size = 0;
    TrustRefusal refusal;
    if (!m_trust.ExpectedSize(name, &size, &refusal)) {
        RefuseRelease(refusal);
        return false;
    }
    if (*capInOut == kNoByteCap || size < static_cast<uint64_t>(*capInOut)) *capInOut = static_cast<int64_t>(size);
    return true;
}

bool CGameUpdater::CheckVersionFile(const std::string& name, const std::string& path) {
    TrustRefusal refusal;
    if (!m_trust.Enabled() || m_trust.CheckFile(name, path, &refusal)) return true;
    RefuseRelease(refusal);
    return false;
}

// Every package is in the manifest before the first byte is fetched; each is
// checked before it is unpacked, and a refusal takes every package of this
// version step away again.
bool CGameUpdater::CheckPackagesListed(const UpdatePlan& plan) {
    for (const PackageGroup& group : plan.packages) {
        int64_t cap = kNoByteCap;
        if (!CapOfVersionFile(group.name, &cap)) return false;
    }
    return true;
}

int64_t CGameUpdater::CapOfListedPackage(const std::string& name) const {
    if (!m_trust.Enabled()) return kNoByteCap;
    uint64_t size = 0;
    TrustRefusal refusal;
    // Not listed cannot happen after CheckPackagesListed; were it so, a cap of
    // nothing fails the fetch rather than taking what the server sends.
    if (!m_trust.ExpectedSize(name, &size, &refusal)) return 0;
    return static_cast<int64_t>(std::min<uint64_t>(size, static_cast<uint64_t>(INT64_MAX)));
}

void CGameUpdater::DiscardDownloads() { DeleteFolderTree(m_strLauncherFolder + "\\" + kWorkFolderName); }
