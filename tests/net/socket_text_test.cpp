#include <gtest/gtest.h>

#include <string>

#include "net/network_socket.h"

namespace {

TEST(ReplyCode, OnlyTheLeadingNumberCounts) {
    struct Case {
        std::string reply;
        int code;
    };
    const Case cases[] = {
        {"220 ready\r\n", 220},
        {"220-first line of many\r\n", 220},
        {"  331 password\r\n", 331},
        {"230", 230},
        {"ready 220\r\n", -1},
        {"\r\n", -1},
        {"", -1},
        {"99999999999 x\r\n", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseReplyCode(c.reply.data(), c.reply.size()), c.code) << c.reply;
    }
    const char zeroed[8] = {'2', '5', '0', 0, '9', '9', 0, 0};
    EXPECT_EQ(ParseReplyCode(zeroed, sizeof zeroed), 250);
}

TEST(DottedAddress, AcceptsOnlyFourDecimalPartsUpTo255) {
    struct Case {
        std::string text;
        bool ok;
        uint32_t address;
    };
    const Case cases[] = {
        {"127.0.0.1", true, 0x7F000001u},
        {"255.255.255.255", true, 0xFFFFFFFFu},
        {"0.0.0.0", true, 0},
        {"10.0.0", false, 0},
        {"10.0.0.256", false, 0},
        {"10.0.0.1.", false, 0},
        {"10.0.0.1 ", false, 0},
        {"0x7f.0.0.1", false, 0},
        {"1000.0.0.1", false, 0},
        {"localhost", false, 0},
        {"", false, 0},
    };
    for (const Case& c : cases) {
        uint32_t address = 0;
        EXPECT_EQ(ParseDottedIpv4(c.text, &address), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(address, c.address) << c.text;
        }
    }
}

TEST(HostAndPort, TakesThePortAfterTheColonAndKeeps80Otherwise) {
    struct Case {
        std::string text;
        bool ok;
        std::string name;
        int port;
    };
    const std::string longName(256, 'n');
    const Case cases[] = {
        {"update.example.com:8080", true, "update.example.com", 8080},
        {"update.example.com", true, "update.example.com", 80},
        {"update.example.com:", true, "update.example.com", 80},
        {"update.example.com:http", true, "update.example.com", 80},
        {"host:0", false, "", 80},
        {"host:65536", false, "", 80},
        {"host:-1", false, "", 80},
        {":8080", false, "", 80},
        {"", false, "", 80},
        {std::string(255, 'n'), true, std::string(255, 'n'), 80},
        {longName, false, "", 80},
        {longName + ":81", false, "", 80},
    };
    for (const Case& c : cases) {
        std::string name;
        int port = 0;
        EXPECT_EQ(SplitHostPort(c.text, &name, &port), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(name, c.name) << c.text;
            EXPECT_EQ(port, c.port) << c.text;
        }
    }
}

}  // namespace
