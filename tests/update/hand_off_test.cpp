#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "support/test_support.h"
#include "update/install/hand_off.h"

namespace {

// "更新\乗.dat": the GBK form of 乗 (0x81 0x5C) ends in the byte of "\".
const char kChineseName[] = "\xE6\x9B\xB4\xE6\x96\xB0\\\xE4\xB9\x97.dat";
const char kChineseNameGbk[] = "\xB8\xFC\xD0\xC2\\\x81\x5C.dat";

HandOffPlan WorkedExample() {
    HandOffPlan plan;
    plan.moves.push_back({"C:\\Game\\_temp\\Root\\Vantorel_Data\\a.dat",
                          "C:\\Game\\Vantorel_Data\\a.dat"});
    plan.deletes.push_back("C:\\Game\\Vantorel_Data\\old.dat");
    return plan;
}

TEST(HandOff, FormatsMovesThenDeletionsEachEndedByLineFeed) {
    EXPECT_EQ(FormatHandOff(WorkedExample()),
              "C:\\Game\\_temp\\Root\\Vantorel_Data\\a.dat\tC:\\Game\\Vantorel_Data\\a.dat\n"
              "DEL=C:\\Game\\Vantorel_Data\\old.dat\n");
    EXPECT_EQ(FormatHandOff(HandOffPlan{}), "");
    EXPECT_EQ(FormatInstallerParameters("C:\\Game\\udo.temp"), "\"1\"\t\"C:\\Game\\udo.temp\"");
}

TEST(HandOff, ParsesWhatItFormatsAndToleratesCrLfAndEmptyLines) {
    HandOffPlan plan;
    std::string error;
    ASSERT_TRUE(ParseHandOff(FormatHandOff(WorkedExample()), &plan, &error)) << error;
    ASSERT_EQ(plan.moves.size(), 1u);
    EXPECT_EQ(plan.moves[0].from, WorkedExample().moves[0].from);
    EXPECT_EQ(plan.moves[0].to, WorkedExample().moves[0].to);
    EXPECT_EQ(plan.deletes, WorkedExample().deletes);

    ASSERT_TRUE(ParseHandOff("a\tb\r\n\nDEL=c\r\n", &plan, &error)) << error;
    ASSERT_EQ(plan.moves.size(), 1u);
    EXPECT_EQ(plan.moves[0].to, "b");
    EXPECT_EQ(plan.deletes, std::vector<std::string>{"c"});
    ASSERT_TRUE(ParseHandOff("", &plan, &error));
    EXPECT_TRUE(plan.IsEmpty());
}

TEST(HandOff, RefusesMalformedOrCutFiles) {
    const std::string longPath(kMaxHandOffPathBytes + 1, 'x');
    struct Case {
        std::string text;
        const char* reason;
    };
    const Case cases[] = {
        {"a\tb\nDEL=c", "cut"},
        {"a\tb", "cut"},
        {"a\tb\tc\n", "tab"},
        {"ab\n", "tab"},
        {"\tb\n", "empty"},
        {"a\t\n", "empty"},
        {"DEL=\n", "deletion"},
        {"DEL=c\na\tb\n", "after the deletions"},
        {"a\t" + longPath + "\n", "overlong"},
        {"a\tb\r\r\n", "empty or overlong"},  // a CR inside a path
    };
    for (const Case& c : cases) {
        HandOffPlan plan;
        plan.deletes.push_back("stale");
        std::string error;
        EXPECT_FALSE(ParseHandOff(c.text, &plan, &error)) << c.text;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << " -> " << error;
        EXPECT_TRUE(plan.deletes.empty() || plan.deletes[0] != "stale");
    }
    std::string tooBig(kMaxHandOffBytes + 1, '\n');
    HandOffPlan plan;
    std::string error;
    EXPECT_FALSE(ParseHandOff(tooBig, &plan, &error));
    EXPECT_NE(error.find("larger"), std::string::npos);
}

TEST(HandOff, StoresGbkInTheFileAndUtf8Inside) {
    HandOffPlan plan;
    plan.moves.push_back({std::string("C:\\G\\_temp\\R\\") + kChineseName,
                          std::string("C:\\G\\") + kChineseName});
    std::string gbk;
    std::string error;
    ASSERT_TRUE(EncodeHandOff(plan, &gbk, &error)) << error;
    EXPECT_EQ(gbk, std::string("C:\\G\\_temp\\R\\") + kChineseNameGbk + "\tC:\\G\\" +
                       kChineseNameGbk + "\n");
    HandOffPlan back;
    ASSERT_TRUE(DecodeHandOff(gbk, &back, &error)) << error;
    ASSERT_EQ(back.moves.size(), 1u);
    EXPECT_EQ(back.moves[0].to, plan.moves[0].to);

    EXPECT_FALSE(DecodeHandOff("a\t\x81\n", &back, &error));  // a lead byte without its trail
    EXPECT_NE(error.find("GBK"), std::string::npos);
    for (const char* name : {"게임", "Ñandú", "🎮 game"}) {
        plan.moves[0].to = std::string("C:\\") + name + "\\a.dat";
        ASSERT_TRUE(EncodeHandOff(plan, &gbk, &error)) << name << ": " << error;
        EXPECT_EQ(gbk, std::string(kHandOffUtf8Marker) + "\n" + FormatHandOff(plan)) << name;
        ASSERT_TRUE(DecodeHandOff(gbk, &back, &error)) << name << ": " << error;
        EXPECT_EQ(back.moves[0].to, plan.moves[0].to) << name;
    }
    EXPECT_FALSE(DecodeHandOff(std::string(kHandOffUtf8Marker) + "\na\t\xB8\xFC\n", &back, &error));
    plan.moves[0].to = "C:\\G\\\xB8\xFC.dat";  // not UTF-8
    EXPECT_FALSE(EncodeHandOff(plan, &gbk, &error));
    plan.moves[0].to = "C:\\G\\a\tb";
    EXPECT_FALSE(EncodeHandOff(plan, &gbk, &error));
    plan.moves[0] = {"DEL=x", "C:\\G\\a"};
    EXPECT_FALSE(EncodeHandOff(plan, &gbk, &error));
}

TEST(HandOff, WritesTheFileWholeAndReadsItBack) {
    TempDir dir;
    const std::string path = dir.File("udo.temp");
    std::string error;
    ASSERT_TRUE(WriteHandOffFile(path, WorkedExample(), &error)) << error;
    EXPECT_FALSE(fs_port::PathExists(path + ".part"));
    HandOffPlan plan;
    ASSERT_TRUE(ReadHandOffFile(path, &plan, &error)) << error;
    EXPECT_EQ(plan.deletes, WorkedExample().deletes);
    EXPECT_FALSE(ReadHandOffFile(dir.File("missing.temp"), &plan, &error));
}

TEST(HandOff, FindsTheHandOffPathInTheInstallerArguments) {
    struct Case {
        std::vector<std::string> arguments;
        const char* path;
    };
    const Case cases[] = {
        {{"1", "C:\\Game\\udo.temp"}, "C:\\Game\\udo.temp"},
        {{"\"1\"\t\"C:\\Game\\udo.temp\""}, "C:\\Game\\udo.temp"},
        {{"1\tC:\\My Game\\udo.temp"}, "C:\\My Game\\udo.temp"},
        {{"\"C:\\Game\\udo.temp\" "}, "C:\\Game\\udo.temp"},
        {{"C:\\Game\\udo.temp", "1"}, "C:\\Game\\udo.temp"},
        {{"1"}, ""},
        {{}, ""},
        {{"\"\""}, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HandOffPathFromArguments(c.arguments), c.path);
    }
}

}  // namespace
