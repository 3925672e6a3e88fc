// The FTP client against the tests' own FTP server: every result code, the
// command texts, resume rules, kept logins and hostile replies.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "net/ftp_client.h"
#include "platform/file_system.h"
#include "support/fake_ftp.h"
#include "support/journal_capture.h"
#include "support/loopback_listener.h"
#include "support/test_support.h"

namespace {

using test_net::FakeFtpOptions;
using test_net::FakeFtpServer;

const std::string kTen = "0123456789";

std::string UrlOf(const FakeFtpServer& server, const std::string& rest = "\\file.bin") {
    return "ftp://127.0.0.1:" + std::to_string(server.Port()) + rest;
}

// Answers the REST probe (REST 100) with `probe`, every other REST normally.
std::string ProbeAnswer(const std::string& verb, const std::string& argument, const std::string& probe) {
    return verb == "REST" && argument == "100" ? probe : "";
}

TEST(FtpDownload, SendsTheExactCommandsAndWritesTheFile) {
    FakeFtpServer server(FakeFtpOptions{});
    TempDir dir;
    const std::string local = dir.File("file.bin");
    CNetworkFTP ftp;
    EXPECT_EQ(ftp.Download(UrlOf(server), local, false, nullptr), ftp_result::kOk);
    EXPECT_EQ(ReadTextFile(local), kTen);
    EXPECT_TRUE(ftp.IsLoggedIn());
    const std::vector<std::string> expected = {
        "USER update\r\n",   "PASS stream907\r\n", "TYPE I\r\n", "REST 100\r\n", "CWD /\r\n",
        "SIZE file.bin\r\n", "MDTM file.bin\r\n",  "PASV \r\n",  "REST 0\r\n",   "RETR file.bin\r\n"};
    EXPECT_EQ(server.Commands(), expected);
}

TEST(FtpDownload, GivesTheCodeOfTheStepThatFailedLogsTheReplyAndDropsTheLogin) {
    struct Case {
        const char* name;
        std::function<void(FakeFtpOptions&)> setUp;
        bool toMemory;
        int result;
        std::string logged;  // in the journal entry
        std::function<void(CNetworkFTP&)> client = nullptr;
    };
    const Case cases[] = {
        {"greeting not 220", [](FakeFtpOptions& o) { o.greeting = {"421 too many users\r\n"}; }, false,
         ftp_result::kGreeting, "the greeting answered \"421 too many users\""},
        {"greeting dribbled a byte every 50 ms",
         [](FakeFtpOptions& o) {
             const std::string text = "220 " + std::string(30, 'g') + "\r\n";
             o.greeting.clear();
             for (char ch : text) o.greeting.push_back(std::string(1, ch));
         },
         false, ftp_result::kGreeting, "the greeting got no whole answer: no progress: ",
         [](CNetworkFTP& ftp) { ftp.SetStallPolicy(StallPolicy{std::chrono::milliseconds(600), 200}); }},
        {"USER refused", [](FakeFtpOptions& o) { o.replies["USER"] = "530 no\r\n"; }, false,
         ftp_result::kUser, "USER answered \"530 no\""},
        {"wrong password", [](FakeFtpOptions& o) { o.replies["PASS"] = "530 Login incorrect.\r\n"; },
         false, ftp_result::kPass, "PASS answered \"530 Login incorrect.\""},
        {"TYPE refused", [](FakeFtpOptions& o) { o.replies["TYPE"] = "504 no\r\n"; }, false,
         ftp_result::kType, "TYPE I answered \"504 no\""},
        {"no such folder", [](FakeFtpOptions& o) { o.replies["CWD"] = "550 no folder\r\n"; }, false,
         ftp_result::kCwd, "CWD answered \"550 no folder\""},
        {"missing file", [](FakeFtpOptions& o) { o.replies["SIZE"] = "550 no file\r\n"; }, false,
         ftp_result::kSize, "SIZE answered \"550 no file\""},
        {"negative size", [](FakeFtpOptions& o) { o.replies["SIZE"] = "213 -5\r\n"; }, false,
         ftp_result::kSize, "SIZE answered \"213 -5\""},
        {"PASV refused", [](FakeFtpOptions& o) { o.replies["PASV"] = "425 no\r\n"; }, false,
         ftp_result::kPasv, "PASV answered \"425 no\""},
        {"PASV without address", [](FakeFtpOptions& o) { o.replies["PASV"] = "227 here\r\n"; }, false,
         ftp_result::kPasvAddress, "PASV answered \"227 here\""},
        {"PASV port 0", [](FakeFtpOptions& o) { o.replies["PASV"] = "227 (127,0,0,1,0,0)\r\n"; }, false,
         ftp_result::kPasvAddress, "PASV answered \"227 (127,0,0,1,0,0)\""},
        {"nobody at the passive port",
         [](FakeFtpOptions& o) {
             const int port = test_net::UnusedLoopbackPort();
             o.replies["PASV"] = "227 (127,0,0,1," + std::to_string(port / 256) + "," +
                                 std::to_string(port % 256) + ")\r\n";
         },
         false, ftp_result::kNoData, "no data connection to 127.0.0.1:"},
        {"no REST at all", [](FakeFtpOptions& o) { o.acceptRest = false; }, false, ftp_result::kRest,
         "REST answered \"502 no restart\""},
        {"RETR refused", [](FakeFtpOptions& o) { o.replies["RETR"] = "550 gone\r\n"; }, false,
         ftp_result::kRetr, "RETR answered \"550 gone\""},
        {"fewer bytes than SIZE", [](FakeFtpOptions& o) { o.sendLimit = 5; }, false,
         ftp_result::kTransfer, "closed early, received 5 of 10 bytes"},
        {"fewer bytes than SIZE into memory", [](FakeFtpOptions& o) { o.sendLimit = 5; }, true,
         ftp_result::kTransfer, "closed early, received 5 of 10 bytes"},
        {"empty file into memory", [](FakeFtpOptions& o) { o.content.clear(); }, true,
         ftp_result::kTransfer, "SIZE announces an empty file"},
        {"memory beyond its limit",
         [](FakeFtpOptions& o) { o.announcedSize = kMaxFtpMemoryBytes + 1; }, true,
         ftp_result::kTransfer, "SIZE announces 16777217 bytes, more than the cap of 16777216 bytes"},
        {"SIZE over the download's cap", [](FakeFtpOptions&) {}, false, ftp_result::kTransfer,
         "SIZE announces 10 bytes, more than the cap of 8 bytes",
         [](CNetworkFTP& ftp) { ftp.SetByteCap(8); }},
        {"data dribbled a byte every 100 ms",
         [](FakeFtpOptions& o) {
             o.content = std::string(20, 'd');
             o.dataPiece = 1;
             o.dataPauseMs = 100;
         },
         false, ftp_result::kTransfer, "no progress: ",
         [](CNetworkFTP& ftp) { ftp.SetStallPolicy(StallPolicy{std::chrono::milliseconds(600), 200}); }},
    };
    for (const Case& c : cases) {
        test_net::JournalCapture journal;
        FakeFtpOptions options;
        c.setUp(options);
        FakeFtpServer server(options);
        TempDir dir;
        CNetworkFTP ftp;
        if (c.client) c.client(ftp);
        std::string content = "old";
        EXPECT_EQ(ftp.Download(UrlOf(server), dir.File("file.bin"), c.toMemory, &content), c.result)
            << c.name;
        EXPECT_FALSE(ftp.IsLoggedIn()) << c.name;
        if (c.toMemory) {
            EXPECT_TRUE(content.empty()) << c.name;
        }
        EXPECT_EQ(journal.Count("FTP RETR " + UrlOf(server) + ": " + c.logged), 1) << c.name;
    }
}

TEST(FtpDownload, ReportsUnusableUrlsMissingServersAndLocalFiles) {
    FakeFtpServer server(FakeFtpOptions{});
    TempDir dir;
    CNetworkFTP ftp;
    EXPECT_EQ(ftp.Download("ftp://127.0.0.1:" + std::to_string(server.Port()), dir.File("f"), false,
                           nullptr),
              ftp_result::kNoControl);
    EXPECT_EQ(ftp.Download(UrlOf(server), dir.File("no-folder\\f"), false, nullptr),
              ftp_result::kLocalFile);
    EXPECT_EQ(ftp.Download("ftp://127.0.0.1:" + std::to_string(test_net::UnusedLoopbackPort()) +
                               "\\f",
                           dir.File("f"), false, nullptr),
              ftp_result::kNoControl);
}

TEST(FtpDownload, ResumesOnlyAShorterFileFromAServerThatAcceptsRest) {
    struct Case {
        const char* name;
        std::string before;
        std::string probeReply;  // answer to REST 100; empty: 350
        int64_t announced;       // -1: the content's size
        std::string restSent;
        std::string after;
        ResumeTerms terms = {};
        std::string time = "";    // MDTM answers "213 <time>"; "": 500
        std::string logged = "";  // why the partial file was cut
    };
    const std::string time = "20240102030405";
    const Case cases[] = {
        {"shorter file resumes", "01234", "", -1, "REST 5\r\n", kTen},
        {"probe refused: from the start", "abcde", "502 no\r\n", -1, "REST 0\r\n", kTen},
        {"longer file is rewritten and cut", "abcdefghijklmnopqrstuvwxyz", "", -1, "REST 0\r\n", kTen},
        {"complete file is fetched again", kTen, "", -1, "REST 0\r\n", kTen},
        {"bytes beyond SIZE are not kept", "", "", 8, "REST 0\r\n", "01234567"},
        {"the same MDTM and SIZE resume", "01234", "", -1, "REST 5\r\n", kTen, {time, 10}, time},
        {"no MDTM: SIZE alone decides", "01234", "", -1, "REST 5\r\n", kTen, {time, 10}},
        {"another MDTM starts over", "abcde", "", -1, "REST 0\r\n", kTen, {"20230102030405", 10}, time,
         "MDTM gives \"" + time + "\", not \"20230102030405\""},
        {"another SIZE starts over", "abcde", "", -1, "REST 0\r\n", kTen, {time, 12}, time,
         "SIZE gives 10 bytes, not the 12 bytes"},
    };
    for (const Case& c : cases) {
        FakeFtpOptions options;
        options.announcedSize = c.announced;
        const std::string probe = c.probeReply;
        options.answer = [probe](const std::string& verb, const std::string& argument) {
            return probe.empty() ? std::string() : ProbeAnswer(verb, argument, probe);
        };
        if (!c.time.empty()) options.replies["MDTM"] = "213 " + c.time + "\r\n";
        FakeFtpServer server(options);
        test_net::JournalCapture journal;
        TempDir dir;
        const std::string local = dir.File("file.bin");
        if (!c.before.empty()) WriteTextFile(local, c.before);
        std::pair<std::string, int64_t> answered;
        CNetworkFTP ftp;
        ftp.SetResumeTerms(c.terms);
        ftp.SetAnswered([&](const std::string& validator, int64_t size) { answered = {validator, size}; });
        EXPECT_EQ(ftp.Download(UrlOf(server), local, false, nullptr), ftp_result::kOk) << c.name;
        EXPECT_EQ(ReadTextFile(local), c.after) << c.name;
        EXPECT_EQ(answered, std::make_pair(c.time, c.announced < 0 ? int64_t{10} : c.announced)) << c.name;
        const std::string cutLine = c.logged.empty() ? "; the local file is cut" : c.logged;
        EXPECT_EQ(journal.Count(cutLine), c.logged.empty() ? 0 : 1) << c.name;
        const std::vector<std::string> commands = server.Commands();
        ASSERT_GE(commands.size(), 2u) << c.name;
        EXPECT_EQ(commands[commands.size() - 2], c.restSent) << c.name;
    }
}

// Two downloads on one client: one login, the second one starts at CWD.
void KeepsTheLogin(const FakeFtpOptions& options) {
    FakeFtpServer server(options);
    TempDir dir;
    CNetworkFTP ftp;
    std::string content;
    ASSERT_EQ(ftp.Download(UrlOf(server, "\\versionlist.data"), "", true, &content), ftp_result::kOk);
    EXPECT_EQ(content, kTen);
    EXPECT_EQ(content.c_str()[content.size()], '\0');
    ASSERT_EQ(ftp.Download(UrlOf(server, "\\1002\\pack1.zip"), dir.File("a.zip"), false, nullptr),
              ftp_result::kOk);
    EXPECT_EQ(ReadTextFile(dir.File("a.zip")), kTen);
    EXPECT_EQ(server.Connections(), 1);
    const std::vector<std::string> commands = server.Commands();
    // The version list goes to memory without MDTM; the package asks it.
    ASSERT_EQ(commands.size(), 15u);
    EXPECT_EQ(commands[9], "CWD /1002\r\n");
    EXPECT_EQ(commands[10], "SIZE pack1.zip\r\n");
}

TEST(FtpDownload, KeepsTheLoginAndPassesOverTheLeftCompletionReply) {
    for (int delayMs : {0, 300}) {
        SCOPED_TRACE(delayMs);
        FakeFtpOptions options;
        options.completionDelayMs = delayMs;
        KeepsTheLogin(options);
    }
}

// A span's bytes alone, cut from the old file, and the login goes on. A file
// too short has none, nor has a server without REST (it ignores ranges).
TEST(FtpDownload, FetchesASpanAndKeepsTheLogin) {
    const struct { int64_t first; bool acceptRest; int result; } cases[] = {
        {3, true, ftp_result::kOk}, {6, true, ftp_result::kOk}, {7, true, ftp_result::kSize},
        {3, false, ftp_result::kRest}};
    for (const auto& c : cases) {
        FakeFtpOptions options;
        options.acceptRest = c.acceptRest;
        FakeFtpServer server(options);
        TempDir dir;
        WriteTextFile(dir.File("span.bin"), "old bytes");
        CNetworkFTP ftp;
        EXPECT_EQ(ftp.DownloadSpan(UrlOf(server), dir.File("span.bin"), c.first, 4), c.result) << c.first;
        EXPECT_EQ(ftp.RangesIgnored(), !c.acceptRest) << c.first;
        if (c.result != ftp_result::kOk) continue;
        EXPECT_EQ(ReadTextFile(dir.File("span.bin")), kTen.substr(static_cast<size_t>(c.first), 4)) << c.first;
        EXPECT_EQ(ftp.Download(UrlOf(server), dir.File("whole.bin"), false, nullptr), ftp_result::kOk) << c.first;
        EXPECT_EQ(server.Connections(), 1) << c.first;
    }
}

TEST(FtpDownload, AFailedFolderChangeOnAKeptLoginIsAFailure) {
    FakeFtpOptions options;
    options.answer = [](const std::string& verb, const std::string& argument) {
        return verb == "CWD" && argument == "/other" ? std::string("550 no such folder\r\n")
                                                     : std::string();
    };
    FakeFtpServer server(options);
    TempDir dir;
    CNetworkFTP ftp;
    ASSERT_EQ(ftp.Download(UrlOf(server), dir.File("a"), false, nullptr), ftp_result::kOk);
    EXPECT_EQ(ftp.Download(UrlOf(server, "\\other\\file.bin"), dir.File("b"), false, nullptr),
              ftp_result::kCwd);
}

TEST(FtpDownload, MemoryAfterAResumedFileStartsAtZero) {
    FakeFtpServer server(FakeFtpOptions{});
    TempDir dir;
    const std::string local = dir.File("file.bin");
    WriteTextFile(local, "0123");
    CNetworkFTP ftp;
    ASSERT_EQ(ftp.Download(UrlOf(server), local, false, nullptr), ftp_result::kOk);
    std::string content;
    ASSERT_EQ(ftp.Download(UrlOf(server), "", true, &content), ftp_result::kOk);
    EXPECT_EQ(content, kTen);
}

TEST(FtpDownload, SurvivesSplitRepliesSlowPasswordChecksAndAForeignPassiveHost) {
    struct Case {
        const char* name;
        std::function<void(FakeFtpOptions&)> setUp;
        double maxSeconds = 2.0;
    };
    const Case cases[] = {
        {"multi-line greeting in pieces",
         [](FakeFtpOptions& o) {
             o.greeting = {"220-Welcome\r\n", "220-You are user 1\r\n", "220 Ready\r\n"};
         }},
        {"greeting line split inside", [](FakeFtpOptions& o) { o.greeting = {"22", "0 rea", "dy\r\n"}; }},
        {"PASV names another host", [](FakeFtpOptions& o) { o.pasvHost = "127,0,0,2"; }},
        {"PASV names a far host", [](FakeFtpOptions& o) { o.pasvHost = "10,255,255,1"; }},
        {"password checked under a slow hash",
         [](FakeFtpOptions& o) {
             o.answer = [](const std::string& verb, const std::string&) {
                 if (verb == "PASS") std::this_thread::sleep_for(std::chrono::milliseconds(5500));
                 return std::string();
             };
         },
         6.5},
    };
    for (const Case& c : cases) {
        FakeFtpOptions options;
        c.setUp(options);
        FakeFtpServer server(options);
        TempDir dir;
        CNetworkFTP ftp;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ftp.Download(UrlOf(server), dir.File("f"), false, nullptr), ftp_result::kOk) << c.name;
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                  c.maxSeconds)
            << c.name;
        EXPECT_EQ(ReadTextFile(dir.File("f")), kTen) << c.name;
    }
}

TEST(FtpDownload, SilenceTimesOutAndAStopEndsTheWaitEarly) {
    FakeFtpOptions options;
    options.silent = true;
    {
        FakeFtpServer server(options);
        CNetworkFTP ftp;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ftp.Download(UrlOf(server), "", true, nullptr), ftp_result::kNoControl);
        std::string content;
        EXPECT_EQ(ftp.Download(UrlOf(server), "", true, &content), ftp_result::kGreeting);
        EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 4.8);
    }
    FakeFtpServer server(options);
    CNetworkFTP ftp;
    std::thread other([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ftp.Cancel();
    });
    const auto start = std::chrono::steady_clock::now();
    std::string content;
    EXPECT_EQ(ftp.Download(UrlOf(server), "", true, &content), ftp_result::kGreeting);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0);
    other.join();
}

}  // namespace
