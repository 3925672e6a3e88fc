#include "maintenance/verify_version.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "maintenance/journal_lines.h"
#include "maintenance/verify_cache.h"
#include "package/fast_file.h"
#include "package/patch_kit.h"
#include "platform/file_system.h"
#include "platform/progress_pacer.h"
#include "platform/text_encoding.h"
#include "platform/text_format.h"
#include "support/test_support.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs AsPairs(const std::vector<FileDigestPair>& pairs) {
    Pairs out;
    for (const FileDigestPair& pair : pairs) out.emplace_back(pair.name, pair.digest);
    return out;
}

TEST(VersionContent, EntryAndPairRules) {
    const struct {
        const char* name;
        std::string content;
        VersionContentState state;
        int32_t version;
        Pairs chosen;
        size_t allPairs;
    } cases[] = {
        {"one pair, no final line feed (E=2)", "1203\na.dat\nD1", VersionContentState::Usable, 1203,
         {{"a.dat", "D1"}}, 1},
        {"one pair, final line feed (E=3)", "1203\na.dat\nD1\n", VersionContentState::Usable, 1203,
         {{"a.dat", "D1"}}, 1},
        {"two pairs, no final line feed (E=4)", "7\na\nD1\nsub\\b\nD2", VersionContentState::Usable,
         7, {{"a", "D1"}, {"sub\\b", "D2"}}, 2},
        {"two pairs, final line feed (E=5): first only", "7\na\nD1\nb\nD2\n",
         VersionContentState::Usable, 7, {{"a", "D1"}}, 2},
        {"name without digest (E=3): first only", "7\na\nD1\nb", VersionContentState::Usable, 7,
         {{"a", "D1"}}, 1},
        {"three pairs (E=6)", "7\na\n1\nb\n2\nc\n3", VersionContentState::Usable, 7,
         {{"a", "1"}, {"b", "2"}, {"c", "3"}}, 3},
        {"carriage returns stay in the entries", "1203\r\na\r\nD1\r", VersionContentState::Usable,
         1203, {{"a\r", "D1\r"}}, 1},
        {"empty entries count", "5\n\n", VersionContentState::Usable, 5, {{"", ""}}, 1},
        {"no leading number gives 0", "v1.2\na\nD", VersionContentState::Usable, 0, {{"a", "D"}}, 1},
        {"blanks and sign before the number", " \t-12x\na\nD", VersionContentState::Usable, -12,
         {{"a", "D"}}, 1},
        {"a number beyond 32 bits is clamped", "99999999999\na\nD", VersionContentState::Usable,
         2147483647, {{"a", "D"}}, 1},
        {"GBK name becomes UTF-8", "1\n\xD6\xD0\xCE\xC4.dat\nD", VersionContentState::Usable, 1,
         {{"中文.dat", "D"}}, 1},
        {"version alone", "1203", VersionContentState::TooFewLineFeeds, 0, {}, 0},
        {"version and one line feed", "1203\n", VersionContentState::TooFewLineFeeds, 0, {}, 0},
        {"empty", "", VersionContentState::NoContent, 0, {}, 0},
        {"first byte NUL", std::string("\0" "1\na\nb", 6), VersionContentState::NoContent, 0, {}, 0},
    };
    for (const auto& c : cases) {
        ParsedVersionFile parsed;
        ASSERT_EQ(ParseVersionContent(c.content, &parsed), c.state) << c.name;
        if (c.state != VersionContentState::Usable) continue;
        EXPECT_EQ(parsed.installedVersion, c.version) << c.name;
        EXPECT_EQ(AsPairs(parsed.chosenPairs), c.chosen) << c.name;
        EXPECT_EQ(parsed.allPairs.size(), c.allPairs) << c.name;
    }
}

TEST(VersionContent, VersionNumberReadLikeAtoi) {
    const struct {
        const char* text;
        int32_t number;
    } cases[] = {{"1203", 1203}, {"+4", 4},   {"-2147483648", -2147483647 - 1},
                 {"", 0},        {"-", 0},    {"12 34", 12},
                 {"\r7", 7}, {"\t 12", 12},     {"0x10", 0}, {"-99999999999", -2147483647 - 1}};
    for (const auto& c : cases) {
        ParsedVersionFile parsed;
        ASSERT_EQ(ParseVersionContent(std::string(c.text) + "\na\nb", &parsed),
                  VersionContentState::Usable) << c.text;
        EXPECT_EQ(parsed.installedVersion, c.number) << c.text;
    }
}

class VerifyGame : public testing::Test {
protected:
    void WriteVersionFile(const std::string& content, const FileKey& key = LauncherFileKey()) {
        CFastFile file(ModeWrite);
        ASSERT_TRUE(file.Open(m_game.File("version.data").c_str(), "w+"));
        ASSERT_TRUE(file.WriteBytes(content.data(), content.size(), &key, true));
        file.Close();
    }
    std::string Digest(const std::string& name) {
        std::string hex;
        EXPECT_TRUE(ComputeFileMd5(m_game.File(name), &hex));
        return hex;
    }
    VerifyReport Verify() { return VerifyGameVersion(m_game.Path(), m_kit, m_log.Journal()); }

    TempDir m_game;
    CPatchKit m_kit;
    JournalCapture m_log;
};

TEST_F(VerifyGame, NothingToVerifyGivesFalse) {
    const FileKey otherKey = {1, 2, 3, 4, 5};
    const struct {
        const char* name;
        bool write;
        std::string content;
        bool otherKey;
        std::vector<std::string> entries;
    } cases[] = {
        {"missing file", false, "", false, {"[Info] 开始验证游戏版本", "[Error] 版本文件打开失败"}},
        {"version alone", true, "1203\n", false, {"[Info] 开始验证游戏版本"}},
        {"another key", true, "1203\na\nb", true, {"[Info] 开始验证游戏版本"}},
        {"over its size cap", true, "1203\n" + std::string(kMaxVersionFileBytes, 'a') + "\nx", false,
         {"[Info] 开始验证游戏版本", "[Error] 版本文件过大 : 超过 " + std::to_string(kMaxVersionFileBytes) + " 字节"}},
    };
    for (const auto& c : cases) {
        TempDir game;
        JournalCapture log;
        if (c.write) {
            const FileKey& key = c.otherKey ? otherKey : LauncherFileKey();
            CFastFile file(ModeWrite);
            ASSERT_TRUE(file.Open((game.Path() + "/version.data").c_str(), "w+"));
            ASSERT_TRUE(file.WriteBytes(c.content.data(), c.content.size(), &key, true));
            file.Close();
        }
        const VerifyReport report = VerifyGameVersion(game.Path(), m_kit, log.Journal());
        EXPECT_FALSE(report.verified) << c.name;
        EXPECT_EQ(log.Entries(), c.entries) << c.name;
    }
}

TEST_F(VerifyGame, MismatchesAreLoggedByListedName) {
    WriteTextFile(m_game.File("good.dat"), "good");
    WriteTextFile(m_game.File("changed.dat"), "changed");
    ASSERT_TRUE(fs_port::MakeDirectory(m_game.File("sub")));
    WriteTextFile(m_game.File("sub/中文.dat"), "deep");
    const std::string changedDigest = Digest("changed.dat");
    const std::string content = "1203\ngood.dat\n" + Digest("good.dat") +
                                "\nchanged.dat\n" + std::string(32, '0') +
                                "\nmissing.dat\n" + Digest("good.dat") +
                                "\nsub\\\xD6\xD0\xCE\xC4.dat\n" + Digest("sub/中文.dat") +
                                "\nupper.dat\n" + "ABC";
    WriteTextFile(m_game.File("upper.dat"), "x");
    WriteVersionFile(content);
    const VerifyReport report = Verify();
    EXPECT_TRUE(report.verified);
    EXPECT_EQ(report.installedVersion, 1203);
    EXPECT_EQ(report.checkedFiles, 5u);
    EXPECT_EQ(report.mismatches,
              (std::vector<std::string>{"changed.dat", "missing.dat", "upper.dat"}));
    EXPECT_EQ(m_log.Entries(), (std::vector<std::string>{
                                 "[Info] 开始验证游戏版本", "[Error] 1203",
                                 "[Error] 警告 : changed.dat  文件验证不匹配。",
                                 "[Error] 警告 : missing.dat  文件验证不匹配。",
                                 "[Error] 警告 : upper.dat  文件验证不匹配。",
                                 "[Info] 游戏版本验证完毕"}));
    // Nothing is repaired or removed.
    EXPECT_EQ(ReadTextFile(m_game.File("changed.dat")), "changed");
    EXPECT_EQ(Digest("changed.dat"), changedDigest);
}

// The files are hashed on several threads; what reaches the log and the
// report must still be in list order, each file judged by its own digest.
TEST_F(VerifyGame, ManyFilesAreReportedInListOrder) {
    constexpr int kFiles = 120;
    std::string content = "1300";
    std::vector<std::string> expectedMismatches;
    std::vector<std::string> expectedEntries = {"[Info] 开始验证游戏版本", "[Error] 1300"};
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = "f" + std::to_string(i) + ".dat";
        // Sizes from empty to a few hundred KiB, so that workers finish out of order.
        const size_t size = (static_cast<size_t>(i) * 7919u) % (300u << 10);
        const bool missing = i % 11 == 5;
        const bool changed = i % 7 == 3;
        const bool folder = i == 42;
        if (folder) {
            ASSERT_TRUE(fs_port::MakeDirectory(m_game.File(name)));
        } else if (!missing) {
            WriteTextFile(m_game.File(name), std::string(size, static_cast<char>('a' + i % 26)));
        }
        const std::string digest = missing || folder ? std::string(32, '0')
                                   : changed          ? std::string(32, 'e')
                                                      : Digest(name);
        content += "\n" + name + "\n" + digest;
        if (missing || changed || folder) {
            expectedMismatches.push_back(name);
            expectedEntries.push_back("[Error] 警告 : " + name + "  文件验证不匹配。");
        }
    }
    expectedEntries.push_back("[Info] 游戏版本验证完毕");
    WriteVersionFile(content);
    const VerifyReport report = Verify();
    EXPECT_TRUE(report.verified);
    EXPECT_EQ(report.checkedFiles, static_cast<size_t>(kFiles));
    EXPECT_EQ(report.mismatches, expectedMismatches);
    EXPECT_EQ(m_log.Entries(), expectedEntries);
}

TEST_F(VerifyGame, FinalLineFeedLimitsTheCheckToTheFirstFile) {
    WriteTextFile(m_game.File("a.dat"), "a");
    const std::string pairs = "1204\na.dat\n" + Digest("a.dat") + "\nb.dat\n" + std::string(32, 'f');
    const struct {
        std::string content;
        size_t checked;
        size_t mismatches;
    } cases[] = {{pairs, 2, 1}, {pairs + "\n", 1, 0}, {pairs + "\r", 2, 1}};
    for (const auto& c : cases) {
        WriteVersionFile(c.content);
        const VerifyReport report = Verify();
        EXPECT_TRUE(report.verified);
        EXPECT_EQ(report.installedVersion, 1204);
        EXPECT_EQ(report.checkedFiles, c.checked);
        EXPECT_EQ(report.mismatches.size(), c.mismatches);
    }
}

TEST_F(VerifyGame, DigestEndingInCarriageReturnNeverMatches) {
    WriteTextFile(m_game.File("a.dat"), "a");
    WriteVersionFile("1\r\na.dat\r\n" + Digest("a.dat") + "\r");
    const VerifyReport report = Verify();
    EXPECT_TRUE(report.verified);
    EXPECT_EQ(report.installedVersion, 1);
    EXPECT_EQ(report.mismatches, (std::vector<std::string>{"a.dat\r"}));
}

// Closing the window stops the check inside a large file, not after it.
TEST_F(VerifyGame, StopEndsTheCheckWithinABlock) {
    constexpr int64_t kLargeFileBytes = int64_t{4} << 30;  // seconds to hash, nothing to store
    std::FILE* file = fs_port::OpenFile(m_game.File("big.dat"), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(fs_port::TruncateFile(file, kLargeFileBytes));
    std::fclose(file);
    WriteVersionFile("1207\nbig.dat\n" + std::string(32, '0'));
    std::atomic<bool> stop{false};
    VerifyOptions options;
    options.stop = &stop;
    options.useCache = true;
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop = true;
    });
    const auto began = std::chrono::steady_clock::now();
    const VerifyReport report = VerifyGameVersion(m_game.Path(), m_kit, m_log.Journal(), LauncherFileKey(), options);
    const auto took = std::chrono::steady_clock::now() - began;
    closer.join();
    EXPECT_TRUE(report.stopped);
    EXPECT_FALSE(report.verified);
    EXPECT_LT(took, std::chrono::seconds(1));
    EXPECT_EQ(m_log.Entries().back(), std::string("[Notice] ") + kVerifyStoppedLog);
}

// The status line moves with every file, but reaches the window at most ten
// times a second however small the files are.
TEST(VerifyProgress, TextAndPace) {
    EXPECT_EQ(VerifyProgressText(1234, 3300), "正在验证游戏文件 : 37% (1234 / 3300)");
    EXPECT_EQ(VerifyProgressText(0, 0), "正在验证游戏文件 : 100% (0 / 0)");
    using namespace std::chrono_literals;
    const auto t0 = std::chrono::steady_clock::time_point() + 1h;
    const struct {
        std::chrono::milliseconds at;
        bool due;
        bool forced = false;
    } reports[] = {{0ms, true},    {1ms, false},         {99ms, false},  {100ms, true},
                   {150ms, false}, {250ms, true},        {260ms, false}, {270ms, true, true},
                   {360ms, false}, {370ms, true}};
    ProgressPacer pacer(kVerifyProgressInterval);
    for (const auto& r : reports) EXPECT_EQ(pacer.Due(t0 + r.at, r.forced), r.due) << r.at.count();
    EXPECT_EQ(pacer.NextDue(), t0 + 470ms);
}

TEST(VerifyCache, ServesOnlyTheFolderOfAnyScriptItWasWrittenForAndNoEarlierFormat) {
    for (const std::string folder : {"C:\\게임", "C:\\Ñandú", "C:\\🎮 game"}) {
        const std::string bytes = FormatVerifyCache(folder, {{VerifyCacheLine::Kind::Verified, "a", {}, std::string(32, 'a')}});
        const std::string earlier = "vantorel-verify-cache 1\t" + folder + "\n";
        std::string twin;  // its GBK bytes are this folder's UTF-8 bytes
        ASSERT_TRUE(GbkToUtf8(folder, &twin)) << folder;
        std::vector<VerifyCacheLine> lines;
        EXPECT_EQ(ParseVerifyCache(bytes, twin, &lines), VerifyCacheRead::Foreign) << folder;
        EXPECT_EQ(ParseVerifyCache(earlier + "end\t" + Md5OfBytes(earlier) + "\n", folder, &lines), VerifyCacheRead::Damaged);
    }
}

// What a second check reads after a first one wrote the cache, and what it
// finds: only a file whose stamp is unchanged is trusted without reading.
TEST_F(VerifyGame, CacheSparesOnlyFilesWhoseStampIsUnchanged) {
    namespace stdfs = std::filesystem;
    using namespace std::chrono_literals;
    const auto sameTimeAs = [](const std::string& path, const std::string& model) {
        stdfs::last_write_time(path, stdfs::last_write_time(model));
    };
    const auto rewrite = [&](const std::string& path, const std::string& content) {
        const auto time = stdfs::last_write_time(path);
        WriteTextFile(path, content);
        stdfs::last_write_time(path, time);
    };
    const std::string cache = m_game.File(kVerifyCacheName);
    const auto editCache = [&](const std::function<void(std::string&)>& edit) {
        std::string bytes = ReadTextFile(cache);
        edit(bytes);
        WriteTextFile(cache, bytes);
    };
    const std::vector<std::string> all = {"a.dat", "b.dat", "c.dat"};
    const struct {
        const char* name;
        std::function<void()> change;
        bool full;
        std::vector<std::string> read;
        std::vector<std::string> mismatches;
        std::vector<std::string> forgotten;  // listed no more: its line goes
    } cases[] = {
        {"nothing changed", [] {}, false, {}, {}, {}},
        {"another size", [&] { WriteTextFile(m_game.File("a.dat"), "longer a"); }, false, {"a.dat"}, {"a.dat"}, {}},
        {"another time, the same size",
         [&] { stdfs::last_write_time(m_game.File("b.dat"), stdfs::last_write_time(m_game.File("b.dat")) + 5s); },
         false, {"b.dat"}, {}, {}},
        {"replaced by a file of the same size and time",
         [&] {
             WriteTextFile(m_game.File("new"), "A");
             sameTimeAs(m_game.File("new"), m_game.File("a.dat"));
             ASSERT_TRUE(fs_port::RenamePath(m_game.File("new"), m_game.File("a.dat"), true));
         },
         false, {"a.dat"}, {"a.dat"}, {}},
        {"removed", [&] { fs_port::RemoveFile(m_game.File("c.dat")); }, false, {"c.dat"}, {"c.dat"}, {}},
        {"no longer listed", [&] { WriteVersionFile("1206\na.dat\n" + Digest("a.dat") + "\nb.dat\n" + Digest("b.dat")); },
         false, {}, {}, {"c.dat"}},
        {"cut short", [&] { editCache([](std::string& b) { b.resize(b.size() - 40); }); }, false, all, {}, {}},
        {"another digest, well-formed",
         [&] { editCache([](std::string& b) { char& d = b[b.find("\tc.dat") - 1]; d = d == '0' ? '1' : '0'; }); },
         false, all, {}, {}},
        {"written for another folder",
         [&] {
             editCache([&](std::string& b) {
                 std::vector<VerifyCacheLine> lines;
                 ASSERT_EQ(ParseVerifyCache(b, m_game.Path(), &lines), VerifyCacheRead::Usable);
                 b = FormatVerifyCache(m_game.Path() + "x", lines);
             });
         },
         false, all, {}, {}},
        {"a byte changed under the same size and time", [&] { rewrite(m_game.File("b.dat"), "B"); }, false, {}, {}, {}},
        {"the same, checked in full", [&] { rewrite(m_game.File("b.dat"), "B"); }, true, all, {"b.dat"}, {}},
    };
    for (const auto& c : cases) {
        fs_port::RemoveFile(cache);
        for (const std::string& name : all) {
            // Whole seconds: the Windows runtime reads and sets file times only to the second.
            WriteTextFile(m_game.File(name), name.substr(0, 1));
            const auto time = stdfs::last_write_time(m_game.File(name)).time_since_epoch();
            stdfs::last_write_time(m_game.File(name), stdfs::file_time_type(std::chrono::floor<std::chrono::seconds>(time)));
        }
        const std::string listAll =
            "1205\na.dat\n" + Digest("a.dat") + "\nb.dat\n" + Digest("b.dat") + "\nc.dat\n" + Digest("c.dat");
        WriteVersionFile(listAll);
        VerifyOptions options;
        options.useCache = true;
        ASSERT_EQ(VerifyGameVersion(m_game.Path(), m_kit, m_log.Journal(), LauncherFileKey(), options).readFiles, all);
        c.change();
        options.ignoreCachedDigests = c.full;
        JournalCapture log;
        const VerifyReport second = VerifyGameVersion(m_game.Path(), m_kit, log.Journal(), LauncherFileKey(), options);
        EXPECT_EQ(second.readFiles, c.read) << c.name;
        EXPECT_EQ(second.mismatches, c.mismatches) << c.name;
        // The log says how the files were checked, and how to check them all.
        const std::string note = c.full                 ? std::string("[Notice] ") + kFullCheckNote
                                 : c.read.size() == 3 ? std::string("[Notice] ") + kCacheRebuiltNote
                                                      : StringPrintf((std::string("[Info] ") + kCachedFilesNote).c_str(),
                                                                     static_cast<unsigned long long>(
                                                                         3 - c.read.size() - c.forgotten.size()));
        EXPECT_EQ(log.Entries().back(), note) << c.name;
        // The renewed cache holds: a third check of every file reads only a
        // missing one, and one whose line went with its listing.
        options.ignoreCachedDigests = false;
        WriteVersionFile(listAll);
        const VerifyReport third = VerifyGameVersion(m_game.Path(), m_kit, log.Journal(), LauncherFileKey(), options);
        std::vector<std::string> unknown = c.forgotten;
        for (const std::string& name : all) {
            if (!fs_port::PathExists(m_game.File(name))) unknown.push_back(name);
        }
        EXPECT_EQ(third.readFiles, unknown) << c.name;
    }
}

}  // namespace
