#include "update/install/hand_off.h"

#include <cstdio>

#include "platform/byte_sink.h"
#include "platform/file_system.h"
#include "platform/text_encoding.h"
#include "update/install/installer_file_ops.h"

namespace {

constexpr size_t kDeletePrefixLength = sizeof(kHandOffDeletePrefix) - 1;

std::string LineError(size_t lineNumber, const char* what) {
    return "line " + std::to_string(lineNumber) + ": " + what;
}

bool StartsWithDelete(std::string_view line) {
    return line.compare(0, kDeletePrefixLength, kHandOffDeletePrefix) == 0;
}

// The marker line, ended by "\n" or "\r\n", opens the text.
bool StartsWithMarker(std::string_view text) {
    const std::string_view marker = kHandOffUtf8Marker;
    if (text.compare(0, marker.size(), marker) != 0) return false;
    const std::string_view rest = text.substr(marker.size());
    return rest.compare(0, 1, "\n") == 0 || rest.compare(0, 2, "\r\n") == 0;
}

bool PathFits(std::string_view path) {
    return !path.empty() && path.size() <= kMaxHandOffPathBytes &&
           path.find_first_of("\t\r\n") == std::string_view::npos;
}

// One line without its line end; false with the reason when it is malformed.
bool ParseLine(std::string_view line, size_t lineNumber, HandOffPlan* plan, std::string* errorOut) {
    if (StartsWithDelete(line)) {
        std::string_view path = line.substr(kDeletePrefixLength);
        if (!PathFits(path)) {
            *errorOut = LineError(lineNumber, "deletion without a usable path");
            return false;
        }
        plan->deletes.emplace_back(path);
        return true;
    }
    if (!plan->deletes.empty()) {
        *errorOut = LineError(lineNumber, "move after the deletions");
        return false;
    }
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos || line.find('\t', tab + 1) != std::string_view::npos) {
        *errorOut = LineError(lineNumber, "move line without exactly one tab");
        return false;
    }
    HandOffMove move{std::string(line.substr(0, tab)), std::string(line.substr(tab + 1))};
    if (!PathFits(move.from) || !PathFits(move.to)) {
        *errorOut = LineError(lineNumber, "move line with an empty or overlong path");
        return false;
    }
    plan->moves.push_back(std::move(move));
    return true;
}

}  // namespace

std::string FormatHandOff(const HandOffPlan& plan) {
    std::string text;
    for (const HandOffMove& move : plan.moves) {
        text += move.from;
        text += '\t';
        text += move.to;
        text += '\n';
    }
    for (const std::string& path : plan.deletes) {
        text += kHandOffDeletePrefix;
        text += path;
        text += '\n';
    }
    return text;
}

bool CheckHandOffPlan(const HandOffPlan& plan, std::string* errorOut) {
    if (plan.moves.size() + plan.deletes.size() > kMaxHandOffLines) {
        *errorOut = "too many lines for the hand-off file";
        return false;
    }
    for (const HandOffMove& move : plan.moves) {
        if (!PathFits(move.from) || !PathFits(move.to) || StartsWithDelete(move.from)) {
            *errorOut = "move that the hand-off file cannot carry: " + move.from;
            return false;
        }
    }
    for (const std::string& path : plan.deletes) {
        if (!PathFits(path)) {
            *errorOut = "deletion that the hand-off file cannot carry: " + path;
            return false;
        }
    }
    return true;
}

bool ParseHandOff(std::string_view text, HandOffPlan* planOut, std::string* errorOut) {
    *planOut = HandOffPlan{};
    if (text.size() > kMaxHandOffBytes) {
        *errorOut = "hand-off file larger than " + std::to_string(kMaxHandOffBytes) + " bytes";
        return false;
    }
    if (!text.empty() && text.back() != '\n') {
        *errorOut = "hand-off file is cut: its last line has no line end";
        return false;
    }
    size_t lineNumber = 0;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (++lineNumber > kMaxHandOffLines) {
            *errorOut = "hand-off file has more than " + std::to_string(kMaxHandOffLines) + " lines";
            return false;
        }
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || (lineNumber == 1 && line == kHandOffUtf8Marker)) continue;
        if (!ParseLine(line, lineNumber, planOut, errorOut)) return false;
    }
    return true;
}

bool EncodeHandOff(const HandOffPlan& plan, std::string* bytesOut, std::string* errorOut) {
    bytesOut->clear();
    if (!CheckHandOffPlan(plan, errorOut)) return false;
    const std::string text = FormatHandOff(plan);
    const size_t invalid = FirstInvalidUtf8Offset(text);
    if (invalid != std::string::npos) {
        *errorOut = "a path is not valid UTF-8, at byte " + std::to_string(invalid);
        return false;
    }
    if (Utf8ToGbk(text, bytesOut)) return true;
    *bytesOut = std::string(kHandOffUtf8Marker) + "\n" + text;
    return true;
}

bool DecodeHandOff(std::string_view bytes, HandOffPlan* planOut, std::string* errorOut) {
    *planOut = HandOffPlan{};
    if (bytes.size() > kMaxHandOffBytes) {
        *errorOut = "hand-off file larger than " + std::to_string(kMaxHandOffBytes) + " bytes";
        return false;
    }
    if (StartsWithMarker(bytes)) {
        const size_t invalid = FirstInvalidUtf8Offset(bytes);
        if (invalid != std::string_view::npos) {
            *errorOut = "hand-off file is not valid UTF-8 at byte " + std::to_string(invalid);
            return false;
        }
        return ParseHandOff(bytes, planOut, errorOut);
    }
    std::string text;
    size_t offset = 0;
    if (!GbkToUtf8(bytes, &text, &offset)) {
        *errorOut = "hand-off file is not valid GBK at byte " + std::to_string(offset);
        return false;
    }
    return ParseHandOff(text, planOut, errorOut);
}

bool WriteHandOffFile(const std::string& path, const HandOffPlan& plan, std::string* errorOut) {
    std::string bytes;
    if (!EncodeHandOff(plan, &bytes, errorOut)) return false;
    constexpr char kPartSuffix[] = ".part";
    const BesideWrite written = WriteFileBeside(path, bytes, kPartSuffix);
    if (written == BesideWrite::CannotCreate) *errorOut = "cannot create " + fs_port::NativePath(path + kPartSuffix);
    if (written == BesideWrite::CannotWrite) *errorOut = "cannot write " + fs_port::NativePath(path);
    return written == BesideWrite::Done;
}

bool ReadHandOffFile(const std::string& path, HandOffPlan* planOut, std::string* errorOut) {
    *planOut = HandOffPlan{};
    std::string bytes;
    bool tooLarge = false;
    if (!ReadFileUpTo(path, kMaxHandOffBytes, &bytes, &tooLarge)) {
        *errorOut = tooLarge ? "hand-off file larger than " + std::to_string(kMaxHandOffBytes) + " bytes"
                             : "cannot read " + fs_port::NativePath(path);
        return false;
    }
    return DecodeHandOff(bytes, planOut, errorOut);
}

std::string FormatInstallerParameters(const std::string& handOffPath) {
    return "\"1\"\t\"" + handOffPath + "\"";
}

std::string HandOffPathFromArguments(const std::vector<std::string>& arguments) {
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '"'; };
    for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) {
        std::string_view arg = *it;
        while (!arg.empty() && isBlank(arg.back())) arg.remove_suffix(1);
        const size_t tab = arg.rfind('\t');
        if (tab != std::string_view::npos) arg.remove_prefix(tab + 1);
        while (!arg.empty() && isBlank(arg.front())) arg.remove_prefix(1);
        if (!arg.empty() && arg != "1") return std::string(arg);
    }
    return {};
}
