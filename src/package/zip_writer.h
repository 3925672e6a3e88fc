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

#include "package/zip_format.h"
#include "package/zip_reader.h"

namespace zip {

// Sizes and offsets are 64-bit signed (ZIP64 beyond 4 GiB); no more members,
// and no larger central directory, than our reader takes.
constexpr uint64_t kMaxWrittenPackageBytes = INT64_MAX;
constexpr size_t kMaxWrittenMembers = static_cast<size_t>(kMaxMembers);
constexpr int kDeflateLevel = 6;
// Deflate is kept only when it saves at least this share of the member:
// inflating costs more time than reading a few more stored bytes.
constexpr uint64_t kDeflateKeptBelowPercent = 97;
// Members from this size on are sampled before the whole is deflated: when
// none of the samples shrinks (already compressed data, noise), the member is
// stored at once, without a deflate pass over gigabytes that would be thrown away.
constexpr uint64_t kSampledFromBytes = 4u * 1024u * 1024u;
constexpr int kDeflateSamples = 4;

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
    // Deflates the first inputSize bytes of the input buffer; the output goes
    // to the package only when write is set.
    [[nodiscard]] bool DeflateChunk(size_t inputSize, bool finish, uint64_t* packedInOut, bool write);
    [[nodiscard]] bool StoreOrDeflate(std::FILE* source, uint64_t sourceSize, uint64_t dataOffset,
                                      WriteEntry* entry, std::string* errorOut);
    [[nodiscard]] bool SamplesShrink(std::FILE* source, uint64_t sourceSize);
    [[nodiscard]] bool WriteMember(std::FILE* source, uint64_t sourceSize, WriteEntry* entry,
                                   uint64_t* endOut, std::string* errorOut);

    std::FILE* m_file = nullptr;
    std::string m_path;
    std::string m_tempPath;
    uint64_t m_offset = 0;  // where the next member starts
    // The most the central directory can take so far: it must stay within
    // what the reader holds (kMaxDirectoryBytes).
    uint64_t m_directoryBytes = 0;
    std::vector<WriteEntry> m_entries;
    std::unordered_set<std::string> m_names;  // normalised, to refuse duplicates
    std::vector<unsigned char> m_inBuffer;
    std::vector<unsigned char> m_outBuffer;
    z_stream m_deflater{};
    bool m_deflaterReady = false;
};

}  // namespace zip
