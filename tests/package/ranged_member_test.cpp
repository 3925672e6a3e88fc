#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "package/bundle.h"
#include "package/ranged_member.h"
#include "package/span_fetch.h"
#include "package/test_data.h"
#include "package/zip_builder.h"
#include "platform/file_system.h"
#include "support/test_support.h"

using testdata::Lines;
using testdata::Noise;
using testdata::Under;

namespace {

struct Member {
    std::string name;  // as the package stores it
    std::string content;
};
const std::vector<Member>& Members() {
    static const std::vector<Member> members = {
        {"Root\\data\\noise.bin", Noise(70000, 3)},  // stored: deflate does not pay
        {"Root\\data\\lines.txt", Lines(300000)},
        {"Root\\empty.txt", ""},
        {"Root\\\xE8\xAF\xB4\xE6\x98\x8E.txt", "utf-8 named\n"},
    };
    return members;
}

std::string PackMembers(const TempDir& dir) {
    const std::string package = Under(dir, "a.pak");
    CBundle bundle;
    EXPECT_TRUE(bundle.Create(package.c_str(), kBundleTag));
    for (const Member& m : Members()) {
        WriteTextFile(Under(dir, "source"), m.content);
        EXPECT_TRUE(bundle.AddFile(Under(dir, "source").c_str(), m.name.c_str())) << bundle.LastError();
    }
    EXPECT_TRUE(bundle.Release()) << bundle.LastError();
    return package;
}

void SetU32(std::string* bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>(value >> (8 * i));
}

}  // namespace

// A member of 4 GiB or more: the span has room for the writer's ZIP64 block.
TEST(RangedMember, SpanHasRoomForTheWritersZip64Header) {
    const StateEntry entry{"", 5ull << 30, "", "", "", "", "Root/huge.dat", 0, 3ull << 30, kStateMethodDeflated};
    const zip::WriteEntry big{entry.member, 0, zip::kMethodDeflated, 0, 0, 0, entry.packedSize, entry.size, 0, true};
    MemberSpan span;
    ASSERT_TRUE(SpanOfMember(entry, &span));
    EXPECT_EQ(span.length, zip::BuildLocalHeader(big).size() + big.packedSize);
}

TEST(RangedMember, ExtractsOnlyTheEntrysCheckedMember) {
    using Alter = std::function<void(StateEntry*, std::string*)>;
    struct Case {
        const char* what;
        size_t member;
        Alter alter;
        SpanOutcome expected;
        bool stop = false;        // set at the first block written
        uint64_t moreBytes = 0;   // Short: what the header asks beyond the span
    };
    const Alter none = [](StateEntry*, std::string*) {};
    const Case cases[] = {
        {"stored", 0, none, SpanOutcome::Done},
        {"deflated", 1, none, SpanOutcome::Done},
        {"empty", 2, none, SpanOutcome::Done},
        {"UTF-8 name", 3, none, SpanOutcome::Done},
        {"name of another member", 0, [](StateEntry* e, std::string*) { e->member.back() = 'x'; }, SpanOutcome::Refused},
        {"method the header lacks", 0, [](StateEntry* e, std::string*) { e->method = 8; }, SpanOutcome::Refused},
        {"encrypted", 1, [](StateEntry*, std::string* s) { (*s)[6] |= 1; }, SpanOutcome::Refused},
        {"span cut short", 1, [](StateEntry*, std::string* s) { s->pop_back(); }, SpanOutcome::Short},
        {"flipped data byte", 0, [](StateEntry*, std::string* s) { (*s)[s->size() - 100] ^= 1; }, SpanOutcome::Damaged},
        {"index MD5 lies", 1, [](StateEntry* e, std::string*) { e->md5[5] ^= 1; }, SpanOutcome::Damaged},
        {"index SHA-256 lies", 3, [](StateEntry* e, std::string*) { e->sha256[60] ^= 1; }, SpanOutcome::Damaged},
        // The header agrees with the index, the data inflates to more.
        {"inflates past the size", 1,
         [](StateEntry* e, std::string* s) { SetU32(s, 22, static_cast<uint32_t>(--e->size)); }, SpanOutcome::Damaged},
        {"stopped", 1, none, SpanOutcome::Stopped, true},
        // The writer's ZIP64 block on a file that shrank below 4 GiB while it was packed.
        {"header longer than the room", 0,
         [](StateEntry* e, std::string* s) {
             zip::WriteEntry w;
             w.name = e->member;
             w.method = zip::kMethodStored;
             w.size = w.packedSize = e->size;
             w.zip64Local = true;
             *s = (zip::BuildLocalHeader(w) + s->substr(30 + e->member.size())).substr(0, s->size());
         },
         SpanOutcome::Short, false, kWrittenZip64ExtraBytes},
    };
    TempDir dir;
    const std::string package = PackMembers(dir);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Member& m = Members()[c.member];
        StateEntry entry = spanfetch::EntryOf(package, m.name, m.content);
        MemberSpan span;
        ASSERT_TRUE(SpanOfMember(entry, &span));
        // Our writer's members lie back to back: the span ends where the next record begins.
        const std::string next = spanfetch::BytesAt(package, span.offset + span.length, 4);
        EXPECT_TRUE(next == "PK\x03\x04" || next == "PK\x01\x02");
        std::string bytes = spanfetch::BytesAt(package, span.offset, span.length);
        c.alter(&entry, &bytes);
        const std::string spanPath = Under(dir, "span"), out = Under(dir, "out\\member");
        WriteTextFile(spanPath, bytes);
        uint64_t told = 0;
        std::atomic<bool> stop{false};
        SpanExtraction result;
        const auto progress = [&](uint64_t n) { told += n, stop = c.stop; };
        const bool done = ExtractSpanMember(spanPath, entry, out, &stop, progress, &result);
        EXPECT_EQ(result.outcome, c.expected) << result.reason;
        EXPECT_FALSE(fs_port::PathExists(out + ".vtpart"));
        if (done) {
            EXPECT_EQ(ReadTextFile(out), m.content);
            EXPECT_EQ(told, m.content.size());
            EXPECT_TRUE(result.file.stamped);
        } else {
            EXPECT_FALSE(fs_port::PathExists(out));
            EXPECT_LE(told, entry.size);
        }
        if (c.expected == SpanOutcome::Short) {
            EXPECT_EQ(result.neededBytes, span.length + c.moreBytes);
        }
        (void)fs_port::RemoveFile(out);
    }
}
