// Pure readers for the FTP download client: the URL, whole control replies
// (also multi-line ones and several in one piece), and the PASV and SIZE
// answers. They take text and return data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/text_scan.h"

constexpr int kDefaultFtpPort = 21;
constexpr size_t kFtpSchemeLength = 6;   // "ftp://", skipped on trust
constexpr size_t kMaxFtpServerPart = 29; // address and port
constexpr size_t kMaxFtpPathBytes = 255; // remote directory, and file name
// A control reply (all its lines) longer than this is refused.
constexpr size_t kMaxFtpReplyBytes = 16 * 1024;
// Sizes and REST offsets are 64-bit signed.
constexpr int64_t kMaxFtpFileBytes = net_text::kMaxSizeValue;

struct FtpUrl {
    std::string host;        // dotted IPv4
    int port = kDefaultFtpPort;
    std::string remoteDir;   // "\" separated with its leading "\"; empty for the top folder
    std::string remoteFile;
};

// "ftp://" address [":" port] "\" [dir "\"] file. Everything between the
// first back-slash after the address and the last one is the directory.
// False when there is no back-slash after the address, the address part is
// empty or longer than 29 characters, the port is not 1..65535, the file name
// is empty, or a part holds a control character (it would end a command).
[[nodiscard]] bool ParseFtpUrl(const std::string& url, FtpUrl* urlOut);

// The directory as sent with CWD: "/" for the top folder, and "/" in place of
// every "\", the separator every FTP server understands.
[[nodiscard]] std::string CwdArgument(const std::string& remoteDir);

struct FtpReply {
    int code = -1;     // leading number; -1 when the reply does not start with one
    std::string text;  // all lines, line ends included
};

enum class ReplyScan { kIncomplete, kComplete, kTooLong };

// Takes one whole reply off the front of the received bytes. A reply whose
// first line starts "ddd-" runs to the line that starts with the same three
// digits and a blank.
[[nodiscard]] ReplyScan TakeReply(std::string* pending, FtpReply* replyOut);

// The data address and port in the parentheses of a 227 reply:
// (h1,h2,h3,h4,p1,p2), each 0..255, port = p1 * 256 + p2 and not 0.
[[nodiscard]] bool ParsePasvReply(const std::string& text, std::string* hostOut, int* portOut);

// The size in a 213 reply ("213 12345"); false when missing, negative or
// beyond kMaxFtpFileBytes.
[[nodiscard]] bool ParseSizeReply(const std::string& text, int64_t* sizeOut);

// Digits of a fraction of a second an MDTM time may carry.
constexpr size_t kMaxFtpTimeFractionDigits = 9;
// The time of a 213 reply to MDTM (RFC 3659 3.1), "YYYYMMDDHHMMSS" with an
// optional "." and 1..kMaxFtpTimeFractionDigits digits, as sent; false when
// the reply is not exactly that shape (then the file has no validator).
[[nodiscard]] bool ParseTimeReply(const std::string& text, std::string* timeOut);
