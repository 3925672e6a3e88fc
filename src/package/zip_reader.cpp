#include "package/zip_reader.h"

#include <algorithm>
#include <utility>

#include "package/zip_directory_check.h"
#include "platform/file_system.h"

namespace zip {

namespace {

// The end record, the longest comment, and room for the ZIP64 locator.
constexpr size_t kEndSearchBytes = kEndRecordBytes + kMaxCommentBytes + kZip64LocatorBytes;

bool Fail(std::string* errorOut, const std::string& text) {
    if (errorOut) *errorOut = text;
    return false;
}

bool IsDirectoryName(const std::string& name) {
    return !name.empty() && (name.back() == '/' || name.back() == '\\');
}

}  // namespace

ZipReader::ZipReader() = default;

ZipReader::~ZipReader() {
    Close();
    if (m_inflaterReady) inflateEnd(&m_inflater);
}

void ZipReader::Close() {
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
    m_fileSize = 0;
    m_directoryOffset = 0;
    m_comment.clear();
    m_entries.clear();
    m_members.clear();
    m_dataOffsets.clear();
    m_index.clear();
}

bool ZipReader::Open(const std::string& path, std::string* errorOut) {
    Close();
    const int64_t size = fs_port::FileSize(path);
    if (size < 0) return Fail(errorOut, "package not found: " + path);
    m_file = fs_port::OpenFile(path, "rb");
    if (!m_file) return Fail(errorOut, "cannot open package " + path);
    // Reads are large and positioned; stdio's own buffer would only add a copy.
    std::setvbuf(m_file, nullptr, _IONBF, 0);
    m_fileSize = static_cast<uint64_t>(size);
    if (!m_inflaterReady) {
        if (inflateInit2(&m_inflater, -MAX_WBITS) != Z_OK) {
            Close();
            return Fail(errorOut, "cannot start the decompressor");
        }
        m_inflaterReady = true;
    }
    m_inBuffer.resize(kStreamChunkBytes);
    m_outBuffer.resize(kStreamChunkBytes);
    EndRecord record;
    if (!ReadEndRecord(&record, errorOut) || !ReadDirectory(record, errorOut) ||
        !CheckNameCollisions(m_members, errorOut) || !CheckLayout(errorOut)) {
        Close();
        return false;
    }
    return true;
}

bool ZipReader::ReadAt(uint64_t offset, void* buffer, size_t size) {
    if (offset > m_fileSize || size > m_fileSize - offset) return false;
    return fs_port::SeekFile(m_file, static_cast<int64_t>(offset), SEEK_SET) &&
           (size == 0 || std::fread(buffer, 1, size, m_file) == size);
}

bool ZipReader::ReadEndRecord(EndRecord* recordOut, std::string* errorOut) {
    const size_t tailSize = static_cast<size_t>(std::min<uint64_t>(m_fileSize, kEndSearchBytes));
    const uint64_t tailOffset = m_fileSize - tailSize;
    std::vector<unsigned char> tail(tailSize);
    if (!ReadAt(tailOffset, tail.data(), tailSize)) return Fail(errorOut, "cannot read package");
    size_t pos = 0;
    const EndSearch search = FindEndRecord(tail.data(), tailSize, &pos);
    if (search == EndSearch::Ambiguous) {
        return Fail(errorOut,
                    "the package ends with two end records (a directory hidden in the comment)");
    }
    if (search == EndSearch::Missing) {
        return Fail(errorOut, "not a package, or cut off (no end record)");
    }
    if (!ParseEndRecord(tail.data() + pos, tailSize - pos, recordOut, errorOut)) return false;
    const uint64_t endOffset = tailOffset + pos;
    uint64_t directoryEnd = endOffset;
    uint64_t zip64Offset = 0;
    if (pos >= kZip64LocatorBytes &&
        ParseZip64Locator(tail.data() + pos - kZip64LocatorBytes, kZip64LocatorBytes,
                          &zip64Offset)) {
        unsigned char record[kZip64EndRecordBytes];
        if (zip64Offset + kZip64EndRecordBytes > endOffset - kZip64LocatorBytes ||
            !ReadAt(zip64Offset, record, sizeof record)) {
            return Fail(errorOut, "the ZIP64 end record lies outside the package");
        }
        if (!ParseZip64EndRecord(record, sizeof record, recordOut, errorOut)) return false;
        directoryEnd = zip64Offset;
    } else if (recordOut->needsZip64) {
        return Fail(errorOut, "the ZIP64 end record is missing");
    }
    m_comment = recordOut->comment;
    if (recordOut->directoryOffset > directoryEnd ||
        recordOut->directorySize != directoryEnd - recordOut->directoryOffset) {
        return Fail(errorOut, "the central directory does not lie where the end record says");
    }
    return true;
}

bool ZipReader::ReadDirectory(const EndRecord& record, std::string* errorOut) {
    if (record.directorySize > kMaxDirectoryBytes || record.entryCount > kMaxMembers) {
        return Fail(errorOut, "the package has more members than allowed");
    }
    // Checked before anything is reserved for the entries.
    if (record.entryCount > record.directorySize / kCentralHeaderBytes) {
        return Fail(errorOut,
                    "the end record counts more members than the central directory holds");
    }
    std::vector<unsigned char> directory(static_cast<size_t>(record.directorySize));
    if (!ReadAt(record.directoryOffset, directory.data(), directory.size())) {
        return Fail(errorOut, "cannot read the central directory");
    }
    m_directoryOffset = record.directoryOffset;
    ByteReader reader(directory.data(), directory.size());
    m_entries.reserve(static_cast<size_t>(record.entryCount));
    for (uint64_t i = 0; i < record.entryCount; ++i) {
        CentralEntry entry;
        if (!ParseCentralEntry(&reader, &entry, errorOut) || !AddEntry(entry, errorOut)) {
            return false;
        }
    }
    if (reader.Remaining() != 0) {
        return Fail(errorOut, "the central directory holds more than the end record counts");
    }
    return true;
}

bool ZipReader::AddEntry(const CentralEntry& entry, std::string* errorOut) {
    BundleMember member;
    member.name = DecodeMemberName(entry);
    member.size = entry.size;
    member.packedSize = entry.packedSize;
    member.crc32 = entry.crc32;
    member.isDirectory = IsDirectoryName(member.name);
    if (!CheckEntryKind(entry, member.name, errorOut)) return false;
    // Member data lies before the directory; sizes that cannot fit there, or
    // that no compressor could produce, are refused up front.
    bool plausible = entry.diskStart == 0 && entry.localHeaderOffset < m_directoryOffset &&
                     entry.packedSize <= m_directoryOffset - entry.localHeaderOffset;
    if (plausible && entry.method == kMethodStored) {
        plausible = entry.size == entry.packedSize;
    } else if (plausible) {
        plausible = entry.size / kMaxInflateRatio <= entry.packedSize;
    }
    if (!plausible) return Fail(errorOut, "member " + member.name + " has impossible sizes");

    m_index.emplace(NormaliseSeparators(member.name), m_entries.size());
    m_entries.push_back(entry);
    m_members.push_back(std::move(member));
    return true;
}

bool ZipReader::FindMember(const std::string& name, size_t* indexOut,
                           std::string* errorOut) const {
    auto it = m_index.find(NormaliseSeparators(name));
    if (it == m_index.end()) return Fail(errorOut, "no member " + name + " in the package");
    *indexOut = it->second;
    return true;
}

// Walks the members in the order of their local headers: each member's
// header and data must end before the next header begins. Overlapping
// members are how a package of kilobytes unpacks to gigabytes. Overlaps are
// reported before names, as the greater fault.
bool ZipReader::CheckLayout(std::string* errorOut) {
    std::vector<std::pair<uint64_t, size_t>> order;  // local header offset, index
    order.reserve(m_entries.size());
    for (size_t i = 0; i < m_entries.size(); ++i) {
        order.emplace_back(m_entries[i].localHeaderOffset, i);
    }
    std::sort(order.begin(), order.end());
    m_dataOffsets.assign(m_entries.size(), 0);
    uint64_t previousEnd = 0;
    size_t misnamed = m_entries.size();
    for (size_t k = 0; k < order.size(); ++k) {
        const size_t index = order[k].second;
        if (k > 0 && order[k].first < previousEnd) {
            return Fail(errorOut, "members " + m_members[order[k - 1].second].name + " and " +
                                      m_members[index].name + " overlap in the package");
        }
        bool nameMatches = false;
        if (!ReadLocalHeader(index, &m_dataOffsets[index], &nameMatches, errorOut)) return false;
        if (!nameMatches && misnamed == m_entries.size()) misnamed = index;
        previousEnd = m_dataOffsets[index] + m_entries[index].packedSize;
    }
    if (misnamed != m_entries.size()) {
        return Fail(errorOut, "the local header of member " + m_members[misnamed].name +
                                  " names another file");
    }
    return true;
}

// Finds where the member's data begins, and whether its local header names
// the same member as its central entry.
bool ZipReader::ReadLocalHeader(size_t index, uint64_t* dataOffsetOut, bool* nameMatchesOut,
                                std::string* errorOut) {
    const CentralEntry& entry = m_entries[index];
    const std::string& name = m_members[index].name;
    unsigned char fixed[kLocalHeaderBytes];
    LocalHeader header;
    if (!ReadAt(entry.localHeaderOffset, fixed, sizeof fixed) ||
        !ParseLocalHeader(fixed, sizeof fixed, &header)) {
        return Fail(errorOut, "the local header of member " + name + " is damaged");
    }
    const uint64_t dataOffset = entry.localHeaderOffset + kLocalHeaderBytes + header.nameLength +
                                header.extraLength;
    if (dataOffset > m_directoryOffset || entry.packedSize > m_directoryOffset - dataOffset) {
        return Fail(errorOut, "the data of member " + name + " runs past its end");
    }
    std::string variable(header.nameLength + header.extraLength, '\0');
    if (!ReadAt(entry.localHeaderOffset + kLocalHeaderBytes, &variable[0], variable.size())) {
        return Fail(errorOut, "cannot read package");
    }
    *nameMatchesOut = LocalNameMatches(entry, name, header.flags,
                                       variable.substr(0, header.nameLength),
                                       variable.substr(header.nameLength));
    *dataOffsetOut = dataOffset;
    return true;
}

bool ZipReader::StreamMember(size_t index, ByteSink* sink, std::string* errorOut) {
    if (!m_file || index >= m_entries.size()) return Fail(errorOut, "no package is open");
    const CentralEntry& entry = m_entries[index];
    const std::string& name = m_members[index].name;
    if (!fs_port::SeekFile(m_file, static_cast<int64_t>(m_dataOffsets[index]), SEEK_SET)) {
        return Fail(errorOut, "cannot read package");
    }
    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t produced = entry.size;
    const bool streamed = entry.method == kMethodStored
                              ? CopyStored(entry.size, sink, &crc, errorOut)
                              : Inflate(entry, sink, &crc, &produced, errorOut);
    if (!streamed) return false;
    if (produced != entry.size) {
        return Fail(errorOut, "member " + name + " is shorter than its declared size");
    }
    if (static_cast<uint32_t>(crc) != entry.crc32) {
        return Fail(errorOut, "member " + name + " is damaged (CRC-32 mismatch)");
    }
    return true;
}

bool ZipReader::CopyStored(uint64_t size, ByteSink* sink, uLong* crcInOut,
                           std::string* errorOut) {
    while (size > 0) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(size, m_inBuffer.size()));
        if (std::fread(m_inBuffer.data(), 1, chunk, m_file) != chunk) {
            return Fail(errorOut, "the package is cut off");
        }
        *crcInOut = crc32(*crcInOut, m_inBuffer.data(), static_cast<uInt>(chunk));
        if (!sink->Write(reinterpret_cast<const char*>(m_inBuffer.data()), chunk)) {
            return Fail(errorOut, "cannot write member");
        }
        size -= chunk;
    }
    return true;
}

bool ZipReader::Inflate(const CentralEntry& entry, ByteSink* sink, uLong* crcInOut,
                        uint64_t* producedOut, std::string* errorOut) {
    z_stream& zs = m_inflater;
    inflateReset(&zs);
    zs.avail_in = 0;
    uint64_t remainingIn = entry.packedSize;
    uint64_t produced = 0;
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        if (zs.avail_in == 0 && remainingIn > 0) {
            const size_t chunk =
                static_cast<size_t>(std::min<uint64_t>(remainingIn, m_inBuffer.size()));
            if (std::fread(m_inBuffer.data(), 1, chunk, m_file) != chunk) {
                return Fail(errorOut, "the package is cut off");
            }
            zs.next_in = m_inBuffer.data();
            zs.avail_in = static_cast<uInt>(chunk);
            remainingIn -= chunk;
        }
        zs.next_out = m_outBuffer.data();
        zs.avail_out = static_cast<uInt>(m_outBuffer.size());
        result = inflate(&zs, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
            return Fail(errorOut, "the compressed data of a member is damaged");
        }
        const size_t have = m_outBuffer.size() - zs.avail_out;
        // Never write more than the member declares: a hostile package must
        // not fill the disk beyond what its directory admits.
        if (have > entry.size - produced) {
            return Fail(errorOut, "a member is longer than its declared size");
        }
        if (have > 0) {
            *crcInOut = crc32(*crcInOut, m_outBuffer.data(), static_cast<uInt>(have));
            if (!sink->Write(reinterpret_cast<const char*>(m_outBuffer.data()), have)) {
                return Fail(errorOut, "cannot write member");
            }
            produced += have;
        } else if (result == Z_BUF_ERROR && zs.avail_in == 0 && remainingIn == 0) {
            return Fail(errorOut, "the compressed data of a member ends too early");
        }
    }
    *producedOut = produced;
    return true;
}

}  // namespace zip
