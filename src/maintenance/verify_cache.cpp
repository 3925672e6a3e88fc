#include "maintenance/verify_cache.h"

#include <cinttypes>
#include <cstdio>
#include <set>

#include "package/patch_kit.h"
#include "platform/byte_sink.h"
#include "platform/text_encoding.h"
#include "platform/text_format.h"
#include "update/install/installer_file_ops.h"

namespace {

constexpr char kHeaderWord[] = "vantorel-verify-cache 2";
constexpr char kCheckWord[] = "end";
constexpr size_t kLineFields = 7;  // kind, size, time, volume, index, md5, path
constexpr size_t kMd5Digits = 32;

bool IsRecordablePath(std::string_view path) {
    return !path.empty() && path.find_first_of("\r\n") == std::string_view::npos && IsValidUtf8(path);
}

std::string FormatLine(const VerifyCacheLine& line) {
    return StringPrintf("%c\t%" PRIu64 "\t%" PRId64 "\t%" PRIu64 "\t%" PRIu64 "\t%s\t", static_cast<char>(line.kind),
                        line.stamp.size, line.stamp.writeTime, line.stamp.volume, line.stamp.fileIndex,
                        line.md5.c_str()) +
           line.path + "\n";
}

bool ReadUnsigned(const std::string& text, uint64_t* valueOut) { return ReadDecimal(text, UINT64_MAX, valueOut); }

bool ReadSigned(const std::string& text, int64_t* valueOut) {
    const bool negative = !text.empty() && text[0] == '-';
    uint64_t magnitude = 0;
    if (!ReadUnsigned(negative ? text.substr(1) : text, &magnitude)) return false;
    if (magnitude > static_cast<uint64_t>(INT64_MAX)) return false;
    *valueOut = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

bool IsLowerHex(const std::string& text) {
    if (text.size() != kMd5Digits) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// One record line without its line end; the path is everything after the sixth tab.
bool ParseLine(std::string_view text, VerifyCacheLine* lineOut) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (fields.size() + 1 < kLineFields) {
        const size_t tab = text.find('\t', start);
        if (tab == std::string_view::npos) return false;
        fields.emplace_back(text.substr(start, tab - start));
        start = tab + 1;
    }
    VerifyCacheLine line;
    if (fields[0] != "V" && fields[0] != "U") return false;
    line.kind = static_cast<VerifyCacheLine::Kind>(fields[0][0]);
    const std::string_view path = text.substr(start);
    if (!ReadUnsigned(fields[1], &line.stamp.size) || !ReadSigned(fields[2], &line.stamp.writeTime) ||
        !ReadUnsigned(fields[3], &line.stamp.volume) || !ReadUnsigned(fields[4], &line.stamp.fileIndex) ||
        !IsLowerHex(fields[5]) || !IsRecordablePath(path)) {
        return false;
    }
    line.path = std::string(path);
    line.md5 = fields[5];
    *lineOut = std::move(line);
    return true;
}

// Where the check line begins: after the last line end but the final one.
bool SplitCheck(std::string_view bytes, std::string_view* bodyOut, std::string_view* checkOut) {
    if (bytes.empty() || bytes.back() != '\n') return false;
    const size_t cut = bytes.find_last_of('\n', bytes.size() - 2);
    if (cut == std::string_view::npos) return false;
    *bodyOut = bytes.substr(0, cut + 1);
    *checkOut = bytes.substr(cut + 1, bytes.size() - cut - 2);
    return true;
}

std::string CacheKey(const std::string& path) {
    std::string key = path;
    for (char& c : key) {
        if (c == '/') c = '\\';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

std::string CachePath(const std::string& folder) { return folder + "\\" + kVerifyCacheName; }

}  // namespace

std::string FormatVerifyCache(const std::string& folder, const std::vector<VerifyCacheLine>& lines) {
    std::string bytes = std::string(kHeaderWord) + "\t" + folder + "\n";
    for (const VerifyCacheLine& line : lines) {
        if (IsRecordablePath(line.path)) bytes += FormatLine(line);
    }
    return bytes + kCheckWord + "\t" + Md5OfBytes(bytes) + "\n";
}

VerifyCacheRead ParseVerifyCache(std::string_view bytes, const std::string& folder,
                                 std::vector<VerifyCacheLine>* linesOut) {
    std::string_view body;
    std::string_view check;
    if (!SplitCheck(bytes, &body, &check) ||
        check != std::string(kCheckWord) + "\t" + Md5OfBytes(body)) {
        return VerifyCacheRead::Damaged;
    }
    const size_t headerEnd = body.find('\n');
    if (body.substr(0, headerEnd) != std::string(kHeaderWord) + "\t" + folder) {
        return body.substr(0, std::char_traits<char>::length(kHeaderWord)) == kHeaderWord
                   ? VerifyCacheRead::Foreign
                   : VerifyCacheRead::Damaged;
    }
    std::vector<VerifyCacheLine> lines;
    for (size_t start = headerEnd + 1; start < body.size();) {
        const size_t end = body.find('\n', start);
        VerifyCacheLine line;
        if (!ParseLine(body.substr(start, end - start), &line)) return VerifyCacheRead::Damaged;
        lines.push_back(std::move(line));
        start = end + 1;
    }
    *linesOut = std::move(lines);
    return VerifyCacheRead::Usable;
}

VerifyCacheRead LoadVerifyCache(const std::string& folder, std::vector<VerifyCacheLine>* linesOut) {
    const std::string path = CachePath(folder);
    if (!fs_port::PathExists(path)) return VerifyCacheRead::Missing;
    std::string bytes;
    bool tooLarge = false;
    if (!ReadFileUpTo(path, kMaxVerifyCacheBytes, &bytes, &tooLarge)) return VerifyCacheRead::Damaged;
    return ParseVerifyCache(bytes, folder, linesOut);
}

bool SaveVerifyCache(const std::string& folder, const std::vector<VerifyCacheLine>& lines) {
    const std::string bytes = FormatVerifyCache(folder, lines);
    return WriteFileBeside(CachePath(folder), bytes, ".part") == BesideWrite::Done;
}

VerifyCacheIndex::VerifyCacheIndex(const std::vector<VerifyCacheLine>& lines) {
    m_byPath.reserve(lines.size());
    for (const VerifyCacheLine& line : lines) m_byPath.emplace(CacheKey(line.path), &line);
}

const std::string* VerifyCacheIndex::Find(const std::string& path, const fs_port::FileStamp& stamp) const {
    const auto range = m_byPath.equal_range(CacheKey(path));
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second->stamp == stamp) return &it->second->md5;
    }
    return nullptr;
}

std::vector<VerifyCacheLine> RenewedCacheLines(const std::vector<VerifyCacheLine>& old,
                                               const std::vector<VerifyCacheLine>& seen,
                                               const std::vector<std::string>& listed,
                                               bool installPending) {
    std::set<std::string> seenKeys;
    for (const VerifyCacheLine& line : seen) seenKeys.insert(CacheKey(line.path));
    std::set<std::string> listedKeys;
    for (const std::string& path : listed) listedKeys.insert(CacheKey(path));
    const VerifyCacheIndex seenIndex(seen);
    std::vector<VerifyCacheLine> renewed = seen;
    for (const VerifyCacheLine& line : old) {
        const std::string key = CacheKey(line.path);
        const bool keep = line.kind == VerifyCacheLine::Kind::Installed
                              ? installPending && !seenIndex.Find(line.path, line.stamp)
                              : listedKeys.count(key) != 0 && seenKeys.count(key) == 0;
        if (keep) renewed.push_back(line);
    }
    return renewed;
}

std::vector<VerifyCacheLine> WithInstalledLines(const std::vector<VerifyCacheLine>& old,
                                                const std::vector<VerifyCacheLine>& installed) {
    std::vector<VerifyCacheLine> lines;
    for (const VerifyCacheLine& line : old) {
        if (line.kind == VerifyCacheLine::Kind::Verified) lines.push_back(line);
    }
    for (VerifyCacheLine line : installed) {
        line.kind = VerifyCacheLine::Kind::Installed;
        lines.push_back(std::move(line));
    }
    return lines;
}

bool RecordInstalledFiles(const std::string& folder, const std::vector<VerifyCacheLine>& installed) {
    std::vector<VerifyCacheLine> lines;
    if (LoadVerifyCache(folder, &lines) != VerifyCacheRead::Usable) lines.clear();
    return SaveVerifyCache(folder, WithInstalledLines(lines, installed));
}
