// Record layouts of the ZIP archive format: parsing from bytes and building
// bytes. Nothing here opens a file; the reader and writer do the I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zip {

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndRecordSignature = 0x06054b50;
constexpr uint32_t kZip64EndRecordSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;

constexpr size_t kLocalHeaderBytes = 30;
constexpr size_t kCentralHeaderBytes = 46;
constexpr size_t kEndRecordBytes = 22;
constexpr size_t kZip64EndRecordBytes = 56;
constexpr size_t kZip64LocatorBytes = 20;
constexpr size_t kMaxCommentBytes = 0xFFFF;
constexpr size_t kMaxNameBytes = 0xFFFF;

constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDataDescriptor = 0x0008;
constexpr uint16_t kFlagUtf8Name = 0x0800;

constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

constexpr uint16_t kExtraZip64 = 0x0001;
constexpr uint16_t kExtraUnicodePath = 0x7075;

// The "made by" host systems that matter for name decoding.
constexpr uint8_t kHostMsDos = 0;
constexpr uint8_t kHostUnix = 3;
constexpr uint8_t kHostMacOs = 19;

// Values that mean "the real value is in the ZIP64 record or field".
constexpr uint16_t kZip64Marker16 = 0xFFFF;
constexpr uint32_t kZip64Marker32 = 0xFFFFFFFF;

// Little-endian reads over a bounded range. A read past the end yields 0 and
// clears Ok(), so a parser checks once at the end instead of at every field.
class ByteReader {
public:
    ByteReader(const unsigned char* data, size_t size) : m_data(data), m_size(size) {}

    uint16_t U16() { return static_cast<uint16_t>(Take(2)); }
    uint32_t U32() { return static_cast<uint32_t>(Take(4)); }
    uint64_t U64() { return Take(8); }
    std::string Bytes(size_t count);
    void Skip(size_t count);

    size_t Position() const { return m_pos; }
    size_t Remaining() const { return m_ok ? m_size - m_pos : 0; }
    bool Ok() const { return m_ok; }

private:
    uint64_t Take(size_t count);

    const unsigned char* m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_ok = true;
};

void PutU16(std::string* out, uint16_t value);
void PutU32(std::string* out, uint32_t value);
void PutU64(std::string* out, uint64_t value);

// Walks an extra field's (id, length, data) blocks; the data of the first
// block with this id. False when there is none or the field is cut off first.
[[nodiscard]] bool FindExtraBlock(const std::string& extra, uint16_t id, std::string* dataOut);

// What the end-of-central-directory record (and, when present, its ZIP64
// counterpart) says about the directory.
struct EndRecord {
    uint64_t entryCount = 0;
    uint64_t directorySize = 0;
    uint64_t directoryOffset = 0;
    std::string comment;
    bool needsZip64 = false;  // some field holds its ZIP64 marker
};

enum class EndSearch { Found, Missing, Ambiguous };

// Searches the last bytes of an archive for the end record. A record whose
// comment ends exactly at the end of the data is preferred; otherwise the
// last one whose comment fits (trailing bytes after an archive). Two records
// that both end exactly at the end are Ambiguous: a second directory hidden
// in the comment would show other members to other tools.
[[nodiscard]] EndSearch FindEndRecord(const unsigned char* tail, size_t tailSize, size_t* posOut);
[[nodiscard]] bool ParseEndRecord(const unsigned char* data, size_t size, EndRecord* recordOut,
                                  std::string* errorOut);
// The locator sits right before the end record and gives the ZIP64 record's offset.
[[nodiscard]] bool ParseZip64Locator(const unsigned char* data, size_t size,
                                     uint64_t* recordOffsetOut);
// Replaces the marked fields of recordInOut with the ZIP64 record's values.
[[nodiscard]] bool ParseZip64EndRecord(const unsigned char* data, size_t size,
                                       EndRecord* recordInOut, std::string* errorOut);

struct CentralEntry {
    uint16_t madeBy = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t dosTime = 0;
    uint16_t dosDate = 0;
    uint32_t crc32 = 0;
    uint64_t packedSize = 0;
    uint64_t size = 0;
    uint64_t localHeaderOffset = 0;
    uint32_t diskStart = 0;
    uint32_t externalAttributes = 0;
    std::string rawName;  // bytes as stored
    std::string extra;
};

// Parses the central directory entry at the reader's position and moves past it.
[[nodiscard]] bool ParseCentralEntry(ByteReader* reader, CentralEntry* entryOut,
                                     std::string* errorOut);
// The entry's name as UTF-8: the UTF-8 flag, then a Unicode path field whose
// checksum matches the stored name, then (for archives made on Unix or macOS)
// a name that is valid UTF-8, and otherwise the stored name read as GBK.
// A name that is neither valid GBK nor UTF-8 is kept as stored.
std::string DecodeMemberName(const CentralEntry& entry);
// The name with every "\" turned into "/": members match with either separator.
std::string NormaliseSeparators(const std::string& name);

// True when the entry was made on a Unix-like host and its mode marks a
// symbolic link: its data is the link's target, not a file's content.
bool IsSymbolicLink(const CentralEntry& entry);

// The fields of a local header that locate and name its member.
struct LocalHeader {
    uint16_t flags = 0;
    uint16_t nameLength = 0;
    uint16_t extraLength = 0;
};

// Parses a local header's first 30 bytes; false when they are not one.
[[nodiscard]] bool ParseLocalHeader(const unsigned char* data, size_t size, LocalHeader* headerOut);

// One member as the writer records it. Sizes and offsets that do not fit in
// 32 bits go to a ZIP64 extra field; everything that fits stays plain ZIP.
struct WriteEntry {
    std::string name;  // UTF-8, stored as given
    uint16_t flags = 0;
    uint16_t method = kMethodDeflated;
    uint16_t dosTime = 0;
    uint16_t dosDate = 0;
    uint32_t crc32 = 0;
    uint64_t packedSize = 0;
    uint64_t size = 0;
    uint64_t localHeaderOffset = 0;
    // The local header carries a ZIP64 field with both sizes. Decided before
    // the sizes are known, from the source file's size, because the header
    // is written first and rewritten in place at the same length.
    bool zip64Local = false;
};

std::string BuildLocalHeader(const WriteEntry& entry);
std::string BuildCentralHeader(const WriteEntry& entry);
// The end of the archive after its central directory: the ZIP64 end record
// and its locator when the member count, the directory's size or its offset
// need them, then the end record with the comment.
std::string BuildArchiveEnd(uint64_t entryCount, uint64_t directorySize, uint64_t directoryOffset,
                            const std::string& comment);

// The current local time in the DOS fields of a ZIP header.
void DosTimeNow(uint16_t* dateOut, uint16_t* timeOut);
bool IsAscii(const std::string& text);

}  // namespace zip
