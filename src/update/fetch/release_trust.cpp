#include "update/fetch/release_trust.h"

#include "journal/journal.h"
#include "platform/file_system.h"
#include "platform/text_format.h"
#include "trust/file_sha256.h"
#include "trust/trust_state.h"
#include "update/report/status_texts.h"

namespace {

bool Refuse(TrustRefusal* refusalOut, std::string shown, std::string reason) {
    refusalOut->shown = std::move(shown);
    refusalOut->reason = std::move(reason);
    return false;
}

// The status text of a signature that did not check, for the version list
// (version empty) or a version's manifest.
std::string SignatureText(SignatureCheck check, const std::string& version) {
    const bool list = version.empty();
    switch (check) {
        case SignatureCheck::kUnknownKey:
            return list ? update_text::kListForeignKey
                        : StringPrintf(update_text::kManifestForeignKey, version.c_str());
        case SignatureCheck::kBadSignature:
        case SignatureCheck::kBadTrustedComment:
            return list ? update_text::kListBadSignature
                        : StringPrintf(update_text::kManifestBadSignature, version.c_str());
        default:
            return list ? update_text::kListUnsigned
                        : StringPrintf(update_text::kManifestUnsigned, version.c_str());
    }
}

// The serial below which a list is a rollback; a damaged state counts as 0
// (and says so in the log) rather than locking the player out for good.
uint64_t AcceptedSerial(const std::string& statePath) {
    uint64_t serial = 0;
    if (ReadTrustState(statePath, &serial) == TrustStateRead::kDamaged) {
        TheJournal().AddEntryF(EntryKind::Error, update_text::kTrustStateDamaged,
                               fs_port::NativePath(statePath).c_str());
    }
    return serial;
}

}  // namespace

void CReleaseTrust::UseKeys(std::vector<MinisignPublicKey> keys) {
    m_enabled = true;
    m_keys = std::move(keys);
}

bool CReleaseTrust::CheckVersionList(std::string_view raw, const std::string* signature,
                                     const std::string& statePath, int64_t now, TrustRefusal* refusalOut) {
    if (!signature) {
        return Refuse(refusalOut, update_text::kListUnsigned, std::string(kVersionListSignatureName) + " missing");
    }
    std::string comment;
    const SignatureCheck check = CheckMinisignSignature(raw, *signature, m_keys, &comment);
    if (check != SignatureCheck::kOk) {
        return Refuse(refusalOut, SignatureText(check, std::string()),
                      std::string("versionlist.data: ") + SignatureCheckName(check));
    }
    ListComment list;
    if (!ParseListComment(comment, &list)) {
        return Refuse(refusalOut, update_text::kListBadSignature,
                      "versionlist.data: trusted comment \"" + comment + "\" is not \"vantorel serial=N expires=T\"");
    }
    const uint64_t accepted = AcceptedSerial(statePath);
    if (list.serial < accepted) {
        return Refuse(refusalOut, update_text::kListRollback,
                      StringPrintf("versionlist.data: serial %llu, below the accepted %llu",
                                   static_cast<unsigned long long>(list.serial),
                                   static_cast<unsigned long long>(accepted)));
    }
    if (now >= list.expires) {
        return Refuse(refusalOut, update_text::kListExpired,
                      "versionlist.data: expired at " + UtcTimeText(list.expires) + ", now " + UtcTimeText(now));
    }
    TheJournal().AddEntryF(EntryKind::Info, update_text::kListAcceptedLog, static_cast<unsigned long long>(list.serial),
                           UtcTimeText(list.expires).c_str(), UtcTimeText(now).c_str());
    if (list.serial != accepted && !WriteTrustState(statePath, list.serial)) {
        // The list is good; only the next rollback check loses this serial.
        TheJournal().AddEntryF(EntryKind::Error, update_text::kTrustStateWriteFailed,
                               fs_port::NativePath(statePath).c_str());
    }
    return true;
}

bool CReleaseTrust::CheckManifest(std::string_view manifest, const std::string* signature,
                                  const std::string& versionText, const std::string& pinnedSha256,
                                  TrustRefusal* refusalOut) {
    m_manifest.clear();
    if (!signature) {
        return Refuse(refusalOut, StringPrintf(update_text::kManifestUnsigned, versionText.c_str()),
                      versionText + "/" + kManifestSignatureName + " missing");
    }
    std::string comment;
    const SignatureCheck check = CheckMinisignSignature(manifest, *signature, m_keys, &comment);
    if (check != SignatureCheck::kOk) {
        return Refuse(refusalOut, SignatureText(check, versionText),
                      versionText + "/" + kManifestName + ": " + SignatureCheckName(check));
    }
    ManifestComment named;
    if (!ParseManifestComment(comment, &named) || named.version != versionText) {
        return Refuse(refusalOut, StringPrintf(update_text::kManifestOtherVersion, versionText.c_str()),
                      versionText + "/" + kManifestName + ": trusted comment \"" + comment + "\" names another version");
    }
    if (pinnedSha256.empty()) {
        return Refuse(refusalOut, StringPrintf(update_text::kManifestNotPinned, versionText.c_str()),
                      std::string("versionlist.data: the line of ") + versionText +
                          " has no fourth field, the SHA-256 of its " + kManifestName);
    }
    const std::string digest = Sha256Hex(manifest);
    if (digest != pinnedSha256) {
        return Refuse(refusalOut, StringPrintf(update_text::kManifestNotAsPinned, versionText.c_str()),
                      versionText + "/" + kManifestName + ": SHA-256 " + digest + ", versionlist.data says " +
                          pinnedSha256);
    }
    std::vector<ManifestEntry> entries;
    if (!ParseReleaseManifest(manifest, &entries)) {
        return Refuse(refusalOut, StringPrintf(update_text::kManifestUnreadable, versionText.c_str()),
                      versionText + "/" + kManifestName + ": not a list of \"sha256 size name\" lines");
    }
    m_manifest = std::move(entries);
    m_manifestVersion = versionText;
    return true;
}

const ManifestEntry* CReleaseTrust::Find(const std::string& name) const {
    for (const ManifestEntry& entry : m_manifest) {
        if (entry.name == name) return &entry;
    }
    return nullptr;
}

bool CReleaseTrust::ExpectedSize(const std::string& name, uint64_t* sizeOut, TrustRefusal* refusalOut) const {
    const ManifestEntry* entry = Find(name);
    if (!entry) {
        return Refuse(refusalOut, StringPrintf(update_text::kFileNotInManifest, name.c_str()),
                      m_manifestVersion + "/" + kManifestName + " does not name " + name);
    }
    *sizeOut = entry->size;
    return true;
}

std::string CReleaseTrust::ExpectedSha256(const std::string& name) const {
    const ManifestEntry* entry = Find(name);
    return entry ? entry->sha256Hex : std::string();
}

bool CReleaseTrust::CheckFile(const std::string& name, const std::string& path, TrustRefusal* refusalOut,
                              const std::atomic<bool>* stop) const {
    uint64_t expected = 0;
    if (!ExpectedSize(name, &expected, refusalOut)) return false;
    const int64_t size = fs_port::FileSize(path);
    if (size < 0 || static_cast<uint64_t>(size) != expected) {
        return CheckDigest(name, size < 0 ? ~uint64_t{0} : static_cast<uint64_t>(size), std::string(), refusalOut);
    }
    std::string digest;
    uint64_t read = 0;
    if (!ComputeFileSha256(path, &digest, &read, stop) || read != expected) digest = "(unreadable)";
    return CheckDigest(name, expected, digest, refusalOut);
}

bool CReleaseTrust::CheckDigest(const std::string& name, uint64_t size, const std::string& sha256Hex,
                                TrustRefusal* refusalOut) const {
    uint64_t expected = 0;
    if (!ExpectedSize(name, &expected, refusalOut)) return false;
    const std::string shown = StringPrintf(update_text::kFileNotAsInManifest, name.c_str());
    if (size != expected) {
        const long long shownSize = size == ~uint64_t{0} ? -1LL : static_cast<long long>(size);
        return Refuse(refusalOut, shown,
                      StringPrintf("%s: size %lld, the manifest says %llu", name.c_str(), shownSize,
                                   static_cast<unsigned long long>(expected)));
    }
    const std::string& wanted = Find(name)->sha256Hex;
    if (sha256Hex != wanted) {
        return Refuse(refusalOut, shown, name + ": SHA-256 " + sha256Hex + ", the manifest says " + wanted);
    }
    return true;
}

void LogTrustKeys(const std::vector<MinisignPublicKey>& keys, bool checkReleases) {
    if (!checkReleases) {
        TheJournal().AddEntry(EntryKind::Notice, update_text::kTrustKeysNoneLog);
        return;
    }
    if (keys.empty()) {
        TheJournal().AddEntry(EntryKind::Error, update_text::kTrustKeysUnreadableLog);
        return;
    }
    std::string ids;
    for (const MinisignPublicKey& key : keys) ids += (ids.empty() ? "" : ", ") + MinisignKeyIdText(key.keyId);
    TheJournal().AddEntryF(EntryKind::Info, update_text::kTrustKeysLog, ids.c_str());
}

std::string UtcTimeText(int64_t unixSeconds) {
    // Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
    int64_t days = unixSeconds / 86400;
    int64_t rest = unixSeconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return StringPrintf("%04lld-%02lld-%02lld %02lld:%02lld:%02lld UTC", static_cast<long long>(year),
                        static_cast<long long>(month), static_cast<long long>(day),
                        static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                        static_cast<long long>(rest % 60));
}
