#include "update/install/install_paths.h"

#include <array>

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

bool IsForbiddenChar(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return true;
    switch (c) {
        case '<': case '>': case '"': case '|': case '?': case '*': case ':':
            return true;
        default:
            return false;
    }
}

// Windows opens the device, not a file, for these names, also when an
// extension follows ("nul.txt") or spaces precede the extension ("CON .a").
bool IsDeviceName(std::string_view component) {
    std::string_view base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    static const std::array<std::string_view, 6> kFixed = {"CON", "PRN", "AUX", "NUL",
                                                           "CONIN$", "CONOUT$"};
    for (std::string_view name : kFixed) {
        if (EqualNoCase(base, name)) return true;
    }
    if (base.size() < 4) return false;
    const std::string_view stem = base.substr(0, 3);
    if (!EqualNoCase(stem, "COM") && !EqualNoCase(stem, "LPT")) return false;
    const std::string_view digit = base.substr(3);
    if (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') return true;
    // Superscript one, two and three (U+00B9, U+00B2, U+00B3) count as digits.
    return digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

bool IsSafeComponent(std::string_view component) {
    if (component.empty() || component == "." || component == "..") return false;
    if (component.back() == '.' || component.back() == ' ') return false;
    for (char c : component) {
        if (IsForbiddenChar(c)) return false;
    }
    return !IsDeviceName(component);
}

// Components without empty ones; a leading separator is kept as an empty
// first component so that "\a" and "a" differ.
std::vector<std::string> ComparableComponents(std::string_view path) {
    std::vector<std::string> parts;
    if (!path.empty() && IsSeparator(path.front())) parts.emplace_back();
    for (std::string& part : SplitPathComponents(path)) {
        if (!part.empty()) parts.push_back(std::move(part));
    }
    return parts;
}

}  // namespace

std::vector<std::string> SplitPathComponents(std::string_view rel) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= rel.size(); ++i) {
        if (i == rel.size() || IsSeparator(rel[i])) {
            parts.emplace_back(rel.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

bool IsSafeRelativePath(std::string_view rel) {
    if (rel.empty() || IsSeparator(rel.front())) return false;
    for (const std::string& component : SplitPathComponents(rel)) {
        if (!IsSafeComponent(component)) return false;
    }
    return true;
}

std::string RelativePart(std::string_view folder, std::string_view path) {
    while (folder.size() > 1 && IsSeparator(folder.back())) folder.remove_suffix(1);
    if (folder.empty() || path.size() <= folder.size()) return {};
    for (size_t i = 0; i < folder.size(); ++i) {
        const bool same = IsSeparator(folder[i]) ? IsSeparator(path[i]) : folder[i] == path[i];
        if (!same) return {};
    }
    // A root folder ("/" or "C:\") already ends in its separator.
    size_t restStart = folder.size();
    if (!IsSeparator(folder.back())) {
        if (!IsSeparator(path[restStart])) return {};
        ++restStart;
    }
    if (restStart >= path.size()) return {};
    std::string_view rest = path.substr(restStart);
    if (!IsSafeRelativePath(rest)) return {};
    return std::string(rest);
}

bool IsInsideFolder(std::string_view folder, std::string_view path) {
    return !RelativePart(folder, path).empty();
}

std::string AsciiFolded(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = AsciiLower(c);
    return out;
}

bool IsSameOrBelow(std::string_view ancestor, std::string_view path) {
    const std::vector<std::string> top = ComparableComponents(ancestor);
    const std::vector<std::string> below = ComparableComponents(path);
    if (top.empty() || top.size() > below.size()) return false;
    for (size_t i = 0; i < top.size(); ++i) {
        if (!EqualNoCase(top[i], below[i])) return false;
    }
    return true;
}
