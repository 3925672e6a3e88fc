// Where the bytes of each file of a version lie on the update server, for
// the version's state.data: the members of the version folders' packages,
// found by their content (MD5 and size) through each folder's
// updatelist.data and located in the packages' ZIP directories. Used by
// release for the version it makes and by index for earlier versions.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "package/fast_file.h"
#include "platform/byte_sink.h"
#include "update/engine/state_index.h"

namespace zip {
class ZipReader;
}

// A version of the version list whose folder is on the server.
struct ServedVersion {
    std::string version;  // "a.b.c.d", the folder's name
    std::string folder;   // its path
    int32_t number = 0;
};

// The versions of root's versionlist.data that have a folder, highest first;
// none when there is no list yet. False when a list is there but unreadable.
[[nodiscard]] bool ReadServedVersions(const std::string& root, std::vector<ServedVersion>* versionsOut,
                                      std::string* whyOut);

// One member of a package of a version folder, as its list names it and its
// package's directory locates it.
struct ServedMember {
    std::string folder;   // the version folder's path
    std::string version;  // "a.b.c.d"
    std::string package;
    std::string member;   // as the update list spells it
    std::string place;    // where the launcher installs it
    uint64_t size = 0;
    std::string md5;      // lower case
    uint64_t headerOffset = 0;
    uint64_t packedSize = 0;
    uint16_t method = 0;
};

// A file of the version being indexed.
struct IndexedFile {
    std::string place;
    std::string md5;      // lower case
    uint64_t size = 0;
    bool sized = false;   // version.data gives no sizes: then any member with the MD5 serves
    std::string sha256;   // empty: taken from the member that holds the file
};

class CStateSources {
public:
    explicit CStateSources(const FileKey& key);
    ~CStateSources();
    CStateSources(const CStateSources&) = delete;
    CStateSources& operator=(const CStateSources&) = delete;

    // Reads the folder's updatelist.data and locates every member it lists
    // in its package. False, with nothing added, when the list cannot be read
    // or a package lacks a listed member or holds it with another size.
    [[nodiscard]] bool AddFolder(const std::string& folder, const std::string& version, std::string* whyOut);
    // The member of version's update list that is installed at place.
    const ServedMember* FindPlace(const std::string& version, const std::string& place) const;
    // Streams a member's content into sink.
    [[nodiscard]] bool ReadMember(const ServedMember& member, ByteSink* sink, std::string* whyOut);

    // The index of version: each file from the newest added folder, not newer
    // than version, whose member has its content. Every file without one
    // goes to missingOut, and the index is then of no use. False when a
    // package cannot be read, or a member's bytes differ from its list's MD5.
    [[nodiscard]] bool BuildIndex(const std::string& version, const std::vector<IndexedFile>& files,
                                  StateIndex* indexOut, std::vector<std::string>* missingOut, std::string* whyOut);

private:
    struct Folder {
        std::string version;
        std::vector<ServedMember> members;
        std::unordered_map<std::string, std::vector<size_t>> byMd5;  // into members
    };

    const ServedMember* FindContent(const IndexedFile& file, int32_t newest) const;
    [[nodiscard]] bool OpenPackage(const std::string& path, std::string* whyOut);
    [[nodiscard]] bool TakeSha256(const ServedMember& member, std::string* hexOut, std::string* whyOut);

    FileKey m_key;
    std::map<int32_t, Folder, std::greater<int32_t>> m_folders;  // newest first
    std::map<std::string, std::string> m_sha256;                 // md5 and size -> SHA-256
    std::unique_ptr<zip::ZipReader> m_reader;                    // the package last read
    std::string m_readerPath;
};

// The listed versions above version whose state.data names a package of
// version: a new release of version moved their bytes.
std::vector<std::string> IndexesPointingInto(const std::vector<ServedVersion>& served, const std::string& version,
                                             const FileKey& key);
