#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "support/test_support.h"

namespace {

// Limits the size of files this process may write, as a full disk would.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_savedHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved{};
    void (*m_savedHandler)(int) = nullptr;
};

}  // namespace

TEST(JournalPosix, FailedWriteLeavesNoPartOfTheLine) {
    TempDir dir;
    const std::string path = dir.File("full.log");
    CJournal journal;
    ASSERT_EQ(journal.AttachFile(path.c_str()), 0);
    ASSERT_EQ(journal.AddEntry(EntryKind::Info, "before the disk filled"), 0);
    const std::string before = ReadTextFile(path);
    {
        FileSizeLimit limit(before.size() + 20);  // room for a part of the next line only
        EXPECT_EQ(journal.AddEntry(EntryKind::Error, std::string(200, 'x').c_str()), -1);
        EXPECT_EQ(ReadTextFile(path), before);
        EXPECT_EQ(journal.AddEntry(EntryKind::Error, "still full, still nothing"), -1);
        EXPECT_EQ(ReadTextFile(path), before);
    }
    ASSERT_EQ(journal.AddEntry(EntryKind::Notice, "room again"), 0);
    const std::string after = ReadTextFile(path);
    ASSERT_EQ(after.compare(0, before.size(), before), 0);
    const std::string added = after.substr(before.size());
    EXPECT_EQ(added.find('x'), std::string::npos);
    EXPECT_EQ(added.substr(23), " [Notice] room again\n");
}

TEST(JournalPosix, DeviceThatIsAlwaysFullReportsFailure) {
    CJournal journal;
    if (journal.AttachFile("/dev/full") != 0) GTEST_SKIP() << "no /dev/full";
    EXPECT_EQ(journal.AddEntry(EntryKind::Error, "lost"), -1);
}

// The launcher started with "/update" logs into the same file as the one that
// already runs. Long lines from several processes at once must stay whole.
TEST(JournalPosix, ProcessesAppendingToOneFileKeepTheirLinesWhole) {
    constexpr int kProcesses = 3;
    constexpr int kEntries = 300;
    const std::string body(6000, 'b');  // longer than a stdio buffer
    TempDir dir;
    const std::string path = dir.File("shared.log");
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            CJournal journal;
            int failures = journal.AttachFile(path.c_str()) == 0 ? 0 : 1;
            for (int n = 0; n < kEntries; ++n) {
                failures += journal.AddEntryF(EntryKind::Info, "P%d N%d %s", p, n, body.c_str()) != 0;
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    const std::string content = ReadTextFile(path);
    std::vector<int> next(kProcesses, 0);
    size_t lines = 0;
    for (size_t start = 0, end; (end = content.find('\n', start)) != std::string::npos;
         start = end + 1, ++lines) {
        const std::string line = content.substr(start, end - start);
        int p = -1, n = -1, used = 0;
        ASSERT_GT(line.size(), 31u);
        ASSERT_EQ(std::sscanf(line.c_str() + 31, "P%d N%d %n", &p, &n, &used), 2) << line.substr(0, 80);
        ASSERT_TRUE(p >= 0 && p < kProcesses);
        EXPECT_EQ(n, next[p]++);
        EXPECT_TRUE(line.compare(31 + static_cast<size_t>(used), std::string::npos, body) == 0);
    }
    EXPECT_EQ(lines, static_cast<size_t>(kProcesses * kEntries));
}
