// Deltas exchanged with the xdelta3 tool, which operators have at hand:
// what it makes applies through ours, and what we make applies through it,
// byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "delta/delta_cases.h"
#include "delta/vcdiff_delta.h"
#include "support/test_support.h"

namespace {

bool HaveXdelta3() { return RunShell("command -v xdelta3 >/dev/null 2>&1") == 0; }

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

}  // namespace

TEST(VcdiffInterop, DeltasOfTheXdelta3ToolApplyThroughOursAndOursThroughIt) {
    if (!HaveXdelta3()) GTEST_SKIP() << "the xdelta3 tool is not installed (./run setup installs it)";
    for (const deltacases::DeltaCase& c : deltacases::Cases()) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string oldPath = dir.File("old"), newPath = dir.File("new");
        WriteTextFile(oldPath, c.oldContent);
        WriteTextFile(newPath, c.newContent);
        ASSERT_EQ(RunShell("xdelta3 -e -f -S none -s " + Quoted(oldPath) + " " + Quoted(newPath) + " " +
                           Quoted(dir.File("tool.vcdiff"))), 0);
        const DeltaResult applied = ApplyDeltaFile(oldPath, dir.File("tool.vcdiff"), dir.File("ours.out"), nullptr, nullptr);
        ASSERT_TRUE(applied.ok) << applied.error;
        EXPECT_TRUE(ReadTextFile(dir.File("ours.out")) == c.newContent);

        ASSERT_TRUE(EncodeDeltaFile(oldPath, newPath, dir.File("ours.vcdiff"), {}).ok);
        ASSERT_EQ(RunShell("xdelta3 -d -f -s " + Quoted(oldPath) + " " + Quoted(dir.File("ours.vcdiff")) + " " +
                           Quoted(dir.File("tool.out"))), 0);
        EXPECT_TRUE(ReadTextFile(dir.File("tool.out")) == c.newContent);
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
