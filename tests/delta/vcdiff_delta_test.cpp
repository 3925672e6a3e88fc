// Deltas made and applied by our xdelta3 library and by our bsdiff encoder
// and applier: the pairs of files a game update meets, the faults a broken
// download, a hostile server or a wrong installation makes.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "delta/bsdiff_delta.h"
#include "delta/delta_cases.h"
#include "delta/vcdiff_delta.h"
#include "platform/file_system.h"
#include "support/test_support.h"

using deltacases::DeltaCase;

namespace {

DeltaResult EncodeVcdiff(const std::string& oldPath, const std::string& newPath, const std::string& deltaPath) {
    return EncodeDeltaFile(oldPath, newPath, deltaPath, {});
}

const struct {
    const char* name;
    DeltaResult (*encode)(const std::string&, const std::string&, const std::string&);
} kEncoders[] = {{"vcdiff", EncodeVcdiff}, {"bsdiff", EncodeBsdiffFile}};

}  // namespace

TEST(VcdiffDelta, RebuildsEveryKindOfChangeByteForByte) {
    for (const auto& encoder : kEncoders) {
        for (const DeltaCase& c : deltacases::Cases()) {
            SCOPED_TRACE(std::string(encoder.name) + ": " + c.name);
            TempDir dir;
            WriteTextFile(dir.File("old"), c.oldContent);
            WriteTextFile(dir.File("new"), c.newContent);
            const DeltaResult made = encoder.encode(dir.File("old"), dir.File("new"), dir.File("delta"));
            ASSERT_TRUE(made.ok) << made.error;
            EXPECT_EQ(made.written, fs_port::FileSize(dir.File("delta")));
            EXPECT_LE(made.written, c.maxDeltaBytes);
            int64_t lastDone = 0;
            const DeltaResult applied =
                ApplyDeltaFile(dir.File("old"), dir.File("delta"), dir.File("out"), nullptr,
                               [&](int64_t done, int64_t) { lastDone = done; });
            ASSERT_TRUE(applied.ok) << applied.error;
            EXPECT_EQ(applied.written, static_cast<int64_t>(c.newContent.size()));
            EXPECT_EQ(lastDone, static_cast<int64_t>(c.newContent.size()));
            EXPECT_TRUE(ReadTextFile(dir.File("out")) == c.newContent);
            EXPECT_FALSE(fs_port::PathExists(dir.File("out") + ".part"));
        }
    }
}

namespace {

// One way an apply goes wrong: what is done to the delta's inputs after a
// good delta is made, and the fault it must give.
struct ApplyFault {
    const char* name;
    void (*spoil)(const TempDir& dir, std::string* oldPath, std::string* deltaPath, std::string* outPath);
    DeltaFault fault;
    const char* errorPart;
    bool bsdiff = false;  // spoils a bsdiff delta of the same files
};

void Rewrite(const std::string& path, void (*change)(std::string* bytes)) {
    std::string bytes = ReadTextFile(path);
    change(&bytes);
    WriteTextFile(path, bytes);
}

const ApplyFault kApplyFaults[] = {
    {"flipped byte", [](const TempDir& dir, std::string*, std::string* delta, std::string*) {
         Rewrite(*delta, [](std::string* b) { (*b)[b->size() / 2] ^= 0x20; });
         (void)dir;
     }, DeltaFault::WrongSource, "checksum mismatch"},
    {"cut in half", [](const TempDir&, std::string*, std::string* delta, std::string*) {
         Rewrite(*delta, [](std::string* b) { b->resize(b->size() / 2); });
     }, DeltaFault::Damaged, "cut short"},
    {"cut inside the header", [](const TempDir&, std::string*, std::string* delta, std::string*) {
         Rewrite(*delta, [](std::string* b) { b->resize(3); });
     }, DeltaFault::NotDelta, "not a VCDIFF"},
    {"empty delta", [](const TempDir&, std::string*, std::string* delta, std::string*) {
         WriteTextFile(*delta, "");
     }, DeltaFault::NotDelta, "not a VCDIFF"},
    {"not a delta", [](const TempDir&, std::string*, std::string* delta, std::string*) {
         WriteTextFile(*delta, "PK\x03\x04 a package, not a delta");
     }, DeltaFault::NotDelta, "not a VCDIFF"},
    {"wrong old file", [](const TempDir&, std::string* old, std::string*, std::string*) {
         Rewrite(*old, [](std::string* b) { (*b)[1000] ^= 1; });
     }, DeltaFault::WrongSource, "old file"},
    {"old file too short", [](const TempDir&, std::string* old, std::string*, std::string*) {
         Rewrite(*old, [](std::string* b) { b->resize(b->size() - 100000); });
     }, DeltaFault::WrongSource, "old file"},
    {"claims a 1 GiB section", [](const TempDir&, std::string*, std::string* delta, std::string*) {
         // A window whose data section says 1 GiB, cut after a few bytes of it.
         const uint64_t claimed = 1ull << 30;
         const std::string lengths = deltacases::VarInt(1000) + '\0' + deltacases::VarInt(claimed) +
                                     deltacases::VarInt(1) + deltacases::VarInt(0);
         WriteTextFile(*delta, std::string("\xD6\xC3\xC4\x00\x00\x00", 6) +
                                   deltacases::VarInt(lengths.size() + claimed + 1) + lengths + "data");
     }, DeltaFault::Damaged, "MiB of working memory"},
    {"old file missing", [](const TempDir& dir, std::string* old, std::string*, std::string*) {
         *old = dir.File("no such file");
     }, DeltaFault::SourceUnreadable, "cannot read the old file"},
    {"old file is a folder", [](const TempDir& dir, std::string* old, std::string*, std::string*) {
         *old = dir.Path();
     }, DeltaFault::SourceUnreadable, "cannot read the old file"},
    {"delta missing", [](const TempDir& dir, std::string*, std::string* delta, std::string*) {
         *delta = dir.File("no such delta");
     }, DeltaFault::DeltaUnreadable, "cannot read the delta"},
    {"output folder missing", [](const TempDir& dir, std::string*, std::string*, std::string* out) {
         *out = dir.File("missing") + "\\out";
     }, DeltaFault::WriteFailed, "cannot create"},
    {"bsdiff cut short", [](const TempDir&, std::string*, std::string* delta, std::string*) {
         Rewrite(*delta, [](std::string* b) { b->resize(b->size() - 100); });
     }, DeltaFault::Damaged, "cut short", true},
    {"bsdiff cut inside its header", [](const TempDir&, std::string*, std::string* delta, std::string*) {
         Rewrite(*delta, [](std::string* b) { b->resize(20); });
     }, DeltaFault::Damaged, "header is cut short", true},
    {"bsdiff magic changed", [](const TempDir&, std::string*, std::string* delta, std::string*) {
         Rewrite(*delta, [](std::string* b) { (*b)[7] = '1'; });
     }, DeltaFault::NotDelta, "not a VCDIFF", true},
    {"bsdiff streams longer than the delta", [](const TempDir&, std::string*, std::string* delta, std::string*) {
         Rewrite(*delta, [](std::string* b) { b->replace(8, 8, deltacases::BsdiffOffset(int64_t{1} << 40)); });
     }, DeltaFault::Damaged, "do not fit", true},
    {"bsdiff control not bzip2", [](const TempDir&, std::string*, std::string* delta, std::string*) {
         Rewrite(*delta, [](std::string* b) { (*b)[32 + 4] ^= 0x7F; });
     }, DeltaFault::Damaged, "not valid bzip2", true},
    {"bsdiff reads past the old file", [](const TempDir&, std::string* old, std::string* delta, std::string*) {
         const int64_t last5 = fs_port::FileSize(*old) - 5;
         WriteTextFile(*delta, deltacases::HandMadeBsdiff(10, {{0, 0, last5}, {10, 0, 0}}, std::string(10, 1), ""));
     }, DeltaFault::Damaged, "outside the old file", true},
    {"bsdiff reads before the old file", [](const TempDir&, std::string*, std::string* delta, std::string*) {
         WriteTextFile(*delta, deltacases::HandMadeBsdiff(10, {{0, 0, -1}, {10, 0, 0}}, std::string(10, 1), ""));
     }, DeltaFault::Damaged, "outside the old file", true},
    {"bsdiff writes past its new size", [](const TempDir&, std::string*, std::string* delta, std::string*) {
         WriteTextFile(*delta, deltacases::HandMadeBsdiff(5, {{0, 10, 0}}, "", std::string(10, 'x')));
     }, DeltaFault::Damaged, "past the new file", true},
    {"bsdiff control that writes nothing", [](const TempDir&, std::string*, std::string* delta, std::string*) {
         WriteTextFile(*delta, deltacases::HandMadeBsdiff(1, std::vector<deltacases::Control>(5000, {0, 0, 0}), "", ""));
     }, DeltaFault::Damaged, "does not end", true},
};

}  // namespace

// A failed apply names its reason, leaves no part file and keeps what was at
// the output's place.
TEST(VcdiffDelta, RefusesDamagedOrMismatchedInputsAndLeavesNoOutput) {
    const DeltaCase c = deltacases::Cases()[0];
    TempDir made;
    WriteTextFile(made.File("old"), c.oldContent);
    WriteTextFile(made.File("new"), c.newContent);
    ASSERT_TRUE(EncodeDeltaFile(made.File("old"), made.File("new"), made.File("delta"), {}).ok);
    ASSERT_TRUE(EncodeBsdiffFile(made.File("old"), made.File("new"), made.File("bsdiff")).ok);
    for (const ApplyFault& row : kApplyFaults) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        std::string oldPath = dir.File("old"), deltaPath = dir.File("delta"), outPath = dir.File("out");
        WriteTextFile(oldPath, c.oldContent);
        WriteTextFile(deltaPath, ReadTextFile(made.File(row.bsdiff ? "bsdiff" : "delta")));
        WriteTextFile(outPath, "installed before");
        row.spoil(dir, &oldPath, &deltaPath, &outPath);
        const DeltaResult result = ApplyDeltaFile(oldPath, deltaPath, outPath, nullptr, nullptr);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(static_cast<int>(result.fault), static_cast<int>(row.fault));
        EXPECT_NE(result.error.find(row.errorPart), std::string::npos) << result.error;
        EXPECT_EQ(ReadTextFile(dir.File("out")), "installed before");
        EXPECT_FALSE(fs_port::PathExists(outPath + ".part"));
    }
}

// The stop flag ends an apply within a block, whether it comes before the
// first window or while the output grows.
TEST(VcdiffDelta, StopsWhenTheFlagIsRaisedAndLeavesNoOutput) {
    // Two windows of new bytes, so that a stop can come between them.
    const std::string old = testdata::Noise(9u << 20, 7);
    for (const auto& encoder : kEncoders) {
        SCOPED_TRACE(encoder.name);
        TempDir dir;
        WriteTextFile(dir.File("old"), old);
        WriteTextFile(dir.File("new"), old.substr(1000) + "tail");
        ASSERT_TRUE(encoder.encode(dir.File("old"), dir.File("new"), dir.File("delta")).ok);
        for (const int64_t stopAfter : {int64_t{0}, int64_t{1}}) {
            std::atomic<bool> stop{stopAfter == 0};
            const DeltaResult result =
                ApplyDeltaFile(dir.File("old"), dir.File("delta"), dir.File("out"), &stop,
                               [&](int64_t done, int64_t) { stop = stop || done >= stopAfter; });
            EXPECT_EQ(static_cast<int>(result.fault), static_cast<int>(DeltaFault::Stopped));
            EXPECT_EQ(result.error, "stopped");
            EXPECT_FALSE(fs_port::PathExists(dir.File("out")));
            EXPECT_FALSE(fs_port::PathExists(dir.File("out.part")));
        }
    }
}

// Offsets above 4 GiB reach the old file as they are: a 32-bit offset would
// read the sparse zeros at the file's start instead. Cut short below the
// place the delta copies from, the old file is refused.
TEST(VcdiffDelta, ReadsAnOldFileAbove4GiBWhereTheDeltaSays) {
    TempDir dir;
    const deltacases::BigSparseCase big = deltacases::WriteBigSparseCase(dir.File("old"), dir.File("delta"));
    ASSERT_FALSE(big.expected.empty()) << "cannot make a sparse file above 4 GiB here";
    const DeltaResult applied = ApplyDeltaFile(dir.File("old"), dir.File("delta"), dir.File("out"), nullptr, nullptr);
    ASSERT_TRUE(applied.ok) << applied.error;
    EXPECT_TRUE(ReadTextFile(dir.File("out")) == big.expected);

    std::FILE* old = fs_port::OpenFile(dir.File("old"), "r+b");
    ASSERT_TRUE(old && fs_port::TruncateFile(old, static_cast<int64_t>(deltacases::kBigNoiseAt) + 1000));
    std::fclose(old);
    const DeltaResult cut = ApplyDeltaFile(dir.File("old"), dir.File("delta"), dir.File("cut"), nullptr, nullptr);
    EXPECT_EQ(static_cast<int>(cut.fault), static_cast<int>(DeltaFault::WrongSource)) << cut.error;
    EXPECT_FALSE(fs_port::PathExists(dir.File("cut")));
}
