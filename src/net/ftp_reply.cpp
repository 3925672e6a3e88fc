#include "net/ftp_reply.h"

#include <cstring>
#include <vector>

#include "net/network_socket.h"
#include "net/text_scan.h"

namespace {

bool HasControlCharacter(const std::string& text) {
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return true;
    }
    return false;
}

bool StartsWithCode(const std::string& text, size_t at, const char* code) {
    return text.size() >= at + 3 && std::memcmp(text.data() + at, code, 3) == 0;
}

// Offset just past the line that ends a multi-line reply opened with `code`,
// searching from `from`; 0 when it has not arrived yet.
size_t FindMultiLineEnd(const std::string& pending, size_t from, const char* code) {
    for (size_t line = from; line < pending.size();) {
        const size_t lf = pending.find('\n', line);
        if (lf == std::string::npos) return 0;
        if (StartsWithCode(pending, line, code) &&
            (pending[line + 3] == ' ' || pending[line + 3] == '\r' || pending[line + 3] == '\n')) {
            return lf + 1;
        }
        line = lf + 1;
    }
    return 0;
}

// Reads a plain run of 1..3 digits as one byte value.
bool ReadByteValue(const std::string& text, size_t* pos, int* valueOut) {
    int value = 0;
    const size_t start = *pos;
    while (*pos < text.size() && net_text::IsDigit(text[*pos]) && *pos - start < 3) {
        value = value * 10 + (text[*pos] - '0');
        ++*pos;
    }
    if (*pos == start || value > 255) return false;
    *valueOut = value;
    return true;
}

}  // namespace

bool ParseFtpUrl(const std::string& url, FtpUrl* urlOut) {
    if (url.size() <= kFtpSchemeLength || HasControlCharacter(url)) return false;
    const size_t dirStart = url.find('\\', kFtpSchemeLength);
    if (dirStart == std::string::npos) return false;
    const size_t fileStart = url.rfind('\\');
    const std::string server = url.substr(kFtpSchemeLength, dirStart - kFtpSchemeLength);
    if (server.empty() || server.size() > kMaxFtpServerPart) return false;
    FtpUrl parsed;
    const size_t colon = server.find(':');
    parsed.host = server.substr(0, colon);
    if (colon != std::string::npos) {
        const char* cursor = server.c_str() + colon + 1;
        int64_t port = 0;
        if (!net_text::ScanInt(&cursor, server.c_str() + server.size(), &port) || port < 1 ||
            port > 65535) {
            return false;
        }
        parsed.port = static_cast<int>(port);
    }
    parsed.remoteDir = url.substr(dirStart, fileStart - dirStart);
    parsed.remoteFile = url.substr(fileStart + 1);
    if (parsed.host.empty() || parsed.remoteFile.empty() ||
        parsed.remoteDir.size() > kMaxFtpPathBytes || parsed.remoteFile.size() > kMaxFtpPathBytes) {
        return false;
    }
    *urlOut = std::move(parsed);
    return true;
}

std::string CwdArgument(const std::string& remoteDir) {
    if (remoteDir.empty()) return "/";
    std::string out = remoteDir;
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    return out;
}

ReplyScan TakeReply(std::string* pending, FtpReply* replyOut) {
    const size_t firstLf = pending->find('\n');
    size_t end = 0;
    if (firstLf != std::string::npos) {
        const bool multiLine = pending->size() > 3 && (*pending)[3] == '-' &&
                               net_text::IsDigit((*pending)[0]) && net_text::IsDigit((*pending)[1]) &&
                               net_text::IsDigit((*pending)[2]);
        end = multiLine ? FindMultiLineEnd(*pending, firstLf + 1, pending->c_str()) : firstLf + 1;
    }
    if (end == 0 || end > kMaxFtpReplyBytes) {
        return end > kMaxFtpReplyBytes || pending->size() > kMaxFtpReplyBytes ? ReplyScan::kTooLong
                                                                              : ReplyScan::kIncomplete;
    }
    replyOut->text = pending->substr(0, end);
    replyOut->code = ParseReplyCode(replyOut->text.data(), replyOut->text.size());
    pending->erase(0, end);
    return ReplyScan::kComplete;
}

bool ParsePasvReply(const std::string& text, std::string* hostOut, int* portOut) {
    const size_t open = text.find('(');
    const size_t close = text.find(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return false;
    const std::string inside = text.substr(open + 1, close - open - 1);
    std::vector<int> values;
    size_t pos = 0;
    for (int i = 0; i < 6; ++i) {
        if (i > 0 && (pos >= inside.size() || inside[pos++] != ',')) return false;
        int value = 0;
        if (!ReadByteValue(inside, &pos, &value)) return false;
        values.push_back(value);
    }
    const int port = values[4] * 256 + values[5];
    if (pos != inside.size() || port == 0) return false;
    *hostOut = std::to_string(values[0]) + "." + std::to_string(values[1]) + "." +
               std::to_string(values[2]) + "." + std::to_string(values[3]);
    *portOut = port;
    return true;
}

bool ParseTimeReply(const std::string& text, std::string* timeOut) {
    constexpr size_t kDateDigits = 14;
    const size_t begin = 4;
    if (text.compare(0, begin, "213 ") != 0) return false;
    size_t end = begin;
    while (end < text.size() && net_text::IsDigit(text[end])) ++end;
    if (end - begin != kDateDigits) return false;
    if (end < text.size() && text[end] == '.') {
        const size_t fraction = ++end;
        while (end < text.size() && net_text::IsDigit(text[end])) ++end;
        if (end == fraction || end - fraction > kMaxFtpTimeFractionDigits) return false;
    }
    if (text.compare(end, std::string::npos, "\r\n") != 0 &&
        text.compare(end, std::string::npos, "\n") != 0) {
        return false;
    }
    timeOut->assign(text, begin, end - begin);
    return true;
}

bool ParseSizeReply(const std::string& text, int64_t* sizeOut) {
    const char* cursor = text.c_str();
    const char* end = cursor + text.size();
    int64_t code = 0;
    int64_t size = 0;
    if (!net_text::ScanInt(&cursor, end, &code)) return false;
    while (cursor < end && net_text::IsBlank(*cursor)) ++cursor;
    if (cursor < end && *cursor == '+') ++cursor;
    if (!net_text::ScanSize(&cursor, end, &size)) return false;
    *sizeOut = size;
    return true;
}
