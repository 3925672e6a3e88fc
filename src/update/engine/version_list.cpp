#include "update/engine/version_list.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "app/util/launcher_util.h"
#include "platform/text_encoding.h"

namespace {

constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";
constexpr size_t kByteOrderMarkBytes = sizeof(kUtf8ByteOrderMark) - 1;

bool IsLineBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The line (without its "\n") from begin, with its fourth field set to pin
// when it is a line of version that ParseVersionList reads. Fields are found
// as the parser finds them, in the line trimmed of blanks at both ends; the
// blanks (a "\r" of CRLF lines) stay where they were.
std::string PinnedLine(const std::string& line, size_t begin, int32_t version, const std::string& pin) {
    size_t end = line.size();
    while (begin < end && IsLineBlank(line[begin])) ++begin;
    while (end > begin && IsLineBlank(line[end - 1])) --end;
    const size_t first = line.find('\t', begin);
    const size_t second = first < end ? line.find('\t', first + 1) : std::string::npos;
    if (second >= end || VersionTextToNumber(TrimText(line.substr(begin, first - begin)).c_str()) != version) {
        return line;
    }
    const size_t third = line.find('\t', second + 1);
    if (third >= end) return line.substr(0, end) + "\t" + pin + line.substr(end);
    const size_t fourthEnd = std::min(line.find('\t', third + 1), end);
    return line.substr(0, third + 1) + pin + line.substr(fourthEnd);
}

}  // namespace

bool DecodeVersionList(std::string raw, std::string* textOut) {
    raw.resize(std::min(raw.size(), raw.find('\0')));
    if (raw.size() > kMaxVersionListBytes) return false;
    if (raw.compare(0, kByteOrderMarkBytes, kUtf8ByteOrderMark) == 0) {
        *textOut = raw.substr(kByteOrderMarkBytes);
        return IsValidUtf8(*textOut);
    }
    return GbkToUtf8(raw, textOut);
}

int32_t LeadingNumber(const std::string& text) {
    size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    int64_t value = 0;
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        value = std::min(kLimit, value * 10 + (text[at] - '0'));
    }
    if (negative) return static_cast<int32_t>(-value);
    return static_cast<int32_t>(std::min(value, kLimit - 1));
}

VersionListParse ParseVersionList(const std::string& content,
                                  std::vector<VersionEntry>* entriesOut) {
    entriesOut->clear();
    std::vector<std::string> lines;
    SplitText(content, "\n", &lines);
    if (lines.empty()) return VersionListParse::NoLines;
    std::vector<std::string> fields;
    for (const std::string& line : lines) {
        SplitText(line, "\t", &fields);
        if (fields.size() < 3) continue;
        VersionEntry entry;
        entry.nVersion = VersionTextToNumber(fields[0].c_str());
        entry.nMandatory = LeadingNumber(fields[1]);
        entry.nExtra = LeadingNumber(fields[2]);
        if (fields.size() > 3) entry.manifestSha256 = fields[3];
        entriesOut->push_back(entry);
    }
    if (entriesOut->empty()) return VersionListParse::NoEntries;
    std::stable_sort(entriesOut->begin(), entriesOut->end(),
                     [](const VersionEntry& a, const VersionEntry& b) { return a.nVersion > b.nVersion; });
    return VersionListParse::Ok;
}

std::string PinManifest(const std::string& list, int32_t version, const std::string& sha256Hex) {
    // A launcher reads the list up to a NUL (see DecodeVersionList): the pin
    // goes before it, and what follows stays as it is.
    const size_t nul = list.find('\0');
    const std::string read = list.substr(0, nul);
    const std::string rest = nul == std::string::npos ? std::string() : list.substr(nul);
    std::string out;
    size_t begin = 0;
    for (;;) {
        const size_t cut = read.find('\n', begin);
        const std::string line = read.substr(begin, cut == std::string::npos ? std::string::npos : cut - begin);
        // The byte-order mark is no part of the first line's version.
        const bool marked = begin == 0 && line.compare(0, kByteOrderMarkBytes, kUtf8ByteOrderMark) == 0;
        out += PinnedLine(line, marked ? kByteOrderMarkBytes : 0, version, sha256Hex);
        if (cut == std::string::npos) return out + rest;
        out += '\n';
        begin = cut + 1;
    }
}

VersionChoice ChooseTarget(const std::vector<VersionEntry>& sorted, int32_t installed,
                           VersionEntry* targetOut) {
    if (sorted.empty() || sorted.front().nVersion <= installed) return VersionChoice::UpToDate;
    // The entry just above the installed one: one version step per run. An
    // installed version listed twice is found at its first place, so the
    // target is always above it. Not listed at all: the newest.
    size_t index = 0;
    for (size_t i = sorted.size(); i-- > 1;) {
        if (sorted[i].nVersion == installed) index = i - 1;
    }
    *targetOut = sorted[index];
    return VersionChoice::Target;
}
