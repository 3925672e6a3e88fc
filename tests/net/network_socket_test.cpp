#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net/network_socket.h"
#include "net/transfer_control.h"
#include "support/journal_capture.h"
#include "support/loopback_listener.h"
#include "support/scripted_server.h"

namespace {

using test_net::ScriptedServer;
using test_net::TestConnection;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A server that sends the pieces with a pause between them, then waits for
// the client to close.
ScriptedServer::Script SendPieces(std::vector<std::string> pieces) {
    return [pieces](TestConnection& c, int) {
        for (size_t i = 0; i < pieces.size(); ++i) {
            if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(150));
            c.Send(pieces[i]);
        }
        c.DrainUntilClosed();
    };
}

TEST(SocketConnect, UnreachablePortLogsThreeFailedAttemptsAndPauses) {
    test_net::JournalCapture journal;
    const int port = test_net::UnusedLoopbackPort();
    CNetworkSocket socket;
    const auto start = Clock::now();
    EXPECT_EQ(socket.Open("127.0.0.1", port), kSocketFailed);
    const double seconds = SecondsSince(start);
    EXPECT_EQ(journal.Count("connect error ! code : -1"), 3);
    EXPECT_GE(seconds, 2.9);
    EXPECT_LT(seconds, 10.0);
}

TEST(SocketConnect, RefusesAddressTextsThatDoNotFitOrAreNotDotted) {
    test_net::JournalCapture journal;
    ScriptedServer server(SendPieces({}));
    const std::string tooLong = "127.0.0.1" + std::string(43, ' ');  // 52 characters
    const char* const refused[] = {tooLong.c_str(), "localhost", "127.0.0.1x", "", nullptr};
    for (const char* host : refused) {
        CNetworkSocket socket;
        EXPECT_EQ(socket.Open(host, server.Port()), kSocketFailed) << (host ? host : "(null)");
        EXPECT_FALSE(socket.IsOpen());
    }
    CNetworkSocket socket;
    EXPECT_EQ(socket.Open("127.0.0.1", 0), kSocketFailed);
    EXPECT_EQ(socket.Open("127.0.0.1", 70000), kSocketFailed);
    EXPECT_EQ(journal.Count("connect error"), 0);
    EXPECT_EQ(socket.Open("127.0.0.1", server.Port()), kSocketOk);
    EXPECT_STREQ(socket.Host(), "127.0.0.1");
}

TEST(SocketReply, ExpectReplyComparesOnlyTheLeadingNumber) {
    struct Case {
        const char* name;
        std::vector<std::string> pieces;
        int code;
        int result;
        std::string text;  // what the buffer holds afterwards
    };
    const Case cases[] = {
        {"blank after code", {"220 ready\r\n"}, 220, 0, "220 ready\r\n"},
        {"hyphen after code", {"220-welcome\r\n"}, 220, 0, "220-welcome\r\n"},
        {"letter first", {"ready 220\r\n"}, 220, 1, "ready 220\r\n"},
        {"other code", {"530 no\r\n"}, 230, 1, "530 no\r\n"},
        {"line end in a later piece", {"22", "0 ok\r\n"}, 220, 0, "220 ok\r\n"},
        {"close before any byte", {}, 220, 1, ""},
    };
    for (const Case& c : cases) {
        ScriptedServer server(c.pieces.empty() ? [](TestConnection& conn, int) { conn.Close(); }
                                               : SendPieces(c.pieces));
        CNetworkSocket socket;
        ASSERT_EQ(socket.Open("127.0.0.1", server.Port()), kSocketOk) << c.name;
        ReplyBuffer buffer;
        std::memset(buffer, 'z', sizeof buffer);
        EXPECT_EQ(socket.ExpectReply(buffer, c.code), c.result) << c.name;
        EXPECT_EQ(std::string(buffer), c.text) << c.name;
    }
}

TEST(SocketReply, StopsAtTheFirstPieceWithALineFeedAndAtTheRoomOf1000Bytes) {
    ScriptedServer server(SendPieces({"211-first", " part\r\n211-second\r\n", "211 end\r\n"}));
    CNetworkSocket socket;
    ASSERT_EQ(socket.Open("127.0.0.1", server.Port()), kSocketOk);
    ReplyBuffer buffer = {};
    ASSERT_EQ(socket.ReceiveReply(buffer), kSocketOk);
    EXPECT_STREQ(buffer, "211-first part\r\n211-second\r\n");
    ReplyBuffer next = {};
    ASSERT_EQ(socket.ReceiveReply(next), kSocketOk);
    EXPECT_STREQ(next, "211 end\r\n");

    ScriptedServer flood(SendPieces({std::string(600, 'a'), std::string(900, 'b')}));
    CNetworkSocket other;
    ASSERT_EQ(other.Open("127.0.0.1", flood.Port()), kSocketOk);
    ReplyBuffer big = {};
    ASSERT_EQ(other.ReceiveReply(big), kSocketOk);
    EXPECT_EQ(std::strlen(big), kReplyRoom);
    EXPECT_EQ(std::string(big + 590, 20), std::string(10, 'a') + std::string(10, 'b'));
    for (size_t i = kReplyRoom; i < kReplyBufferSize; ++i) ASSERT_EQ(big[i], 0) << i;
}

TEST(SocketReply, ASilentServerEndsTheWaitAfterFiveSeconds) {
    ScriptedServer server(SendPieces({}));
    CNetworkSocket socket;
    ASSERT_EQ(socket.Open("127.0.0.1", server.Port()), kSocketOk);
    ReplyBuffer buffer;
    const auto start = Clock::now();
    EXPECT_EQ(socket.ExpectReply(buffer, 220), kSocketFailed);
    const double seconds = SecondsSince(start);
    EXPECT_GE(seconds, 4.8);
    EXPECT_LT(seconds, 8.0);
}

TEST(SocketSend, SendsEveryByteAndNothingForAnEmptyText) {
    const std::string big(300000, 'q');
    ScriptedServer server([&](TestConnection& c, int) {
        c.ReceiveUntil("END");
        c.DrainUntilClosed(2000);
    });
    {
        CNetworkSocket socket;
        ASSERT_EQ(socket.Open("127.0.0.1", server.Port()), kSocketOk);
        EXPECT_EQ(socket.SendAll("ignored", 0), kSocketOk);
        EXPECT_EQ(socket.SendAll("ignored", -4), kSocketOk);
        EXPECT_EQ(socket.SendAll(big.data(), static_cast<int>(big.size())), kSocketOk);
        EXPECT_EQ(socket.SendText("END"), kSocketOk);
    }
    server.Finish();
    ASSERT_EQ(server.Received().size(), 1u);
    EXPECT_EQ(server.Received()[0], big + "END");
}

TEST(SocketStop, AStopRequestOrAShutdownEndsABlockedReceivePromptly) {
    for (bool useShutdown : {false, true}) {
        ScriptedServer server(SendPieces({}));
        StopToken stop;
        CNetworkSocket socket;
        socket.SetStopToken(&stop);
        ASSERT_EQ(socket.Open("127.0.0.1", server.Port()), kSocketOk);
        std::thread other([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            if (useShutdown) {
                socket.Shutdown();
            } else {
                stop.Request();
            }
        });
        char buffer[16];
        const auto start = Clock::now();
        EXPECT_LE(socket.Receive(buffer, sizeof buffer), 0) << useShutdown;
        EXPECT_LT(SecondsSince(start), 2.0) << useShutdown;
        other.join();
    }
}

TEST(ResolveHost, GivesTheAddressAndThePortOfTheName) {
    struct Case {
        std::string name;
        int result;
        int port;
    };
    const Case cases[] = {
        {"localhost:8080", 0, 8080},
        {"localhost", 0, 80},
        {"localhost:", 0, 80},
        {"127.0.0.1:2121", 0, 2121},
        {"no-such-host.invalid", 1, 80},
        {"localhost:99999", 1, 80},
        {std::string(300, 'a') + ":80", 1, 80},
    };
    for (const Case& c : cases) {
        int port = -1;
        std::string address;
        EXPECT_EQ(ResolveHost(c.name, &port, &address), c.result) << c.name;
        EXPECT_EQ(port, c.port) << c.name;
        if (c.result == 0) {
            EXPECT_EQ(address, "127.0.0.1") << c.name;
        }
    }
}

// Bytes fed at given times (ms from the start) against a window of 1000 ms
// and 100 bytes/s: stalled only when a whole window brought under 100 bytes.
TEST(StallWatch, CallsAWindowStalledOnlyWhenItBroughtTooFewBytes) {
    struct Feed {
        int atMs;
        int64_t bytes;
    };
    struct Case {
        const char* name;
        std::vector<Feed> feeds;
        int checkMs;
        bool stalled;
    };
    const Case cases[] = {
        {"nothing yet, window still open", {}, 999, false},
        {"nothing for a whole window", {}, 1000, true},
        {"a byte now and then", {{100, 1}, {500, 1}, {900, 1}}, 1000, true},
        {"just the minimum", {{500, 100}}, 1000, false},
        {"steady over three windows", {{500, 100}, {1500, 100}, {2500, 100}}, 3000, false},
        {"a good window, then silence", {{500, 5000}}, 2000, true},
        {"bytes after the window ended count for the next one", {{1200, 100}}, 1300, true},
    };
    const StallWatch::Clock::time_point start{};
    for (const Case& c : cases) {
        StallWatch watch(StallPolicy{std::chrono::milliseconds(1000), 100}, start);
        for (const Feed& feed : c.feeds) watch.Feed(feed.bytes, start + std::chrono::milliseconds(feed.atMs));
        EXPECT_EQ(watch.Stalled(start + std::chrono::milliseconds(c.checkMs)), c.stalled) << c.name;
    }
}

}  // namespace
