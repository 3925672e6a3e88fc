#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "update/engine/state_index.h"

namespace {

const std::string kMd5(32, 'a');
const std::string kSha(64, 'b');

// One line of an index: a stored member of 1.0.0.2 of five bytes, the same
// member for every place, with the fields numbered in changed replaced.
std::string Line(const std::string& place, const std::map<size_t, std::string>& changed = {}) {
    std::vector<std::string> f = {place, "5", kMd5, kSha, "1.0.0.2", "data1.pak", "Vantorel\\a.dat", "120", "5", "0"};
    for (const auto& [at, value] : changed) f[at] = value;
    std::string line;
    for (const std::string& field : f) line += (line.empty() ? "" : "\t") + field;
    return line + "\n";
}

std::string Index(const std::string& lines, size_t count) {
    return "vantorel-state\t1\t1.0.0.3\t" + std::to_string(count) + "\n" + lines;
}

// Anything but a whole, well-formed index is refused whole: a launcher
// catching up from it would fetch the wrong bytes or write outside its folder.
TEST(StateIndex, RefusesAnythingMalformedWhole) {
    const std::string a = Line("a.dat");
    const struct {
        const char* name;
        std::string text;
        size_t entries;  // with acceptance; SIZE_MAX: refused
    } cases[] = {
        {"two entries", Index(a + Line("sub\\B.dat"), 2), 2},
        {"no entries", Index("", 0), 0},
        {"deflated member", Index(Line("a.dat", {{8, "3"}, {9, "8"}}), 1), 1},
        {"other magic", "vantorel-stat\t1\t1.0.0.3\t1\n" + a, SIZE_MAX},
        {"other format", "vantorel-state\t2\t1.0.0.3\t1\n" + a, SIZE_MAX},
        {"version not a folder name", "vantorel-state\t1\t1.0.10.3\t1\n" + a, SIZE_MAX},
        {"count with a leading zero", "vantorel-state\t1\t1.0.0.3\t01\n" + a, SIZE_MAX},
        {"count beyond the cap", Index("", kMaxStateEntries + 1), SIZE_MAX},
        {"fewer lines than counted", Index(a, 2), SIZE_MAX},
        {"more lines than counted", Index(a + Line("b.dat"), 1), SIZE_MAX},
        {"last line cut", Index(a.substr(0, a.size() - 1), 1), SIZE_MAX},
        {"CRLF", Index(a.substr(0, a.size() - 1) + "\r\n", 1), SIZE_MAX},
        {"nine fields", Index("a.dat\t5\t" + kMd5 + "\t" + kSha + "\t1.0.0.2\td.pak\tm\t1\t5\n", 1), SIZE_MAX},
        {"eleven fields", Index(Line("a.dat", {{9, "0\t0"}}), 1), SIZE_MAX},
        {"size with a sign", Index(Line("a.dat", {{1, "+5"}}), 1), SIZE_MAX},
        {"size beyond 2^63 - 1", Index(Line("a.dat", {{1, "9223372036854775808"}}), 1), SIZE_MAX},
        {"upper-case MD5", Index(Line("a.dat", {{2, std::string(32, 'A')}}), 1), SIZE_MAX},
        {"short SHA-256", Index(Line("a.dat", {{3, kSha.substr(1)}}), 1), SIZE_MAX},
        {"source newer than the index", Index(Line("a.dat", {{4, "1.0.0.4"}}), 1), SIZE_MAX},
        {"source not a version", Index(Line("a.dat", {{4, "1.0.2"}}), 1), SIZE_MAX},
        {"package in a folder", Index(Line("a.dat", {{5, "sub\\data1.pak"}}), 1), SIZE_MAX},
        {"member leaves the package", Index(Line("a.dat", {{6, "..\\a.dat"}}), 1), SIZE_MAX},
        {"place with a drive", Index(Line("C:\\a.dat"), 1), SIZE_MAX},
        {"place is a device", Index(Line("sub\\nul.txt"), 1), SIZE_MAX},
        {"place too long", Index(Line(std::string(kMaxStateFieldBytes + 1, 'p')), 1), SIZE_MAX},
        {"method 1", Index(Line("a.dat", {{9, "1"}}), 1), SIZE_MAX},
        {"stored with another size", Index(Line("a.dat", {{8, "4"}}), 1), SIZE_MAX},
        {"deflated beyond 1032:1", Index(Line("a.dat", {{1, "2064"}, {8, "1"}, {9, "8"}}), 1), SIZE_MAX},
        {"member ends past 2^63 - 1", Index(Line("a.dat", {{7, "9223372036854775800"}}), 1), SIZE_MAX},
        {"out of order", Index(Line("b.dat") + a, 2), SIZE_MAX},
        {"one place twice, other case", Index(a + Line("A.DAT"), 2), SIZE_MAX},
        {"one place twice, other separator", Index(Line("s\\a") + Line("s/a"), 2), SIZE_MAX},
    };
    for (const auto& c : cases) {
        StateIndex index;
        std::string offending;
        EXPECT_EQ(ParseStateIndex(c.text, &index, &offending), c.entries != SIZE_MAX) << c.name;
        if (c.entries == SIZE_MAX) {
            EXPECT_TRUE(index.entries.empty()) << c.name;
            EXPECT_FALSE(offending.empty()) << c.name;
        } else {
            EXPECT_EQ(index.entries.size(), c.entries) << c.name;
        }
    }
}

// An index reads back as it was written, in place order, and a place is
// found however Windows would spell it; what would not read back is not written.
TEST(StateIndex, FormatSortsAndReadsBack) {
    StateIndex index{"1.0.0.3", {}};
    std::string text, offending;
    for (const char* place : {"sub\\b.dat", "A.dat", "sub\\中文.dat", "Sub\\a.dat"}) {
        StateIndex one;
        ASSERT_TRUE(ParseStateIndex(Index(Line(place), 1), &one, &offending)) << place;
        index.entries.push_back(one.entries[0]);
    }
    index.entries[1].method = kStateMethodDeflated;
    index.entries[1].packedSize = 3;
    ASSERT_TRUE(FormatStateIndex(index, &text, &offending)) << offending;
    StateIndex read;
    ASSERT_TRUE(ParseStateIndex(text, &read, &offending)) << offending;
    std::vector<std::string> places;
    for (const StateEntry& entry : read.entries) places.push_back(entry.place);
    EXPECT_EQ(places, (std::vector<std::string>{"A.dat", "Sub\\a.dat", "sub\\b.dat", "sub\\中文.dat"}));
    std::string again;
    ASSERT_TRUE(FormatStateIndex(read, &again, &offending));
    EXPECT_EQ(again, text);

    const struct {
        const char* place;
        const char* found;  // null: none
    } lookups[] = {{"a.DAT", "A.dat"}, {"SUB/B.dat", "sub\\b.dat"}, {"sub\\c.dat", nullptr}, {"", nullptr}};
    for (const auto& l : lookups) {
        const StateEntry* entry = FindStateEntry(read, l.place);
        EXPECT_EQ(entry ? entry->place : "none", l.found ? l.found : "none") << l.place;
    }
    EXPECT_EQ(FindStateEntry(read, "a.dat")->packedSize, 3u);

    StateIndex twice = index;
    twice.entries.push_back(index.entries[0]);
    twice.entries.back().place = "SUB/B.DAT";
    StateIndex unhashed = index;
    unhashed.entries[2].sha256.clear();
    for (const StateIndex* bad : {&twice, &unhashed}) {
        EXPECT_FALSE(FormatStateIndex(*bad, &text, &offending));
        EXPECT_FALSE(offending.empty());
    }
}

}  // namespace
