// Signing a release tree on the update server: a manifest with its signature
// in every listed version folder, then the version list's signature. The
// launcher reads these files; it never needs the secret key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "trust/minisign.h"

constexpr int kDefaultExpiryDays = 30;
// Beyond ten years an expiry protects nothing.
constexpr int kMaxExpiryDays = 3650;
constexpr char kManifestName[] = "release.manifest";
constexpr char kManifestSignatureName[] = "release.manifest.minisig";
constexpr char kVersionListName[] = "versionlist.data";
constexpr char kVersionListSignatureName[] = "versionlist.data.minisig";

struct SigningResult {
    std::uint64_t serial = 0;
    std::int64_t expires = 0;
    std::vector<std::string> signedVersions;   // with a manifest written now
    std::vector<std::string> missingFolders;   // listed, but without a folder
};

// Writes content beside path and renames it over path, so that a server
// never serves half a file; ownerOnly: readable by the owner alone from the
// start (a secret key).
[[nodiscard]] bool WriteAtomically(const std::string& path, const std::string& content,
                                   bool ownerOnly, std::string* whyOut);

// Writes release.manifest and release.manifest.minisig in every folder of a
// version listed in root's versionlist.data, then each manifest's SHA-256 as
// the fourth field of its version's line (the pin), then
// versionlist.data.minisig.
// The serial is one above every serial in the tree's signatures and never
// below now; the list expires expiryDays after now.
[[nodiscard]] bool SignReleaseTree(const std::string& root, const MinisignSecretKey& key,
                                   int expiryDays, std::int64_t now, SigningResult* resultOut,
                                   std::string* whyOut);
// Only the pins of the manifests as they are and a new
// versionlist.data.minisig (new serial and expiry). Refused when a
// listed version folder lacks its signed manifest, or holds files its
// manifest does not list by name and size: that tree needs SignReleaseTree.
[[nodiscard]] bool ResignVersionList(const std::string& root, const MinisignSecretKey& key,
                                     int expiryDays, std::int64_t now, SigningResult* resultOut,
                                     std::string* whyOut);
