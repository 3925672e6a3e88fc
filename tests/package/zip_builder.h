// Builds ZIP archives byte by byte for the tests, so that packages with
// exactly the quirks under test (GBK names, ZIP64 fields, lying sizes) can
// be made without any outside tool.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testzip {

inline void Put16(std::string* out, uint32_t v) {
    out->push_back(static_cast<char>(v & 0xFF));
    out->push_back(static_cast<char>((v >> 8) & 0xFF));
}
inline void Put32(std::string* out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
inline void Put64(std::string* out, uint64_t v) {
    Put32(out, static_cast<uint32_t>(v));
    Put32(out, static_cast<uint32_t>(v >> 32));
}

inline uint32_t Crc(const std::string& data) {
    return static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// Raw deflate of data, as ZIP stores it.
inline std::string Deflate(const std::string& data) {
    z_stream zs{};
    deflateInit2(&zs, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, static_cast<uLong>(data.size())), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

struct Entry {
    std::string rawName;      // bytes as stored
    std::string content;      // plain content
    bool deflate = true;
    uint16_t flags = 0;
    uint8_t host = 0;         // "made by" host system
    std::string centralExtra; // extra field in the central header
    bool zip64Sizes = false;  // sizes and offset only in a ZIP64 field
    // Overrides of what the central header declares (for lying packages).
    int64_t declaredSize = -1;
    int64_t declaredCrc = -1;
    int32_t declaredMethod = -1;
    int64_t declaredOffset = -1;  // local header the central entry points at
    std::string localName;        // name in the local header, when it differs
    int32_t localFlags = -1;      // flags of the local header, when they differ
    uint32_t unixMode = 0;        // high half of the external attributes
};

struct Archive {
    std::vector<Entry> entries;
    std::string comment;
    bool zip64End = false;  // write ZIP64 end record and locator
    int64_t declaredCount = -1;
    int64_t locatorOffset = -1;  // where the ZIP64 locator says its record is
    // A second end record, of an empty archive, as the last bytes of the comment.
    bool hiddenEndRecord = false;
};

inline uint16_t Method(const Entry& e) {
    return static_cast<uint16_t>(e.declaredMethod >= 0 ? e.declaredMethod : (e.deflate ? 8 : 0));
}

// The member's local header and data as they are written into the archive.
inline std::string LocalRecord(const Entry& e) {
    const std::string data = e.deflate ? Deflate(e.content) : e.content;
    const std::string& name = e.localName.empty() ? e.rawName : e.localName;
    std::string out;
    Put32(&out, 0x04034b50);
    Put16(&out, 20);
    Put16(&out, static_cast<uint32_t>(e.localFlags >= 0 ? e.localFlags : e.flags));
    Put16(&out, Method(e));
    Put32(&out, 0);  // time and date
    Put32(&out, e.declaredCrc >= 0 ? static_cast<uint32_t>(e.declaredCrc) : Crc(e.content));
    Put32(&out, static_cast<uint32_t>(data.size()));
    Put32(&out, static_cast<uint32_t>(e.declaredSize >= 0 ? e.declaredSize : e.content.size()));
    Put16(&out, static_cast<uint32_t>(name.size()));
    Put16(&out, 0);
    return out + name + data;
}

inline std::string Build(const Archive& archive) {
    std::string out;
    std::string directory;
    for (const Entry& e : archive.entries) {
        const std::string data = e.deflate ? Deflate(e.content) : e.content;
        const uint32_t crc = e.declaredCrc >= 0 ? static_cast<uint32_t>(e.declaredCrc) : Crc(e.content);
        const uint64_t size = e.declaredSize >= 0 ? static_cast<uint64_t>(e.declaredSize)
                                                   : e.content.size();
        const uint64_t offset = e.declaredOffset >= 0 ? static_cast<uint64_t>(e.declaredOffset) : out.size();
        out += LocalRecord(e);

        std::string extra = e.centralExtra;
        if (e.zip64Sizes) {
            Put16(&extra, 0x0001);
            Put16(&extra, 24);
            Put64(&extra, size);
            Put64(&extra, data.size());
            Put64(&extra, offset);
        }
        Put32(&directory, 0x02014b50);
        Put16(&directory, (static_cast<uint32_t>(e.host) << 8) | 45);
        Put16(&directory, 20);
        Put16(&directory, e.flags);
        Put16(&directory, Method(e));
        Put32(&directory, 0);
        Put32(&directory, crc);
        Put32(&directory, e.zip64Sizes ? 0xFFFFFFFFu : static_cast<uint32_t>(data.size()));
        Put32(&directory, e.zip64Sizes ? 0xFFFFFFFFu : static_cast<uint32_t>(size));
        Put16(&directory, static_cast<uint32_t>(e.rawName.size()));
        Put16(&directory, static_cast<uint32_t>(extra.size()));
        Put16(&directory, 0);
        Put16(&directory, 0);
        Put16(&directory, 0);
        Put32(&directory, e.unixMode << 16);
        Put32(&directory, e.zip64Sizes ? 0xFFFFFFFFu : static_cast<uint32_t>(offset));
        directory += e.rawName;
        directory += extra;
    }
    const uint64_t directoryOffset = out.size();
    out += directory;
    const uint64_t count = archive.declaredCount >= 0 ? static_cast<uint64_t>(archive.declaredCount)
                                                      : archive.entries.size();
    if (archive.zip64End) {
        const uint64_t recordOffset = out.size();
        Put32(&out, 0x06064b50);
        Put64(&out, 44);
        Put16(&out, 45);
        Put16(&out, 45);
        Put32(&out, 0);
        Put32(&out, 0);
        Put64(&out, count);
        Put64(&out, count);
        Put64(&out, directory.size());
        Put64(&out, directoryOffset);
        Put32(&out, 0x07064b50);
        Put32(&out, 0);
        Put64(&out, archive.locatorOffset != -1 ? static_cast<uint64_t>(archive.locatorOffset) : recordOffset);
        Put32(&out, 1);
    }
    Put32(&out, 0x06054b50);
    Put16(&out, 0);
    Put16(&out, 0);
    Put16(&out, archive.zip64End ? 0xFFFF : static_cast<uint32_t>(count));
    Put16(&out, archive.zip64End ? 0xFFFF : static_cast<uint32_t>(count));
    Put32(&out, archive.zip64End ? 0xFFFFFFFFu : static_cast<uint32_t>(directory.size()));
    Put32(&out, archive.zip64End ? 0xFFFFFFFFu : static_cast<uint32_t>(directoryOffset));
    std::string comment = archive.comment;
    if (archive.hiddenEndRecord) {
        const uint64_t hiddenAt = out.size() + 2 + comment.size();
        Put32(&comment, 0x06054b50);
        Put64(&comment, 0);  // disks and counts
        Put32(&comment, 0);  // directory size
        Put32(&comment, static_cast<uint32_t>(hiddenAt));
        Put16(&comment, 0);
    }
    Put16(&out, static_cast<uint32_t>(comment.size()));
    out += comment;
    return out;
}

// The Info-ZIP Unicode path extra block for a stored name.
inline std::string UnicodePathExtra(const std::string& rawName, const std::string& utf8Name) {
    std::string block;
    Put16(&block, 0x7075);
    Put16(&block, static_cast<uint32_t>(5 + utf8Name.size()));
    block.push_back(1);
    Put32(&block, Crc(rawName));
    block += utf8Name;
    return block;
}

}  // namespace testzip
