#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "net/ftp_reply.h"

namespace {

TEST(FtpUrl, SplitsServerDirectoryAndFileOrRefusesUnusableUrls) {
    struct Case {
        std::string url;
        bool ok;
        std::string host;
        int port;
        std::string dir;
        std::string file;
    };
    const Case cases[] = {
        {"ftp://10.0.0.5:2121\\versionlist.data", true, "10.0.0.5", 2121, "", "versionlist.data"},
        {"ftp://10.0.0.5\\versionlist.data", true, "10.0.0.5", 21, "", "versionlist.data"},
        {"ftp://10.0.0.5:21\\1002\\pack1.zip", true, "10.0.0.5", 21, "\\1002", "pack1.zip"},
        {"ftp://1.2.3.4:21\\a\\b\\c.bin", true, "1.2.3.4", 21, "\\a\\b", "c.bin"},
        {"ftp://10.0.0.5:2121", false, "", 0, "", ""},        // no back-slash after the server
        {"ftp://10.0.0.5:2121\\dir\\", false, "", 0, "", ""},  // no file name
        {"ftp://\\file", false, "", 0, "", ""},
        {"ftp://10.0.0.5:0\\f", false, "", 0, "", ""},
        {"ftp://10.0.0.5:70000\\f", false, "", 0, "", ""},
        {"ftp://10.0.0.5:port\\f", false, "", 0, "", ""},
        {"ftp://123456789012345678901234567890\\f", false, "", 0, "", ""},  // 30 characters
        {"ftp://1.2.3.4\\f\r\nDELE x", false, "", 0, "", ""},
        {"ftp:/", false, "", 0, "", ""},
    };
    for (const Case& c : cases) {
        FtpUrl url;
        EXPECT_EQ(ParseFtpUrl(c.url, &url), c.ok) << c.url;
        if (c.ok) {
            EXPECT_EQ(url.host, c.host) << c.url;
            EXPECT_EQ(url.port, c.port) << c.url;
            EXPECT_EQ(url.remoteDir, c.dir) << c.url;
            EXPECT_EQ(url.remoteFile, c.file) << c.url;
        }
    }
}

TEST(FtpUrl, SendsTheTopFolderAsSlashAndBackSlashesAsSlashes) {
    EXPECT_EQ(CwdArgument(""), "/");
    EXPECT_EQ(CwdArgument("\\1002"), "/1002");
    EXPECT_EQ(CwdArgument("\\a\\b"), "/a/b");
}

TEST(FtpReplyReader, TakesWholeRepliesOneAtATime) {
    struct Case {
        const char* name;
        std::string pending;
        ReplyScan scan;
        int code;
        std::string text;
        std::string left;
    };
    const std::string longLine(kMaxFtpReplyBytes + 1, 'x');
    const Case cases[] = {
        {"single line", "220 ready\r\n", ReplyScan::kComplete, 220, "220 ready\r\n", ""},
        {"two in one piece", "150 open\r\n226 done\r\n", ReplyScan::kComplete, 150, "150 open\r\n",
         "226 done\r\n"},
        {"line not ended", "220 rea", ReplyScan::kIncomplete, 0, "", "220 rea"},
        {"multi-line", "220-Welcome\r\n220-second\r\n220 end\r\n", ReplyScan::kComplete, 220,
         "220-Welcome\r\n220-second\r\n220 end\r\n", ""},
        {"multi-line still open", "220-Welcome\r\n220-more\r\n", ReplyScan::kIncomplete, 0, "",
         "220-Welcome\r\n220-more\r\n"},
        {"inner line with other code", "211-Features\r\n 213 SIZE\r\n211 End\r\n", ReplyScan::kComplete,
         211, "211-Features\r\n 213 SIZE\r\n211 End\r\n", ""},
        {"bare code ends multi-line", "230-hello\r\n230\r\nX", ReplyScan::kComplete, 230,
         "230-hello\r\n230\r\n", "X"},
        {"no leading number", "hello\r\n", ReplyScan::kComplete, -1, "hello\r\n", ""},
        {"line feed only", "250 ok\n", ReplyScan::kComplete, 250, "250 ok\n", ""},
        {"flood without line end", longLine, ReplyScan::kTooLong, 0, "", longLine},
    };
    for (const Case& c : cases) {
        std::string pending = c.pending;
        FtpReply reply;
        EXPECT_EQ(TakeReply(&pending, &reply), c.scan) << c.name;
        if (c.scan == ReplyScan::kComplete) {
            EXPECT_EQ(reply.code, c.code) << c.name;
            EXPECT_EQ(reply.text, c.text) << c.name;
        }
        EXPECT_EQ(pending, c.left) << c.name;
    }
}

TEST(FtpPasv, ReadsTheParenthesisedAddressAndPort) {
    struct Case {
        std::string reply;
        bool ok;
        std::string host;
        int port;
    };
    const Case cases[] = {
        {"227 Entering Passive Mode (10,0,0,5,19,137).\r\n", true, "10.0.0.5", 5001},
        {"227 Entering Passive Mode (127,0,0,1,0,21)\r\n", true, "127.0.0.1", 21},
        {"227 =(192,168,1,2,255,255)\r\n", true, "192.168.1.2", 65535},
        {"227 Entering Passive Mode 10,0,0,5,19,137\r\n", false, "", 0},
        {"227 (10,0,0,5,19,137\r\n", false, "", 0},
        {"227 )10,0,0,5,19,137(\r\n", false, "", 0},
        {"227 (10,0,0,5,19)\r\n", false, "", 0},
        {"227 (10,0,0,5,19,137,1)\r\n", false, "", 0},
        {"227 (10,0,0,256,19,137)\r\n", false, "", 0},
        {"227 (10,0,0,5,0,0)\r\n", false, "", 0},
        {"227 (10,0,0,5,-1,137)\r\n", false, "", 0},
        {"227 (" + std::string(80, '1') + ",0,0,1,0,21)\r\n", false, "", 0},
    };
    for (const Case& c : cases) {
        std::string host;
        int port = 0;
        EXPECT_EQ(ParsePasvReply(c.reply, &host, &port), c.ok) << c.reply;
        if (c.ok) {
            EXPECT_EQ(host, c.host) << c.reply;
            EXPECT_EQ(port, c.port) << c.reply;
        }
    }
}

TEST(FtpSize, ReadsTheSecondNumberWithinTheFileLimit) {
    struct Case {
        std::string reply;
        bool ok;
        int64_t size;
    };
    const Case cases[] = {
        {"213 1000\r\n", true, 1000},
        {"213 0\r\n", true, 0},
        {"213 2147483648\r\n", true, 2147483648},
        {"213 5368709120\r\n", true, 5368709120},
        {"213 9223372036854775807\r\n", true, INT64_MAX},
        {"213 9223372036854775808\r\n", false, 0},
        {"213 18446744073709551621\r\n", false, 0},
        {"213 -1\r\n", false, 0},
        {"213\r\n", false, 0},
        {"213 big\r\n", false, 0},
    };
    for (const Case& c : cases) {
        int64_t size = -1;
        EXPECT_EQ(ParseSizeReply(c.reply, &size), c.ok) << c.reply;
        if (c.ok) {
            EXPECT_EQ(size, c.size) << c.reply;
        }
    }
}

TEST(FtpTime, ReadsOnlyAnMdtmTimeOfTheRightShape) {
    const std::pair<std::string, std::string> cases[] = {  // reply, time ("" refused)
        {"213 20240102030405\r\n", "20240102030405"}, {"213 20240102030405.123\n", "20240102030405.123"},
        {"213 2024010203040\r\n", ""}, {"213 202401020304050\r\n", ""}, {"213 20240102030405.\r\n", ""},
        {"213 20240102030405.1234567890\r\n", ""}, {"213 20240102030405 \x1b[2J\r\n", ""},
        {"550 20240102030405\r\n", ""},
    };
    for (const auto& c : cases) {
        std::string time;
        EXPECT_EQ(ParseTimeReply(c.first, &time), !c.second.empty()) << c.first;
        EXPECT_EQ(time, c.second) << c.first;
    }
}

}  // namespace
