// The portable half of the text encodings: UTF-8 validation and cutting, and
// the rules both GBK adapters share.
#include "platform/text_encoding.h"

#include "platform/text_encoding_detail.h"

namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Well-formed sequences after the Unicode standard's table: the second byte's
// range depends on the lead byte so that overlong forms, surrogates
// (U+D800-U+DFFF) and values above U+10FFFF are refused.
struct LeadRule {
    unsigned char leadLow, leadHigh;
    size_t length;
    unsigned char secondLow, secondHigh;
};
constexpr LeadRule kLeadRules[] = {
    {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF}, {0xE1, 0xEC, 3, 0x80, 0xBF},
    {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x90, 0xBF},
    {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
};

}  // namespace

size_t Utf8SequenceLength(std::string_view text, size_t pos) {
    if (pos >= text.size()) return 0;
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) return 1;
    for (const LeadRule& rule : kLeadRules) {
        if (lead < rule.leadLow || lead > rule.leadHigh) continue;
        if (text.size() - pos < rule.length) return 0;
        const auto second = static_cast<unsigned char>(text[pos + 1]);
        if (second < rule.secondLow || second > rule.secondHigh) return 0;
        for (size_t i = 2; i < rule.length; ++i) {
            if (!IsContinuation(static_cast<unsigned char>(text[pos + i]))) return 0;
        }
        return rule.length;
    }
    return 0;
}

size_t FirstInvalidUtf8Offset(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t len = Utf8SequenceLength(text, pos);
        if (len == 0) return pos;
        pos += len;
    }
    return std::string_view::npos;
}

bool IsValidUtf8(std::string_view text) {
    return FirstInvalidUtf8Offset(text) == std::string_view::npos;
}

size_t Utf8PrefixLength(std::string_view text, size_t maxBytes) {
    if (maxBytes >= text.size()) return text.size();
    size_t pos = 0;
    while (pos < maxBytes) {
        size_t len = Utf8SequenceLength(text, pos);
        if (len == 0) len = 1;
        if (pos + len > maxBytes) break;
        pos += len;
    }
    return pos;
}

namespace text_detail {

uint32_t DecodeUtf8At(std::string_view text, size_t pos, size_t len) {
    static constexpr unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    uint32_t cp = static_cast<unsigned char>(text[pos]) & kLeadMask[len];
    for (size_t i = 1; i < len; ++i) {
        cp = (cp << 6) | (static_cast<unsigned char>(text[pos + i]) & 0x3F);
    }
    return cp;
}

bool IsOutsideGbk(uint32_t codePoint) {
    return codePoint > 0xFFFF || (codePoint >= 0xE000 && codePoint <= 0xF8FF);
}

size_t FirstUtf8ErrorForGbk(std::string_view utf8) {
    size_t pos = 0;
    while (pos < utf8.size()) {
        const size_t len = Utf8SequenceLength(utf8, pos);
        if (len == 0 || IsOutsideGbk(DecodeUtf8At(utf8, pos, len))) return pos;
        pos += len;
    }
    return std::string_view::npos;
}

}  // namespace text_detail
