#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text_encoding.h"

namespace {

constexpr size_t kNone = std::string_view::npos;

// Two-byte GBK characters that both sides decode: 126 lead bytes times 190
// trail bytes, less the 2149 codes of the user-defined areas.
constexpr int kDecodableDoubleByteCount = 126 * 190 - 2149;

std::string Hex(std::string_view bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

}  // namespace

TEST(GbkText, EveryDoubleByteCharacterRoundTripsByteForByte) {
    int decoded = 0;
    std::string allGbk;
    std::string allUtf8;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F) continue;
            const std::string gbk{static_cast<char>(lead), static_cast<char>(trail)};
            std::string utf8;
            size_t offset = kNone;
            if (!GbkToUtf8(gbk, &utf8, &offset)) {
                EXPECT_EQ(offset, 0u) << Hex(gbk);
                EXPECT_TRUE(utf8.empty()) << Hex(gbk);
                continue;
            }
            ++decoded;
            // One character of the basic plane outside the private use area.
            ASSERT_TRUE(IsValidUtf8(utf8)) << Hex(gbk);
            ASSERT_TRUE(utf8.size() == 2 || utf8.size() == 3) << Hex(gbk) << " -> " << Hex(utf8);
            EXPECT_FALSE(utf8.size() == 3 && utf8[0] == '\xEE') << Hex(gbk) << " -> " << Hex(utf8);
            std::string back;
            ASSERT_TRUE(Utf8ToGbk(utf8, &back)) << Hex(gbk) << " -> " << Hex(utf8);
            EXPECT_EQ(Hex(back), Hex(gbk));
            allGbk += gbk;
            allUtf8 += utf8;
        }
    }
    EXPECT_EQ(decoded, kDecodableDoubleByteCount);

    // The same characters in one piece, with single bytes between, through
    // the bulk path and its output sizing.
    allGbk += "ascii \x80 end";
    allUtf8 += "ascii \xE2\x82\xAC end";
    std::string utf8;
    ASSERT_TRUE(GbkToUtf8(allGbk, &utf8));
    EXPECT_TRUE(utf8 == allUtf8);
    std::string gbk;
    ASSERT_TRUE(Utf8ToGbk(allUtf8, &gbk));
    EXPECT_TRUE(gbk == allGbk);
}

TEST(GbkText, KnownCharactersMapAlikeOnBothSides) {
    struct Case {
        std::string gbk;
        std::string utf8;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"plain ASCII 0-9 \t\r\n", "plain ASCII 0-9 \t\r\n"},
        {std::string("nul\0inside", 10), std::string("nul\0inside", 10)},
        {"\xD6\xD0\xCE\xC4", "中文"},
        {"\xB1\xED", "表"},
        {"\x80", "\xE2\x82\xAC"},          // euro sign in code page 936
        {"\xA1\xA4", "\xC2\xB7"},          // middle dot
        {"\xA1\xAA", "\xE2\x80\x94"},      // em dash
        {"\xA8\x44", "\xE2\x80\x95"},      // horizontal bar
        {"\xA8\xB9", "\xC3\xBC"},          // u with diaeresis
        {"\x81\x5C\xE5\x5C", "乗錦"},      // second byte is a back-slash
        {"\xC6\xF4\xB6\xAF\xC6\xF7\x2E\x65\x78\x65", "启动器.exe"},
    };
    for (const Case& c : cases) {
        std::string utf8;
        ASSERT_TRUE(GbkToUtf8(c.gbk, &utf8)) << Hex(c.gbk);
        EXPECT_EQ(Hex(utf8), Hex(c.utf8));
        std::string gbk;
        ASSERT_TRUE(Utf8ToGbk(c.utf8, &gbk)) << Hex(c.utf8);
        EXPECT_EQ(Hex(gbk), Hex(c.gbk));
    }
}

TEST(GbkText, InvalidGbkReportsWhereTheBadSequenceStarts) {
    struct Case {
        std::string gbk;
        size_t offset;
    };
    const std::vector<Case> cases = {
        {"\x81", 0},                  // lone lead byte at the end
        {"ab\xD6", 2},
        {"\xD6\xD0\xCE", 2},
        {"\xD6\xD0\x81\x20", 2},      // trail byte below 0x40
        {"x\x81\x7F", 1},             // 0x7F is never a trail byte
        {"\x81\xFF", 0},              // neither is 0xFF
        {"\xD6\xD0\xFF", 2},          // 0xFF is no character at all
        {"a\xAA\xA1", 1},             // user-defined area
        {"\xA1\x40", 0},              // user-defined area
        {"\xF8\xFE zz", 0},           // user-defined area
        {"ok\xD6\xD0\xCE\xC4\xFE\xFE", 6},
    };
    for (const Case& c : cases) {
        std::string utf8 = "stale";
        size_t offset = kNone;
        EXPECT_FALSE(GbkToUtf8(c.gbk, &utf8, &offset)) << Hex(c.gbk);
        EXPECT_EQ(offset, c.offset) << Hex(c.gbk);
        EXPECT_TRUE(utf8.empty()) << Hex(c.gbk);
    }
}

TEST(GbkText, InvalidOrUnmappableUtf8ReportsWhereItStarts) {
    struct Case {
        const char* name;
        std::string utf8;
        size_t offset;
        bool wellFormed;  // only unmappable, not broken
    };
    const std::vector<Case> cases = {
        {"overlong NUL", "\xC0\x80", 0, false},
        {"overlong slash", "ab\xC1\xAF", 2, false},
        {"overlong three bytes", "\xE0\x80\xAF", 0, false},
        {"overlong four bytes", "x\xF0\x80\x80\xAF", 1, false},
        {"high surrogate", "\xED\xA0\x80", 0, false},
        {"low surrogate after text", "中\xED\xBF\xBF", 3, false},
        {"above U+10FFFF", "\xF4\x90\x80\x80", 0, false},
        {"lead byte 0xF5", "\xF5\x80\x80\x80", 0, false},
        {"stray continuation", "a\x80", 1, false},
        {"truncated at end", "中\xE4\xB8", 3, false},
        {"truncated before ASCII", "\xE4\xB8" "a", 0, false},
        {"0xFE byte", "\xFE", 0, false},
        {"emoji", "ok\xF0\x9F\x98\x80", 2, true},
        {"tag character glibc would drop", "a\xF3\xA0\x80\x81" "b", 1, true},
        {"private use area", "中\xEE\x80\x80", 3, true},
        {"hangul", "x\xEA\xB0\x80", 1, true},
        {"A with macron", "\xC4\x80", 0, true},
    };
    for (const Case& c : cases) {
        std::string gbk = "stale";
        size_t offset = kNone;
        EXPECT_FALSE(Utf8ToGbk(c.utf8, &gbk, &offset)) << c.name;
        EXPECT_EQ(offset, c.offset) << c.name;
        EXPECT_TRUE(gbk.empty()) << c.name;
        EXPECT_EQ(IsValidUtf8(c.utf8), c.wellFormed) << c.name;
        EXPECT_EQ(FirstInvalidUtf8Offset(c.utf8), c.wellFormed ? kNone : c.offset) << c.name;
    }
}

TEST(GbkText, PathSplitOnBackslashKeepsCharactersWithTrailByte5CWhole) {
    // "游戏\乗錦\存档.dat": both characters of the middle folder end in 0x5C.
    const std::string gbk = "\xD3\xCE\xCF\xB7\\\x81\x5C\xE5\x5C\\\xB4\xE6\xB5\xB5.dat";
    std::string utf8;
    ASSERT_TRUE(GbkToUtf8(gbk, &utf8));
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t sep; (sep = utf8.find('\\', start)) != std::string::npos; start = sep + 1) {
        parts.push_back(utf8.substr(start, sep - start));
    }
    parts.push_back(utf8.substr(start));
    const std::vector<std::string> expected = {"游戏", "乗錦", "存档.dat"};
    EXPECT_EQ(parts, expected);
}

TEST(Utf8Text, PrefixLengthNeverCutsInsideACharacter) {
    // a (1 byte) 中 (3) b (1) 😀 (4) stray 0x80 (1) c (1)
    const std::string text = "a中b\xF0\x9F\x98\x80\x80" "c";
    struct Case {
        size_t maxBytes;
        size_t expected;
    };
    const std::vector<Case> cases = {
        {0, 0}, {1, 1}, {2, 1}, {3, 1}, {4, 4}, {5, 5}, {6, 5}, {8, 5},
        {9, 9}, {10, 10}, {11, 11}, {12, 11}, {1000, 11},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf8PrefixLength(text, c.maxBytes), c.expected) << c.maxBytes;
    }
    // Over a longer text: every cut is valid and as long as possible.
    const std::string mixed = "启动器 v1.2 — 更新完成 ✓ \xF0\x9F\x8E\xAE end";
    for (size_t max = 0; max <= mixed.size(); ++max) {
        const size_t len = Utf8PrefixLength(mixed, max);
        ASSERT_LE(len, max);
        EXPECT_TRUE(IsValidUtf8(mixed.substr(0, len))) << max;
        if (len < mixed.size()) {
            EXPECT_GT(len + Utf8SequenceLength(mixed, len), max) << max;
        }
    }
}
