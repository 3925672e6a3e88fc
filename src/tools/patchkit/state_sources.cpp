#include "tools/patchkit/state_sources.h"

#include <algorithm>
#include <tuple>

#include "app/util/launcher_util.h"
#include "package/patch_kit.h"
#include "package/zip_reader.h"
#include "platform/file_system.h"
#include "platform/text_encoding.h"
#include "update/engine/update_lists.h"
#include "update/engine/version_list.h"
#include "update/install/install_paths.h"
#include "update/install/installer_file_ops.h"

namespace {

constexpr char kUpdateListName[] = "updatelist.data";

std::string Join(const std::string& folder, const std::string& name) { return folder + "\\" + name; }

std::string ContentKey(const std::string& md5, uint64_t size) { return md5 + ":" + std::to_string(size); }

// Hands every byte to two sinks: a member's MD5 and SHA-256 in one read.
class TeeSink : public ByteSink {
public:
    TeeSink(ByteSink* first, ByteSink* second) : m_first(first), m_second(second) {}
    [[nodiscard]] bool Write(const char* data, size_t size) override {
        return m_first->Write(data, size) && m_second->Write(data, size);
    }

private:
    ByteSink* m_first;
    ByteSink* m_second;
};

// The update list's lines, as the launcher reads them.
bool ReadUpdatePlan(const std::string& folder, const FileKey& key, UpdatePlan* planOut, std::string* whyOut) {
    const std::string path = Join(folder, kUpdateListName);
    std::string gbk, text, offending;
    std::vector<std::string> lines;
    if (!ReadWholeFile(path, &key, true, &gbk) || !GbkToUtf8(gbk, &text)) {
        *whyOut = "cannot read " + path;
        return false;
    }
    SplitText(text, "\n", &lines);
    BuildUpdatePlan(lines, planOut);
    if (!planOut->badSize.empty() || !CheckPlanPaths(*planOut, &offending)) {
        *whyOut = path + " does not hold a usable list";
        return false;
    }
    return true;
}

}  // namespace

bool ReadServedVersions(const std::string& root, std::vector<ServedVersion>* versionsOut, std::string* whyOut) {
    const std::string path = Join(root, "versionlist.data");
    versionsOut->clear();
    if (!fs_port::PathExists(path)) return true;
    std::string bytes, text;
    bool tooLarge = false;
    std::vector<VersionEntry> entries;
    if (!ReadFileUpTo(path, kMaxVersionListBytes, &bytes, &tooLarge) || !DecodeVersionList(bytes, &text)) {
        *whyOut = "cannot read a version list from " + path;
        return false;
    }
    if (ParseVersionList(text, &entries) != VersionListParse::Ok) return true;
    for (const VersionEntry& entry : entries) {
        ServedVersion served{VersionNumberToText(entry.nVersion), "", entry.nVersion};
        served.folder = Join(root, served.version);
        if (IsVersionFolderText(served.version) && fs_port::IsDirectory(served.folder) &&
            !fs_port::IsLink(served.folder)) {
            versionsOut->push_back(served);
        }
    }
    return true;
}

CStateSources::CStateSources(const FileKey& key) : m_key(key), m_reader(std::make_unique<zip::ZipReader>()) {}

CStateSources::~CStateSources() = default;

bool CStateSources::OpenPackage(const std::string& path, std::string* whyOut) {
    if (m_readerPath == path && m_reader->IsOpen()) return true;
    m_readerPath.clear();
    std::string error;
    if (!m_reader->Open(path, &error)) {
        *whyOut = "cannot read " + path + ": " + error;
        return false;
    }
    m_readerPath = path;
    return true;
}

bool CStateSources::AddFolder(const std::string& folder, const std::string& version, std::string* whyOut) {
    UpdatePlan plan;
    if (!ReadUpdatePlan(folder, m_key, &plan, whyOut)) return false;
    Folder added{version, {}, {}};
    for (const PackageGroup& group : plan.packages) {
        const std::string path = Join(folder, group.name);
        if (!OpenPackage(path, whyOut)) return false;
        for (const PackageMember& listed : group.members) {
            size_t index = 0;
            std::string error;
            if (!m_reader->FindMember(listed.strMember, &index, &error) ||
                m_reader->Entry(index).size != static_cast<uint64_t>(listed.nSize)) {
                *whyOut = path + " does not hold " + listed.strMember + " as " + kUpdateListName + " lists it";
                return false;
            }
            const zip::CentralEntry& entry = m_reader->Entry(index);
            ServedMember member{folder, version, group.name, listed.strMember, InstalledRelativePath(listed.strMember),
                                entry.size, AsciiFolded(listed.strExtra), entry.localHeaderOffset, entry.packedSize,
                                entry.method};
            // A member without a digest cannot be matched by content, but may be version.data.
            if (IsDigestText(member.md5)) added.byMd5[member.md5].push_back(added.members.size());
            added.members.push_back(std::move(member));
        }
    }
    m_folders[VersionTextToNumber(version.c_str())] = std::move(added);
    return true;
}

const ServedMember* CStateSources::FindPlace(const std::string& version, const std::string& place) const {
    const auto folder = m_folders.find(VersionTextToNumber(version.c_str()));
    if (folder == m_folders.end()) return nullptr;
    for (const ServedMember& member : folder->second.members) {
        if (ComparePlaces(member.place, place) == 0) return &member;
    }
    return nullptr;
}

const ServedMember* CStateSources::FindContent(const IndexedFile& file, int32_t newest) const {
    for (auto folder = m_folders.lower_bound(newest); folder != m_folders.end(); ++folder) {
        const auto found = folder->second.byMd5.find(file.md5);
        if (found == folder->second.byMd5.end()) continue;
        for (const size_t index : found->second) {
            const ServedMember& member = folder->second.members[index];
            if (!file.sized || member.size == file.size) return &member;
        }
    }
    return nullptr;
}

bool CStateSources::ReadMember(const ServedMember& member, ByteSink* sink, std::string* whyOut) {
    const std::string path = Join(member.folder, member.package);
    size_t index = 0;
    std::string error;
    if (!OpenPackage(path, whyOut)) return false;
    if (!m_reader->FindMember(member.member, &index, &error) || !m_reader->StreamMember(index, sink, &error)) {
        *whyOut = "cannot read " + member.member + " from " + path + ": " + error;
        return false;
    }
    return true;
}

// Hashes the member once per content; its MD5 must be the list's.
bool CStateSources::TakeSha256(const ServedMember& member, std::string* hexOut, std::string* whyOut) {
    const std::string key = ContentKey(member.md5, member.size);
    const auto known = m_sha256.find(key);
    if (known != m_sha256.end()) {
        *hexOut = known->second;
        return true;
    }
    DigestSink md5(DigestAlgorithm::Md5), sha256(DigestAlgorithm::Sha256);
    TeeSink both(&md5, &sha256);
    if (!ReadMember(member, &both, whyOut)) return false;
    if (md5.FinishHex() != member.md5) {
        *whyOut = member.member + " in " + Join(member.folder, member.package) + " does not have the MD5 of " +
                  kUpdateListName;
        return false;
    }
    *hexOut = m_sha256[key] = sha256.FinishHex();
    return true;
}

bool CStateSources::BuildIndex(const std::string& version, const std::vector<IndexedFile>& files, StateIndex* indexOut,
                               std::vector<std::string>* missingOut, std::string* whyOut) {
    const int32_t newest = VersionTextToNumber(version.c_str());
    std::vector<std::pair<const ServedMember*, const IndexedFile*>> found;
    missingOut->clear();
    for (const IndexedFile& file : files) {
        const ServedMember* source = FindContent(file, newest);
        if (!source) missingOut->push_back(file.place);
        found.emplace_back(source, &file);
    }
    if (!missingOut->empty()) return true;
    // In package order, so that each package is opened once and read front to back.
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return std::tie(a.first->folder, a.first->package, a.first->headerOffset) <
               std::tie(b.first->folder, b.first->package, b.first->headerOffset);
    });
    indexOut->version = version;
    indexOut->entries.clear();
    for (const auto& [source, file] : found) {
        StateEntry entry{file->place,     source->size,   source->md5,          file->sha256,       source->version,
                         source->package, source->member, source->headerOffset, source->packedSize, source->method};
        if (entry.sha256.empty() && !TakeSha256(*source, &entry.sha256, whyOut)) return false;
        indexOut->entries.push_back(std::move(entry));
    }
    return true;
}

std::vector<std::string> IndexesPointingInto(const std::vector<ServedVersion>& served, const std::string& version,
                                             const FileKey& key) {
    const int32_t number = VersionTextToNumber(version.c_str());
    std::vector<std::string> pointing;
    for (const ServedVersion& later : served) {
        std::string gbk, text, offending;
        StateIndex index;
        if (later.number <= number ||
            !ReadWholeFile(Join(later.folder, kStateIndexName), &key, true, &gbk) || !GbkToUtf8(gbk, &text) ||
            !ParseStateIndex(text, &index, &offending)) {
            continue;
        }
        const bool names = std::any_of(index.entries.begin(), index.entries.end(),
                                       [&](const StateEntry& entry) { return entry.sourceVersion == version; });
        if (names) pointing.push_back(later.version);
    }
    return pointing;
}
