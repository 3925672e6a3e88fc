#include "tools/patchkit/release_signing.h"

#include <algorithm>
#include <map>

#include "app/util/launcher_util.h"
#include "platform/byte_sink.h"
#include "platform/file_system.h"
#include "tools/patchkit/operator_console.h"
#include "trust/file_sha256.h"
#include "trust/release_manifest.h"
#include "update/engine/version_list.h"
#include "update/install/installer_file_ops.h"

namespace {

// Where a file is written before it is renamed into place; such leftovers of
// an interrupted run are never listed in a manifest.
constexpr char kWritingSuffix[] = ".signing";
constexpr std::int64_t kSecondsPerDay = 86400;

std::string Join(const std::string& folder, const std::string& name) {
    return folder + "\\" + name;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

struct ListedVersion {
    std::string version;  // the folder's name
    std::string folder;   // its path
    std::int32_t number = 0;
};

// The versions of root's version list that have a folder, with the list's bytes.
bool ReadVersionList(const std::string& root, std::string* bytesOut,
                     std::vector<ListedVersion>* versionsOut, SigningResult* result,
                     std::string* whyOut) {
    const std::string path = Join(root, kVersionListName);
    bool tooLarge = false;
    std::string text;
    std::vector<VersionEntry> entries;
    if (!ReadFileUpTo(path, kMaxVersionListBytes, bytesOut, &tooLarge) ||
        !DecodeVersionList(*bytesOut, &text) ||
        ParseVersionList(text, &entries) != VersionListParse::Ok) {
        *whyOut = tooLarge ? path + " is too large" : "cannot read a version list from " + path;
        return false;
    }
    for (const VersionEntry& entry : entries) {
        ListedVersion listed{VersionNumberToText(entry.nVersion), "", entry.nVersion};
        listed.folder = Join(root, listed.version);
        if (fs_port::IsDirectory(listed.folder) && !fs_port::IsLink(listed.folder)) {
            versionsOut->push_back(listed);
        } else {
            result->missingFolders.push_back(listed.version);
        }
    }
    return true;
}

// The trusted comment of a signature file that is there and well-formed.
bool ReadComment(const std::string& path, std::string* commentOut) {
    std::string text;
    bool tooLarge = false;
    return fs_port::IsRegularFile(path) &&
           ReadFileUpTo(path, kMaxMinisignFileBytes, &text, &tooLarge) &&
           ReadUncheckedTrustedComment(text, commentOut);
}

// One above the largest serial of the tree's signatures, and at least now, so
// that signing from a fresh checkout (or another machine) still grows it.
bool NextSerial(const std::string& root, const std::vector<ListedVersion>& versions,
                std::int64_t now, std::uint64_t* serialOut, std::string* whyOut) {
    std::uint64_t largest = 0;
    std::string comment;
    ListComment list;
    if (ReadComment(Join(root, kVersionListSignatureName), &comment) &&
        ParseListComment(comment, &list)) {
        largest = list.serial;
    }
    for (const ListedVersion& listed : versions) {
        ManifestComment manifest;
        if (ReadComment(Join(listed.folder, kManifestSignatureName), &comment) &&
            ParseManifestComment(comment, &manifest)) {
            largest = std::max(largest, manifest.serial);
        }
    }
    if (largest == UINT64_MAX) {
        *whyOut = "the serial in the tree's signatures cannot grow any more";
        return false;
    }
    *serialOut =
        std::max<std::uint64_t>(largest + 1, now > 0 ? static_cast<std::uint64_t>(now) : 0);
    return true;
}

// Every file of a version folder by name, SHA-256 and size.
bool DescribeFolder(const std::string& folder, std::vector<ManifestEntry>* entriesOut, bool hash,
                    std::string* whyOut) {
    std::vector<fs_port::DirEntry> names;
    if (!fs_port::ListDirectory(folder, &names)) {
        *whyOut = "cannot list " + folder;
        return false;
    }
    for (const fs_port::DirEntry& name : names) {
        if (name.name == kManifestName || name.name == kManifestSignatureName ||
            EndsWith(name.name, kWritingSuffix)) {
            continue;
        }
        ManifestEntry entry;
        entry.name = name.name;
        const std::string path = Join(folder, name.name);
        const std::int64_t size = fs_port::FileSize(path);
        if (name.isLink || name.isDirectory || !IsManifestFileName(name.name) || size < 0) {
            *whyOut = "a version folder holds only plain files with safe names: " + path;
            return false;
        }
        entry.size = static_cast<std::uint64_t>(size);
        if (hash && !ComputeFileSha256(path, &entry.sha256Hex, &entry.size)) {
            *whyOut = "cannot read " + path;
            return false;
        }
        entriesOut->push_back(entry);
    }
    return true;
}

bool SignFile(const std::string& path, const std::string& content, const std::string& comment,
              const MinisignSecretKey& key, std::string* whyOut) {
    std::string signature;
    if (!SignMinisign(content, comment, key, &signature)) {
        *whyOut = "cannot sign " + path;
        return false;
    }
    return WriteAtomically(path, signature, false, whyOut);
}

// Also gives the manifest's SHA-256, the version's pin in the list.
bool SignVersionFolder(const ListedVersion& listed, std::uint64_t serial,
                       const MinisignSecretKey& key, std::string* pinOut, std::string* whyOut) {
    std::vector<ManifestEntry> entries;
    std::string manifest;
    if (!DescribeFolder(listed.folder, &entries, true, whyOut)) return false;
    if (!TryFormatReleaseManifest(entries, &manifest)) {
        *whyOut =
            "cannot list the files of " + listed.folder + " in a manifest (names GBK cannot hold?)";
        return false;
    }
    const std::string manifestPath = Join(listed.folder, kManifestName);
    *pinOut = Sha256Hex(manifest);
    return WriteAtomically(manifestPath, manifest, false, whyOut) &&
           SignFile(Join(listed.folder, kManifestSignatureName), manifest,
                    FormatManifestComment({listed.version, serial}), key, whyOut);
}

// The manifest on disk still describes the folder by names and sizes; gives
// its SHA-256, the version's pin in the list.
bool CheckSignedFolder(const ListedVersion& listed, std::string* pinOut, std::string* whyOut) {
    std::string comment, manifest;
    ManifestComment parsed;
    std::vector<ManifestEntry> listedEntries, present;
    bool tooLarge = false;
    const std::string hint = "; run patchkit sign, not resign";
    if (!ReadComment(Join(listed.folder, kManifestSignatureName), &comment) ||
        !ParseManifestComment(comment, &parsed) || parsed.version != listed.version ||
        !ReadFileUpTo(Join(listed.folder, kManifestName), kMaxManifestBytes, &manifest,
                      &tooLarge) ||
        !ParseReleaseManifest(manifest, &listedEntries)) {
        *whyOut = listed.version + " has no signed release.manifest" + hint;
        return false;
    }
    if (!DescribeFolder(listed.folder, &present, false, whyOut)) return false;
    std::map<std::string, std::uint64_t> sizes;
    for (const ManifestEntry& entry : listedEntries) sizes[entry.name] = entry.size;
    for (const ManifestEntry& entry : present) {
        const auto found = sizes.find(entry.name);
        if (found == sizes.end() || found->second != entry.size) {
            *whyOut = listed.version + "\\" + entry.name +
                      (found == sizes.end() ? " is not in the signed manifest"
                                            : " changed since the manifest was signed") +
                      hint;
            return false;
        }
    }
    if (present.size() != listedEntries.size()) {
        *whyOut = listed.version + " lacks files its manifest lists" + hint;
        return false;
    }
    *pinOut = Sha256Hex(manifest);
    return true;
}

// Writes each version's pin into the list (in place of any earlier one), so
// that the list's signature vouches for exactly these manifests. The file is
// rewritten only when a pin changed.
bool PinManifests(const std::string& root, const std::vector<ListedVersion>& versions,
                  const std::vector<std::string>& pins, std::string* listBytesInOut,
                  std::string* whyOut) {
    std::string pinned = *listBytesInOut;
    for (size_t i = 0; i < versions.size(); ++i) {
        pinned = PinManifest(pinned, versions[i].number, pins[i]);
    }
    if (pinned == *listBytesInOut) return true;
    if (pinned.size() > kMaxVersionListBytes) {
        *whyOut = Join(root, kVersionListName) + " would be too large with the manifests' digests";
        return false;
    }
    if (!WriteAtomically(Join(root, kVersionListName), pinned, false, whyOut)) return false;
    *listBytesInOut = pinned;
    return true;
}

bool SignList(const std::string& root, const std::string& listBytes, const MinisignSecretKey& key,
              int expiryDays, std::int64_t now, SigningResult* result, std::string* whyOut) {
    result->expires = now + expiryDays * kSecondsPerDay;
    return SignFile(Join(root, kVersionListSignatureName), listBytes,
                    FormatListComment({result->serial, result->expires}), key, whyOut);
}

}  // namespace

bool WriteAtomically(const std::string& path, const std::string& content, bool ownerOnly,
                     std::string* whyOut) {
    *whyOut = "cannot write " + path;
    return WriteFileBeside(path, content, kWritingSuffix, ownerOnly ? RestrictToOwner : nullptr) ==
           BesideWrite::Done;
}

bool SignReleaseTree(const std::string& root, const MinisignSecretKey& key, int expiryDays,
                     std::int64_t now, SigningResult* resultOut, std::string* whyOut) {
    std::string listBytes;
    std::vector<ListedVersion> versions;
    SigningResult result;
    if (!ReadVersionList(root, &listBytes, &versions, &result, whyOut) ||
        !NextSerial(root, versions, now, &result.serial, whyOut)) {
        return false;
    }
    // The manifests first: a launcher that sees the new list signature must
    // find every manifest it vouches for already in place.
    std::vector<std::string> pins(versions.size());
    for (size_t i = 0; i < versions.size(); ++i) {
        if (!SignVersionFolder(versions[i], result.serial, key, &pins[i], whyOut)) return false;
        result.signedVersions.push_back(versions[i].version);
    }
    if (!PinManifests(root, versions, pins, &listBytes, whyOut) ||
        !SignList(root, listBytes, key, expiryDays, now, &result, whyOut)) {
        return false;
    }
    *resultOut = result;
    return true;
}

bool ResignVersionList(const std::string& root, const MinisignSecretKey& key, int expiryDays,
                       std::int64_t now, SigningResult* resultOut, std::string* whyOut) {
    std::string listBytes;
    std::vector<ListedVersion> versions;
    SigningResult result;
    if (!ReadVersionList(root, &listBytes, &versions, &result, whyOut)) return false;
    std::vector<std::string> pins(versions.size());
    for (size_t i = 0; i < versions.size(); ++i) {
        if (!CheckSignedFolder(versions[i], &pins[i], whyOut)) return false;
    }
    if (!NextSerial(root, versions, now, &result.serial, whyOut) ||
        !PinManifests(root, versions, pins, &listBytes, whyOut) ||
        !SignList(root, listBytes, key, expiryDays, now, &result, whyOut)) {
        return false;
    }
    *resultOut = result;
    return true;
}
