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
#include "platform/file_system.h"
#include "support/scripted_server.h"
#include "support/test_support.h"

namespace {

using test_net::ScriptedServer;
using test_net::TestConnection;
using Clock = std::chrono::steady_clock;

const std::string kTen = "0123456789";

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

TEST(HttpDownload, RefusesBrokenOrHostileAnswersInBothAttempts) {
    struct Case {
        const char* name;
        std::string before;
        ScriptedServer::Script script;
    };
    const Case cases[] = {
        {"404", "", Answer(Response("404 Not Found", "Content-Length: 9\r\n", "not found"))},
        {"300 is no file", "", Answer(Response("300 Multiple Choices", "Content-Length: 10\r\n", kTen))},
        {"length header in lower case", "",
         Answer(Response("200 OK", "content-length: 10\r\n", kTen))},
        {"no length", "", Answer(Response("200 OK", "Server: x\r\n", kTen))},
        {"negative length", "", Answer(Response("200 OK", "Content-Length: -10\r\n", kTen))},
        {"length not a number", "", Answer(Response("200 OK", "Content-Length: ten\r\n", kTen))},
        {"total beyond 2 GiB - 1", "abc",
         Answer(Response("206 Partial", "Content-Length: 2147483646\r\n", kTen))},
        {"close before the header ends", "", Answer("HTTP/1.1 200 OK\r\nContent-Len")},
        {"close before the total", "", Answer(Response("200 OK", "Content-Length: 20\r\n", kTen))},
        {"header of 70 KiB", "",
         Answer(Response("200 OK", "X-Pad: " + std::string(70 * 1024, 'p') + "\r\nContent-Length: 10\r\n",
                         kTen))},
        {"range that starts elsewhere", "abc",
         Answer(Response("206 Partial", "Content-Range: bytes 0-9/10\r\nContent-Length: 10\r\n", kTen))},
        {"range that stops short of the whole file", "",
         Answer(Response("206 Partial", "Content-Range: bytes 0-9/20\r\nContent-Length: 10\r\n", kTen))},
    };
    for (const Case& c : cases) {
        ScriptedServer server(c.script);
        TempDir dir;
        const std::string local = dir.File("file.bin");
        if (!c.before.empty()) WriteTextFile(local, c.before);
        CNetworkHTTP http;
        EXPECT_EQ(http.Download(UrlOf(server), local), http_result::kTransferFailed) << c.name;
        EXPECT_EQ(server.Connections(), kHttpAttempts) << c.name;
        // The refused answers leave the partial file as it was, except
        // that a close before the total keeps what arrived.
        const std::string expected = std::string(c.name) == "close before the total" ? kTen : c.before;
        EXPECT_TRUE(fs_port::IsRegularFile(local)) << c.name;
        EXPECT_EQ(ReadTextFile(local), expected) << c.name;
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
