// The HTTP client against the tests' own server, for the answers and faults
// that real servers do not produce on demand.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "net/http_client.h"
#include "net/rate_limiter.h"
#include "platform/file_system.h"
#include "support/journal_capture.h"
#include "support/scripted_server.h"
#include "support/test_support.h"
#include "update/fetch/mirrored_transfer.h"

namespace {

using test_net::ScriptedServer;
using test_net::TestConnection;
using Clock = std::chrono::steady_clock;

const std::string kTen = "0123456789";
const char kChunkedField[] = "Transfer-Encoding: chunked\r\n";
const std::string kChunkedTen = "4;name=value\r\n0123\r\n6\r\n456789\r\n0\r\nX-Sum: 45\r\n\r\n";

std::string Response(const std::string& statusLine, const std::string& fields, const std::string& body) {
    return "HTTP/1.1 " + statusLine + "\r\n" + fields + "\r\n" + body;
}

// Reads the request, sends the answer, closes.
ScriptedServer::Script Answer(std::string response) {
    return [response](TestConnection& c, int) {
        if (c.ReceiveUntil("\r\n\r\n")) c.Send(response);
    };
}

// Plays one script per connection, the last one for any further connection.
ScriptedServer::Script InTurn(std::vector<ScriptedServer::Script> scripts) {
    return [scripts](TestConnection& c, int index) {
        scripts[static_cast<size_t>(index) < scripts.size() ? index : scripts.size() - 1](c, index);
    };
}

std::string UrlOf(const ScriptedServer& server, const std::string& path = "/dir/file.bin") {
    return "http://127.0.0.1:" + std::to_string(server.Port()) + path;
}

TEST(HttpDownload, SendsTheExactRequestAndWritesTheWholeBody) {
    ScriptedServer server(Answer(Response("200 OK", "Content-Length: 10\r\n", kTen)));
    TempDir dir;
    const std::string local = dir.File("file.bin");
    CNetworkHTTP http;
    EXPECT_EQ(http.Download(UrlOf(server), local), http_result::kOk);
    EXPECT_EQ(ReadTextFile(local), kTen);
    server.Finish();
    ASSERT_EQ(server.Received().size(), 1u);
    EXPECT_EQ(server.Received()[0],
              "GET /dir/file.bin HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) +
                  "\r\nAccept: */*\r\nUser-Agent: DAzudO/1.25\r\nPragma: no-cache\r\n"
                  "Cache-Control: no-cache\r\nRange: bytes=0-\r\nConnection: close\r\n\r\n");
}

TEST(HttpDownload, CompletesTheFileForEveryWellFormedAnswer) {
    struct Case {
        const char* name;
        std::string before;        // local file before; "-" for none
        std::string rangeAsked;    // the Range line the request must carry
        ScriptedServer::Script script;
        std::string after;
    };
    const std::string header200 = Response("200 OK", "Content-Length: 10\r\n", "");
    const Case cases[] = {
        {"header and body in three-byte pieces", "-", "bytes=0-",
         [&](TestConnection& c, int) {
             if (c.ReceiveUntil("\r\n\r\n")) c.SendInPieces(header200 + kTen, 3, 5);
         },
         kTen},
        {"blank line split across pieces", "-", "bytes=0-",
         [&](TestConnection& c, int) {
             if (!c.ReceiveUntil("\r\n\r\n")) return;
             const std::string all = header200 + kTen;
             const size_t cut = header200.size() - 2;
             c.Send(all.substr(0, cut));
             std::this_thread::sleep_for(std::chrono::milliseconds(100));
             c.Send(all.substr(cut));
         },
         kTen},
        {"206 appends to the partial file", "01234", "bytes=5-",
         Answer(Response("206 Partial Content", "Content-Range: bytes 5-9/10\r\nContent-Length: 5\r\n",
                         "56789")),
         kTen},
        {"200 after a resume request rewrites and cuts", "abcdefghijklmnopqrstuvwxyz", "bytes=26-",
         Answer(Response("200 OK", "Content-Length: 10\r\n", kTen)), kTen},
        {"bytes beyond Content-Length are not written", "-", "bytes=0-",
         Answer(Response("200 OK", "Content-Length: 10\r\n", kTen + "EXTRA")), kTen},
        {"empty remote file", "-", "bytes=0-", Answer(Response("200 OK", "Content-Length: 0\r\n", "")),
         ""},
        {"other 2xx code", "-", "bytes=0-",
         Answer(Response("203 Non-Authoritative", "Content-Length: 10\r\n", kTen)), kTen},
        {"length header in lower case", "-", "bytes=0-",
         Answer(Response("200 OK", "content-length: 10\r\n", kTen)), kTen},
        {"range fields in upper case", "01234", "bytes=5-",
         Answer(Response("206 Partial", "CONTENT-RANGE: Bytes 5-9/10\r\nCONTENT-LENGTH: 5\r\n", "56789")),
         kTen},
        {"no length: the body ends at the close", "-", "bytes=0-",
         Answer(Response("200 OK", "Server: x\r\n", kTen)), kTen},
        {"HTTP/1.0 without a length after a resume request", "abcdefghijklmnopqrstuvwxyz", "bytes=26-",
         Answer("HTTP/1.0 200 OK\r\nServer: old\r\n\r\n" + kTen), kTen},
        {"close-delimited 206 with the complete length", "01234", "bytes=5-",
         Answer(Response("206 Partial", "Content-Range: bytes 5-9/10\r\n", "56789")), kTen},
        {"chunked with extensions and a trailer, in three-byte pieces", "-", "bytes=0-",
         [&](TestConnection& c, int) {
             if (c.ReceiveUntil("\r\n\r\n")) c.SendInPieces(Response("200 OK", kChunkedField, kChunkedTen), 3, 5);
         },
         kTen},
        {"chunked wins over Content-Length", "-", "bytes=0-",
         Answer(Response("200 OK", "Content-Length: 999\r\n" + std::string(kChunkedField), kChunkedTen)), kTen},
        {"chunked 206 continues the partial file", "01234", "bytes=5-",
         Answer(Response("206 Partial", "content-range: bytes 5-9/10\r\ntransfer-encoding: Chunked\r\n",
                         "5\r\n56789\r\n0\r\n\r\n")),
         kTen},
    };
    for (const Case& c : cases) {
        ScriptedServer server(c.script);
        TempDir dir;
        const std::string local = dir.File("file.bin");
        if (c.before != "-") WriteTextFile(local, c.before);
        CNetworkHTTP http;
        EXPECT_EQ(http.Download(UrlOf(server), local), http_result::kOk) << c.name;
        EXPECT_EQ(ReadTextFile(local), c.after) << c.name;
        server.Finish();
        ASSERT_EQ(server.Received().size(), 1u) << c.name;
        EXPECT_NE(server.Received()[0].find("\r\nRange: " + c.rangeAsked + "\r\n"), std::string::npos)
            << c.name;
    }
}

TEST(HttpDownload, RefusesBrokenOrHostileAnswersInBothAttemptsAndLogsWhy) {
    struct Case {
        const char* name;
        std::string before;
        ScriptedServer::Script script;
        std::string logged;       // in the journal entry of each failed attempt
        std::string kept = "-";   // the local file afterwards; "-": as before
        int64_t cap = -1;         // the download's byte cap; -1 none
        bool https = false;
        // The secure-connection status reason of a handshake the TLS library
        // judged: that fails at once, with no second attempt.
        std::string secure = "";
    };
    const Case cases[] = {
        {"404", "", Answer(Response("404 Not Found", "Content-Length: 9\r\n", "not found")),
         "status line \"HTTP/1.1 404 Not Found\""},
        {"300 is no file", "", Answer(Response("300 Multiple Choices", "Content-Length: 10\r\n", kTen)),
         "status line \"HTTP/1.1 300 Multiple Choices\""},
        {"status line with control and non-ASCII bytes", "",
         Answer(Response("500 \x1b[2J\xE9rr\rX", "Content-Length: 10\r\n", kTen)),
         "status line \"HTTP/1.1 500 ?[2J?rr?X\""},
        {"negative length", "", Answer(Response("200 OK", "Content-Length: -10\r\n", kTen)),
         "Content-Length \"-10\" refused"},
        {"length not a number", "", Answer(Response("200 OK", "Content-Length: ten\r\n", kTen)),
         "Content-Length \"ten\" refused"},
        {"total beyond 2^63 - 1", "abc",
         Answer(Response("206 Partial", "Content-Length: 9223372036854775806\r\n", kTen)), "more than the cap"},
        {"close before the header ends", "", Answer("HTTP/1.1 200 OK\r\nContent-Len"),
         "closed before the header's end"},
        {"close before the total", "", Answer(Response("200 OK", "Content-Length: 20\r\n", kTen)),
         "closed early, received 10 of 20 bytes", kTen},
        {"header of 70 KiB", "",
         Answer(Response("200 OK", "X-Pad: " + std::string(70 * 1024, 'p') + "\r\nContent-Length: 10\r\n",
                         kTen)),
         "a header over 65536 bytes"},
        {"range that stops short of the whole file", "",
         Answer(Response("206 Partial", "Content-Range: bytes 0-9/20\r\nContent-Length: 10\r\n", kTen)),
         "does not reach a known end"},
        {"close-delimited 206 without a range", "abc", Answer(Response("206 Partial", "", kTen)),
         "206 answer without Content-Range"},
        {"chunked 206 without the complete length", "abc",
         Answer(Response("206 Partial", "Content-Range: bytes 3-9/*\r\n" + std::string(kChunkedField),
                         "7\r\n3456789\r\n0\r\n\r\n")),
         "does not reach a known end"},
        {"close-delimited 206 cut before its range ends", "01234",
         InTurn({Answer(Response("206 Partial", "Content-Range: bytes 5-9/10\r\n", "567")),
                 Answer(Response("206 Partial", "Content-Range: bytes 8-9/10\r\n", "8"))}),
         "closed early, received", "012345678"},
        {"chunked body cut before the last chunk", "",
         Answer(Response("200 OK", kChunkedField, "4\r\n0123\r\n6\r\n45")), "closed inside the chunked body",
         "012345"},
        {"chunk size that is no number", "", Answer(Response("200 OK", kChunkedField, "zz\r\n0123\r\n")),
         "chunk size line zz unreadable"},
        {"chunk longer than its size", "", Answer(Response("200 OK", kChunkedField, "3\r\n0123\r\n0\r\n\r\n")),
         "chunk data longer than its size", "012"},
        {"chunked body past its range", "01234",
         Answer(Response("206 Partial", "Content-Range: bytes 5-9/10\r\n" + std::string(kChunkedField),
                         "6\r\n56789X\r\n0\r\n\r\n")),
         "runs past its Content-Range"},
        {"coding that cannot be undone", "",
         Answer(Response("200 OK", "Transfer-Encoding: gzip, chunked\r\n", kChunkedTen)),
         "Transfer-Encoding \"gzip, chunked\" cannot be decoded"},
        {"redirect to ftp", "",
         Answer(Response("301 Moved", "Location: ftp://127.0.0.1/dir/file.bin\r\nContent-Length: 0\r\n", "")),
         "refused: only http:// and https:// are followed"},
        {"TLS handshake cut after the first bytes of the server's hello", "",
         [](TestConnection& c, int) {
             if (c.ReceiveUntil("\x16\x03")) c.Send(std::string("\x16\x03\x03\x00\x7a\x02\x00\x00\x76\x03\x03", 11));
         },
         "failed during the TLS handshake (closed by the server)", "-", -1, true},
        {"TLS alert handshake_failure in answer to the client's hello", "",
         [](TestConnection& c, int) {
             if (c.ReceiveUntil("\x16\x03")) c.Send(std::string("\x15\x03\x03\x00\x02\x02\x28", 7));
         },
         "the server sent a TLS alert (Handshake failed)", "-", -1, true, "the server sent a TLS alert"},
        {"redirect without a Location", "", Answer(Response("302 Found", "Content-Length: 0\r\n", "")),
         "without Location"},
        {"announced length over the cap", "", Answer(Response("200 OK", "Content-Length: 10\r\n", kTen)),
         "announces 10 bytes, more than the cap of 8 bytes", "-", 8},
        {"chunked body over the cap", "", Answer(Response("200 OK", kChunkedField, kChunkedTen)),
         "grew past the cap of 8 bytes", "0123", 8},
        {"close-delimited body over the cap", "", Answer(Response("200 OK", "", kTen)),
         "grew past the cap of 8 bytes", "", 8},
    };
    for (const Case& c : cases) {
        test_net::JournalCapture journal;
        ScriptedServer server(c.script);
        TempDir dir;
        const std::string local = dir.File("file.bin");
        if (!c.before.empty()) WriteTextFile(local, c.before);
        CNetworkHTTP http;
        if (c.cap >= 0) http.SetByteCap(c.cap);
        const std::string url = UrlOf(server);
        const int attempts = c.secure.empty() ? kHttpAttempts : 1;
        EXPECT_EQ(http.Download(c.https ? "https" + url.substr(4) : url, local),
                  c.secure.empty() ? http_result::kTransferFailed : http_result::kNoConnection)
            << c.name;
        EXPECT_EQ(server.Connections(), attempts) << c.name;
        // The refused answers leave the partial file as it was, except
        // that a body cut short keeps what arrived.
        EXPECT_TRUE(fs_port::IsRegularFile(local)) << c.name;
        EXPECT_EQ(ReadTextFile(local), c.kept == "-" ? c.before : c.kept) << c.name;
        EXPECT_EQ(journal.Count(c.logged), attempts) << c.name;
        EXPECT_EQ(journal.Count("/dir/file.bin (attempt 2 of 2)"), attempts - 1) << c.name;
        EXPECT_EQ(http.SecureFailure(), c.secure.empty() ? "" : "127.0.0.1:" + std::to_string(server.Port()) +
                                                                     " : " + c.secure)
            << c.name;
    }
}

// Serves kTen honouring the request's "Range: bytes=N-" (200 from 0).
void ServeTenFromRange(TestConnection& c, int) {
    if (!c.ReceiveUntil("\r\n\r\n")) return;
    const size_t at = c.Received().find("Range: bytes=");
    const size_t from = at == std::string::npos ? 0 : std::stoul(c.Received().substr(at + 13));
    if (from == 0 || from >= kTen.size()) {
        c.Send(Response("200 OK", "Content-Length: 10\r\n", kTen));
        return;
    }
    c.Send(Response("206 Partial", "Content-Range: bytes " + std::to_string(from) + "-9/10\r\n",
                    kTen.substr(from)));
}

// A partial file goes on only with the server file it came from (If-Range,
// the whole size, the range); else it starts over within the same Download.
TEST(HttpDownload, ContinuesOnlyTheSameServerFileAndElseStartsOverAtOnce) {
    using Answers = std::vector<std::pair<std::string, int64_t>>;
    const std::string date = "Tue, 15 Nov 1994 08:12:31 GMT", v1 = "\"v1\"", v2 = "\"v2\"";
    const auto cut = [](const std::string& fields) {  // breaks off after 5 of 10 bytes
        return Answer(Response("200 OK", "Content-Length: 10\r\n" + fields, "01234"));
    };
    const auto partial = [](const std::string& range, const std::string& fields = "") {
        return Answer(Response("206 Partial", "Content-Range: bytes " + range + "\r\n" + fields,
                               kTen.substr(static_cast<size_t>(std::stoi(range)))));
    };
    const struct {
        const char* name;
        std::string before;
        ResumeTerms terms;
        ScriptedServer::Script script;
        std::string ifRange;  // in the last request; "" none
        size_t requests;
        Answers answered;
        std::string logged;
    } cases[] = {
        {"the known ETag goes as If-Range", "01234", {v1, 10}, partial("5-9/10", "ETag: " + v1 + "\r\n"), v1,
         1, {{v1, 10}}, ""},
        {"a 200 to If-Range starts over", "abcde", {v1, 10},
         Answer(Response("200 OK", "ETag: " + v2 + "\r\nContent-Length: 10\r\n", kTen)), v1, 1, {{v2, 10}},
         "the file changed on the server (validator then: " + v1 + "; now: " + v2 + ")"},
        {"attempt 2 sends the Last-Modified of attempt 1", "", {},
         InTurn({cut("Last-Modified: " + date + "\r\n"), partial("5-9/10")}), date, 2, {{date, 10}, {date, 10}},
         ""},
        {"a weak ETag rules out the date as well", "", {},
         InTurn({cut("ETag: W/\"w\"\r\nLast-Modified: " + date + "\r\n"), partial("5-9/10")}), "", 2,
         {{"", 10}, {"", 10}}, ""},
        {"an overlong ETag is none", "", {}, InTurn({cut("ETag: \"" + std::string(300, 'e') + "\"\r\n"),
         partial("5-9/10")}), "", 2, {{"", 10}, {"", 10}}, ""},
        {"a 206 of another whole size", "abcde", {"", 12}, InTurn({partial("5-9/10"), ServeTenFromRange}), "", 2,
         {{"", 10}}, "the local file's bytes came with, 12 bytes"},
        {"a 206 with another ETag", "abcde", {v1, -1}, InTurn({partial("5-9/10", "ETag: " + v2 + "\r\n"),
         ServeTenFromRange}), "", 2, {{"", 10}}, "another file (validator then: " + v1 + "; now: " + v2 + ")"},
        {"a range that starts elsewhere", "abc", {}, partial("0-9/10"), "", 2, {{"", 10}},
         "does not start at the local file's 3 bytes"},
        {"a range short of the end", "abcde", {}, InTurn({partial("5-9/20"), ServeTenFromRange}), "", 2,
         {{"", 10}}, "does not reach the file's end"},
    };
    for (const auto& c : cases) {
        test_net::JournalCapture journal;
        ScriptedServer server(c.script);
        TempDir dir;
        const std::string local = dir.File("file.bin");
        WriteTextFile(local, c.before);
        Answers answered;
        CNetworkHTTP http;
        http.SetResumeTerms(c.terms);
        http.SetAnswered([&](const std::string& v, int64_t size) { answered.emplace_back(v, size); });
        EXPECT_EQ(http.Download(UrlOf(server), local), http_result::kOk) << c.name;
        EXPECT_EQ(ReadTextFile(local), kTen) << c.name;
        EXPECT_EQ(answered, c.answered) << c.name;
        server.Finish();
        ASSERT_EQ(server.Received().size(), c.requests) << c.name;
        const std::string sent = c.ifRange.empty() ? "If-Range" : "\r\nIf-Range: " + c.ifRange + "\r\n";
        EXPECT_EQ(server.Received().back().find(sent) != std::string::npos, !c.ifRange.empty()) << c.name;
        EXPECT_EQ(journal.Count(c.logged + "; "), c.logged.empty() ? 0 : 1) << c.name;
    }
}

// A span is exactly the bytes asked for, in a file written from its start; a
// whole-file answer is left unread and told apart, with no second attempt.
TEST(HttpDownload, FetchesExactlyTheSpanOrTellsThatRangesAreIgnored) {
    const int failed = http_result::kTransferFailed;
    const auto part = [](const std::string& range, const std::string& body) {
        return Answer(Response("206 Partial", "Content-Range: bytes " + range + "\r\n", body));
    };
    const std::string whole = Response("200 OK", "ETag: \"v2\"\r\nContent-Length: 10\r\n", kTen);
    // after: the local file, "-" for none; asked: the last request from its Range on.
    const struct { const char* name; ResumeTerms terms; ScriptedServer::Script script; int result, connections;
                   std::string after, asked, logged; bool ignored = false; } cases[] = {
        {"exact span", {}, part("3-6/*", "3456789"), 0, 1, "3456", "bytes=3-6\r\nConnection", ""},
        {"cut span goes on in attempt 2", {}, InTurn({part("3-6/10", "34"), part("5-6/10", "56")}), 0, 2, "3456",
         "bytes=5-6\r\n", ""},
        {"short body in both attempts", {}, InTurn({part("3-6/10", "34"), part("5-6/10", "5")}), failed, 2, "345",
         "bytes=5-6\r\n", "closed early, received "},
        {"another range", {}, part("3-9/10", "3456789"), failed, 2, "", "bytes=3-6\r\n",
         "Content-Range \"bytes 3-9/10\" is not the range asked for, bytes 3-6"},
        {"416", {}, Answer(Response("416 Range Not Satisfiable", "", "")), failed, 2, "-", "bytes=3-6\r\n",
         "status line \"HTTP/1.1 416 Range Not Satisfiable\""},
        {"200", {}, Answer(whole), failed, 1, "-", "bytes=3-6\r\n",
         "the server ignores ranges: the whole file came instead of bytes 3-6", true},
        {"200 to If-Range", {"\"v1\"", 10}, Answer(whole), failed, 1, "-", "bytes=3-6\r\nIf-Range: \"v1\"\r\n",
         "the file changed on the server", true},
    };
    for (const auto& c : cases) {
        test_net::JournalCapture journal;
        ScriptedServer server(c.script);
        TempDir dir;
        const std::string local = dir.File("file.bin");
        WriteTextFile(local, "old bytes");
        CNetworkHTTP http;
        http.SetResumeTerms(c.terms);
        EXPECT_EQ(http.DownloadSpan(UrlOf(server), local, 3, 4), c.result) << c.name;
        EXPECT_EQ(fs_port::PathExists(local) ? ReadTextFile(local) : "-", c.after) << c.name;
        EXPECT_EQ(http.RangesIgnored(), c.ignored) << c.name;
        server.Finish();
        EXPECT_EQ(server.Connections(), c.connections) << c.name;
        EXPECT_NE(server.Received().back().find("\r\nRange: " + c.asked), std::string::npos) << c.name;
        if (!c.logged.empty()) {
            EXPECT_EQ(journal.Count(c.logged), c.connections) << c.name;
        }
    }
}

TEST(HttpDownload, FollowsRedirectsToOtherPathsPortsAndHostsKeepingTheOffset) {
    // "@" stands for the address of the redirect target, a fresh server in each case.
    const std::string there = "@";
    struct Case {
        const char* name;
        std::string status;
        std::string location;
        std::string before;
        std::string requestAtTarget;  // "" when the origin itself serves the new path
    };
    const Case cases[] = {
        {"301 to another port", "301 Moved Permanently", "http://" + there + "/other/file.bin", "",
         "GET /other/file.bin HTTP/1.1\r\nHost: " + there + "\r\n"},
        {"307 keeps the resume offset", "307 Temporary Redirect", "http://" + there + "/f.bin", "01234",
         "Range: bytes=5-\r\n"},
        {"308 to a network path", "308 Permanent Redirect", "//" + there + "/g.bin", "", "GET /g.bin "},
        {"303 to a path on the same server", "303 See Other", "/moved/file.bin", "", ""},
        {"302 to a relative path", "302 Found", "moved.bin", "", ""},
    };
    for (const Case& c : cases) {
        test_net::JournalCapture journal;
        ScriptedServer target(ServeTenFromRange);
        const std::string address = "127.0.0.1:" + std::to_string(target.Port());
        const auto withTarget = [&](std::string text) {
            const size_t at = text.find(there);
            return at == std::string::npos ? text : text.replace(at, 1, address);
        };
        const std::string redirect =
            Response(c.status, "Location: " + withTarget(c.location) + "\r\nContent-Length: 4\r\n", "gone");
        ScriptedServer origin(InTurn({Answer(redirect), ServeTenFromRange}));
        TempDir dir;
        const std::string local = dir.File("file.bin");
        if (!c.before.empty()) WriteTextFile(local, c.before);
        CNetworkHTTP http;
        EXPECT_EQ(http.Download(UrlOf(origin), local), http_result::kOk) << c.name;
        EXPECT_EQ(ReadTextFile(local), kTen) << c.name;
        origin.Finish();
        target.Finish();
        const bool elsewhere = !c.requestAtTarget.empty();
        EXPECT_EQ(origin.Connections(), elsewhere ? 1 : 2) << c.name;
        EXPECT_EQ(journal.Count("redirected from " + UrlOf(origin) + " to http://"), 1) << c.name;
        ASSERT_EQ(target.Received().size(), elsewhere ? 1u : 0u) << c.name;
        if (elsewhere) {
            EXPECT_NE(target.Received()[0].find(withTarget(c.requestAtTarget)), std::string::npos) << c.name;
            EXPECT_EQ(journal.Count("fetched from " + address), 1) << c.name;
        }
    }
}

TEST(HttpDownload, GivesUpAfterFiveRedirectsInEachAttempt) {
    test_net::JournalCapture journal;
    ScriptedServer server(Answer(Response("302 Found", "Location: /dir/file.bin\r\n", "")));
    TempDir dir;
    CNetworkHTTP http;
    EXPECT_EQ(http.Download(UrlOf(server), dir.File("f.bin")), http_result::kTransferFailed);
    server.Finish();
    EXPECT_EQ(server.Connections(), kHttpAttempts * (kMaxHttpRedirects + 1));
    EXPECT_EQ(journal.Count("more than 5 redirects"), kHttpAttempts);
}

// The server sends the answer in pieces with a pause between them; the
// client's stall window is short so that the test is quick.
TEST(HttpDownload, CutsAStalledAnswerButNotASlowSteadyOne) {
    struct Case {
        const char* name;
        std::string body;
        size_t piece;
        int pauseMs;
        bool headerFirst;  // the header goes out whole before the dribble
        int result;
    };
    const std::string slowBody(400, 's');
    const Case cases[] = {
        {"a byte every 100 ms", kTen + kTen + kTen, 1, 100, true, http_result::kTransferFailed},
        {"a header dribbled byte by byte", kTen, 1, 100, false, http_result::kTransferFailed},
        {"40 bytes every 100 ms over a window of 400 bytes/s", slowBody, 40, 100, true, http_result::kOk},
    };
    for (const Case& c : cases) {
        test_net::JournalCapture journal;
        const std::string header = Response("200 OK", "Content-Length: " + std::to_string(c.body.size()) + "\r\n", "");
        ScriptedServer server([&](TestConnection& conn, int) {
            if (!conn.ReceiveUntil("\r\n\r\n")) return;
            if (c.headerFirst) conn.Send(header);
            conn.SendInPieces(c.headerFirst ? c.body : header + c.body, c.piece, c.pauseMs);
        });
        TempDir dir;
        const std::string local = dir.File("f.bin");
        CNetworkHTTP http;
        http.SetStallPolicy(StallPolicy{std::chrono::milliseconds(600), 200});
        const auto start = Clock::now();
        EXPECT_EQ(http.Download(UrlOf(server), local), c.result) << c.name;
        if (c.result == http_result::kOk) {
            EXPECT_EQ(ReadTextFile(local), c.body) << c.name;
        } else {
            EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 4.0) << c.name;
            // A stalled attempt is not repeated at once: the caller's watchdog
            // pauses before it resumes.
            EXPECT_EQ(journal.Count("no progress: "), 1) << c.name;
            EXPECT_TRUE(http.Stalled()) << c.name;
        }
    }
}

TEST(HttpDownload, StopsReadingAHeaderThatNeverEnds) {
    // Far more than the socket buffers hold: only a client that stops
    // reading makes the server's sending fail.
    std::atomic<int> wholeFloods{0};
    ScriptedServer server([&](TestConnection& c, int) {
        if (!c.ReceiveUntil("\r\n\r\n") || !c.Send("HTTP/1.1 200 OK\r\n")) return;
        const std::string piece = "X-Pad: " + std::string(64 * 1024, 'F') + "\r\n";
        for (int i = 0; i < 1024; ++i) {
            if (!c.Send(piece)) return;
        }
        ++wholeFloods;
    });
    TempDir dir;
    CNetworkHTTP http;
    EXPECT_EQ(http.Download(UrlOf(server), dir.File("f.bin")), http_result::kTransferFailed);
    server.Finish();
    EXPECT_EQ(server.Connections(), kHttpAttempts);
    EXPECT_EQ(wholeFloods.load(), 0);
}

TEST(HttpDownload, ResumesInTheSecondAttemptWhereTheFirstBrokeOff) {
    std::vector<std::pair<int64_t, int64_t>> progress;
    ScriptedServer server(InTurn({
        Answer(Response("200 OK", "Content-Length: 10\r\n", "01234")),
        [](TestConnection& c, int) {
            if (!c.ReceiveUntil("\r\n\r\n")) return;
            if (c.Received().find("Range: bytes=5-\r\n") == std::string::npos) return;
            c.Send(Response("206 Partial", "Content-Range: bytes 5-9/10\r\nContent-Length: 5\r\n", "56789"));
        },
    }));
    TempDir dir;
    const std::string local = dir.File("file.bin");
    CNetworkHTTP http;
    http.SetProgress([&](int64_t done, int64_t total) { progress.emplace_back(done, total); });
    EXPECT_EQ(http.Download(UrlOf(server), local), http_result::kOk);
    EXPECT_EQ(ReadTextFile(local), kTen);
    EXPECT_EQ(server.Connections(), 2);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), std::make_pair(int64_t{10}, int64_t{10}));
    for (size_t i = 1; i < progress.size(); ++i) {
        EXPECT_LE(progress[i].first, progress[i].second);
    }
}

TEST(HttpDownload, RangeRefusedDeletesTheLocalFileAndStartsOver) {
    const std::string refused = Response("416 Range Not Satisfiable", "Content-Length: 0\r\n", "");
    {
        ScriptedServer server(InTurn({Answer(refused), [&](TestConnection& c, int) {
                                          if (c.ReceiveUntil("Range: bytes=0-\r\n"))
                                              c.Send(Response("200 OK", "Content-Length: 10\r\n", kTen));
                                      }}));
        TempDir dir;
        const std::string local = dir.File("file.bin");
        WriteTextFile(local, kTen + "stale");
        CNetworkHTTP http;
        EXPECT_EQ(http.Download(UrlOf(server), local), http_result::kOk);
        EXPECT_EQ(ReadTextFile(local), kTen);
    }
    ScriptedServer server(Answer(refused));
    TempDir dir;
    const std::string local = dir.File("file.bin");
    WriteTextFile(local, kTen);
    CNetworkHTTP http;
    EXPECT_EQ(http.Download(UrlOf(server), local), http_result::kTransferFailed);
    EXPECT_FALSE(fs_port::PathExists(local));
}

TEST(HttpDownload, ASilentServerTimesOutAndTheSecondAttemptSucceeds) {
    ScriptedServer server(InTurn({[](TestConnection& c, int) { c.DrainUntilClosed(); },
                                  Answer(Response("200 OK", "Content-Length: 10\r\n", kTen))}));
    TempDir dir;
    const std::string local = dir.File("file.bin");
    CNetworkHTTP http;
    const auto start = Clock::now();
    EXPECT_EQ(http.Download(UrlOf(server), local), http_result::kOk);
    EXPECT_GE(std::chrono::duration<double>(Clock::now() - start).count(), 4.8);
    EXPECT_EQ(ReadTextFile(local), kTen);
}

TEST(HttpDownload, AStopFromAnotherThreadEndsTheDownloadWithoutRetry) {
    for (bool viaCancel : {false, true}) {
        ScriptedServer server([](TestConnection& c, int) { c.DrainUntilClosed(); });
        TempDir dir;
        std::atomic<bool> stop{false};
        CNetworkHTTP http;
        http.SetStopFlag(&stop);
        std::thread other([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            if (viaCancel) {
                http.Cancel();
            } else {
                stop.store(true);
            }
        });
        const auto start = Clock::now();
        EXPECT_EQ(http.Download(UrlOf(server), dir.File("f.bin")), http_result::kTransferFailed);
        EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.0) << viaCancel;
        other.join();
        EXPECT_EQ(server.Connections(), 1) << viaCancel;
    }
}

TEST(HttpDownload, ReportsUnusableUrlsHostsPortsAndLocalFiles) {
    TempDir dir;
    const std::string local = dir.File("f.bin");
    struct Case {
        std::string url;
        std::string localPath;
        int result;
        bool fileCreated;
    };
    const Case cases[] = {
        {"http://127.0.0.1", local, http_result::kUnknownHost, false},
        {"http://h/" + std::string(300, 'p'), local, http_result::kUnknownHost, false},
        {"http://no-such-host.invalid/f", local, http_result::kUnknownHost, true},
        {"http://127.0.0.1/f", dir.File("missing-folder\\f.bin"), http_result::kLocalFile, false},
    };
    for (const Case& c : cases) {
        fs_port::RemoveFile(local);
        CNetworkHTTP http;
        EXPECT_EQ(http.Download(c.url, c.localPath), c.result) << c.url;
        EXPECT_EQ(fs_port::PathExists(c.localPath), c.fileCreated) << c.url;
    }
}

}  // namespace

namespace {

constexpr size_t kFirstPiece = 64 * 1024;

// Bytes that differ from their neighbours, so a repeated or lost piece shows.
std::string Pattern(size_t size) {
    std::string out(size, '\0');
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<char>((i * 31 + i / 251) % 253);
    return out;
}

// Serves body with ranges; connections 0 and 1 (every one with drip) send
// the first 64 KiB at once and then either nothing or a byte every 200 ms.
ScriptedServer::Script StallingServer(const std::string& body, bool drip) {
    return [body, drip](TestConnection& c, int index) {
        if (!c.ReceiveUntil("\r\n\r\n")) return;
        const size_t at = c.Received().find("Range: bytes=");
        const size_t from = at == std::string::npos ? 0 : std::stoul(c.Received().substr(at + 13));
        const std::string size = std::to_string(body.size());
        c.Send(Response(from == 0 ? "200 OK" : "206 Partial Content",
                        "Content-Length: " + std::to_string(body.size() - from) + "\r\n" +
                            (from == 0 ? "" : "Content-Range: bytes " + std::to_string(from) + "-" +
                                                  std::to_string(body.size() - 1) + "/" + size + "\r\n"),
                        ""));
        if (!drip && index > 1) {
            c.Send(body.substr(from));
            return;
        }
        const size_t fast = from < kFirstPiece ? kFirstPiece - from : 0;
        c.Send(body.substr(from, fast));
        if (drip) c.DripUntilClosed(body.substr(from + fast), 200);
        if (!drip) c.DrainUntilClosed();
    };
}

// The engine's watchdog above the client: a download that stalls is cut and
// resumed where it stopped after a pause; one that stays stalled fails with
// its own text once its resumes are spent.
TEST(StallWatchdog, ResumesAStalledDownloadAndGivesUpOnADripFeed) {
    const struct {
        const char* name;
        bool drip;
        int result;
        int connections;
        int resumes;
        const char* failure;
    } cases[] = {
        {"a byte every 200 ms after the first 64 KiB", true, kFetchStalled, 3, 2, "下载停滞 : file.bin . 已续传 2 次, 历时 "},
        // The client's own second attempt meets the silence too.
        {"silent after 64 KiB, whole on the resume", false, 0, 3, 1, ""},
    };
    const std::string body = Pattern(128 * 1024);
    for (const auto& c : cases) {
        test_net::JournalCapture journal;
        ScriptedServer server(StallingServer(body, c.drip));
        TempDir dir;
        const auto inner = MakeNetworkTransfer(StallPolicy{std::chrono::milliseconds(1000), 1024});
        CMirroredTransfer hosts(inner.get());
        hosts.SetResumePolicy(ResumePolicy{2, std::chrono::milliseconds(50)});
        const std::string local = dir.File("file.bin");
        EXPECT_EQ(hosts.FetchToFile(kTransferModeHttp, UrlOf(server), local, kNoByteCap, nullptr, nullptr, {}), c.result)
            << c.name;
        server.Finish();
        EXPECT_EQ(server.Connections(), c.connections) << c.name;
        EXPECT_EQ(hosts.FailureText().substr(0, std::string(c.failure).size()), c.failure) << c.name;
        EXPECT_EQ(journal.Count("下载停滞, "), c.resumes) << c.name;
        const auto received = server.Received();
        for (size_t i = 1; i < received.size(); ++i) {
            const size_t at = received[i].find("Range: bytes=");
            ASSERT_NE(at, std::string::npos) << c.name;
            EXPECT_GE(std::stoul(received[i].substr(at + 13)), kFirstPiece) << c.name << ": resumed, not restarted";
        }
        if (c.result == 0) {
            EXPECT_TRUE(ReadTextFile(local) == body) << c.name;
        }
    }
}

// Closing the window sets the stop flag: the download ends within a second
// wherever it waits.
TEST(StallWatchdog, StopEndsAPauseATransferAndALimiterWaitWithinASecond) {
    const struct {
        const char* name;
        bool drip;
        int stopAtMs;
        int64_t limit;  // bytes per second, 0 none
    } cases[] = {
        {"during the pause before a resume", false, 2600, 0},
        {"during a drip-fed transfer", true, 600, 0},
        {"while the limiter holds bytes back", false, 300, 8 * 1024},
    };
    const std::string body = Pattern(128 * 1024);
    for (const auto& c : cases) {
        ScriptedServer server(StallingServer(body, c.drip));
        TempDir dir;
        DownloadRateLimiter().SetLimit(c.limit);
        const auto inner = MakeNetworkTransfer(StallPolicy{std::chrono::milliseconds(1000), 1024});
        CMirroredTransfer hosts(inner.get());
        hosts.SetResumePolicy(ResumePolicy{4, std::chrono::milliseconds(30000)});
        std::atomic<bool> stop{false};
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(c.stopAtMs));
            stop.store(true);
        });
        const auto start = Clock::now();
        EXPECT_NE(hosts.FetchToFile(kTransferModeHttp, UrlOf(server), dir.File("f.bin"), kNoByteCap, &stop, nullptr, {}), 0)
            << c.name;
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        stopper.join();
        DownloadRateLimiter().SetLimit(0);
        EXPECT_LT(seconds, c.stopAtMs / 1000.0 + 1.0) << c.name;
    }
}

}  // namespace
