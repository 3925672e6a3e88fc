#include "update/version_list.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "app/util/launcher_util.h"
#include "platform/text_encoding.h"

namespace {

constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";
constexpr size_t kByteOrderMarkBytes = sizeof(kUtf8ByteOrderMark) - 1;

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
        entriesOut->push_back(entry);
    }
    if (entriesOut->empty()) return VersionListParse::NoEntries;
    std::stable_sort(entriesOut->begin(), entriesOut->end(),
                     [](const VersionEntry& a, const VersionEntry& b) { return a.nVersion > b.nVersion; });
    return VersionListParse::Ok;
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
