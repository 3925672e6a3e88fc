// The text helpers of launcher_util.h: path name parts, splitting of list
// lines and fields, and the conversions between version texts and numbers.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "app/util/launcher_util.h"

namespace {

bool IsTrimmed(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The white space that "%d" skips before a number.
bool IsScanSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads one number the way "%d" does: leading white space, an optional sign,
// then at least one digit. Values beyond the 32-bit range saturate instead of
// wrapping, so an absurd version text can never turn into a small number.
// Returns false (and leaves *valueOut alone) when no number starts at *text.
bool ScanInt(const char** text, int32_t* valueOut) {
    const char* p = *text;
    while (IsScanSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (*p < '0' || *p > '9') return false;
    const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                   : std::numeric_limits<int32_t>::max();
    int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > limit) magnitude = limit;
    }
    *valueOut = static_cast<int32_t>(negative ? -magnitude : magnitude);
    *text = p;
    return true;
}

int32_t SaturateToInt32(int64_t value) {
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

}  // namespace

std::string TrimText(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsTrimmed(text[begin])) ++begin;
    while (end > begin && IsTrimmed(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::string GetFileNamePart(const std::string& path) {
    const size_t slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A separator in the very first position never cuts: it belongs to no piece,
// so a list file that starts with a blank line gets no empty first line.
void SplitText(const std::string& text, const std::string& separator,
               std::vector<std::string>* piecesOut) {
    piecesOut->clear();
    if (separator.empty() || text.find(separator) == std::string::npos) return;
    const bool leading = text.compare(0, separator.size(), separator) == 0;
    size_t begin = leading ? separator.size() : 0;
    size_t cut = text.find(separator, leading ? separator.size() : 1);
    while (cut != std::string::npos) {
        piecesOut->push_back(TrimText(text.substr(begin, cut - begin)));
        begin = cut + separator.size();
        cut = text.find(separator, begin);
    }
    piecesOut->push_back(TrimText(text.substr(begin)));
}

void SplitAtFirst(const std::string& text, const std::string& separator,
                  std::vector<std::string>* piecesOut) {
    piecesOut->clear();
    if (separator.empty() || text.find(separator) == std::string::npos) return;
    const size_t cut = text.find(separator, 1);
    if (cut == std::string::npos) {
        // The only separator is the first character: what follows it is the piece.
        piecesOut->push_back(TrimText(text.substr(separator.size())));
        return;
    }
    piecesOut->push_back(TrimText(text.substr(0, cut)));
    piecesOut->push_back(TrimText(text.substr(cut + separator.size())));
}

// Reads "a.b.c.d" like "%d.%d.%d.%d": reading stops at the first part that is
// missing or malformed, and every part not read counts as 0 ("1.2" is 1200).
int32_t VersionTextToNumber(const char* text) {
    if (!text) return 0;
    int32_t parts[4] = {0, 0, 0, 0};
    const char* p = text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (*p != '.') break;
            ++p;
        }
        if (!ScanInt(&p, &parts[i])) break;
    }
    const int64_t number = static_cast<int64_t>(parts[0]) * 1000 +
                           static_cast<int64_t>(parts[1]) * 100 +
                           static_cast<int64_t>(parts[2]) * 10 + parts[3];
    return SaturateToInt32(number);
}

// A dot goes before each of the last three digits: 1234 -> "1.2.3.4",
// 234 -> ".2.3.4", 34 -> "34". A negative number keeps its sign in front
// ("-1.2.3.4"), so the sign never lands between dots.
std::string VersionNumberToText(int32_t number) {
    const int64_t value = number;
    const std::string digits = std::to_string(value < 0 ? -value : value);
    std::string text = value < 0 ? "-" : "";
    if (digits.size() <= 2) return text + digits;
    const size_t head = digits.size() - 3;
    text += digits.substr(0, head);
    for (size_t i = head; i < digits.size(); ++i) {
        text += '.';
        text += digits[i];
    }
    return text;
}
