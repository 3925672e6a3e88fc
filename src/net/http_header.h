// Pure readers for the HTTP download client: the URL, the request text and
// the response header. They take bytes and return data; nothing here touches
// a socket or a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/text_scan.h"

// A header that grows past this without its blank line is refused, so that a
// broken or hostile server cannot make the client collect without end.
constexpr size_t kMaxHeaderBytes = 64 * 1024;
// Sizes, offsets and lengths are 64-bit signed: a file ends at 2^63 - 1 bytes.
constexpr int64_t kMaxHttpFileBytes = net_text::kMaxSizeValue;
// The buffers the request is built from.
constexpr size_t kMaxUrlHostBytes = 255;
constexpr size_t kMaxUrlPathBytes = 255;
constexpr size_t kMaxRequestBytes = 1023;
// Characters of the scheme prefix ("http://") skipped on trust.
constexpr size_t kHttpSchemeLength = 7;

struct HttpUrlParts {
    std::string hostPart;  // host with ":port" when the URL has one; goes to the Host line
    std::string path;      // from the first "/" or "\" on
};

// Splits a URL after its 7-character scheme at the first "/" or "\". False
// when there is no separator, the host part is empty, a part is longer than
// its buffer, or a control character or blank would break the request.
[[nodiscard]] bool SplitHttpUrl(const std::string& url, HttpUrlParts* partsOut);

// The GET request with a Range from offset on, as sent on the wire.
[[nodiscard]] std::string FormatHttpRequest(const HttpUrlParts& parts, int64_t offset);

// Offset just past the "\r\n\r\n" that ends the header, or 0 when the bytes
// do not hold it yet.
[[nodiscard]] size_t FindHeaderEnd(const char* data, size_t size);

// Status code of the status line read like "%s %d": a word, then a number;
// 0 when it cannot be read.
[[nodiscard]] int ParseStatusCode(const char* header, size_t size);

enum class FieldResult { kOk, kMissing, kInvalid };

// Field names are matched in any case (RFC 9110 5.1).

// The Content-Length field (at a line start).
// kInvalid when the value is not a plain non-negative number, exceeds
// kMaxHttpFileBytes, or the field appears twice with different values.
[[nodiscard]] FieldResult ParseContentLength(const char* header, size_t size, int64_t* lengthOut);

struct ContentRange {
    int64_t first = 0;
    int64_t last = 0;
    int64_t complete = -1;  // -1 for "*"
};
// The Content-Range field "bytes first-last/complete" (or ".../*").
[[nodiscard]] FieldResult ParseContentRange(const char* header, size_t size, ContentRange* rangeOut);

// Transfer-Encoding. kMissing when absent; kOk when the codings are just
// "chunked" (*chunkedOut true); kInvalid for any other coding, which this
// client cannot undo.
[[nodiscard]] FieldResult ParseTransferEncoding(const char* header, size_t size, bool* chunkedOut);

// The value of the first field called name, trimmed; false when there is none.
[[nodiscard]] bool FindFieldValue(const char* header, size_t size, const char* name,
                                  std::string* valueOut);

// 301, 302, 303, 307 and 308: the file is elsewhere, named by Location.
[[nodiscard]] bool IsRedirectStatus(int status);

enum class RedirectTarget { kOk, kNotHttp, kUnusable };
// Where a Location value sends a request made to `from`: an absolute http URL,
// "//host/path", an absolute path on the same host, or a path relative to the
// folder of from's path (a fragment is dropped). kNotHttp for https or any
// other scheme; kUnusable when the target fails SplitHttpUrl's rules.
[[nodiscard]] RedirectTarget ResolveRedirect(const HttpUrlParts& from, std::string location,
                                             HttpUrlParts* partsOut);
