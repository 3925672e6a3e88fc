#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "app/util/launcher_util.h"

namespace {

using Pieces = std::vector<std::string>;

struct SplitCase {
    const char* text;
    const char* separator;
    Pieces expected;
};

// Fills the list with junk first: every call must start from an empty list.
Pieces Split(void (*split)(const std::string&, const std::string&, Pieces*),
             const SplitCase& c) {
    Pieces pieces = {"left over"};
    split(c.text, c.separator, &pieces);
    return pieces;
}

}  // namespace

TEST(SplitText, CutsAtEverySeparatorExceptALeadingOne) {
    const SplitCase cases[] = {
        {"a\nb", "\n", {"a", "b"}},
        {"a", "\n", {}},  // no separator: no pieces, even for a non-empty text
        {"", "\n", {}},
        {"a\r\n\r\nb", "\n", {"a", "", "b"}},  // blank lines stay, "\r" is trimmed
        {"x;y;z", ";", {"x", "y", "z"}},
        {"\na\nb", "\n", {"a", "b"}},    // a leading blank line is not counted
        {"\na", "\n", {"a"}},            // only a leading separator
        {"\n", "\n", {""}},
        {"\n\nb", "\n", {"", "b"}},      // the second separator does cut
        {"a\n", "\n", {"a", ""}},        // the text after the last separator
        {"a\n\n", "\n", {"a", "", ""}},
        {" 1.0.0.1 \t pkg.zip\t x ", "\t", {"1.0.0.1", "pkg.zip", "x"}},
        {"a<>b<>c", "<>", {"a", "b", "c"}},      // separators longer than one byte
        {"<>a<>b", "<>", {"a", "b"}},
        {"a<><>b", "<>", {"a", "", "b"}},
        {"abc", "", {}},                          // an empty separator cuts nothing
        {"版本\t更新", "\t", {"版本", "更新"}},   // UTF-8 text is cut at the separator only
    };
    for (const SplitCase& c : cases) {
        EXPECT_EQ(Split(SplitText, c), c.expected) << "text \"" << c.text << "\"";
    }
}

TEST(SplitAtFirst, CutsOnlyAtTheFirstSeparatorAfterTheFirstCharacter) {
    const SplitCase cases[] = {
        {"key=value", "=", {"key", "value"}},
        {"key=", "=", {"key", ""}},
        {"=value", "=", {"value"}},      // a separator in front never cuts
        {"key", "=", {}},
        {"", "=", {}},
        {"=", "=", {""}},
        {"a=b=c", "=", {"a", "b=c"}},    // later separators stay in the value
        {"=a=b", "=", {"=a", "b"}},      // the first cut is searched from the second character
        {" HomePage = http://x/?a=1 \r", "=", {"HomePage", "http://x/?a=1"}},
        {"k==v", "=", {"k", "=v"}},
        {"k::v::w", "::", {"k", "v::w"}},
        {"value", "", {}},
    };
    for (const SplitCase& c : cases) {
        EXPECT_EQ(Split(SplitAtFirst, c), c.expected) << "text \"" << c.text << "\"";
    }
}

TEST(TrimText, RemovesSpacesTabsAndLineEndsAtBothEndsOnly) {
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"", ""},
        {" \t\r\n", ""},
        {"\r\n a b \t", "a b"},
        {"a\t\tb", "a\t\tb"},
        {"\xE6\x9B\xB4\xE6\x96\xB0 ", "\xE6\x9B\xB4\xE6\x96\xB0"},  // multi-byte text untouched
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TrimText(c.text), c.expected) << "text \"" << c.text << "\"";
    }
}

TEST(GetFileNamePart, TakesTextAfterTheLastBackSlash) {
    const struct {
        const char* path;
        const char* expected;
    } cases[] = {
        {"data\\bin\\VantorelPath.exe", "VantorelPath.exe"},
        {"VantorelPath.exe", "VantorelPath.exe"},
        {"data\\", ""},
        {"", ""},
        {"C:\\game//Vantorel.exe", "game//Vantorel.exe"},  // only "\" separates
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetFileNamePart(c.path), c.expected) << "path \"" << c.path << "\"";
    }
}

TEST(VersionTextToNumber, ReadsFourNumbersLikeScanf) {
    const int32_t kMax = std::numeric_limits<int32_t>::max();
    const int32_t kMin = std::numeric_limits<int32_t>::min();
    const struct {
        const char* text;
        int32_t expected;
    } cases[] = {
        {"1.2.3.4", 1234},
        {"2.0.10.1", 2101},     // parts are weighted, not digits
        {"1.0.0.0", 1000},
        {"10.2.3.4", 10234},
        {"1.2", 1200},          // missing parts count as 0
        {"1", 1000},
        {"", 0},
        {"x.1.2.3", 0},         // nothing is read after a malformed part
        {"1.x.2.3", 1000},
        {"1..2.3", 1000},
        {" 1. 2.\t3.4", 1234},  // white space before a number is skipped
        {"1 .2.3.4", 1000},     // but not before a dot
        {"+1.2.3.4", 1234},
        {"-1.2.3.4", -766},
        {"1.2.3.4.5", 1234},    // text after the fourth number is ignored
        {"1.2.3.4abc", 1234},
        {"99999999999.0.0.0", kMax},   // saturates instead of overflowing
        {"2147483.647.0.0", kMax},
        {"4294967296.0.0.0", kMax},    // would wrap to 0 in 32 bits
        {"1.4294967296.0.0", kMax},
        {"99999999999999999999999.0.0.0", kMax},
        {"-99999999999.0.0.0", kMin},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VersionTextToNumber(c.text), c.expected) << "text \"" << c.text << "\"";
    }
    EXPECT_EQ(VersionTextToNumber(nullptr), 0);
}

TEST(VersionNumberToText, PutsADotBeforeEachOfTheLastThreeDigits) {
    const struct {
        int32_t number;
        const char* expected;
    } cases[] = {
        {1234, "1.2.3.4"},
        {10234, "10.2.3.4"},
        {1000, "1.0.0.0"},
        {234, ".2.3.4"},
        {34, "34"},
        {7, "7"},
        {0, "0"},
        {-5, "-5"},
        {-34, "-34"},
        {-234, "-.2.3.4"},    // the sign stays in front of the dots
        {-1234, "-1.2.3.4"},
        {std::numeric_limits<int32_t>::max(), "2147483.6.4.7"},
        {std::numeric_limits<int32_t>::min(), "-2147483.6.4.8"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VersionNumberToText(c.number), c.expected) << "number " << c.number;
    }
}

TEST(VersionNumberToText, RoundTripsVersionsWithSingleDigitParts) {
    for (int32_t number : {1000, 1001, 1099, 1234, 9999, 12345, 100000}) {
        EXPECT_EQ(VersionTextToNumber(VersionNumberToText(number).c_str()), number);
    }
}
