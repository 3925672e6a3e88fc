#include "package/ranged_member.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "package/patch_kit.h"
#include "package/zip_format.h"
#include "package/zip_reader.h"
#include "platform/file_system.h"

namespace {

constexpr char kPartSuffix[] = ".vtpart";
constexpr uint32_t kDescriptorSignature = 0x08074b50;
// Encryption of any kind, and local headers masked by central directory encryption.
constexpr uint16_t kFlagStrongEncryption = 0x0040;
constexpr uint16_t kFlagMaskedHeader = 0x2000;
constexpr uint16_t kRefusedFlags = zip::kFlagEncrypted | kFlagStrongEncryption | kFlagMaskedHeader;
// The highest "version needed" the format defines (6.3). Its upper byte names
// a host system and is left alone.
constexpr uint16_t kMaxVersionNeeded = 63;
// Offsets and lengths stay within a signed 64-bit file offset.
constexpr uint64_t kMaxSpanEnd = INT64_MAX;

SpanRead Refuse(std::string* reasonOut, const std::string& text) {
    if (reasonOut) *reasonOut = text;
    return SpanRead::Refused;
}

bool EntryIsMember(const StateEntry& entry) {
    if (entry.member.empty() || entry.member.size() > zip::kMaxNameBytes) return false;
    if (entry.method == kStateMethodStored) return entry.size == entry.packedSize;
    return entry.method == kStateMethodDeflated;
}

// The local header has no "made by": a name that is neither the entry's bytes
// nor flagged as UTF-8 is decoded as an MS-DOS archive's, from GBK or the
// Unicode path field.
bool NameMatches(uint16_t flags, const std::string& raw, const std::string& extra, const std::string& member) {
    const std::string wanted = zip::NormaliseSeparators(member);
    if (zip::NormaliseSeparators(raw) == wanted) return true;
    zip::CentralEntry local;
    local.flags = flags;
    local.rawName = raw;
    local.extra = extra;
    return zip::NormaliseSeparators(zip::DecodeMemberName(local)) == wanted;
}

// Sizes marked in the header are in its ZIP64 block, which in a local header
// holds both, the plain size first.
bool SizesMatch(uint32_t packed32, uint32_t size32, const std::string& extra, const StateEntry& entry) {
    if (packed32 != zip::kZip64Marker32 && size32 != zip::kZip64Marker32) {
        return packed32 == entry.packedSize && size32 == entry.size;
    }
    std::string block;
    if (!zip::FindExtraBlock(extra, zip::kExtraZip64, &block)) return false;
    zip::ByteReader reader(reinterpret_cast<const unsigned char*>(block.data()), block.size());
    const uint64_t size = reader.U64();
    const uint64_t packed = reader.U64();
    return reader.Ok() && packed == entry.packedSize && size == entry.size;
}

// A descriptor may or may not start with its signature, and has 32-bit or,
// for ZIP64 members, 64-bit sizes; each reading must give all three values.
bool DescriptorMatches(const unsigned char* data, size_t size, uint32_t crc, const StateEntry& entry) {
    for (const bool signature : {true, false}) {
        for (const bool wide : {false, true}) {
            zip::ByteReader reader(data, size);
            if (signature && reader.U32() != kDescriptorSignature) continue;
            const uint32_t storedCrc = reader.U32();
            const uint64_t packed = wide ? reader.U64() : reader.U32();
            const uint64_t plain = wide ? reader.U64() : reader.U32();
            if (reader.Ok() && storedCrc == crc && packed == entry.packedSize && plain == entry.size) return true;
        }
    }
    return false;
}

}  // namespace

bool SpanOfMember(const StateEntry& entry, MemberSpan* spanOut) {
    *spanOut = MemberSpan{};
    if (!EntryIsMember(entry)) return false;
    const uint64_t extra = entry.size >= zip::kZip64Marker32 ? kWrittenZip64ExtraBytes : 0;
    const uint64_t head = zip::kLocalHeaderBytes + entry.member.size() + extra;
    if (entry.packedSize > kMaxSpanEnd - head || entry.headerOffset > kMaxSpanEnd - head - entry.packedSize) {
        return false;
    }
    spanOut->offset = entry.headerOffset;
    spanOut->length = head + entry.packedSize;
    return true;
}

SpanRead ReadSpanHeader(const unsigned char* head, size_t size, const StateEntry& entry, SpanHeader* headerOut,
                        std::string* reasonOut) {
    SpanHeader& header = *headerOut;
    header = SpanHeader{};
    header.spanLength = zip::kLocalHeaderBytes;
    if (size < zip::kLocalHeaderBytes) return SpanRead::Short;
    zip::ByteReader reader(head, size);
    if (reader.U32() != zip::kLocalHeaderSignature) return Refuse(reasonOut, "the span does not start with a local header");
    const uint16_t version = reader.U16();
    header.flags = reader.U16();
    const uint16_t method = reader.U16();
    reader.Skip(4);  // time and date
    header.crc32 = reader.U32();
    const uint32_t packed32 = reader.U32();
    const uint32_t size32 = reader.U32();
    const uint16_t nameLength = reader.U16();
    const uint16_t extraLength = reader.U16();
    if ((version & 0xFF) > kMaxVersionNeeded) return Refuse(reasonOut, "the local header needs an unknown ZIP version");
    if ((header.flags & kRefusedFlags) != 0) return Refuse(reasonOut, "the member is encrypted");
    if (!EntryIsMember(entry)) return Refuse(reasonOut, "the index entry cannot be a member");
    if (method != entry.method) {
        return Refuse(reasonOut, "the member's method is " + std::to_string(method) + ", not the index's " +
                                     std::to_string(entry.method));
    }
    header.hasDescriptor = (header.flags & zip::kFlagDataDescriptor) != 0;
    // Without the extra field in hand, a descriptor after a header with one
    // may be the ZIP64 kind: room for the longer form.
    const bool wideDescriptor = extraLength > 0 || packed32 == zip::kZip64Marker32 || size32 == zip::kZip64Marker32;
    const uint64_t descriptor = !header.hasDescriptor ? 0 : wideDescriptor ? kZip64DescriptorBytes : kDescriptorBytes;
    header.dataOffset = zip::kLocalHeaderBytes + nameLength + extraLength;
    if (entry.packedSize > kMaxSpanEnd - header.dataOffset - descriptor) {
        return Refuse(reasonOut, "the member's sizes are too large");
    }
    header.spanLength = header.dataOffset + entry.packedSize + descriptor;
    if (size < header.dataOffset) return SpanRead::Short;
    const char* variable = reinterpret_cast<const char*>(head) + zip::kLocalHeaderBytes;
    const std::string name(variable, nameLength);
    const std::string extra(variable + nameLength, extraLength);
    if (!NameMatches(header.flags, name, extra, entry.member)) {
        return Refuse(reasonOut, "the local header names " + name + ", not " + entry.member);
    }
    if (!header.hasDescriptor && !SizesMatch(packed32, size32, extra, entry)) {
        return Refuse(reasonOut, "the local header of " + entry.member + " gives other sizes than the index");
    }
    return SpanRead::Ready;
}

namespace {

// One extraction: the span read in order (header, data, descriptor), the
// member written to a side file through the checks, the side file renamed
// into place only when every check holds. Whatever ends it early sets the
// outcome and reason once; the destructor drops what was left half-made.
class SpanUnpacker {
public:
    SpanUnpacker(const StateEntry& entry, const std::atomic<bool>* stop,
                 const std::function<void(uint64_t)>& progress, SpanExtraction* result)
        : m_entry(entry), m_stop(stop), m_progress(progress), m_result(*result) {}
    ~SpanUnpacker();
    SpanUnpacker(const SpanUnpacker&) = delete;
    SpanUnpacker& operator=(const SpanUnpacker&) = delete;

    [[nodiscard]] bool Run(const std::string& spanPath, const std::string& outPath);

private:
    bool Fail(SpanOutcome outcome, const std::string& reason);
    [[nodiscard]] bool OpenSpan(const std::string& spanPath);
    [[nodiscard]] bool ReadHead(uint64_t spanSize);
    [[nodiscard]] bool OpenOutput(const std::string& outPath);
    [[nodiscard]] bool ReadSpan(unsigned char* buffer, size_t size);
    [[nodiscard]] bool Put(const unsigned char* data, size_t size);
    [[nodiscard]] bool Copy();
    [[nodiscard]] bool Inflate();
    [[nodiscard]] bool CheckMember();
    [[nodiscard]] bool Commit(const std::string& outPath);

    const StateEntry& m_entry;
    const std::atomic<bool>* m_stop;
    const std::function<void(uint64_t)>& m_progress;
    SpanExtraction& m_result;
    SpanHeader m_header;
    std::FILE* m_span = nullptr;
    std::FILE* m_out = nullptr;
    std::string m_partPath;
    std::vector<unsigned char> m_in;
    std::vector<unsigned char> m_outBuffer;
    z_stream m_inflater{};
    bool m_inflaterReady = false;
    uLong m_crc = crc32(0L, Z_NULL, 0);
    uint64_t m_written = 0;
    DigestSink m_md5{DigestAlgorithm::Md5};
    DigestSink m_sha256{DigestAlgorithm::Sha256};
};

SpanUnpacker::~SpanUnpacker() {
    if (m_span) std::fclose(m_span);
    if (m_out) {
        std::fclose(m_out);
        fs_port::RemoveFile(m_partPath);
    }
    if (m_inflaterReady) inflateEnd(&m_inflater);
}

bool SpanUnpacker::Fail(SpanOutcome outcome, const std::string& reason) {
    // A stop can make a read or write fail; it is then the stop that ended it.
    const bool stopped = m_stop && m_stop->load();
    m_result.outcome = stopped ? SpanOutcome::Stopped : outcome;
    m_result.reason = stopped ? "stopped" : reason;
    return false;
}

bool SpanUnpacker::Run(const std::string& spanPath, const std::string& outPath) {
    if (!OpenSpan(spanPath) || !OpenOutput(outPath)) return false;
    const bool unpacked = m_entry.method == kStateMethodStored ? Copy() : Inflate();
    return unpacked && CheckMember() && Commit(outPath);
}

bool SpanUnpacker::OpenSpan(const std::string& spanPath) {
    if (m_stop && m_stop->load()) return Fail(SpanOutcome::Stopped, "stopped");
    MemberSpan span;
    if (!SpanOfMember(m_entry, &span)) return Fail(SpanOutcome::Refused, "the index entry cannot be a member");
    const int64_t spanSize = fs_port::FileSize(spanPath);
    m_span = spanSize < 0 ? nullptr : fs_port::OpenFile(spanPath, "rb");
    if (!m_span) return Fail(SpanOutcome::Failed, "cannot read " + fs_port::NativePath(spanPath));
    std::setvbuf(m_span, nullptr, _IONBF, 0);
    if (static_cast<uint64_t>(spanSize) < zip::kLocalHeaderBytes) {
        m_result.neededBytes = span.length;
        return Fail(SpanOutcome::Short, "the span ends within the local header");
    }
    return ReadHead(static_cast<uint64_t>(spanSize));
}

// Reads the fixed header, then its name and extra field, and leaves the span
// at the member's data.
bool SpanUnpacker::ReadHead(uint64_t spanSize) {
    std::vector<unsigned char> head(zip::kLocalHeaderBytes);
    std::string reason;
    if (!ReadSpan(head.data(), head.size())) return false;
    SpanRead read = ReadSpanHeader(head.data(), head.size(), m_entry, &m_header, &reason);
    if (read == SpanRead::Short && spanSize >= m_header.dataOffset) {
        head.resize(static_cast<size_t>(m_header.dataOffset));
        if (!ReadSpan(head.data() + zip::kLocalHeaderBytes, head.size() - zip::kLocalHeaderBytes)) return false;
        read = ReadSpanHeader(head.data(), head.size(), m_entry, &m_header, &reason);
    }
    if (read == SpanRead::Refused) return Fail(SpanOutcome::Refused, reason);
    if (read == SpanRead::Short || spanSize < m_header.spanLength) {
        m_result.neededBytes = m_header.spanLength;
        return Fail(SpanOutcome::Short, "the span ends before the member's data does");
    }
    return true;
}

bool SpanUnpacker::OpenOutput(const std::string& outPath) {
    const size_t cut = outPath.find_last_of("\\/");
    const std::string parent = cut == std::string::npos ? std::string() : outPath.substr(0, cut);
    if (!parent.empty() && !fs_port::IsDirectory(parent) && !fs_port::MakeDirectories(parent)) {
        return Fail(SpanOutcome::Failed, "cannot create folder " + fs_port::NativePath(parent));
    }
    m_partPath = outPath + kPartSuffix;
    m_out = fs_port::OpenFile(m_partPath, "wb");
    if (!m_out) return Fail(SpanOutcome::Failed, "cannot create " + fs_port::NativePath(m_partPath));
    m_in.resize(zip::kStreamChunkBytes);
    m_outBuffer.resize(zip::kStreamChunkBytes);
    return true;
}

// The span's length was checked against the header before any data was
// read, so a short read here is the disk's fault, not the server's.
bool SpanUnpacker::ReadSpan(unsigned char* buffer, size_t size) {
    if (m_stop && m_stop->load()) return Fail(SpanOutcome::Stopped, "stopped");
    if (size == 0 || std::fread(buffer, 1, size, m_span) == size) return true;
    return Fail(SpanOutcome::Failed, "cannot read the span of " + m_entry.member);
}

bool SpanUnpacker::Put(const unsigned char* data, size_t size) {
    if (m_stop && m_stop->load()) return Fail(SpanOutcome::Stopped, "stopped");
    if (size == 0) return true;
    if (size > m_entry.size - m_written) {
        return Fail(SpanOutcome::Damaged,
                    m_entry.member + " unpacks to more than its " + std::to_string(m_entry.size) + " bytes");
    }
    const char* bytes = reinterpret_cast<const char*>(data);
    if (!m_md5.Write(bytes, size) || !m_sha256.Write(bytes, size)) {
        return Fail(SpanOutcome::Failed, "cannot hash " + m_entry.member);
    }
    if (std::fwrite(data, 1, size, m_out) != size) {
        return Fail(SpanOutcome::Failed, "cannot write " + fs_port::NativePath(m_partPath));
    }
    m_crc = crc32(m_crc, data, static_cast<uInt>(size));
    m_written += size;
    if (m_progress) m_progress(size);
    return true;
}

bool SpanUnpacker::Copy() {
    for (uint64_t remaining = m_entry.packedSize; remaining > 0;) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(remaining, m_in.size()));
        if (!ReadSpan(m_in.data(), chunk) || !Put(m_in.data(), chunk)) return false;
        remaining -= chunk;
    }
    return true;
}

// Inflates exactly the packed bytes: the stream must end with the last of
// them, neither before nor after.
bool SpanUnpacker::Inflate() {
    if (inflateInit2(&m_inflater, -MAX_WBITS) != Z_OK) return Fail(SpanOutcome::Failed, "cannot start the decompressor");
    m_inflaterReady = true;
    z_stream& zs = m_inflater;
    const std::string damaged = "the compressed data of " + m_entry.member + " is damaged";
    uint64_t remaining = m_entry.packedSize;
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        if (zs.avail_in == 0 && remaining > 0) {
            const size_t chunk = static_cast<size_t>(std::min<uint64_t>(remaining, m_in.size()));
            if (!ReadSpan(m_in.data(), chunk)) return false;
            zs.next_in = m_in.data();
            zs.avail_in = static_cast<uInt>(chunk);
            remaining -= chunk;
        }
        const uInt inBefore = zs.avail_in;
        zs.next_out = m_outBuffer.data();
        zs.avail_out = static_cast<uInt>(m_outBuffer.size());
        result = inflate(&zs, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) return Fail(SpanOutcome::Damaged, damaged);
        const size_t have = m_outBuffer.size() - zs.avail_out;
        if (!Put(m_outBuffer.data(), have)) return false;
        // Nothing taken and nothing given: the data ends before its stream does.
        const bool stuck = have == 0 && zs.avail_in == inBefore && (inBefore > 0 || remaining == 0);
        if (result != Z_STREAM_END && stuck) return Fail(SpanOutcome::Damaged, damaged + " (it ends too early)");
    }
    if (zs.avail_in != 0 || remaining != 0) {
        return Fail(SpanOutcome::Damaged, damaged + " (its stream ends before its packed size)");
    }
    return true;
}

bool SpanUnpacker::CheckMember() {
    const std::string& member = m_entry.member;
    if (m_written != m_entry.size) return Fail(SpanOutcome::Damaged, member + " is shorter than its size");
    const uint32_t crc = static_cast<uint32_t>(m_crc);
    if (m_header.hasDescriptor) {
        unsigned char descriptor[kZip64DescriptorBytes];
        const size_t room = static_cast<size_t>(m_header.spanLength - m_header.dataOffset - m_entry.packedSize);
        if (!ReadSpan(descriptor, room)) return false;
        if (!DescriptorMatches(descriptor, room, crc, m_entry)) {
            return Fail(SpanOutcome::Damaged, member + " is damaged (its data descriptor does not match)");
        }
    } else if (crc != m_header.crc32) {
        return Fail(SpanOutcome::Damaged, member + " is damaged (CRC-32 mismatch)");
    }
    const std::string md5 = m_md5.FinishHex();
    const std::string sha256 = m_sha256.FinishHex();
    if (md5.empty() || sha256.empty()) return Fail(SpanOutcome::Failed, "cannot hash " + member);
    if (md5 != m_entry.md5) return Fail(SpanOutcome::Damaged, member + " has MD5 " + md5 + ", not " + m_entry.md5);
    if (sha256 != m_entry.sha256) {
        return Fail(SpanOutcome::Damaged, member + " has SHA-256 " + sha256 + ", not " + m_entry.sha256);
    }
    return true;
}

// The stamp is read from the open file before it is closed and compared with
// the file found at outPath after the rename, so it is the stamp of the bytes
// just checked.
bool SpanUnpacker::Commit(const std::string& outPath) {
    fs_port::FileStamp written;
    const bool stamped = std::fflush(m_out) == 0 && fs_port::ReadOpenFileStamp(m_out, &written);
    const bool closed = std::fclose(m_out) == 0;
    m_out = nullptr;
    if (!closed) {
        fs_port::RemoveFile(m_partPath);
        return Fail(SpanOutcome::Failed, "cannot write " + fs_port::NativePath(m_partPath));
    }
    if (fs_port::PathExists(outPath)) fs_port::SetNormalAttributes(outPath);
    if (!fs_port::RenamePath(m_partPath, outPath, true)) {
        fs_port::RemoveFile(m_partPath);
        return Fail(SpanOutcome::Failed, "cannot replace " + fs_port::NativePath(outPath));
    }
    ExtractedFile& file = m_result.file;
    file.stamped = stamped && fs_port::ReadFileStamp(outPath, &file.stamp) && file.stamp == written;
    m_result.outcome = SpanOutcome::Done;
    return true;
}

}  // namespace

bool ExtractSpanMember(const std::string& spanPath, const StateEntry& entry, const std::string& outPath,
                       const std::atomic<bool>* stop, const std::function<void(uint64_t bytes)>& progress,
                       SpanExtraction* resultOut) {
    *resultOut = SpanExtraction{};
    SpanUnpacker unpacker(entry, stop, progress, resultOut);
    return unpacker.Run(spanPath, outPath);
}
