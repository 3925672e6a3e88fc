#include "package/zip_writer.h"

#include <memory>

#include "package/bundle.h"
#include "package/zip_reader.h"
#include "platform/file_system.h"
#include "platform/text_encoding.h"

namespace zip {

namespace {

constexpr char kTempSuffix[] = ".vtpart";

bool Fail(std::string* errorOut, const std::string& text) {
    if (errorOut) *errorOut = text;
    return false;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

ZipWriter::ZipWriter() = default;

ZipWriter::~ZipWriter() {
    Abandon();
    if (m_deflaterReady) deflateEnd(&m_deflater);
}

bool ZipWriter::Create(const std::string& path, std::string* errorOut) {
    Abandon();
    if (path.empty() || fs_port::IsDirectory(path)) {
        return Fail(errorOut, "cannot create package " + path);
    }
    if (!m_deflaterReady) {
        if (deflateInit2(&m_deflater, kDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8,
                         Z_DEFAULT_STRATEGY) != Z_OK) {
            return Fail(errorOut, "cannot start the compressor");
        }
        m_deflaterReady = true;
    }
    m_tempPath = path + kTempSuffix;
    m_file = fs_port::OpenFile(m_tempPath, "wb");
    if (!m_file) {
        m_tempPath.clear();
        return Fail(errorOut, "cannot create package " + path);
    }
    m_path = path;
    m_offset = 0;
    m_inBuffer.resize(kStreamChunkBytes);
    m_outBuffer.resize(kStreamChunkBytes);
    return true;
}

void ZipWriter::Abandon() {
    if (m_file) {
        std::fclose(m_file);
        fs_port::RemoveFile(m_tempPath);
    }
    m_file = nullptr;
    m_path.clear();
    m_tempPath.clear();
    m_offset = 0;
    m_directoryBytes = 0;
    m_entries.clear();
    m_names.clear();
}

bool ZipWriter::WriteBytes(const void* data, size_t size) {
    return size == 0 || std::fwrite(data, 1, size, m_file) == size;
}

bool ZipWriter::AddFile(const std::string& sourcePath, const std::string& memberName,
                        std::string* errorOut) {
    if (!m_file) return Fail(errorOut, "no package is being created");
    if (!IsSafeMemberName(memberName) || memberName.size() > kMaxNameBytes || memberName.back() == '/' || memberName.back() == '\\' ||
        !IsValidUtf8(memberName)) {
        return Fail(errorOut, "unsafe member name " + memberName);
    }
    const std::string key = NormaliseSeparators(memberName);
    if (m_names.count(key) != 0) return Fail(errorOut, "member " + memberName + " added twice");
    // The largest central entry this member can get: a ZIP64 block with all three values.
    const uint64_t directoryEntry = kCentralHeaderBytes + memberName.size() + 4 + 3 * 8;
    if (m_entries.size() >= kMaxWrittenMembers || m_directoryBytes + directoryEntry > kMaxDirectoryBytes) {
        return Fail(errorOut, "too many members");
    }
    const int64_t sourceSize = fs_port::FileSize(sourcePath);
    if (sourceSize < 0 || !fs_port::IsRegularFile(sourcePath)) return Fail(errorOut, "no file " + sourcePath);
    std::unique_ptr<std::FILE, FileCloser> source(fs_port::OpenFile(sourcePath, "rb"));
    if (!source) return Fail(errorOut, "cannot read " + sourcePath);
    std::setvbuf(source.get(), nullptr, _IONBF, 0);

    WriteEntry entry;
    entry.name = memberName;
    entry.flags = IsAscii(memberName) ? 0 : kFlagUtf8Name;
    DosTimeNow(&entry.dosDate, &entry.dosTime);
    entry.localHeaderOffset = m_offset;
    entry.zip64Local = static_cast<uint64_t>(sourceSize) >= kZip64Marker32;
    uint64_t end = 0;
    if (!WriteMember(source.get(), static_cast<uint64_t>(sourceSize), &entry, &end, errorOut)) {
        if (!fs_port::SeekFile(m_file, static_cast<int64_t>(m_offset), SEEK_SET)) Abandon();
        if (errorOut && errorOut->empty()) *errorOut = "cannot write package " + m_path;
        return false;
    }
    m_offset = end;
    m_directoryBytes += directoryEntry;
    m_entries.push_back(entry);
    m_names.insert(key);
    return true;
}

// The header is written first with zero sizes and rewritten at the same
// length once the sizes and CRC are known; *endOut is where the member ends.
bool ZipWriter::WriteMember(std::FILE* source, uint64_t sourceSize, WriteEntry* entry,
                            uint64_t* endOut, std::string* errorOut) {
    const std::string placeholder = BuildLocalHeader(*entry);
    const uint64_t dataOffset = m_offset + placeholder.size();
    if (dataOffset > kMaxWrittenPackageBytes || !WriteBytes(placeholder.data(), placeholder.size()) ||
        !StoreOrDeflate(source, sourceSize, dataOffset, entry, errorOut)) {
        return false;
    }
    const std::string header = BuildLocalHeader(*entry);
    *endOut = dataOffset + entry->packedSize;
    return header.size() == placeholder.size() &&
           fs_port::SeekFile(m_file, static_cast<int64_t>(m_offset), SEEK_SET) &&
           WriteBytes(header.data(), header.size()) &&
           fs_port::SeekFile(m_file, static_cast<int64_t>(*endOut), SEEK_SET);
}

namespace {

// Deflate pays when the packed size stays below kDeflateKeptBelowPercent of
// the plain size (computed without overflow for any 64-bit size).
bool DeflatePays(uint64_t packed, uint64_t size) {
    const uint64_t threshold =
        size / 100 * kDeflateKeptBelowPercent + size % 100 * kDeflateKeptBelowPercent / 100;
    return packed < threshold;
}

}  // namespace

bool ZipWriter::StoreOrDeflate(std::FILE* source, uint64_t sourceSize, uint64_t dataOffset,
                               WriteEntry* entry, std::string* errorOut) {
    if (sourceSize < kSampledFromBytes || SamplesShrink(source, sourceSize)) {
        if (!fs_port::SeekFile(source, 0, SEEK_SET)) return Fail(errorOut, "cannot read the file of " + entry->name);
        if (!WriteBody(source, true, dataOffset, entry, errorOut)) return false;
        if (DeflatePays(entry->packedSize, entry->size)) return true;
    }
    // Data that does not shrink (already compressed, or empty) is stored:
    // unpacking it is then a copy.
    if (!fs_port::SeekFile(source, 0, SEEK_SET) ||
        !fs_port::SeekFile(m_file, static_cast<int64_t>(dataOffset), SEEK_SET)) {
        return Fail(errorOut, "cannot write package " + m_path);
    }
    return WriteBody(source, false, dataOffset, entry, errorOut);
}

// Deflates a few blocks spread over the file, writing nothing; true when
// together they shrink enough for deflate to pay. An unreadable file is left
// for the real pass to report.
bool ZipWriter::SamplesShrink(std::FILE* source, uint64_t sourceSize) {
    deflateReset(&m_deflater);
    const uint64_t block = m_inBuffer.size();
    uint64_t plain = 0;
    uint64_t packed = 0;
    for (int i = 0; i < kDeflateSamples; ++i) {
        const uint64_t at = (sourceSize - block) / (kDeflateSamples - 1) * static_cast<uint64_t>(i);
        if (!fs_port::SeekFile(source, static_cast<int64_t>(at), SEEK_SET)) return true;
        const size_t got = std::fread(m_inBuffer.data(), 1, m_inBuffer.size(), source);
        if (got == 0 || !DeflateChunk(got, i + 1 == kDeflateSamples, &packed, false)) return true;
        plain += got;
    }
    return DeflatePays(packed, plain);
}

bool ZipWriter::WriteBody(std::FILE* source, bool deflate, uint64_t dataOffset,
                          WriteEntry* entry, std::string* errorOut) {
    if (deflate) deflateReset(&m_deflater);
    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t size = 0;
    uint64_t packed = 0;
    const uint64_t room = kMaxWrittenPackageBytes - dataOffset;
    for (;;) {
        const size_t got = std::fread(m_inBuffer.data(), 1, m_inBuffer.size(), source);
        if (std::ferror(source)) return Fail(errorOut, "cannot read the file of " + entry->name);
        const bool last = got < m_inBuffer.size();
        size += got;
        crc = crc32(crc, m_inBuffer.data(), static_cast<uInt>(got));
        bool written;
        if (deflate) {
            written = DeflateChunk(got, last, &packed, true);
        } else {
            written = WriteBytes(m_inBuffer.data(), got);
            packed += got;
        }
        if (!written) return Fail(errorOut, "cannot write package " + m_path);
        if (size > room || packed > room) return Fail(errorOut, "the package would grow past its largest size");
        if (last) break;
    }
    // The local header's length was fixed from the size the file had when it was opened.
    if (!entry->zip64Local && size >= kZip64Marker32) {
        return Fail(errorOut, "the file of " + entry->name + " grew past 4 GiB while it was packed");
    }
    entry->method = deflate ? kMethodDeflated : kMethodStored;
    entry->crc32 = static_cast<uint32_t>(crc);
    entry->size = size;
    entry->packedSize = packed;
    return true;
}

bool ZipWriter::DeflateChunk(size_t inputSize, bool finish, uint64_t* packedInOut, bool write) {
    z_stream& zs = m_deflater;
    zs.next_in = m_inBuffer.data();
    zs.avail_in = static_cast<uInt>(inputSize);
    int result;
    do {
        zs.next_out = m_outBuffer.data();
        zs.avail_out = static_cast<uInt>(m_outBuffer.size());
        result = deflate(&zs, finish ? Z_FINISH : Z_NO_FLUSH);
        if (result == Z_STREAM_ERROR) return false;
        const size_t have = m_outBuffer.size() - zs.avail_out;
        if (write && !WriteBytes(m_outBuffer.data(), have)) return false;
        *packedInOut += have;
    } while (zs.avail_out == 0);
    return !finish || result == Z_STREAM_END;
}

bool ZipWriter::Finish(const std::string& comment, std::string* errorOut) {
    if (!m_file) return Fail(errorOut, "no package is being created");
    std::string directory;
    for (const WriteEntry& entry : m_entries) directory += BuildCentralHeader(entry);
    const std::string end = BuildArchiveEnd(m_entries.size(), directory.size(), m_offset, comment);
    const uint64_t total = m_offset + directory.size() + end.size();
    // A member that failed half-way may have left bytes past m_offset.
    bool ok = total <= kMaxWrittenPackageBytes &&
              fs_port::SeekFile(m_file, static_cast<int64_t>(m_offset), SEEK_SET) &&
              WriteBytes(directory.data(), directory.size()) && WriteBytes(end.data(), end.size()) &&
              fs_port::TruncateFile(m_file, static_cast<int64_t>(total)) &&
              fs_port::FlushFileToDisk(m_file);
    ok = std::fclose(m_file) == 0 && ok;
    m_file = nullptr;
    ok = ok && fs_port::RenamePath(m_tempPath, m_path, true);
    if (!ok) {
        fs_port::RemoveFile(m_tempPath);
        const std::string path = m_path;
        Abandon();
        return Fail(errorOut, "cannot finish package " + path);
    }
    Abandon();
    return true;
}

}  // namespace zip
