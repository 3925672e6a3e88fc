#include <gtest/gtest.h>

#include "update/engine/version_list.h"

namespace {

struct ChoiceCase {
    const char* name;
    const char* list;
    int32_t installed;
    VersionListParse parse;
    VersionChoice choice;
    int32_t target;     // when a target is chosen
    int32_t mandatory;  // of that target
    const char* pin = "";  // its manifest's digest
};

TEST(VersionList, ParsesAndChoosesOneStep) {
    const ChoiceCase cases[] = {
        {"next step, not newest", "1.0.0.1\t0\t0\n1.0.0.2\t0\t0\n1.0.0.3\t0\t0\n", 1001,
         VersionListParse::Ok, VersionChoice::Target, 1002, 0},
        {"descending order", "1.0.0.3\t0\t0\n1.0.0.2\t1\t0\n1.0.0.1\t0\t0\n", 1001,
         VersionListParse::Ok, VersionChoice::Target, 1002, 1},
        {"mixed order", "1.0.0.2\t0\t0\n1.0.0.3\t0\t0\n1.0.0.1\t0\t0\n", 1002, VersionListParse::Ok,
         VersionChoice::Target, 1003, 0},
        {"installed not listed takes newest", "1.0.0.2\t0\t0\n1.0.0.3\t0\t0\n", 1000,
         VersionListParse::Ok, VersionChoice::Target, 1003, 0},
        {"installed is newest", "1.0.0.1\t0\t0\n1.0.0.2\t0\t0\n1.0.0.3\t0\t0\n", 1003,
         VersionListParse::Ok, VersionChoice::UpToDate, 0, 0},
        {"installed above newest", "1.0.0.1\t0\t0\n1.0.0.3\t0\t0\n", 1004, VersionListParse::Ok,
         VersionChoice::UpToDate, 0, 0},
        {"CRLF and final line end", "1.0.0.1\t0\t0\r\n1.0.0.2\t1\t7\r\n", 1001, VersionListParse::Ok,
         VersionChoice::Target, 1002, 1},
        {"one line without line end has no lines", "1.0.0.2\t0\t0", 1001, VersionListParse::NoLines,
         VersionChoice::UpToDate, 0, 0},
        {"lines without tabs", "1.0.0.2\n1.0.0.3\n", 1001, VersionListParse::NoEntries,
         VersionChoice::UpToDate, 0, 0},
        {"two fields are skipped", "1.0.0.2\t1\n1.0.0.3\t0\t0\n", 1000, VersionListParse::Ok,
         VersionChoice::Target, 1003, 0},
        {"1.0.10.0 equals 1.1.0.0", "1.0.10.0\t0\t0\n", 1100, VersionListParse::Ok,
         VersionChoice::UpToDate, 0, 0},
        {"installed listed twice still steps up", "1.0.0.1\t0\t0\n1.0.0.1\t0\t0\n1.0.0.2\t0\t0\n", 1001,
         VersionListParse::Ok, VersionChoice::Target, 1002, 0},
        {"fields after the pin ignored", "1.0.0.2\t1\t3\tx\ty\n", 1000, VersionListParse::Ok,
         VersionChoice::Target, 1002, 1, "x"},
        {"pin of the target, not of another line", "1.0.0.1\t0\t0\t1a\n1.0.0.2\t0\t0\t 2b \r\n1.0.0.3\t0\t0\t3c\n", 1001,
         VersionListParse::Ok, VersionChoice::Target, 1002, 0, "2b"},
    };
    for (const ChoiceCase& c : cases) {
        std::vector<VersionEntry> entries;
        ASSERT_EQ(ParseVersionList(c.list, &entries), c.parse) << c.name;
        if (c.parse != VersionListParse::Ok) continue;
        for (size_t i = 1; i < entries.size(); ++i) EXPECT_GE(entries[i - 1].nVersion, entries[i].nVersion) << c.name;
        VersionEntry target;
        ASSERT_EQ(ChooseTarget(entries, c.installed, &target), c.choice) << c.name;
        if (c.choice != VersionChoice::Target) continue;
        EXPECT_EQ(target.nVersion, c.target) << c.name;
        EXPECT_EQ(target.nMandatory, c.mandatory) << c.name;
        EXPECT_EQ(target.manifestSha256, c.pin) << c.name;
        EXPECT_GT(target.nVersion, c.installed) << c.name;
    }
}

// Every byte but the pinned version's fourth field stays, so that the list
// still reads the same in launchers of every age.
TEST(VersionList, PinSetsTheFourthFieldOfOneVersion) {
    // A list, and the same with 1.0.0.2 pinned to "P": CRLF lines; an earlier pin and a later field; a
    // byte-order mark, 1.0.0.2 twice and blanks; lines the parser skips.
    const char* const cases[][2] = {
        {"1.0.0.1\t0\t0\r\n1.0.0.2\t1\t0\r\n", "1.0.0.1\t0\t0\r\n1.0.0.2\t1\t0\tP\r\n"},
        {"1.0.0.2\t0\t0\t old \tx\n", "1.0.0.2\t0\t0\tP\tx\n"},
        {"\xEF\xBB\xBF" "1.0.0.2\t0\t0\n 1.0.0.2 \t0\t0 \t\n", "\xEF\xBB\xBF" "1.0.0.2\t0\t0\tP\n 1.0.0.2 \t0\t0\tP \t\n"},
        {"1.0.0.2\t0\n1.0.0.20\t0\t0", "1.0.0.2\t0\n1.0.0.20\t0\t0"},
    };
    for (const auto& c : cases) EXPECT_EQ(PinManifest(c[0], 1002, "P"), c[1]) << c[0];
}

TEST(VersionList, LeadingNumberHoldsAtTheLimits) {
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {{"0", 0}, {" 12x", 12}, {"-3", -3}, {"+7", 7}, {"abc", 0}, {"", 0},
                 {"99999999999999999999", 2147483647}, {"-99999999999999999999", -2147483647 - 1}};
    for (const auto& c : cases) EXPECT_EQ(LeadingNumber(c.text), c.value) << c.text;
}

}  // namespace
