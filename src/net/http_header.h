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
// Characters of the scheme prefix ("http://") skipped on trust; "https://"
// (in any case) is read as such.
constexpr size_t kHttpSchemeLength = 7;
constexpr size_t kHttpsSchemeLength = 8;
constexpr int kDefaultHttpsPort = 443;

struct HttpUrlParts {
    std::string hostPart;  // host with ":port" when the URL has one; goes to the Host line
    std::string path;      // from the first "/" or "\" on
    bool secure = false;   // https: TLS over the connection, port 443 unless named
};

// "http://" or "https://" with what the parts hold.
[[nodiscard]] std::string HttpUrlText(const HttpUrlParts& parts);

// True when url starts with "https://" in any case.
[[nodiscard]] bool IsHttpsUrl(const std::string& url);

// Splits a URL after its scheme ("https://", or any 7 characters taken for
// "http://") at the first "/" or "\". False
// when there is no separator, the host part is empty, a part is longer than
// its buffer, or a control character or blank would break the request.
[[nodiscard]] bool SplitHttpUrl(const std::string& url, HttpUrlParts* partsOut);

// The GET request with a Range from offset on (to the file's end, or to the
// byte last when it is not negative), as sent on the wire; with an If-Range
// line after it when ifRange is not empty (the caller sends only a validator
// that passed IsSafeValidator).
[[nodiscard]] std::string FormatHttpRequest(const HttpUrlParts& parts, int64_t offset,
                                            const std::string& ifRange = std::string(), int64_t last = -1);

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

// A validator is kept with a partial file and sent back as If-Range: one
// longer than this is broken or hostile server text and counts as none.
constexpr size_t kMaxValidatorBytes = 256;

// True when text is 1..kMaxValidatorBytes printable ASCII characters, so that
// it can neither end the If-Range line nor break the file it is kept in.
[[nodiscard]] bool IsSafeValidator(const std::string& text);

// The validator an If-Range may carry for this answer (RFC 9110 13.1.5): a
// strong ETag ("..." without W/), or the Last-Modified date when there is no
// ETag at all; a weak ETag rules both out, since the client has an entity
// tag that cannot validate byte ranges. Empty when there is none, or when
// the value fails IsSafeValidator.
[[nodiscard]] std::string ReadValidator(const char* header, size_t size);

// 301, 302, 303, 307 and 308: the file is elsewhere, named by Location.
[[nodiscard]] bool IsRedirectStatus(int status);

enum class RedirectTarget { kOk, kNotHttp, kDowngrade, kUnusable };
// Where a Location value sends a request made to `from`: an absolute http or
// https URL, "//host/path" (from's scheme), an absolute path on the same
// host, or a path relative to the folder of from's path (a fragment is
// dropped). kNotHttp for any other scheme; kDowngrade for http after https
// (the rest of the way would go in the clear); kUnusable when the target
// fails SplitHttpUrl's rules.
[[nodiscard]] RedirectTarget ResolveRedirect(const HttpUrlParts& from, std::string location,
                                             HttpUrlParts* partsOut);
