#include "update/fetch/kept_downloads.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/file_system.h"
#include "support/test_support.h"

namespace {

const char kSha[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

KeptDownloads TwoFiles() {
    KeptDownloads kept;
    kept.targetVersion = "1.0.0.2";
    kept.serverBase = "http://127.0.0.1:8080/1.0.0.2/";
    kept.stepBytes = 300;
    kept.files.push_back({"a.pak", "a.pak", 200, kSha, "\"5f3a-c8\"", true});
    kept.files.push_back({"d.pak", "_delta\\pak\\d.pak", -1, "", "Tue, 08 Dec 2026 10:00:00 GMT", false});
    return kept;
}

// Only a whole state file of ours is read; anything else means starting over.
TEST(KeptDownloads, ReadsBackWhatItWroteAndNothingElse) {
    const std::string good = FormatKeptDownloads(TwoFiles());
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        const size_t at = text.find(from);
        return at == std::string::npos ? std::string() : text.replace(at, from.size(), to);
    };
    const struct {
        const char* name;
        std::string text;
        bool read;
    } cases[] = {
        {"as written", good, true},
        {"empty", "", false},
        {"cut before its end line", good.substr(0, good.rfind("end\t")), false},
        {"cut inside a line", good.substr(0, good.size() - 2), false},
        {"an end count that disagrees", replaced("end\t2", "end\t3"), false},
        {"another format", replaced("downloads\t1", "downloads\t2"), false},
        {"a target that is no version", replaced("1.0.0.2\n", "1.0.2\n"), false},
        {"a digest that is no digest", replaced(kSha, std::string(64, 'G')), false},
        {"a size that is no number", replaced("\t200\t", "\t2x0\t"), false},
        {"a local path that steps out", replaced("\ta.pak\ta.pak", "\t..\\a.pak\ta.pak"), false},
        {"an absolute local path", replaced("\ta.pak\ta.pak", "\tC:\\a.pak\ta.pak"), false},
        {"a name listed twice", replaced("\td.pak\n", "\ta.pak\n"), false},
        {"a field too many", replaced("\ta.pak\ta.pak", "\ta.pak\ta.pak\tx"), false},
        {"CRLF line ends", replaced("\n", "\r\n"), false},
    };
    for (const auto& c : cases) {
        KeptDownloads kept;
        EXPECT_EQ(ParseKeptDownloads(c.text, &kept), c.read) << c.name;
        if (c.read) {
            EXPECT_EQ(FormatKeptDownloads(kept), good) << c.name;
        }
    }
}

// What the window shows of a work folder comes from the state and the files'
// sizes; a record the state could not read back is not written, and a closed
// state keeps nothing.
TEST(KeptDownloads, SummaryRecordsAndClose) {
    TempDir launcher;
    const std::string work = launcher.Path() + "/_temp/";
    fs_port::MakeDirectories(work + "_delta/pak");
    CKeptDownloads state;
    state.Start(work, "1.0.0.2", "http://server/1.0.0.2/");
    for (const KeptFile& file : TwoFiles().files) state.Record(file);
    WriteTextFile(work + "a.pak", std::string(250, 'a'));
    WriteTextFile(work + "_delta/pak/d.pak", "half");
    const KeptDownloadsSummary summary = SummarizeKeptDownloads(launcher.Path());
    EXPECT_TRUE(summary.present);
    EXPECT_EQ(summary.targetVersion, 1002);
    EXPECT_EQ(summary.keptBytes, 204);  // a.pak counts at most its whole size
    EXPECT_EQ(summary.stepBytes, -1);

    KeptFile file;
    state.Record({"x.pak", "..\\x.pak", 1, "", "", false});
    ASSERT_TRUE(state.Open(work));
    EXPECT_FALSE(state.Find("x.pak", &file));
    state.Close();
    EXPECT_FALSE(fs_port::PathExists(work + kKeptDownloadsFileName));
    EXPECT_FALSE(SummarizeKeptDownloads(launcher.Path()).present);
}

// Members made in a row are written by Flush (or about once a second); a
// record that takes one entry's name and another's local file replaces both,
// so the state stays one the next run can read.
TEST(KeptDownloads, MembersInARowAndARecordThatMeetsTwoEntries) {
    TempDir launcher;
    const std::string work = launcher.Path() + "/_temp/";
    fs_port::MakeDirectories(work);
    CKeptDownloads state;
    state.Start(work, "1.0.0.2", "http://server/1.0.0.2/");
    for (const KeptFile& file : TwoFiles().files) state.Record(file);
    for (int i = 0; i < 2000; ++i) {
        const std::string place = "m\\" + std::to_string(i);
        state.RecordSoon({"member:1.0.0.1/p.pak/" + place, place, i, kSha, "", true});
    }
    state.Flush();
    state.Record({"a.pak", "_delta\\pak\\d.pak", 7, "", "", false});

    CKeptDownloads reread;
    ASSERT_TRUE(reread.Open(work));
    KeptFile file;
    ASSERT_TRUE(reread.Find("member:1.0.0.1/p.pak/m\\1999", &file));
    EXPECT_EQ(file.wholeSize, 1999);
    ASSERT_TRUE(reread.Find("a.pak", &file));
    EXPECT_EQ(file.localPath, "_delta\\pak\\d.pak");
    EXPECT_FALSE(reread.Find("d.pak", &file));
}

}  // namespace
