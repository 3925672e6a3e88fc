#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "journal/journal.h"
#include "platform/local_time.h"
#include "platform/text_format.h"
#include "support/test_support.h"

namespace {

struct Line {
    std::string stamp;
    std::string kind;
    std::string text;
};

std::vector<std::string> SplitLines(const std::string& content) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(content.substr(start, end - start));
    }
    EXPECT_EQ(start, content.size()) << "content does not end with a line break";
    return lines;
}

// Checks the layout "2026-12-07 19:24:36.123 [Info] text": digits where the
// pattern has 'd', fields in their ranges, one of the three kinds.
bool ParseLine(const std::string& line, Line* out) {
    static const std::string kStampPattern = "dddd-dd-dd dd:dd:dd.ddd";
    if (line.size() < kStampPattern.size() + 2) return false;
    for (size_t i = 0; i < kStampPattern.size(); ++i) {
        const bool digit = line[i] >= '0' && line[i] <= '9';
        if (kStampPattern[i] == 'd' ? !digit : line[i] != kStampPattern[i]) return false;
    }
    int year, month, day, hour, minute, second, milli;
    if (std::sscanf(line.c_str(), "%4d-%2d-%2d %2d:%2d:%2d.%3d", &year, &month, &day, &hour,
                    &minute, &second, &milli) != 7 ||
        month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 60) {
        return false;
    }
    out->stamp = line.substr(0, kStampPattern.size());
    for (const char* kind : {"Info", "Notice", "Error"}) {
        const std::string marker = std::string(" [") + kind + "] ";
        if (line.compare(kStampPattern.size(), marker.size(), marker) == 0) {
            out->kind = kind;
            out->text = line.substr(kStampPattern.size() + marker.size());
            return true;
        }
    }
    return false;
}

std::vector<Line> ReadLines(const std::string& path) {
    std::vector<Line> lines;
    for (const std::string& raw : SplitLines(ReadTextFile(path))) {
        Line line;
        EXPECT_TRUE(ParseLine(raw, &line)) << "malformed line: " << raw.substr(0, 200);
        lines.push_back(line);
    }
    return lines;
}

std::string NowStamp() {
    const LocalTime t = CurrentLocalTime();
    return StringPrintf("%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour,
                        t.minute, t.second, t.millisecond);
}

}  // namespace

TEST(Journal, WritesOneWellFormedLinePerEntryWithLocalTime) {
    TempDir dir;
    const std::string path = dir.File("launcher.log");
    CJournal journal;
    ASSERT_EQ(journal.AttachFile(path.c_str()), 0);
    EXPECT_EQ(journal.AttachedPath(), path);

    const std::string before = NowStamp();
    EXPECT_EQ(journal.AddEntry(EntryKind::Info, "初始化Launcher完成"), 0);
    EXPECT_EQ(journal.AddEntry(EntryKind::Notice, "Update end."), 0);
    EXPECT_EQ(journal.AddEntryF(EntryKind::Error, "connect error ! code : %d", 10061), 0);
    const std::string after = NowStamp();

    const std::vector<Line> lines = ReadLines(path);
    ASSERT_EQ(lines.size(), 3u);
    const char* kinds[] = {"Info", "Notice", "Error"};
    const char* texts[] = {"初始化Launcher完成", "Update end.", "connect error ! code : 10061"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(lines[i].kind, kinds[i]);
        EXPECT_EQ(lines[i].text, texts[i]);
        // The stamp is the local time of the call: a wrong month, year or
        // zone would fall outside the bounds.
        EXPECT_LE(before, lines[i].stamp);
        EXPECT_LE(lines[i].stamp, after);
    }
}

TEST(Journal, KeepsEveryEntryOnOneLine) {
    struct Case {
        std::string text;
        std::string written;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"a\nb", "a b"},
        {"a\r\nb\r", "a  b "},
        {"tab\tstays", "tab\tstays"},
        {"\x1b[31mred", " [31mred"},
        {"中文 ok", "中文 ok"},
        {"gbk \xD6\xD0", "gbk \xEF\xBF\xBD\xEF\xBF\xBD"},  // not UTF-8: replaced
        {"cut \xE4\xB8", "cut \xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    TempDir dir;
    const std::string path = dir.File("clean.log");
    CJournal journal;
    ASSERT_EQ(journal.AttachFile(path.c_str()), 0);
    for (const Case& c : cases) EXPECT_EQ(journal.AddEntry(EntryKind::Info, c.text.c_str()), 0);
    const std::vector<Line> lines = ReadLines(path);
    ASSERT_EQ(lines.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(lines[i].text, cases[i].written) << i;
}

TEST(Journal, EntryIsInTheFileWhenAddEntryReturns) {
    TempDir dir;
    const std::string path = dir.File("flush.log");
    CJournal journal;
    ASSERT_EQ(journal.AttachFile(path.c_str()), 0);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(journal.AddEntryF(EntryKind::Notice, "entry %d", i), 0);
        const std::vector<Line> lines = ReadLines(path);
        ASSERT_EQ(lines.size(), static_cast<size_t>(i + 1));
        EXPECT_EQ(lines.back().text, "entry " + std::to_string(i));
    }
}

TEST(Journal, FormattedEntriesOfAnyLengthArriveWhole) {
    TempDir dir;
    const std::string path = dir.File("long.log");
    CJournal journal;
    ASSERT_EQ(journal.AttachFile(path.c_str()), 0);
    const size_t lengths[] = {0, 511, 512, 1024, 4095, 4096, 8192, 65536, 1 << 20};
    for (size_t length : lengths) {
        const std::string arg(length, 'z');
        EXPECT_EQ(journal.AddEntryF(EntryKind::Info, "Add del = %s|%zu", arg.c_str(), length), 0);
    }
    const std::vector<Line> lines = ReadLines(path);
    ASSERT_EQ(lines.size(), std::size(lengths));
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].text ==
                    "Add del = " + std::string(lengths[i], 'z') + "|" + std::to_string(lengths[i]))
            << lengths[i];
    }
}

TEST(Journal, ThresholdLetsThroughKindsDownFromError) {
    struct Case {
        int threshold;
        std::vector<std::string> written;
    };
    const std::vector<Case> cases = {
        {-1, {}},
        {0, {"Error", "Error"}},
        {1, {"Notice", "Error", "Error"}},
        {2, {"Info", "Notice", "Error", "Error"}},
        {3, {"Info", "Notice", "Error", "Error"}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir.File("t.log");
        CJournal journal;
        journal.SetThreshold(static_cast<Threshold>(c.threshold));
        ASSERT_EQ(journal.AttachFile(path.c_str()), 0);
        // A kind outside the three known ones counts as an error.
        for (int kind : {0, 1, 2, 7}) {
            EXPECT_EQ(journal.AddEntry(static_cast<EntryKind>(kind), "x"), 0);
        }
        std::vector<std::string> written;
        for (const Line& line : ReadLines(path)) written.push_back(line.kind);
        EXPECT_EQ(written, c.written) << "threshold " << c.threshold;
    }
}

TEST(Journal, ManyThreadsLoseAndMixNothing) {
    constexpr int kThreads = 8;
    constexpr int kEntries = 2500;
    // Some entries are longer than any stdio buffer, so a line that left in
    // pieces would show.
    auto padding = [](int n) { return std::string(n % 9 == 0 ? 5000 : n % 13, 'p'); };
    TempDir dir;
    const std::string path = dir.File("threads.log");
    CJournal journal;
    ASSERT_EQ(journal.AttachFile(path.c_str()), 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&journal, &padding, t] {
            for (int n = 0; n < kEntries; ++n) {
                journal.AddEntryF(static_cast<EntryKind>(n % 3), "T%d N%d %s", t, n,
                                  padding(n).c_str());
            }
        });
    }
    for (std::thread& th : threads) th.join();

    const std::vector<Line> lines = ReadLines(path);
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kEntries));
    std::vector<int> next(kThreads, 0);  // each thread's entries appear in order
    for (const Line& line : lines) {
        int t = -1, n = -1, used = 0;
        ASSERT_EQ(std::sscanf(line.text.c_str(), "T%d N%d %n", &t, &n, &used), 2) << line.text;
        ASSERT_TRUE(t >= 0 && t < kThreads);
        ASSERT_EQ(n, next[t]) << "thread " << t;
        ++next[t];
        EXPECT_TRUE(line.text.substr(static_cast<size_t>(used)) == padding(n));
        const char* kinds[] = {"Info", "Notice", "Error"};
        EXPECT_EQ(line.kind, kinds[n % 3]);
    }
}

TEST(Journal, AttachAppendsAndDetachStopsWriting) {
    TempDir dir;
    const std::string path = dir.File("日志.log");
    WriteTextFile(path, "old line\nolder line\n");
    CJournal journal;
    EXPECT_EQ(journal.AddEntry(EntryKind::Error, "before attach"), -1);
    EXPECT_EQ(journal.AttachFile(dir.File("missing\\folder.log").c_str()), -1);
    EXPECT_EQ(journal.AttachedPath(), "");
    EXPECT_EQ(journal.AddEntry(EntryKind::Error, "nowhere"), -1);

    ASSERT_EQ(journal.AttachFile(path.c_str()), 0);
    EXPECT_EQ(journal.AddEntry(EntryKind::Info, "first"), 0);
    journal.TrapFaults(false);
    journal.Detach();
    EXPECT_EQ(journal.AttachedPath(), "");
    EXPECT_EQ(journal.AddEntry(EntryKind::Info, "detached"), -1);
    ASSERT_EQ(journal.AttachFile(path.c_str()), 0);
    EXPECT_EQ(journal.AddEntry(EntryKind::Info, "second"), 0);

    const std::vector<std::string> raw = SplitLines(ReadTextFile(path));
    ASSERT_EQ(raw.size(), 4u);
    EXPECT_EQ(raw[0], "old line");
    EXPECT_EQ(raw[1], "older line");
    Line line;
    ASSERT_TRUE(ParseLine(raw[2], &line));
    EXPECT_EQ(line.text, "first");
    ASSERT_TRUE(ParseLine(raw[3], &line));
    EXPECT_EQ(line.text, "second");
}

TEST(Journal, OneProcessWideJournalOnEveryThread) {
    CJournal* seen[4] = {};
    std::vector<std::thread> threads;
    for (auto& slot : seen) threads.emplace_back([&slot] { slot = &TheJournal(); });
    for (std::thread& th : threads) th.join();
    for (CJournal* p : seen) EXPECT_EQ(p, &TheJournal());
}
