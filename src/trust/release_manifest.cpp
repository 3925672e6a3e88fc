#include "trust/release_manifest.h"

#include <algorithm>
#include <set>

#include "platform/text_encoding.h"
#include "platform/text_format.h"
#include "update/install/install_paths.h"

namespace {

constexpr char kCommentTag[] = "vantorel";
constexpr size_t kMaxVersionPartDigits = 9;

bool IsLowerHex(std::string_view text) {
    return text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// Decimal digits only, no sign, no leading zero, within max.
bool ParseDecimal(std::string_view text, std::uint64_t max, std::uint64_t* valueOut) {
    if (text.size() > 1 && text[0] == '0') return false;
    return ReadDecimal(text, max, valueOut);
}

bool ParseManifestLine(std::string_view line, ManifestEntry* entryOut) {
    if (line.size() > kMaxManifestLineBytes || line.size() < kSha256HexDigits + 3 ||
        line[kSha256HexDigits] != ' ') {
        return false;
    }
    const std::string_view hex = line.substr(0, kSha256HexDigits);
    const size_t sizeEnd = line.find(' ', kSha256HexDigits + 1);
    if (!IsLowerHex(hex) || sizeEnd == std::string_view::npos) return false;
    const std::string_view size = line.substr(kSha256HexDigits + 1, sizeEnd - kSha256HexDigits - 1);
    const std::string_view name = line.substr(sizeEnd + 1);
    if (!ParseDecimal(size, UINT64_MAX, &entryOut->size) || !IsManifestFileName(name)) return false;
    entryOut->sha256Hex.assign(hex.data(), hex.size());
    entryOut->name.assign(name.data(), name.size());
    return true;
}

// The value of "key=" among the fields after the tag; false when the tag is
// missing, a field is not key=value, or the key is absent or repeated.
bool FindField(std::string_view comment, std::string_view key, std::string_view* valueOut) {
    if (comment.substr(0, sizeof kCommentTag - 1) != kCommentTag) return false;
    std::string_view rest = comment.substr(sizeof kCommentTag - 1);
    bool found = false;
    while (!rest.empty()) {
        if (rest[0] != ' ') return false;
        rest.remove_prefix(1);
        const std::string_view field = rest.substr(0, rest.find(' '));
        rest.remove_prefix(field.size());
        const size_t equals = field.find('=');
        if (equals == std::string_view::npos || equals == 0) return false;
        if (field.substr(0, equals) != key) continue;
        if (found) return false;
        found = true;
        *valueOut = field.substr(equals + 1);
    }
    return found;
}

}  // namespace

bool IsManifestFileName(std::string_view name) {
    return name.find_first_of("\\/") == std::string_view::npos && IsSafeRelativePath(name);
}

bool ParseReleaseManifest(std::string_view gbkText, std::vector<ManifestEntry>* entriesOut) {
    entriesOut->clear();
    std::string text;
    if (gbkText.size() > kMaxManifestBytes || !GbkToUtf8(gbkText, &text)) return false;
    std::vector<ManifestEntry> entries;
    std::set<std::string> folded;
    std::string_view rest(text);
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ManifestEntry entry;
        if (entries.size() >= kMaxManifestLines || !ParseManifestLine(line, &entry) ||
            !folded.insert(AsciiFolded(entry.name)).second) {
            return false;
        }
        entries.push_back(std::move(entry));
    }
    entriesOut->swap(entries);
    return true;
}

bool TryFormatReleaseManifest(const std::vector<ManifestEntry>& entries, std::string* gbkTextOut) {
    std::vector<std::string> lines;
    for (const ManifestEntry& entry : entries) {
        std::string name;
        if (!Utf8ToGbk(entry.name, &name)) return false;
        lines.push_back(name + '\x01' + entry.sha256Hex + ' ' + std::to_string(entry.size) + ' ');
    }
    // Sorted by the GBK bytes of the name; the name stands first until then.
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (std::string& line : lines) {
        const size_t mark = line.find('\x01');
        text += line.substr(mark + 1) + line.substr(0, mark) + "\r\n";
    }
    std::vector<ManifestEntry> readBack;
    if (!ParseReleaseManifest(text, &readBack) || readBack.size() != entries.size()) return false;
    gbkTextOut->swap(text);
    return true;
}

std::string FormatReleaseManifest(const std::vector<ManifestEntry>& entries) {
    std::string text;
    return TryFormatReleaseManifest(entries, &text) ? text : std::string();
}

bool IsReleaseVersionText(std::string_view version) {
    for (int part = 0; part < 4; ++part) {
        const size_t dot = version.find('.');
        const std::string_view digits = version.substr(0, part < 3 ? dot : std::string_view::npos);
        if ((part < 3) == (dot == std::string_view::npos) || digits.empty() ||
            digits.size() > kMaxVersionPartDigits ||
            digits.find_first_not_of("0123456789") != std::string_view::npos) {
            return false;
        }
        version.remove_prefix(part < 3 ? dot + 1 : version.size());
    }
    return true;
}

bool ParseListComment(std::string_view trustedComment, ListComment* commentOut) {
    std::string_view serial, expires;
    std::uint64_t expiresValue = 0;
    ListComment comment;
    if (!FindField(trustedComment, "serial", &serial) ||
        !FindField(trustedComment, "expires", &expires) ||
        !ParseDecimal(serial, UINT64_MAX, &comment.serial) ||
        !ParseDecimal(expires, INT64_MAX, &expiresValue)) {
        return false;
    }
    comment.expires = static_cast<std::int64_t>(expiresValue);
    *commentOut = comment;
    return true;
}

bool ParseManifestComment(std::string_view trustedComment, ManifestComment* commentOut) {
    std::string_view version, serial;
    ManifestComment comment;
    if (!FindField(trustedComment, "version", &version) ||
        !FindField(trustedComment, "serial", &serial) || !IsReleaseVersionText(version) ||
        !ParseDecimal(serial, UINT64_MAX, &comment.serial)) {
        return false;
    }
    comment.version.assign(version.data(), version.size());
    *commentOut = std::move(comment);
    return true;
}

std::string FormatListComment(const ListComment& comment) {
    return std::string(kCommentTag) + " serial=" + std::to_string(comment.serial) +
           " expires=" + std::to_string(comment.expires);
}

std::string FormatManifestComment(const ManifestComment& comment) {
    return std::string(kCommentTag) + " version=" + comment.version +
           " serial=" + std::to_string(comment.serial);
}
