// Reads a ZIP archive: its central directory once, then any member streamed
// through fixed buffers into a sink, with the member's CRC-32 and size checked.
#pragma once

#include <zlib.h>

#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "package/bundle.h"
#include "package/zip_format.h"
#include "platform/byte_sink.h"

namespace zip {

// Largest central directory we hold in memory, and most members per archive.
constexpr uint64_t kMaxDirectoryBytes = 32u * 1024u * 1024u;
constexpr uint64_t kMaxMembers = 256u * 1024u;
// Deflate cannot expand data by more than about 1032:1; a member that
// claims more is lying about its size.
constexpr uint64_t kMaxInflateRatio = 1032;
// Read and write chunk of the member streams.
constexpr size_t kStreamChunkBytes = 256u * 1024u;

class ZipReader {
public:
    ZipReader();
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // Reads and checks the whole directory: a package with any member that
    // cannot be unpacked safely (see zip_directory_check.h), members whose
    // data overlap, or a local header that names another member, is refused.
    [[nodiscard]] bool Open(const std::string& path, std::string* errorOut);
    void Close();
    bool IsOpen() const { return m_file != nullptr; }

    const std::vector<BundleMember>& Members() const { return m_members; }
    // The directory's record of Members()[index]: where its local header
    // lies, its method and sizes, what a fetch of the member alone needs.
    const CentralEntry& Entry(size_t index) const { return m_entries[index]; }
    const std::string& Comment() const { return m_comment; }
    // Finds a member by name, "\" and "/" counting as the same separator.
    [[nodiscard]] bool FindMember(const std::string& name, size_t* indexOut,
                                  std::string* errorOut) const;
    // Writes the member's content to sink; false on any damage, in which case
    // the sink may have received part of the content.
    [[nodiscard]] bool StreamMember(size_t index, ByteSink* sink, std::string* errorOut);

private:
    [[nodiscard]] bool ReadEndRecord(EndRecord* recordOut, std::string* errorOut);
    [[nodiscard]] bool ReadDirectory(const EndRecord& record, std::string* errorOut);
    [[nodiscard]] bool AddEntry(const CentralEntry& entry, std::string* errorOut);
    [[nodiscard]] bool CheckLayout(std::string* errorOut);
    [[nodiscard]] bool ReadLocalHeader(size_t index, uint64_t* dataOffsetOut,
                                       bool* nameMatchesOut, std::string* errorOut);
    [[nodiscard]] bool ReadAt(uint64_t offset, void* buffer, size_t size);
    [[nodiscard]] bool CopyStored(uint64_t size, ByteSink* sink, uLong* crcInOut,
                                  std::string* errorOut);
    [[nodiscard]] bool Inflate(const CentralEntry& entry, ByteSink* sink, uLong* crcInOut,
                               uint64_t* producedOut, std::string* errorOut);

    std::FILE* m_file = nullptr;
    uint64_t m_fileSize = 0;
    uint64_t m_directoryOffset = 0;
    std::string m_comment;
    std::vector<CentralEntry> m_entries;
    std::vector<BundleMember> m_members;
    std::vector<uint64_t> m_dataOffsets;  // where each member's data begins
    // Name with "/" separators -> index. Open refuses names that occur twice.
    std::unordered_map<std::string, size_t> m_index;
    std::vector<unsigned char> m_inBuffer;
    std::vector<unsigned char> m_outBuffer;
    z_stream m_inflater{};
    bool m_inflaterReady = false;
};

}  // namespace zip
