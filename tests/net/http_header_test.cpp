#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "net/http_chunked.h"
#include "net/http_header.h"

namespace {

TEST(HttpUrl, SplitsHostPartAndPathOrRefusesUnusableUrls) {
    struct Case {
        std::string url;
        bool ok;
        std::string hostPart;
        std::string path;
        bool secure = false;
    };
    const std::string longHost(256, 'h');
    const std::string longPath = "/" + std::string(255, 'p');
    const Case cases[] = {
        {"http://update.example.com/v/list.data", true, "update.example.com", "/v/list.data"},
        {"http://127.0.0.1:8080/a", true, "127.0.0.1:8080", "/a"},
        {"http://host\\dir\\file.zip", true, "host", "\\dir\\file.zip"},
        {"http://host/", true, "host", "/"},
        {"http://host", false, "", ""},             // no path separator
        {"http:///file", false, "", ""},            // empty host
        {"http://", false, "", ""},
        {"", false, "", ""},
        {"http://" + longHost + "/f", false, "", ""},
        {"http://h" + longPath, false, "", ""},     // path of 256 characters
        {"http://h" + longPath.substr(1), false, "", ""},  // no separator at all
        {"http://h/" + std::string(254, 'p'), true, "h", "/" + std::string(254, 'p')},
        {"http://h/a\r\nX-Evil: 1", false, "", ""}, // would add a header line
        {"http://h/a b", false, "", ""},
        {"https://cdn.example/v/list.data", true, "cdn.example", "/v/list.data", true},
        {"HTTPS://cdn.example:8443\\f", true, "cdn.example:8443", "\\f", true},
        {"https:///file", false, "", ""},
    };
    for (const Case& c : cases) {
        HttpUrlParts parts;
        EXPECT_EQ(SplitHttpUrl(c.url, &parts), c.ok) << c.url;
        if (c.ok) {
            EXPECT_EQ(parts.hostPart, c.hostPart) << c.url;
            EXPECT_EQ(parts.path, c.path) << c.url;
            EXPECT_EQ(parts.secure, c.secure) << c.url;
        }
    }
}

TEST(HttpRequest, IsTheExactRequestTextWithTheResumeOffset) {
    HttpUrlParts parts{"10.0.0.5:8080", "/1002/pack.zip"};
    EXPECT_EQ(FormatHttpRequest(parts, 400),
              "GET /1002/pack.zip HTTP/1.1\r\nHost: 10.0.0.5:8080\r\nAccept: */*\r\n"
              "User-Agent: DAzudO/1.25\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n"
              "Range: bytes=400-\r\nConnection: close\r\n\r\n");
    EXPECT_NE(FormatHttpRequest(parts, 0).find("\r\nRange: bytes=0-\r\n"), std::string::npos);
    EXPECT_NE(FormatHttpRequest(parts, 4831838208).find("\r\nRange: bytes=4831838208-\r\n"),
              std::string::npos);
}

TEST(HttpHeader, FindsTheBlankLineOnlyInsideTheGivenBytes) {
    struct Case {
        std::string bytes;
        size_t size;  // bytes handed over (the rest lies beyond the collected data)
        size_t end;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\n\r\nbody", 23, 19},
        {"HTTP/1.1 200 OK\r\n\r\n", 19, 19},
        {"HTTP/1.1 200 OK\r\n\r\n", 18, 0},  // last byte not collected yet
        {"HTTP/1.1 200 OK\r\n\n\r\n", 20, 0},
        {"\r\n\r\n", 4, 4},
        {"", 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindHeaderEnd(c.bytes.data(), c.size), c.end) << c.bytes;
    }
}

TEST(HttpHeader, ReadsTheStatusCodeAfterTheFirstWord) {
    struct Case {
        std::string header;
        int status;
    };
    const Case cases[] = {
        {"HTTP/1.1 206 Partial Content\r\n", 206},
        {"HTTP/1.0 200 OK\r\n", 200},
        {"HTTP/1.1 416 Range Not Satisfiable\r\n", 416},
        {"HTTP/1.1  404\r\n", 404},
        {"HTTP/1.1 abc\r\n", 0},
        {"HTTP/1.1\r\n200 OK\r\n", 0},  // the code must be on the status line
        {"garbage", 0},
        {"", 0},
        {"HTTP/1.1 99999999999 x\r\n", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseStatusCode(c.header.data(), c.header.size()), c.status) << c.header;
    }
}

TEST(HttpHeader, AcceptsOnlyAPlainContentLengthInAnyCaseWithinTheFileLimit) {
    struct Case {
        std::string fields;
        FieldResult result;
        int64_t length;
    };
    const Case cases[] = {
        {"Content-Length: 1000\r\n", FieldResult::kOk, 1000},
        {"Content-Length:1000\r\n", FieldResult::kOk, 1000},
        {"Content-Length: 0\r\n", FieldResult::kOk, 0},
        {"Content-Length: 2147483648\r\n", FieldResult::kOk, 2147483648},
        {"Content-Length: 5368709120\r\n", FieldResult::kOk, 5368709120},
        {"Content-Length: 9223372036854775807\r\n", FieldResult::kOk, INT64_MAX},
        {"Content-Length: 009223372036854775807\r\n", FieldResult::kOk, INT64_MAX},
        {"Content-Length: 9223372036854775808\r\n", FieldResult::kInvalid, 0},
        {"Content-Length: 18446744073709551621\r\n", FieldResult::kInvalid, 0},  // 2^64 + 5
        {"Content-Length: 99999999999999999999999\r\n", FieldResult::kInvalid, 0},
        {"Content-Length: -5\r\n", FieldResult::kInvalid, 0},
        {"Content-Length: ten\r\n", FieldResult::kInvalid, 0},
        {"Content-Length: 12abc\r\n", FieldResult::kInvalid, 0},
        {"Content-Length: \r\n", FieldResult::kInvalid, 0},
        {"Content-Length: 5\r\nContent-Length: 5\r\n", FieldResult::kOk, 5},
        {"Content-Length: 5\r\nContent-Length: 6\r\n", FieldResult::kInvalid, 0},
        {"content-length: 1000\r\n", FieldResult::kOk, 1000},  // names are matched in any case
        {"CONTENT-LENGTH: 7\r\n", FieldResult::kOk, 7},
        {"Content-Length : 7\r\n", FieldResult::kMissing, 0},  // no blank before the colon
        {"X-Content-Length: 7\r\nContent-Length: 8\r\n", FieldResult::kOk, 8},
        {"X-Original-Content-Length: 7\r\n", FieldResult::kMissing, 0},
        {"Server: nginx\r\n", FieldResult::kMissing, 0},
    };
    for (const Case& c : cases) {
        const std::string header = "HTTP/1.1 200 OK\r\n" + c.fields + "\r\n";
        int64_t length = -1;
        EXPECT_EQ(ParseContentLength(header.data(), header.size(), &length), c.result) << c.fields;
        if (c.result == FieldResult::kOk) {
            EXPECT_EQ(length, c.length) << c.fields;
        }
    }
}

TEST(HttpHeader, LooksForContentLengthOnlyInTheHeaderItWasGiven) {
    const std::string response = "HTTP/1.1 200 OK\r\nServer: x\r\n\r\nContent-Length: 5\r\n";
    const size_t end = FindHeaderEnd(response.data(), response.size());
    int64_t length = 0;
    EXPECT_EQ(ParseContentLength(response.data(), end, &length), FieldResult::kMissing);
}

TEST(HttpHeader, ReadsContentRange) {
    struct Case {
        std::string value;
        FieldResult result;
        int64_t first;
        int64_t last;
        int64_t complete;
    };
    const Case cases[] = {
        {"bytes 400-999/1000", FieldResult::kOk, 400, 999, 1000},
        {"bytes 0-0/1", FieldResult::kOk, 0, 0, 1},
        {"bytes 5-9/*", FieldResult::kOk, 5, 9, -1},
        {"bytes 9-5/10", FieldResult::kInvalid, 0, 0, 0},
        {"bytes 0-10/10", FieldResult::kInvalid, 0, 0, 0},
        {"bytes */1000", FieldResult::kInvalid, 0, 0, 0},
        {"items 0-1/2", FieldResult::kInvalid, 0, 0, 0},
        {"bytes -1-5/10", FieldResult::kInvalid, 0, 0, 0},
        {"BYTES 1-2/3", FieldResult::kOk, 1, 2, 3},
        {"bytes 4831838208-5368709119/5368709120", FieldResult::kOk, 4831838208, 5368709119, 5368709120},
        {"bytes 0-9223372036854775806/9223372036854775807", FieldResult::kOk, 0, INT64_MAX - 1, INT64_MAX},
        {"bytes 0-9223372036854775807/*", FieldResult::kInvalid, 0, 0, 0},  // length 2^63
        {"bytes 0-5/9223372036854775808", FieldResult::kInvalid, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const std::string header = "HTTP/1.1 206 Partial\r\nContent-Range: " + c.value + "\r\n\r\n";
        ContentRange range;
        EXPECT_EQ(ParseContentRange(header.data(), header.size(), &range), c.result) << c.value;
        if (c.result == FieldResult::kOk) {
            EXPECT_EQ(range.first, c.first) << c.value;
            EXPECT_EQ(range.last, c.last) << c.value;
            EXPECT_EQ(range.complete, c.complete) << c.value;
        }
    }
    const std::string none = "HTTP/1.1 206 Partial\r\n\r\n";
    ContentRange range;
    EXPECT_EQ(ParseContentRange(none.data(), none.size(), &range), FieldResult::kMissing);
}

TEST(HttpHeader, TakesOnlyChunkedAsATransferCoding) {
    struct Case {
        std::string fields;
        FieldResult result;
    };
    const Case cases[] = {
        {"Transfer-Encoding: chunked\r\n", FieldResult::kOk},
        {"transfer-encoding: CHUNKED \r\n", FieldResult::kOk},
        {"Transfer-Encoding: , chunked\r\n", FieldResult::kOk},
        {"Transfer-Encoding: gzip, chunked\r\n", FieldResult::kInvalid},
        {"Transfer-Encoding: chunked\r\nTransfer-Encoding: gzip\r\n", FieldResult::kInvalid},
        {"Transfer-Encoding: chunked, chunked\r\n", FieldResult::kInvalid},
        {"Transfer-Encoding: identity\r\n", FieldResult::kInvalid},
        {"Transfer-Encoding: \r\n", FieldResult::kInvalid},
        {"Content-Length: 5\r\n", FieldResult::kMissing},
    };
    for (const Case& c : cases) {
        const std::string header = "HTTP/1.1 200 OK\r\n" + c.fields + "\r\n";
        bool chunked = false;
        EXPECT_EQ(ParseTransferEncoding(header.data(), header.size(), &chunked), c.result) << c.fields;
        EXPECT_EQ(chunked, c.result == FieldResult::kOk) << c.fields;
    }
}

TEST(HttpRedirect, ResolvesTheLocationAgainstTheRequestOrRefusesIt) {
    struct Case {
        std::string location;
        RedirectTarget result;
        std::string hostPart;
        std::string path;
        bool fromHttps = false;
        bool toHttps = false;
    };
    const Case cases[] = {
        {"http://mirror.example:8081/v/list.data", RedirectTarget::kOk, "mirror.example:8081", "/v/list.data"},
        {"HTTP://mirror/x", RedirectTarget::kOk, "mirror", "/x"},
        {"http://mirror", RedirectTarget::kOk, "mirror", "/"},
        {"//other:9/y?q=1#part", RedirectTarget::kOk, "other:9", "/y?q=1"},
        {"/moved/pack.zip", RedirectTarget::kOk, "origin:8080", "/moved/pack.zip"},
        {"pack2.zip", RedirectTarget::kOk, "origin:8080", "/1002/pack2.zip"},
        {"https://origin/1002/pack.zip", RedirectTarget::kOk, "origin", "/1002/pack.zip", false, true},
        {"HTTPS://cdn/x", RedirectTarget::kOk, "cdn", "/x", true, true},
        {"//other/y", RedirectTarget::kOk, "other", "/y", true, true},
        {"pack2.zip", RedirectTarget::kOk, "origin:8080", "/1002/pack2.zip", true, true},
        {"http://origin/1002/pack.zip", RedirectTarget::kDowngrade, "", "", true},
        {"ftp://origin/pack.zip", RedirectTarget::kNotHttp, "", ""},
        {"http:/no-host", RedirectTarget::kNotHttp, "", ""},
        {"", RedirectTarget::kUnusable, "", ""},
        {"/with space", RedirectTarget::kUnusable, "", ""},
        {"/" + std::string(300, 'p'), RedirectTarget::kUnusable, "", ""},
    };
    for (const Case& c : cases) {
        const HttpUrlParts from{"origin:8080", "/1002/pack.zip", c.fromHttps};
        HttpUrlParts to;
        EXPECT_EQ(ResolveRedirect(from, c.location, &to), c.result) << c.location;
        if (c.result == RedirectTarget::kOk) {
            EXPECT_EQ(to.hostPart, c.hostPart) << c.location;
            EXPECT_EQ(to.path, c.path) << c.location;
            EXPECT_EQ(to.secure, c.toHttps) << c.location;
        }
    }
}

// Feeds the body in pieces of every size from 1 byte to whole, so that a
// size line, a line end or a trailer split anywhere is read the same.
TEST(HttpChunked, DecodesTheSameWhereverThePiecesAreCut) {
    struct Case {
        std::string coded;
        ChunkedDecoder::Status status;
        std::string data;
    };
    const Case cases[] = {
        {"4\r\n0123\r\n6\r\n456789\r\n0\r\n\r\n", ChunkedDecoder::Status::kDone, "0123456789"},
        {"A;ext=\"x\"\r\n0123456789\r\n0\r\nTrailer: 1\r\n\r\nafter", ChunkedDecoder::Status::kDone,
         "0123456789"},
        {"a \n0123456789\n0\n\n", ChunkedDecoder::Status::kDone, "0123456789"},
        {"0\r\n\r\n", ChunkedDecoder::Status::kDone, ""},
        {"4\r\n0123\r\n", ChunkedDecoder::Status::kMore, "0123"},
        {"4\r\n0123\r\n0\r\n", ChunkedDecoder::Status::kMore, "0123"},
        {"4\r\n01234\r\n", ChunkedDecoder::Status::kInvalid, "0123"},
        {"x\r\n", ChunkedDecoder::Status::kInvalid, ""},
        {"-1\r\n", ChunkedDecoder::Status::kInvalid, ""},
        {"4 4\r\n", ChunkedDecoder::Status::kInvalid, ""},
        {"1000000000000000\r\n", ChunkedDecoder::Status::kInvalid, ""},
        {"ffffffffffffffff\r\n", ChunkedDecoder::Status::kInvalid, ""},
        {std::string(5000, '0') + "1\r\n", ChunkedDecoder::Status::kInvalid, ""},
        {"0\r\n" + std::string(70 * 1024, 'T') + "\r\n\r\n", ChunkedDecoder::Status::kInvalid, ""},
    };
    for (const Case& c : cases) {
        for (size_t piece = 1; piece <= c.coded.size(); piece = piece < 8 ? piece + 1 : piece * 2) {
            ChunkedDecoder decoder;
            std::string data;
            StringSink sink(&data, 1 << 20);
            ChunkedDecoder::Status status = ChunkedDecoder::Status::kMore;
            for (size_t at = 0; at < c.coded.size() && status == ChunkedDecoder::Status::kMore; at += piece) {
                status = decoder.Feed(c.coded.data() + at, std::min(piece, c.coded.size() - at), sink);
            }
            EXPECT_EQ(status, c.status) << c.coded.substr(0, 40) << " in pieces of " << piece;
            EXPECT_EQ(data, c.data) << c.coded.substr(0, 40) << " in pieces of " << piece;
        }
    }
}

}  // namespace
