// The checks of a signed release, made before anything from the server is
// used: the version list's signature, serial and expiry; the target version's
// manifest and its signature; and the size and SHA-256 of every file fetched
// from the version folder. Without keys nothing is checked (a build made
// without keys behaves as before signatures existed).
//
//   CReleaseTrust trust;
//   trust.UseKeys(keys);
//   TrustRefusal refusal;
//   if (!trust.CheckVersionList(rawList, &signature, statePath, std::time(nullptr), &refusal)) ...
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "trust/minisign.h"
#include "trust/release_manifest.h"

constexpr char kVersionListSignatureName[] = "versionlist.data.minisig";
constexpr char kManifestName[] = "release.manifest";
constexpr char kManifestSignatureName[] = "release.manifest.minisig";
// Fetches stop as soon as a file shows to be larger than its parser takes.
constexpr int64_t kMaxFetchedSignatureBytes = static_cast<int64_t>(kMaxMinisignFileBytes);
constexpr int64_t kMaxFetchedManifestBytes = static_cast<int64_t>(kMaxManifestBytes);

// Why something from the server was refused: the status text (also logged)
// and, for the log only, which file and check, expected against found.
struct TrustRefusal {
    std::string shown;
    std::string reason;
};

class CReleaseTrust {
public:
    // From now on every release is checked against these keys; an empty list
    // (key files that could not be read) refuses every release.
    void UseKeys(std::vector<MinisignPublicKey> keys);
    [[nodiscard]] bool Enabled() const { return m_enabled; }

    // raw: the version list's bytes as fetched; signature null when the
    // server has none. Checks the signature, that the serial is not below
    // the one in the state file and that now (UNIX seconds) lies before the
    // expiry; then records the serial in the state file.
    [[nodiscard]] bool CheckVersionList(std::string_view raw, const std::string* signature,
                                        const std::string& statePath, int64_t now, TrustRefusal* refusalOut);
    // The target version's manifest (GBK bytes), its signature (null when
    // missing), the version text whose folder it came from and the pin of
    // that version's line in the checked version list (empty when the line
    // has none). Keeps the entries for the checks below.
    //
    // The pin binds the manifest to this list: a manifest signed for the
    // same version at another time (an older release of it, re-served by a
    // mirror) has another digest and is refused, though its signature is
    // good. The serial in the manifest's trusted comment is therefore not
    // compared: it only tells which signing run made the manifest (and lets
    // patchkit choose a larger serial next time); the list's serial is the
    // rollback check.
    [[nodiscard]] bool CheckManifest(std::string_view manifest, const std::string* signature,
                                     const std::string& versionText, const std::string& pinnedSha256,
                                     TrustRefusal* refusalOut);
    // The manifest's size of a file of the version folder, the cap of its
    // fetch; false (refused) when the manifest does not name it.
    [[nodiscard]] bool ExpectedSize(const std::string& name, uint64_t* sizeOut, TrustRefusal* refusalOut) const;
    [[nodiscard]] bool Lists(const std::string& name) const { return Find(name) != nullptr; }
    // The manifest's SHA-256 of a file (lower-case hex); empty when it names none.
    [[nodiscard]] std::string ExpectedSha256(const std::string& name) const;
    // The fetched file at path against the manifest's size and SHA-256,
    // streamed from the disk; a set *stop (may be null) ends the read, and the
    // file counts as refused.
    [[nodiscard]] bool CheckFile(const std::string& name, const std::string& path, TrustRefusal* refusalOut,
                                 const std::atomic<bool>* stop = nullptr) const;

    // The same check for a file whose size and SHA-256 (lower-case hex) were
    // taken as it was written.
    [[nodiscard]] bool CheckDigest(const std::string& name, uint64_t size, const std::string& sha256Hex,
                                   TrustRefusal* refusalOut) const;

private:
    [[nodiscard]] const ManifestEntry* Find(const std::string& name) const;

    bool m_enabled = false;
    std::vector<MinisignPublicKey> m_keys;
    std::vector<ManifestEntry> m_manifest;
    std::string m_manifestVersion;
};

// Logs, when a program starts, the ids of the keys it checks releases
// against, that it checks nothing (checkReleases false: a build without
// keys), or that its key text named keys of which none could be read (every
// release is then refused). A support log thus shows what a build trusts.
void LogTrustKeys(const std::vector<MinisignPublicKey>& keys, bool checkReleases);

// "2026-12-08 09:40:00 UTC" for UNIX seconds, for the log.
std::string UtcTimeText(int64_t unixSeconds);
