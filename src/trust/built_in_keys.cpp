#include "trust/built_in_keys.h"

namespace {

constexpr std::string_view kCommentPrefix = "untrusted comment:";

std::string_view Trimmed(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    return line;
}

}  // namespace

bool ParseTrustKeysText(std::string_view text, std::vector<MinisignPublicKey>* keysOut) {
    keysOut->clear();
    bool named = false;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.substr(0, kCommentPrefix.size()) == kCommentPrefix) continue;
        named = true;
        MinisignPublicKey key;
        if (ParseMinisignPublicKey(line, &key)) keysOut->push_back(key);
    }
    return named;
}

bool BuiltInTrustKeys(std::vector<MinisignPublicKey>* keysOut) {
    return ParseTrustKeysText(BuiltInTrustKeysText(), keysOut);
}
