#include "update/engine/state_index.h"

#include <algorithm>
#include <array>

#include "app/util/launcher_util.h"
#include "package/zip_format.h"
#include "package/zip_reader.h"
#include "platform/text_format.h"
#include "update/install/install_paths.h"

namespace {

constexpr size_t kFieldCount = 10;
constexpr size_t kMd5HexDigits = 32;
constexpr size_t kSha256HexDigits = 64;
// Between a member's local header offset and the end of its data lie at
// most the fixed header, the longest name and the longest extra field.
constexpr uint64_t kMaxLocalHeaderBytes = zip::kLocalHeaderBytes + 2u * 0xFFFFu;
// The shortest line: seven fields of one character, the digests, a version
// "1.0.0.0", nine tabs and the line feed. A header's count reserves no more
// entries than the text could hold.
constexpr size_t kMinLineBytes = 7 + kMd5HexDigits + kSha256HexDigits + 7 + kFieldCount;

using Fields = std::array<std::string_view, kFieldCount>;

char PlaceChar(char c) {
    if (c == '/') return '\\';
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsLowerHex(std::string_view text, size_t digits) {
    return text.size() == digits && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// Decimal digits up to max, without the leading zeros that would let two
// texts name one number.
bool ReadNumber(std::string_view text, uint64_t max, uint64_t* valueOut) {
    return !(text.size() > 1 && text[0] == '0') && ReadDecimal(text, max, valueOut);
}

bool IsPlainName(std::string_view name) {
    return IsSafeRelativePath(name) && name.find_first_of("\\/") == std::string_view::npos;
}

bool IsSafeName(std::string_view name, bool plain) {
    return name.size() <= kMaxStateFieldBytes && (plain ? IsPlainName(name) : IsSafeRelativePath(name));
}

int32_t VersionNumberOf(std::string_view text) {
    return IsVersionFolderText(text) ? VersionTextToNumber(std::string(text).c_str()) : 0;
}

// The member's sizes must be ones its method can give: a stored member is
// its file, and deflate shrinks by no more than about 1032:1. Its header and
// data must end within 2^63 - 1 bytes.
bool HasPlausibleSizes(const StateEntry& entry) {
    const uint64_t max = static_cast<uint64_t>(INT64_MAX);
    if (entry.size > max || entry.packedSize > max - kMaxLocalHeaderBytes ||
        entry.headerOffset > max - kMaxLocalHeaderBytes - entry.packedSize) {
        return false;
    }
    if (entry.method == kStateMethodStored) return entry.packedSize == entry.size;
    return entry.method == kStateMethodDeflated && entry.size / zip::kMaxInflateRatio <= entry.packedSize;
}

// Whether an entry can stand in the index of the version numbered newest.
bool IsValidEntry(const StateEntry& entry, int32_t newest) {
    const int32_t source = VersionNumberOf(entry.sourceVersion);
    return IsSafeName(entry.place, false) && IsSafeName(entry.package, true) && IsSafeName(entry.member, false) &&
           IsLowerHex(entry.md5, kMd5HexDigits) && IsLowerHex(entry.sha256, kSha256HexDigits) && source != 0 &&
           source <= newest && HasPlausibleSizes(entry);
}

// Exactly the pieces between separators; false unless there are count.
template <size_t count>
bool SplitFields(std::string_view line, std::array<std::string_view, count>* fieldsOut) {
    size_t begin = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t cut = i + 1 == count ? line.size() : line.find('\t', begin);
        if (cut == std::string_view::npos) return false;
        (*fieldsOut)[i] = line.substr(begin, cut - begin);
        begin = cut + 1;
    }
    return (*fieldsOut)[count - 1].find('\t') == std::string_view::npos;
}

bool ReadEntry(std::string_view line, int32_t newest, StateEntry* entryOut) {
    Fields f;
    uint64_t method = 0;
    if (!SplitFields(line, &f) || !ReadNumber(f[1], INT64_MAX, &entryOut->size) ||
        !ReadNumber(f[7], INT64_MAX, &entryOut->headerOffset) || !ReadNumber(f[8], INT64_MAX, &entryOut->packedSize) ||
        !ReadNumber(f[9], kStateMethodDeflated, &method)) {
        return false;
    }
    entryOut->place.assign(f[0]);
    entryOut->md5.assign(f[2]);
    entryOut->sha256.assign(f[3]);
    entryOut->sourceVersion.assign(f[4]);
    entryOut->package.assign(f[5]);
    entryOut->member.assign(f[6]);
    entryOut->method = static_cast<uint16_t>(method);
    return IsValidEntry(*entryOut, newest);
}

// The header's version number and entry count; false when it is no header.
bool ReadHeader(std::string_view line, std::string* versionOut, uint64_t* countOut) {
    std::array<std::string_view, 4> f;
    if (!SplitFields(line, &f) || f[0] != kStateIndexMagic || f[1] != std::to_string(kStateIndexFormat) ||
        !IsVersionFolderText(f[2]) || !ReadNumber(f[3], kMaxStateEntries, countOut)) {
        return false;
    }
    versionOut->assign(f[2]);
    return true;
}

void AppendEntry(const StateEntry& e, std::string* text) {
    *text += e.place + "\t" + std::to_string(e.size) + "\t" + e.md5 + "\t" + e.sha256 + "\t" + e.sourceVersion +
             "\t" + e.package + "\t" + e.member + "\t" + std::to_string(e.headerOffset) + "\t" +
             std::to_string(e.packedSize) + "\t" + std::to_string(e.method) + "\n";
}

}  // namespace

int ComparePlaces(std::string_view a, std::string_view b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const unsigned char x = static_cast<unsigned char>(PlaceChar(a[i]));
        const unsigned char y = static_cast<unsigned char>(PlaceChar(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool IsVersionFolderText(std::string_view text) {
    if (text.size() > 16) return false;
    const std::string copy(text);
    const int32_t number = VersionTextToNumber(copy.c_str());
    return number >= 1000 && VersionNumberToText(number) == copy;
}

bool ParseStateIndex(std::string_view text, StateIndex* indexOut, std::string* offendingOut) {
    indexOut->entries.clear();
    if (text.size() > kMaxStateTextBytes) {
        *offendingOut = std::to_string(text.size()) + " bytes";
        return false;
    }
    uint64_t count = 0;
    size_t end = text.find('\n');
    if (end == std::string_view::npos || !ReadHeader(text.substr(0, end), &indexOut->version, &count)) {
        *offendingOut = std::string(text.substr(0, std::min(end, kMaxStateFieldBytes)));
        return false;
    }
    const int32_t newest = VersionNumberOf(indexOut->version);
    indexOut->entries.reserve(std::min<size_t>(count, text.size() / kMinLineBytes));
    for (size_t begin = end + 1; count > 0; --count, begin = end + 1) {
        end = text.find('\n', begin);
        const std::string_view line = text.substr(begin, end == std::string_view::npos ? end : end - begin);
        StateEntry entry;
        if (end == std::string_view::npos || !ReadEntry(line, newest, &entry) ||
            (!indexOut->entries.empty() && ComparePlaces(indexOut->entries.back().place, entry.place) >= 0)) {
            *offendingOut = line.empty() ? "fewer lines than the header counts"
                                         : std::string(line.substr(0, kMaxStateFieldBytes));
            indexOut->entries.clear();
            return false;
        }
        indexOut->entries.push_back(std::move(entry));
    }
    if (end + 1 != text.size()) {
        *offendingOut = "more lines than the header counts";
        indexOut->entries.clear();
        return false;
    }
    return true;
}

bool FormatStateIndex(const StateIndex& index, std::string* textOut, std::string* offendingOut) {
    const int32_t newest = VersionNumberOf(index.version);
    if (newest == 0 || index.entries.size() > kMaxStateEntries) {
        *offendingOut = newest == 0 ? index.version : std::to_string(index.entries.size()) + " entries";
        return false;
    }
    std::vector<const StateEntry*> sorted;
    sorted.reserve(index.entries.size());
    for (const StateEntry& entry : index.entries) sorted.push_back(&entry);
    std::sort(sorted.begin(), sorted.end(),
              [](const StateEntry* a, const StateEntry* b) { return ComparePlaces(a->place, b->place) < 0; });
    std::string text = std::string(kStateIndexMagic) + "\t" + std::to_string(kStateIndexFormat) + "\t" +
                       index.version + "\t" + std::to_string(sorted.size()) + "\n";
    for (size_t i = 0; i < sorted.size(); ++i) {
        const bool repeated = i > 0 && ComparePlaces(sorted[i - 1]->place, sorted[i]->place) == 0;
        if (repeated || !IsValidEntry(*sorted[i], newest)) {
            *offendingOut = sorted[i]->place;
            return false;
        }
        AppendEntry(*sorted[i], &text);
        if (text.size() > kMaxStateTextBytes) {
            *offendingOut = "more than " + std::to_string(kMaxStateTextBytes) + " bytes";
            return false;
        }
    }
    *textOut = std::move(text);
    return true;
}

const StateEntry* FindStateEntry(const StateIndex& index, std::string_view place) {
    const auto before = [](const StateEntry& e, std::string_view p) { return ComparePlaces(e.place, p) < 0; };
    const auto found = std::lower_bound(index.entries.begin(), index.entries.end(), place, before);
    return found != index.entries.end() && ComparePlaces(found->place, place) == 0 ? &*found : nullptr;
}
