// Deltas exchanged with the xdelta3 tool and the bsdiff and bspatch tools,
// which operators have at hand: what they make applies through ours, and
// what we make applies through them, byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "delta/bsdiff_delta.h"
#include "delta/delta_cases.h"
#include "delta/vcdiff_delta.h"
#include "support/test_support.h"

namespace {

bool HaveXdelta3() { return RunShell("command -v xdelta3 >/dev/null 2>&1") == 0; }

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// A tool pair, its commands on (old, new or delta, out), and our encoder.
const struct {
    const char* tool;
    const char* encode;  // old new delta
    const char* decode;  // old delta out
    DeltaResult (*ours)(const std::string&, const std::string&, const std::string&);
    bool mapsEmptyFiles;  // false: the tool maps its files and fails on an empty one
} kTools[] = {
    {"xdelta3", "xdelta3 -e -f -S none -s %1 %2 %3", "xdelta3 -d -f -s %1 %2 %3",
     [](const std::string& o, const std::string& n, const std::string& d) { return EncodeDeltaFile(o, n, d, {}); },
     true},
    {"bsdiff", "bsdiff %1 %2 %3", "bspatch %1 %3 %2", EncodeBsdiffFile, false},
};

std::string Command(std::string pattern, const std::string& a, const std::string& b, const std::string& c) {
    const std::string operands[] = {Quoted(a), Quoted(b), Quoted(c)};
    for (int i = 0; i < 3; ++i) pattern.replace(pattern.find("%" + std::to_string(i + 1)), 2, operands[i]);
    return pattern;
}

}  // namespace

TEST(VcdiffInterop, DeltasOfTheToolsApplyThroughOursAndOursThroughThem) {
    for (const auto& tool : kTools) {
        if (RunShell(std::string("command -v ") + tool.tool + " >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << tool.tool << " is not installed (./run setup installs it)";
        }
    }
    for (const auto& tool : kTools) {
        for (const deltacases::DeltaCase& c : deltacases::Cases()) {
            if (!tool.mapsEmptyFiles && (c.oldContent.empty() || c.newContent.empty())) continue;
            SCOPED_TRACE(std::string(tool.tool) + ": " + c.name);
            TempDir dir;
            const std::string oldPath = dir.File("old"), newPath = dir.File("new");
            WriteTextFile(oldPath, c.oldContent);
            WriteTextFile(newPath, c.newContent);
            ASSERT_EQ(RunShell(Command(tool.encode, oldPath, newPath, dir.File("tool.delta"))), 0);
            const DeltaResult applied =
                ApplyDeltaFile(oldPath, dir.File("tool.delta"), dir.File("ours.out"), nullptr, nullptr);
            ASSERT_TRUE(applied.ok) << applied.error;
            EXPECT_TRUE(ReadTextFile(dir.File("ours.out")) == c.newContent);

            ASSERT_TRUE(tool.ours(oldPath, newPath, dir.File("ours.delta")).ok);
            ASSERT_EQ(RunShell(Command(tool.decode, oldPath, dir.File("ours.delta"), dir.File("tool.out"))), 0);
            EXPECT_TRUE(ReadTextFile(dir.File("tool.out")) == c.newContent);
        }
    }
}

// The tool compresses its deltas with LZMA unless told "-S none"; such a
// delta is refused with a text that says how to make one we read.
TEST(VcdiffInterop, SecondaryCompressionIsRefusedWithHowToMakeAReadableDelta) {
    if (!HaveXdelta3()) GTEST_SKIP() << "the xdelta3 tool is not installed (./run setup installs it)";
    const deltacases::DeltaCase c = deltacases::Cases()[0];
    TempDir dir;
    WriteTextFile(dir.File("old"), c.oldContent);
    WriteTextFile(dir.File("new"), c.newContent);
    ASSERT_EQ(RunShell("xdelta3 -e -f -s " + Quoted(dir.File("old")) + " " + Quoted(dir.File("new")) + " " +
                       Quoted(dir.File("lzma.vcdiff"))), 0);
    const DeltaResult result = ApplyDeltaFile(dir.File("old"), dir.File("lzma.vcdiff"), dir.File("out"), nullptr, nullptr);
    EXPECT_EQ(static_cast<int>(result.fault), static_cast<int>(DeltaFault::Unsupported));
    EXPECT_NE(result.error.find("-S none"), std::string::npos) << result.error;
}

// The reference decoder reads the same bytes above 4 GiB as ours does.
TEST(VcdiffInterop, Xdelta3ToolAgreesOnAnOldFileAbove4GiB) {
    if (!HaveXdelta3()) GTEST_SKIP() << "the xdelta3 tool is not installed (./run setup installs it)";
    TempDir dir;
    const deltacases::BigSparseCase big = deltacases::WriteBigSparseCase(dir.File("old"), dir.File("delta"));
    ASSERT_FALSE(big.expected.empty());
    ASSERT_EQ(RunShell("xdelta3 -d -f -s " + Quoted(dir.File("old")) + " " + Quoted(dir.File("delta")) + " " +
                       Quoted(dir.File("tool.out"))), 0);
    EXPECT_TRUE(ReadTextFile(dir.File("tool.out")) == big.expected);
}
