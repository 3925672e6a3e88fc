// Writes a ZIP archive member by member, each streamed from its source file
// through fixed buffers. The archive is built in a temporary file beside the
// destination and renamed over it when finished, so an abandoned or failed
// package never replaces anything.
#pragma once

#include <zlib.h>

#include <cstdio>
#include <string>
#include <unordered_set>
#include <vector>

#include "external/zip_format.h"

namespace zip {

// Without ZIP64 records, every offset and size must stay below 4 GiB and the
// member count below 65536; our packages (logs, settings) are far smaller.
constexpr uint64_t kMaxWrittenPackageBytes = 0xFFFFFFFEu;
constexpr size_t kMaxWrittenMembers = 0xFFFF;
constexpr int kDeflateLevel = 6;

class ZipWriter {
public:
    ZipWriter();
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    [[nodiscard]] bool Create(const std::string& path, std::string* errorOut);
    bool IsActive() const { return m_file != nullptr; }
    // Adds a file under memberName (UTF-8, stored as given). On failure the
    // package stays as it was before the call and further members may follow.
    [[nodiscard]] bool AddFile(const std::string& sourcePath, const std::string& memberName,
                               std::string* errorOut);
    // Writes the central directory and the end record with this comment, then
    // puts the package in place.
    [[nodiscard]] bool Finish(const std::string& comment, std::string* errorOut);
    // Drops an unfinished package.
    void Abandon();

private:
    [[nodiscard]] bool WriteBytes(const void* data, size_t size);
    [[nodiscard]] bool WriteBody(std::FILE* source, bool deflate, uint64_t dataOffset,
                                 WriteEntry* entry, std::string* errorOut);
    [[nodiscard]] bool DeflateChunk(size_t inputSize, bool finish, uint64_t* packedInOut);
    [[nodiscard]] bool StoreOrDeflate(std::FILE* source, uint64_t dataOffset, WriteEntry* entry,
                                      std::string* errorOut);

    std::FILE* m_file = nullptr;
    std::string m_path;
    std::string m_tempPath;
    uint64_t m_offset = 0;  // where the next member starts
    std::vector<WriteEntry> m_entries;
    std::unordered_set<std::string> m_names;  // normalised, to refuse duplicates
    std::vector<unsigned char> m_inBuffer;
    std::vector<unsigned char> m_outBuffer;
    z_stream m_deflater{};
    bool m_deflaterReady = false;
};

}  // namespace zip
