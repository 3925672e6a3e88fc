#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "package/bundle.h"
#include "package/patch_kit.h"
#include "package/test_data.h"
#include "package/zip_builder.h"
#include "package/zip_reader.h"
#include "platform/file_system.h"
#include "support/test_support.h"

using testdata::Lines;
using testdata::Noise;
using testdata::Under;

namespace {

struct Member {
    std::string name;
    std::string content;
};

// Packs the members with CBundle and returns the package's path.
std::string Pack(const TempDir& dir, const std::vector<Member>& members, const char* tag) {
    const std::string package = Under(dir, "package.data");
    CBundle bundle;
    EXPECT_TRUE(bundle.Create(package.c_str(), tag)) << bundle.LastError();
    for (size_t i = 0; i < members.size(); ++i) {
        const std::string source = Under(dir, "source" + std::to_string(i) + ".bin");
        WriteTextFile(source, members[i].content);
        EXPECT_TRUE(bundle.AddFile(source.c_str(), members[i].name.c_str())) << bundle.LastError();
    }
    EXPECT_TRUE(bundle.Release()) << bundle.LastError();
    return package;
}

void WriteBytes(const std::string& path, const std::string& bytes) { WriteTextFile(path, bytes); }

}  // namespace

TEST(Bundle, RefusesMemberNamesThatLeaveTheFolderOrAliasOnWindows) {
    struct Case {
        std::string name;
        bool safe;
    };
    const Case cases[] = {
        {"a.txt", true},
        {"dir/sub/file.bin", true},
        {"dir\\sub\\file.bin", true},
        {"\xE4\xB8\xAD\xE6\x96\x87/\xE8\xB5\x84\xE6\x96\x99.txt", true},
        {"a..b", true},
        {".hidden", true},
        {"folder/", true},
        {"console.txt", true},
        {"com10", true},
        {"", false},
        {"/etc/passwd", false},
        {"\\Windows\\win.ini", false},
        {"\\\\server\\share\\x", false},
        {"C:\\x", false},
        {"C:x", false},
        {"a/b:stream", false},
        {"../x", false},
        {"a/../b", false},
        {"a\\..\\..\\b", false},
        {"a/..", false},
        {"./a", false},
        {"a/./b", false},
        {"a//b", false},
        {"a\\\\b", false},
        {"folder//", false},
        {std::string("a\0b", 3), false},
        {"a\tb", false},
        {"a\nb", false},
        {"a\x7f", false},
        {".. /x", false},
        {"a./b", false},
        {"a /b", false},
        {"ends.", false},
        {"con", false},
        {"NUL.txt", false},
        {"dir/aux.log", false},
        {"Lpt1", false},
        {"COM9.tar.gz", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsSafeMemberName(c.name), c.safe) << "name: " << c.name;
    }
}

TEST(Bundle, RoundTripKeepsContentNamesAndSeparators) {
    TempDir dir;
    const std::vector<Member> members = {
        {"config.data", "plain"},
        {"Config/SystemSetting.data", Lines(5000)},
        {"Log\\launcher.log", Lines(70000)},
        {"deep/er/and/deeper/empty.txt", ""},
        {"\xE6\x9B\xB4\xE6\x96\xB0/\xE8\xAF\xB4\xE6\x98\x8E.txt", "\xE4\xB8\xAD"},
        {"random.bin", Noise(300000, 7)},
        {"one.byte", "x"},
        {"saves.little", Noise(1u << 20, 10) + Lines(20000)},
        {"sampled.noise", Noise(5u << 20, 8)},
        {"noise.then.text", Noise(3u << 20, 9) + Lines(3u << 20)},
    };
    const std::string package = Pack(dir, members, nullptr);

    CBundle bundle;
    ASSERT_TRUE(bundle.Open(package.c_str(), kBundleTag)) << bundle.LastError();
    ASSERT_EQ(bundle.Members().size(), members.size());
    for (size_t i = 0; i < members.size(); ++i) {
        const BundleMember& listed = bundle.Members()[i];
        EXPECT_EQ(listed.name, members[i].name);
        EXPECT_EQ(listed.size, members[i].content.size());
        EXPECT_FALSE(listed.isDirectory);
        // Either separator finds the member.
        std::string other = members[i].name;
        for (char& c : other) c = c == '/' ? '\\' : (c == '\\' ? '/' : c);
        const std::string dest = Under(dir, "out\\" + std::to_string(i) + "\\" + "file");
        ASSERT_TRUE(bundle.Extract(other.c_str(), dest.c_str())) << bundle.LastError();
        EXPECT_EQ(ReadTextFile(dest), members[i].content) << members[i].name;
    }
    // Noise does not shrink and is stored, as is what deflate shrinks by a
    // percent or two; text shrinks a lot, also behind a noisy start.
    for (size_t stored : {5, 7, 8}) {
        EXPECT_EQ(bundle.Members()[stored].packedSize, bundle.Members()[stored].size) << stored;
    }
    EXPECT_LT(bundle.Members()[2].packedSize * 4, bundle.Members()[2].size);
    EXPECT_LT(bundle.Members()[9].packedSize * 10, bundle.Members()[9].size * 7);
}

TEST(Bundle, StreamsLargeMembersAndReplacesExistingFiles) {
    TempDir dir;
    std::string big = Lines(20u << 20);
    big.replace(5u << 20, 3u << 20, Noise(3u << 20, 99));
    const std::string package = Pack(dir, {{"big/member.bin", big}}, "VT");
    const std::string dest = Under(dir, "game\\big\\member.bin");
    ASSERT_TRUE(fs_port::MakeDirectories(Under(dir, "game\\big")));
    WriteTextFile(dest, "old content");

    CBundle bundle;
    ASSERT_TRUE(bundle.Open(package.c_str(), "VT"));
    // The progress hears of every block written.
    uint64_t written = 0;
    int blocks = 0;
    bundle.SetProgress([&](uint64_t bytes) {
        written += bytes;
        ++blocks;
    });
    ASSERT_TRUE(bundle.Extract("big\\member.bin", dest.c_str())) << bundle.LastError();
    EXPECT_EQ(written, big.size());
    EXPECT_GT(blocks, 1);
    EXPECT_TRUE(ReadTextFile(dest) == big);
    EXPECT_FALSE(fs_port::PathExists(dest + ".vtpart"));
    // The copy sees every byte written, and the stamp is the written file's.
    DigestSink digest(DigestAlgorithm::Md5);
    ExtractedFile file;
    const std::string copied = Under(dir, "game\\big\\copied.bin");
    ASSERT_TRUE(bundle.Extract("big\\member.bin", copied.c_str(), &digest, &file)) << bundle.LastError();
    std::string md5;
    ASSERT_TRUE(ComputeFileMd5(copied, &md5));
    EXPECT_EQ(digest.FinishHex(), md5);
    fs_port::FileStamp stamp;
    ASSERT_TRUE(fs_port::ReadFileStamp(copied, &stamp));
    EXPECT_TRUE(file.stamped && file.stamp == stamp);

    // Asked to stop: the member's blocks are refused, and the file in place
    // and the folder stay as they were.
    std::atomic<bool> stop{true};
    bundle.SetStopFlag(&stop);
    const std::string other = Under(dir, "game\\big\\again.bin");
    EXPECT_FALSE(bundle.Extract("big\\member.bin", other.c_str()));
    EXPECT_EQ(bundle.LastError(), "stopped");
    EXPECT_FALSE(bundle.LastFailureInPackage());
    EXPECT_FALSE(fs_port::PathExists(other));
    EXPECT_FALSE(fs_port::PathExists(other + ".vtpart"));
    stop = false;
    EXPECT_TRUE(bundle.Extract("big\\member.bin", other.c_str())) << bundle.LastError();
}

TEST(Bundle, DamagedPackagesExtractNothingAndKeepTheOldFile) {
    TempDir dir;
    const std::string content = Lines(400000);
    const std::string good = ReadTextFile(Pack(dir, {{"a/data.txt", content}}, nullptr));
    const size_t dataStart = 30 + std::string("a/data.txt").size();
    struct Case {
        const char* what;
        size_t flipAt;     // byte to flip, or npos
        size_t keepBytes;  // length to cut to, or npos
        bool opens;
    };
    const size_t npos = std::string::npos;
    const Case cases[] = {
        {"flipped byte early in the data", dataStart + 10, npos, true},
        {"flipped byte late in the data", good.size() - 200, npos, true},
        {"flipped byte in the local header's signature", 1, npos, false},
        {"cut by one byte", npos, good.size() - 1, false},
        {"cut before the end record", npos, good.size() - 24, false},
        {"cut in the middle", npos, good.size() / 2, false},
        {"cut to nothing", npos, 0, false},
    };
    for (const Case& c : cases) {
        std::string bytes = good;
        if (c.flipAt != npos) bytes[c.flipAt] = static_cast<char>(bytes[c.flipAt] ^ 0x20);
        if (c.keepBytes != npos) bytes.resize(c.keepBytes);
        const std::string package = Under(dir, "damaged.data");
        WriteBytes(package, bytes);
        const std::string dest = Under(dir, "dest.txt");
        WriteTextFile(dest, "previous");

        CBundle bundle;
        ASSERT_EQ(bundle.Open(package.c_str(), kBundleTag), c.opens) << c.what;
        if (!c.opens) {
            EXPECT_FALSE(bundle.LastError().empty()) << c.what;
            EXPECT_TRUE(bundle.LastFailureInPackage()) << c.what;
            EXPECT_FALSE(bundle.Extract("a/data.txt", dest.c_str())) << c.what;
        } else {
            EXPECT_FALSE(bundle.Extract("a/data.txt", dest.c_str())) << c.what;
            EXPECT_FALSE(bundle.LastError().empty()) << c.what;
            EXPECT_TRUE(bundle.LastFailureInPackage()) << c.what;
        }
        EXPECT_EQ(ReadTextFile(dest), "previous") << c.what;
        EXPECT_FALSE(fs_port::PathExists(dest + ".vtpart")) << c.what;
    }
}

TEST(Bundle, DecodesMemberNamesByFlagUnicodeFieldHostAndGbk) {
    const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87/\xE8\xB5\x84\xE6\x96\x99.txt";  // 中文/资料.txt
    const std::string gbk = "\xD6\xD0\xCE\xC4/\xD7\xCA\xC1\xCF.txt";
    // 更新/说明.txt: its UTF-8 bytes happen to be valid GBK as well.
    const std::string readsAsGbk = "\xE6\x9B\xB4\xE6\x96\xB0/\xE8\xAF\xB4\xE6\x98\x8E.txt";
    struct Case {
        const char* what;
        std::string raw;
        uint16_t flags;
        uint8_t host;
        std::string extra;
        std::string expected;
    };
    const Case cases[] = {
        {"GBK from Windows", gbk, 0, 0, "", utf8},
        {"GBK from Unix (not valid UTF-8)", gbk, 0, 3, "", utf8},
        {"UTF-8 flag", utf8, 0x0800, 0, "", utf8},
        {"UTF-8 from Unix without flag", utf8, 0, 3, "", utf8},
        {"UTF-8 from Unix that also reads as GBK", readsAsGbk, 0, 3, "", readsAsGbk},
        {"Unicode path field wins over GBK", gbk, 0, 0, testzip::UnicodePathExtra(gbk, "x/" + utf8),
         "x/" + utf8},
        {"Unicode path field with a stale checksum is ignored", gbk, 0, 0,
         testzip::UnicodePathExtra("other", "x/" + utf8), utf8},
        {"plain ASCII", "Data\\a.txt", 0, 0, "", "Data\\a.txt"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        testzip::Archive archive;
        testzip::Entry entry;
        entry.rawName = c.raw;
        entry.flags = c.flags;
        entry.host = c.host;
        entry.centralExtra = c.extra;
        entry.content = "named content";
        archive.entries.push_back(entry);
        const std::string package = Under(dir, "names.zip");
        WriteBytes(package, testzip::Build(archive));

        CBundle bundle;
        ASSERT_TRUE(bundle.Open(package.c_str(), nullptr)) << c.what << ": " << bundle.LastError();
        ASSERT_EQ(bundle.Members().size(), 1u);
        EXPECT_EQ(bundle.Members()[0].name, c.expected) << c.what;
        const std::string dest = Under(dir, "out.txt");
        EXPECT_TRUE(bundle.Extract(c.expected.c_str(), dest.c_str())) << c.what;
        EXPECT_EQ(ReadTextFile(dest), "named content") << c.what;
    }
}

TEST(Bundle, ReadsZip64SizesOffsetsAndEndRecord) {
    TempDir dir;
    testzip::Archive archive;
    archive.zip64End = true;
    archive.comment = "VT";
    const std::string first = Lines(100000);
    const std::string second = Noise(5000, 3);
    testzip::Entry a;
    a.rawName = "first.txt";
    a.content = first;
    a.zip64Sizes = true;
    testzip::Entry b;
    b.rawName = "dir/second.bin";
    b.content = second;
    b.deflate = false;
    b.zip64Sizes = true;
    archive.entries = {a, b};
    const std::string package = Under(dir, "zip64.zip");
    WriteBytes(package, testzip::Build(archive));

    CBundle bundle;
    ASSERT_TRUE(bundle.Open(package.c_str(), "VT")) << bundle.LastError();
    ASSERT_EQ(bundle.Members().size(), 2u);
    EXPECT_EQ(bundle.Members()[0].size, first.size());
    ASSERT_TRUE(bundle.Extract("first.txt", Under(dir, "1").c_str())) << bundle.LastError();
    ASSERT_TRUE(bundle.Extract("dir\\second.bin", Under(dir, "2").c_str())) << bundle.LastError();
    EXPECT_EQ(ReadTextFile(Under(dir, "1")), first);
    EXPECT_EQ(ReadTextFile(Under(dir, "2")), second);
}

// Packages that lie about their members or are made to hurt. A package that
// cannot be unpacked whole is refused when it opens, so that not one of its
// members is written, and the refusal says what is wrong.
TEST(Bundle, RefusesPackagesThatLieAboutTheirMembers) {
    using testzip::Archive;
    using testzip::Entry;
    enum Outcome { kRefused, kDamaged, kExtracts };
    struct Case {
        const char* what;
        std::function<void(Archive*)> change;  // of one deflated member "m.txt"
        Outcome outcome;
        const char* reason;  // part of the refusal
    };
    const std::string content = Lines(50000);
    const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87.txt";  // 中文.txt
    const auto second = [](const char* name) {
        Entry entry;
        entry.rawName = name;
        entry.content = "second";
        return entry;
    };
    const Case cases[] = {
        {"stored member whose size differs from its data",
         [](Archive* a) { a->entries[0].deflate = false, a->entries[0].declaredSize = 60000; }, kRefused,
         "impossible sizes"},
        {"deflated member claiming more than deflate can expand",
         [](Archive* a) { a->entries[0].declaredSize = 1LL << 31; }, kRefused, "impossible sizes"},
        {"deflated member larger than declared", [](Archive* a) { a->entries[0].declaredSize = 40000; },
         kDamaged, ""},
        {"deflated member smaller than declared", [](Archive* a) { a->entries[0].declaredSize = 50001; },
         kDamaged, ""},
        {"wrong CRC", [](Archive* a) { a->entries[0].declaredCrc = 0x12345678; }, kDamaged, ""},
        {"encrypted member", [](Archive* a) { a->entries[0].deflate = false, a->entries[0].flags = 1; },
         kRefused, "encrypted"},
        {"unsupported method", [](Archive* a) { a->entries[0].declaredMethod = 12; }, kRefused,
         "compression method 12"},
        {"symbolic link made on Unix",
         [](Archive* a) { a->entries[0].host = 3, a->entries[0].unixMode = 0120777; }, kRefused,
         "symbolic link"},
        {"link mode from a DOS host is no link", [](Archive* a) { a->entries[0].unixMode = 0120777; },
         kExtracts, ""},
        {"two central entries share one local header",
         [&](Archive* a) {
             a->entries.push_back(second("n.txt"));
             a->entries[1].declaredOffset = 0;
         },
         kRefused, "overlap"},
        {"a member's data quoted inside another member's data",
         [&](Archive* a) {
             Entry inner = second("n.txt");
             a->entries[0].deflate = false;
             a->entries[0].content = testzip::LocalRecord(inner);
             inner.declaredOffset = 30 + 5;  // the data of "m.txt"
             a->entries.push_back(inner);
         },
         kRefused, "overlap"},
        {"local header names another file", [](Archive* a) { a->entries[0].localName = "evil.dll"; },
         kRefused, "names another file"},
        {"local header spells the name with the other separator",
         [](Archive* a) { a->entries[0].rawName = "d/m.txt", a->entries[0].localName = "d\\m.txt"; },
         kExtracts, ""},
        {"local header names the member in GBK, the directory in flagged UTF-8",
         [&](Archive* a) {
             a->entries[0].rawName = utf8, a->entries[0].flags = 0x0800;
             a->entries[0].localName = "\xD6\xD0\xCE\xC4.txt", a->entries[0].localFlags = 0;
         },
         kExtracts, ""},
        {"local header names the member in GBK but flags it UTF-8",
         [&](Archive* a) {
             a->entries[0].rawName = utf8, a->entries[0].flags = 0x0800;
             a->entries[0].localName = "\xD6\xD0\xCE\xC4.txt";
         },
         kRefused, "names another file"},
        {"unsafe member beside a good one", [&](Archive* a) { a->entries.push_back(second("../evil.txt")); },
         kRefused, "unsafe member name ../evil.txt"},
        {"names equal once separators and case are folded",
         [&](Archive* a) {
             a->entries.push_back(second("Data/a.txt"));
             a->entries.push_back(second("data\\A.TXT"));
         },
         kRefused, "name the same file"},
        {"a file where a later member needs a folder",
         [&](Archive* a) {
             a->entries.push_back(second("m.txt-2"));  // sorts between the two
             a->entries.push_back(second("M.TXT/x"));
         },
         kRefused, "needs a folder"},
        {"a file where an earlier member needs a folder",
         [&](Archive* a) {
             a->entries.insert(a->entries.begin(), second("m.txt\\sub/x"));
         },
         kRefused, "needs a folder"},
        {"end record counts more members than the directory holds",
         [](Archive* a) { a->declaredCount = 60000; }, kRefused, "counts more members"},
        {"second end record hidden in the comment", [](Archive* a) { a->hiddenEndRecord = true; }, kRefused,
         "two end records"},
        {"ZIP64 field puts the local header past the end",
         [](Archive* a) { a->zip64End = true, a->entries[0].zip64Sizes = true, a->entries[0].declaredOffset = 1LL << 33; },
         kRefused, "impossible sizes"},
        {"ZIP64 field declares 5 GiB in a small package",
         [](Archive* a) { a->zip64End = true, a->entries[0].zip64Sizes = true, a->entries[0].declaredSize = 5LL << 30; },
         kRefused, "impossible sizes"},
        {"ZIP64 sizes that are true", [](Archive* a) { a->zip64End = true, a->entries[0].zip64Sizes = true; },
         kExtracts, ""},
        {"ZIP64 locator points past the end", [](Archive* a) { a->zip64End = true, a->locatorOffset = 1LL << 40; },
         kRefused, "ZIP64 end record lies outside"},
        {"ZIP64 locator whose offset wraps around", [](Archive* a) { a->zip64End = true, a->locatorOffset = -16; },
         kRefused, "ZIP64 end record lies outside"},
        {"ZIP64 locator points at a member", [](Archive* a) { a->zip64End = true, a->locatorOffset = 0; },
         kRefused, "no ZIP64 end record"},
        {"ZIP64 count of 2^40 members", [](Archive* a) { a->zip64End = true, a->declaredCount = 1LL << 40; },
         kRefused, "more members than allowed"},
        {"ZIP64 count beyond what the directory holds", [](Archive* a) { a->zip64End = true, a->declaredCount = 70000; },
         kRefused, "counts more members"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        Archive archive;
        Entry entry;
        entry.rawName = "m.txt";
        entry.content = content;
        archive.entries.push_back(entry);
        c.change(&archive);
        const std::string package = Under(dir, "lying.zip");
        WriteBytes(package, testzip::Build(archive));

        CBundle bundle;
        EXPECT_EQ(bundle.Open(package.c_str(), nullptr), c.outcome != kRefused) << c.what;
        EXPECT_NE(bundle.LastError().find(c.reason), std::string::npos) << c.what << ": " << bundle.LastError();
        const std::string dest = Under(dir, "out.txt");
        const std::string& name = archive.entries.back().rawName;
        EXPECT_EQ(bundle.Extract(name.c_str(), dest.c_str()), c.outcome == kExtracts) << c.what;
        EXPECT_EQ(fs_port::PathExists(dest), c.outcome == kExtracts) << c.what;
        EXPECT_FALSE(fs_port::PathExists(dest + ".vtpart")) << c.what;
    }
}

TEST(Bundle, ExtractRefusesWhatItCannotExtractSafely) {
    TempDir dir;
    testzip::Archive archive;
    for (const char* name : {"folder/", "ok.txt"}) {
        testzip::Entry entry;
        entry.rawName = name;
        entry.content = name;
        archive.entries.push_back(entry);
    }
    const std::string package = Under(dir, "odd.zip");
    WriteBytes(package, testzip::Build(archive));

    CBundle unopened;
    EXPECT_FALSE(unopened.Extract("ok.txt", Under(dir, "x").c_str()));

    CBundle bundle;
    ASSERT_TRUE(bundle.Open(package.c_str(), nullptr)) << bundle.LastError();
    for (const char* name : {"../evil.txt", "twice/a.txt", "folder/", "missing.txt", "C:\\x"}) {
        EXPECT_FALSE(bundle.Extract(name, Under(dir, "out").c_str())) << name;
        EXPECT_FALSE(bundle.LastError().empty()) << name;
        // Of these, only a member the package lacks is the package's fault.
        const std::string asked = name;
        EXPECT_EQ(bundle.LastFailureInPackage(), asked == "missing.txt" || asked == "twice/a.txt") << name;
    }
    EXPECT_FALSE(fs_port::PathExists(Under(dir, "out")));
    EXPECT_FALSE(fs_port::PathExists(Under(dir, "..\\evil.txt")));
    EXPECT_TRUE(bundle.Extract("ok.txt", Under(dir, "out").c_str())) << bundle.LastError();
}

TEST(Bundle, WriterKeepsThePackageWholeWhenMembersFail) {
    TempDir dir;
    const std::string package = Under(dir, "log.data");
    WriteTextFile(package, "an older package");
    const std::string source = Under(dir, "src.txt");
    WriteTextFile(source, Lines(3000));

    {
        // Deleted without Release: nothing appears.
        CBundle abandoned;
        ASSERT_TRUE(abandoned.Create(Under(dir, "never.data").c_str(), nullptr));
        ASSERT_TRUE(abandoned.AddFile(source.c_str(), "a.txt"));
    }
    EXPECT_FALSE(fs_port::PathExists(Under(dir, "never.data")));
    EXPECT_FALSE(fs_port::PathExists(Under(dir, "never.data.vtpart")));

    CBundle bundle;
    ASSERT_TRUE(bundle.Create(package.c_str(), nullptr)) << bundle.LastError();
    EXPECT_TRUE(bundle.AddFile(source.c_str(), "Config/a.txt"));
    EXPECT_FALSE(bundle.AddFile(Under(dir, "missing.txt").c_str(), "missing.txt"));
    EXPECT_FALSE(bundle.AddFile(source.c_str(), "Config\\a.txt"));  // same name again
    EXPECT_FALSE(bundle.AddFile(source.c_str(), "../up.txt"));
    // Beyond the 16-bit name length of a ZIP header the name would wrap.
    EXPECT_FALSE(bundle.AddFile(source.c_str(), (std::string(70000, 'n') + ".txt").c_str()));
    EXPECT_FALSE(bundle.AddFile(dir.Path().c_str(), "folder.txt"));
    EXPECT_TRUE(bundle.AddFile(source.c_str(), "Log\\b.log"));
    // Until Release the old package is still in place.
    EXPECT_EQ(ReadTextFile(package), "an older package");
    ASSERT_TRUE(bundle.Release()) << bundle.LastError();
    EXPECT_FALSE(bundle.Release());

    zip::ZipReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(package, &error)) << error;
    EXPECT_EQ(reader.Comment(), kBundleTag);
    ASSERT_EQ(reader.Members().size(), 2u);
    EXPECT_EQ(reader.Members()[0].name, "Config/a.txt");
    EXPECT_EQ(reader.Members()[1].name, "Log\\b.log");
    CBundle check;
    ASSERT_TRUE(check.Open(package.c_str(), nullptr));
    ASSERT_TRUE(check.Extract("Log/b.log", Under(dir, "b.log").c_str())) << check.LastError();
    EXPECT_EQ(ReadTextFile(Under(dir, "b.log")), Lines(3000));

    // Long names fill the central directory to what the reader holds: the
    // member that would pass it is refused, and the package still opens.
    const std::string wide = Under(dir, "wide.data");
    size_t added = 0;
    ASSERT_TRUE(bundle.Create(wide.c_str(), nullptr));
    while (added < 600 && bundle.AddFile(source.c_str(), (std::to_string(added) + std::string(65000, 'n')).c_str())) ++added;
    EXPECT_EQ(bundle.LastError(), "too many members");
    ASSERT_TRUE(bundle.Release() && check.Open(wide.c_str(), nullptr)) << check.LastError();
    EXPECT_EQ(check.Members().size(), added);
}

TEST(Bundle, NeverWritesMoreThanAMemberDeclares) {
    // A member that inflates far beyond its declared size must not fill the
    // disk before the mismatch is noticed.
    class CountingSink : public ByteSink {
    public:
        bool Write(const char*, size_t size) override {
            received += size;
            return true;
        }
        size_t received = 0;
    };
    struct Case {
        int64_t declared;
        bool deflate;
    };
    const Case cases[] = {{1000, true}, {0, true}, {(4 << 20) - 1, true}};
    for (const Case& c : cases) {
        TempDir dir;
        testzip::Archive archive;
        testzip::Entry entry;
        entry.rawName = "bomb.bin";
        entry.content = std::string(4u << 20, '\0');
        entry.deflate = c.deflate;
        entry.declaredSize = c.declared;
        archive.entries.push_back(entry);
        const std::string package = Under(dir, "bomb.zip");
        WriteBytes(package, testzip::Build(archive));

        zip::ZipReader reader;
        std::string error;
        ASSERT_TRUE(reader.Open(package, &error)) << error;
        CountingSink sink;
        EXPECT_FALSE(reader.StreamMember(0, &sink, &error));
        EXPECT_LE(sink.received, static_cast<size_t>(c.declared)) << c.declared;
    }
}
