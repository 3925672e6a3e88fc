#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "trust/release_manifest.h"

namespace {

const std::string kHex(64, 'a');
const std::string kHexB = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

}  // namespace

TEST(ReleaseManifest, ParsesLinesAndRefusesBadOnes) {
    const struct {
        const char* what;
        std::string text;
        size_t entries;  // 0 with ok false: refused
        bool ok;
    } cases[] = {
        {"empty", "", 0, true},
        {"one LF line", kHex + " 12 data1.pak\n", 1, true},
        {"CRLF and no final end", kHex + " 0 version.data\r\n" + kHexB + " 5 data2.pak", 2, true},
        {"name with spaces", kHex + " 1 my data.pak\n", 1, true},
        {"GBK name", kHex + " 1 \xD6\xD0\xCE\xC4.pak\n", 1, true},
        {"largest size", kHex + " 18446744073709551615 a\n", 1, true},
        {"size over 64 bits", kHex + " 18446744073709551616 a\n", 0, false},
        {"size with sign", kHex + " +1 a\n", 0, false},
        {"size with leading zero", kHex + " 01 a\n", 0, false},
        {"size not decimal", kHex + " 0x1 a\n", 0, false},
        {"upper-case hex", std::string(64, 'A') + " 1 a\n", 0, false},
        {"hex not hex", std::string(63, 'a') + "g 1 a\n", 0, false},
        {"short hex", std::string(63, 'a') + " 1 a\n", 0, false},
        {"two spaces", kHex + "  1 a\n", 0, false},
        {"no name", kHex + " 1 \n", 0, false},
        {"no size", kHex + " a\n", 0, false},
        {"empty line", kHex + " 1 a\n\n" + kHexB + " 1 b\n", 0, false},
        {"parent folder", kHex + " 1 ..\n", 0, false},
        {"separator", kHex + " 1 sub\\a.pak\n", 0, false},
        {"slash", kHex + " 1 sub/a.pak\n", 0, false},
        {"drive", kHex + " 1 C:a\n", 0, false},
        {"device name", kHex + " 1 con.txt\n", 0, false},
        {"trailing dot", kHex + " 1 a.\n", 0, false},
        {"duplicate in another case", kHex + " 1 Data1.pak\n" + kHexB + " 2 DATA1.PAK\n", 0, false},
        {"invalid GBK", kHex + " 1 \xFF\xFF\n", 0, false},
        {"line over the limit", kHex + " 1 " + std::string(kMaxManifestLineBytes, 'n') + "\n", 0, false},
    };
    for (const auto& c : cases) {
        std::vector<ManifestEntry> entries = {{"stale", 1, kHex}};
        EXPECT_EQ(ParseReleaseManifest(c.text, &entries), c.ok) << c.what;
        EXPECT_EQ(entries.size(), c.entries) << c.what;
    }
    std::string many;
    for (size_t i = 0; i <= kMaxManifestLines; ++i) many += kHex + " 1 f" + std::to_string(i) + "\n";
    std::vector<ManifestEntry> entries;
    EXPECT_FALSE(ParseReleaseManifest(many, &entries)) << "more lines than the limit";
}

TEST(ReleaseManifest, FormatsSortedByGbkBytesAndReadsBack) {
    const std::vector<ManifestEntry> entries = {
        {"\xE4\xB8\xAD.pak", 3, kHexB},  // 中: GBK D6 D0, after ASCII
        {"data1.pak", 1, kHex},
        {"data1 b.pak", 18446744073709551615ull, kHex},
        {"Data.pak", 0, kHexB},
    };
    const std::string text = FormatReleaseManifest(entries);
    EXPECT_EQ(text, kHexB + " 0 Data.pak\r\n" + kHex + " 18446744073709551615 data1 b.pak\r\n" +
                        kHex + " 1 data1.pak\r\n" + kHexB + " 3 \xD6\xD0.pak\r\n");
    std::vector<ManifestEntry> back;
    ASSERT_TRUE(ParseReleaseManifest(text, &back));
    ASSERT_EQ(back.size(), 4u);
    EXPECT_EQ(back[3].name, entries[0].name);
    EXPECT_EQ(back[1].size, entries[2].size);

    const std::vector<std::vector<ManifestEntry>> refused = {
        {{"\xF0\x9F\x98\x80.pak", 1, kHex}},       // not in GBK
        {{"a", 1, kHex}, {"A", 2, kHex}},          // one file on Windows
        {{"a", 1, std::string(64, 'F')}},
        {{"../a", 1, kHex}},
    };
    for (const auto& bad : refused) {
        std::string out = "untouched";
        EXPECT_FALSE(TryFormatReleaseManifest(bad, &out)) << bad[0].name;
        EXPECT_EQ(out, "untouched");
        EXPECT_EQ(FormatReleaseManifest(bad), "");
    }
}

TEST(ReleaseManifest, ParsesTrustedCommentsStrictly) {
    const struct {
        std::string text;
        bool listOk;
        ListComment list;
        bool manifestOk;
        ManifestComment manifest;
    } cases[] = {
        {"vantorel serial=5 expires=1900000000", true, {5, 1900000000}, false, {}},
        {"vantorel expires=9 serial=18446744073709551615", true, {18446744073709551615ull, 9}, false, {}},
        {"vantorel serial=5 expires=9 signer=ci", true, {5, 9}, false, {}},
        {"vantorel version=1.0.0.2 serial=7", false, {}, true, {"1.0.0.2", 7}},
        {"vantorel version=123456789.0.0.1 serial=0", false, {}, true, {"123456789.0.0.1", 0}},
        {"vantorel serial=5 expires=9223372036854775808", false, {}, false, {}},
        {"vantorel serial=18446744073709551616 expires=1", false, {}, false, {}},
        {"vantorel serial=5 serial=6 expires=1", false, {}, false, {}},
        {"vantorel serial=-5 expires=1", false, {}, false, {}},
        {"vantorel  serial=5 expires=1", false, {}, false, {}},
        {"vantorel serial=5 expires=1 ", false, {}, false, {}},
        {"vantorelx serial=5 expires=1", false, {}, false, {}},
        {"other serial=5 expires=1", false, {}, false, {}},
        {"vantorel serial=5 expires", false, {}, false, {}},
        {"vantorel version=1.0.0 serial=1", false, {}, false, {}},
        {"vantorel version=1.0.0.2.3 serial=1", false, {}, false, {}},
        {"vantorel version=1..0.2 serial=1", false, {}, false, {}},
        {"vantorel version=1.0.0.1234567890 serial=1", false, {}, false, {}},
        {"vantorel version=1.0.0.x serial=1", false, {}, false, {}},
        {"timestamp:1555779966\tfile:versionlist.data", false, {}, false, {}},
    };
    for (const auto& c : cases) {
        ListComment list;
        ManifestComment manifest;
        ASSERT_EQ(ParseListComment(c.text, &list), c.listOk) << c.text;
        ASSERT_EQ(ParseManifestComment(c.text, &manifest), c.manifestOk) << c.text;
        if (c.listOk) {
            EXPECT_EQ(list.serial, c.list.serial) << c.text;
            EXPECT_EQ(list.expires, c.list.expires) << c.text;
            ListComment again;
            EXPECT_TRUE(ParseListComment(FormatListComment(list), &again));
            EXPECT_EQ(again.serial, list.serial);
        }
        if (c.manifestOk) {
            EXPECT_EQ(manifest.version, c.manifest.version) << c.text;
            EXPECT_EQ(manifest.serial, c.manifest.serial) << c.text;
            EXPECT_EQ(FormatManifestComment(manifest), c.text);
        }
    }
}
