#include "package/zip_format.h"

#include <zlib.h>

#include <algorithm>

#include "platform/local_time.h"
#include "platform/text_encoding.h"

namespace zip {

std::string ByteReader::Bytes(size_t count) {
    if (!m_ok || count > m_size - m_pos) {
        m_ok = false;
        return std::string();
    }
    std::string out(reinterpret_cast<const char*>(m_data + m_pos), count);
    m_pos += count;
    return out;
}

void ByteReader::Skip(size_t count) {
    if (!m_ok || count > m_size - m_pos) {
        m_ok = false;
        return;
    }
    m_pos += count;
}

uint64_t ByteReader::Take(size_t count) {
    if (!m_ok || count > m_size - m_pos) {
        m_ok = false;
        return 0;
    }
    uint64_t value = 0;
    for (size_t i = count; i-- > 0;) value = (value << 8) | m_data[m_pos + i];
    m_pos += count;
    return value;
}

void PutU16(std::string* out, uint16_t value) {
    out->push_back(static_cast<char>(value & 0xFF));
    out->push_back(static_cast<char>(value >> 8));
}

void PutU32(std::string* out, uint32_t value) {
    PutU16(out, static_cast<uint16_t>(value & 0xFFFF));
    PutU16(out, static_cast<uint16_t>(value >> 16));
}

void PutU64(std::string* out, uint64_t value) {
    PutU32(out, static_cast<uint32_t>(value & 0xFFFFFFFFu));
    PutU32(out, static_cast<uint32_t>(value >> 32));
}

namespace {

uint32_t SignatureAt(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool Fail(std::string* errorOut, const char* text) {
    if (errorOut) *errorOut = text;
    return false;
}

// Fills the fields that hold their marker from the ZIP64 extra block, which
// lists only those fields, in this order.
bool ApplyZip64Extra(CentralEntry* entry, bool sizeMarked, bool packedMarked, bool offsetMarked,
                     bool diskMarked, std::string* errorOut) {
    std::string data;
    if (!FindExtraBlock(entry->extra, kExtraZip64, &data)) {
        return Fail(errorOut, "a member's sizes need a ZIP64 field that is missing");
    }
    ByteReader reader(reinterpret_cast<const unsigned char*>(data.data()), data.size());
    if (sizeMarked) entry->size = reader.U64();
    if (packedMarked) entry->packedSize = reader.U64();
    if (offsetMarked) entry->localHeaderOffset = reader.U64();
    if (diskMarked) entry->diskStart = reader.U32();
    if (!reader.Ok()) return Fail(errorOut, "a member's ZIP64 field is too short");
    return true;
}

bool IsUnixLikeHost(uint16_t madeBy) {
    const uint8_t host = static_cast<uint8_t>(madeBy >> 8);
    return host == kHostUnix || host == kHostMacOs;
}

// The Info-ZIP Unicode path field: version 1, CRC-32 of the stored name, UTF-8 name.
bool UnicodePathName(const CentralEntry& entry, std::string* nameOut) {
    std::string data;
    if (!FindExtraBlock(entry.extra, kExtraUnicodePath, &data) || data.size() < 5) return false;
    const unsigned char version = static_cast<unsigned char>(data[0]);
    ByteReader reader(reinterpret_cast<const unsigned char*>(data.data()) + 1, data.size() - 1);
    const uint32_t nameCrc = reader.U32();
    const uLong actual = crc32(0L, reinterpret_cast<const Bytef*>(entry.rawName.data()),
                               static_cast<uInt>(entry.rawName.size()));
    std::string name = reader.Bytes(reader.Remaining());
    if (version != 1 || nameCrc != actual || !IsValidUtf8(name)) return false;
    *nameOut = std::move(name);
    return true;
}

}  // namespace

bool FindExtraBlock(const std::string& extra, uint16_t id, std::string* dataOut) {
    ByteReader reader(reinterpret_cast<const unsigned char*>(extra.data()), extra.size());
    while (reader.Remaining() >= 4) {
        const uint16_t blockId = reader.U16();
        const uint16_t length = reader.U16();
        std::string data = reader.Bytes(length);
        if (!reader.Ok()) return false;
        if (blockId == id) {
            *dataOut = std::move(data);
            return true;
        }
    }
    return false;
}

EndSearch FindEndRecord(const unsigned char* tail, size_t tailSize, size_t* posOut) {
    if (tailSize < kEndRecordBytes) return EndSearch::Missing;
    bool haveExact = false;
    bool haveFitting = false;
    size_t exact = 0;
    size_t fitting = 0;
    for (size_t pos = tailSize - kEndRecordBytes + 1; pos-- > 0;) {
        if (SignatureAt(tail + pos) != kEndRecordSignature) continue;
        const size_t commentLength = tail[pos + 20] | (tail[pos + 21] << 8);
        const size_t end = pos + kEndRecordBytes + commentLength;
        if (end == tailSize) {
            if (haveExact) return EndSearch::Ambiguous;
            haveExact = true;
            exact = pos;
        } else if (end < tailSize && !haveFitting) {
            haveFitting = true;
            fitting = pos;
        }
    }
    if (!haveExact && !haveFitting) return EndSearch::Missing;
    *posOut = haveExact ? exact : fitting;
    return EndSearch::Found;
}

bool ParseEndRecord(const unsigned char* data, size_t size, EndRecord* recordOut,
                    std::string* errorOut) {
    ByteReader reader(data, size);
    if (reader.U32() != kEndRecordSignature) return Fail(errorOut, "no end record");
    const uint16_t disk = reader.U16();
    const uint16_t directoryDisk = reader.U16();
    const uint16_t entriesHere = reader.U16();
    const uint16_t entries = reader.U16();
    const uint32_t directorySize = reader.U32();
    const uint32_t directoryOffset = reader.U32();
    const uint16_t commentLength = reader.U16();
    recordOut->comment = reader.Bytes(commentLength);
    if (!reader.Ok()) return Fail(errorOut, "the end record is cut off");
    recordOut->needsZip64 = disk == kZip64Marker16 || entries == kZip64Marker16 ||
                            directorySize == kZip64Marker32 || directoryOffset == kZip64Marker32;
    if (!recordOut->needsZip64 && (disk != 0 || directoryDisk != 0 || entriesHere != entries)) {
        return Fail(errorOut, "archives split over several disks are not supported");
    }
    recordOut->entryCount = entries;
    recordOut->directorySize = directorySize;
    recordOut->directoryOffset = directoryOffset;
    return true;
}

bool ParseZip64Locator(const unsigned char* data, size_t size, uint64_t* recordOffsetOut) {
    ByteReader reader(data, size);
    if (reader.U32() != kZip64LocatorSignature) return false;
    const uint32_t disk = reader.U32();
    *recordOffsetOut = reader.U64();
    const uint32_t diskCount = reader.U32();
    return reader.Ok() && disk == 0 && diskCount <= 1;
}

bool ParseZip64EndRecord(const unsigned char* data, size_t size, EndRecord* recordInOut,
                         std::string* errorOut) {
    ByteReader reader(data, size);
    if (reader.U32() != kZip64EndRecordSignature) return Fail(errorOut, "no ZIP64 end record");
    reader.Skip(8 + 2 + 2);  // record size, made by, needed
    const uint32_t disk = reader.U32();
    const uint32_t directoryDisk = reader.U32();
    const uint64_t entriesHere = reader.U64();
    const uint64_t entries = reader.U64();
    const uint64_t directorySize = reader.U64();
    const uint64_t directoryOffset = reader.U64();
    if (!reader.Ok()) return Fail(errorOut, "the ZIP64 end record is cut off");
    if (disk != 0 || directoryDisk != 0 || entriesHere != entries) {
        return Fail(errorOut, "archives split over several disks are not supported");
    }
    recordInOut->entryCount = entries;
    recordInOut->directorySize = directorySize;
    recordInOut->directoryOffset = directoryOffset;
    return true;
}

bool ParseCentralEntry(ByteReader* reader, CentralEntry* entryOut, std::string* errorOut) {
    if (reader->U32() != kCentralHeaderSignature) {
        return Fail(errorOut, "the central directory is damaged");
    }
    CentralEntry& e = *entryOut;
    e.madeBy = reader->U16();
    reader->Skip(2);  // version needed
    e.flags = reader->U16();
    e.method = reader->U16();
    e.dosTime = reader->U16();
    e.dosDate = reader->U16();
    e.crc32 = reader->U32();
    const uint32_t packed = reader->U32();
    const uint32_t size = reader->U32();
    const uint16_t nameLength = reader->U16();
    const uint16_t extraLength = reader->U16();
    const uint16_t commentLength = reader->U16();
    const uint16_t disk = reader->U16();
    reader->Skip(2);  // internal attributes
    e.externalAttributes = reader->U32();
    const uint32_t offset = reader->U32();
    e.rawName = reader->Bytes(nameLength);
    e.extra = reader->Bytes(extraLength);
    reader->Skip(commentLength);
    if (!reader->Ok()) return Fail(errorOut, "the central directory is cut off");
    e.packedSize = packed;
    e.size = size;
    e.localHeaderOffset = offset;
    e.diskStart = disk;
    const bool sizeMarked = size == kZip64Marker32;
    const bool packedMarked = packed == kZip64Marker32;
    const bool offsetMarked = offset == kZip64Marker32;
    const bool diskMarked = disk == kZip64Marker16;
    if (sizeMarked || packedMarked || offsetMarked || diskMarked) {
        return ApplyZip64Extra(&e, sizeMarked, packedMarked, offsetMarked, diskMarked, errorOut);
    }
    return true;
}

std::string DecodeMemberName(const CentralEntry& entry) {
    const std::string& raw = entry.rawName;
    if (IsAscii(raw)) return raw;
    if ((entry.flags & kFlagUtf8Name) != 0) return raw;
    std::string name;
    if (UnicodePathName(entry, &name)) return name;
    if (IsUnixLikeHost(entry.madeBy) && IsValidUtf8(raw)) return raw;
    if (GbkToUtf8(raw, &name)) return name;
    return raw;
}

std::string NormaliseSeparators(const std::string& name) {
    std::string out = name;
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

bool IsSymbolicLink(const CentralEntry& entry) {
    constexpr uint32_t kUnixTypeMask = 0170000;
    constexpr uint32_t kUnixSymbolicLink = 0120000;
    return IsUnixLikeHost(entry.madeBy) &&
           ((entry.externalAttributes >> 16) & kUnixTypeMask) == kUnixSymbolicLink;
}

bool ParseLocalHeader(const unsigned char* data, size_t size, LocalHeader* headerOut) {
    ByteReader reader(data, size);
    if (reader.U32() != kLocalHeaderSignature) return false;
    reader.Skip(2);  // version needed
    headerOut->flags = reader.U16();
    reader.Skip(18);  // method, time, date, CRC-32 and sizes: the central entry's are used
    headerOut->nameLength = reader.U16();
    headerOut->extraLength = reader.U16();
    return reader.Ok();
}

namespace {

constexpr uint16_t kVersionNeeded = 20;
constexpr uint16_t kVersionNeededZip64 = 45;
// Marked as made on Unix: Info-ZIP then shows and unpacks our UTF-8 names as
// they are, where for a DOS-made archive it would convert them from the OEM
// code page. The attributes are a plain rw-r--r-- file plus the DOS archive bit.
constexpr uint16_t kVersionMadeBy = (kHostUnix << 8) | 30;
constexpr uint32_t kFileAttributes = (0100644u << 16) | 0x20;

bool Over32(uint64_t value) { return value >= kZip64Marker32; }

uint32_t Field32(uint64_t value) {
    return Over32(value) ? kZip64Marker32 : static_cast<uint32_t>(value);
}

// The ZIP64 extra block of a central header: only the fields that hold
// their marker, in the order size, packed size, offset.
std::string CentralZip64Extra(const WriteEntry& entry) {
    std::string values;
    if (Over32(entry.size)) PutU64(&values, entry.size);
    if (Over32(entry.packedSize)) PutU64(&values, entry.packedSize);
    if (Over32(entry.localHeaderOffset)) PutU64(&values, entry.localHeaderOffset);
    if (values.empty()) return values;
    std::string block;
    PutU16(&block, kExtraZip64);
    PutU16(&block, static_cast<uint16_t>(values.size()));
    return block + values;
}

// A local header's ZIP64 block always holds both sizes.
std::string LocalZip64Extra(const WriteEntry& entry) {
    std::string block;
    PutU16(&block, kExtraZip64);
    PutU16(&block, 16);
    PutU64(&block, entry.size);
    PutU64(&block, entry.packedSize);
    return block;
}

void PutCommonFields(std::string* out, const WriteEntry& entry, bool zip64, uint32_t size,
                     uint32_t packedSize, size_t extraLength) {
    PutU16(out, zip64 ? kVersionNeededZip64 : kVersionNeeded);
    PutU16(out, entry.flags);
    PutU16(out, entry.method);
    PutU16(out, entry.dosTime);
    PutU16(out, entry.dosDate);
    PutU32(out, entry.crc32);
    PutU32(out, packedSize);
    PutU32(out, size);
    PutU16(out, static_cast<uint16_t>(entry.name.size()));
    PutU16(out, static_cast<uint16_t>(extraLength));
}

}  // namespace

std::string BuildLocalHeader(const WriteEntry& entry) {
    const std::string extra = entry.zip64Local ? LocalZip64Extra(entry) : std::string();
    const uint32_t size = entry.zip64Local ? kZip64Marker32 : static_cast<uint32_t>(entry.size);
    const uint32_t packed = entry.zip64Local ? kZip64Marker32 : static_cast<uint32_t>(entry.packedSize);
    std::string out;
    out.reserve(kLocalHeaderBytes + entry.name.size() + extra.size());
    PutU32(&out, kLocalHeaderSignature);
    PutCommonFields(&out, entry, entry.zip64Local, size, packed, extra.size());
    return out + entry.name + extra;
}

std::string BuildCentralHeader(const WriteEntry& entry) {
    const std::string extra = CentralZip64Extra(entry);
    std::string out;
    out.reserve(kCentralHeaderBytes + entry.name.size() + extra.size());
    PutU32(&out, kCentralHeaderSignature);
    PutU16(&out, kVersionMadeBy);
    PutCommonFields(&out, entry, entry.zip64Local || !extra.empty(), Field32(entry.size),
                    Field32(entry.packedSize), extra.size());
    PutU16(&out, 0);  // comment length
    PutU16(&out, 0);  // disk
    PutU16(&out, 0);  // internal attributes
    PutU32(&out, kFileAttributes);
    PutU32(&out, Field32(entry.localHeaderOffset));
    return out + entry.name + extra;
}

std::string BuildArchiveEnd(uint64_t entryCount, uint64_t directorySize, uint64_t directoryOffset,
                            const std::string& comment) {
    const bool countOver = entryCount >= kZip64Marker16;
    std::string out;
    if (countOver || Over32(directorySize) || Over32(directoryOffset)) {
        const uint64_t recordOffset = directoryOffset + directorySize;
        PutU32(&out, kZip64EndRecordSignature);
        PutU64(&out, kZip64EndRecordBytes - 12);  // the record's size after this field
        PutU16(&out, kVersionMadeBy);
        PutU16(&out, kVersionNeededZip64);
        PutU32(&out, 0);  // this disk
        PutU32(&out, 0);  // disk of the directory
        PutU64(&out, entryCount);
        PutU64(&out, entryCount);
        PutU64(&out, directorySize);
        PutU64(&out, directoryOffset);
        PutU32(&out, kZip64LocatorSignature);
        PutU32(&out, 0);  // disk of the ZIP64 end record
        PutU64(&out, recordOffset);
        PutU32(&out, 1);  // disks in all
    }
    const uint16_t count = countOver ? kZip64Marker16 : static_cast<uint16_t>(entryCount);
    PutU32(&out, kEndRecordSignature);
    PutU16(&out, 0);  // this disk
    PutU16(&out, 0);  // disk of the directory
    PutU16(&out, count);
    PutU16(&out, count);
    PutU32(&out, Field32(directorySize));
    PutU32(&out, Field32(directoryOffset));
    const size_t commentLength = comment.size() < kMaxCommentBytes ? comment.size()
                                                                    : kMaxCommentBytes;
    PutU16(&out, static_cast<uint16_t>(commentLength));
    out.append(comment, 0, commentLength);
    return out;
}

void DosTimeNow(uint16_t* dateOut, uint16_t* timeOut) {
    const LocalTime now = CurrentLocalTime();
    // DOS dates cover 1980 to 2107; anything outside becomes the earliest
    // date the format has.
    if (now.year < 1980 || now.year > 1980 + 127) {
        *dateOut = (1 << 5) | 1;
        *timeOut = 0;
        return;
    }
    *dateOut = static_cast<uint16_t>(((now.year - 1980) << 9) | (now.month << 5) | now.day);
    *timeOut = static_cast<uint16_t>((now.hour << 11) | (now.minute << 5) | (now.second / 2));
}

bool IsAscii(const std::string& text) {
    for (unsigned char c : text) {
        if (c >= 0x80) return false;
    }
    return true;
}

}  // namespace zip
