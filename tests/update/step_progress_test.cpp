#include <gtest/gtest.h>

#include "update/report/step_progress.h"

namespace {

using Clock = StepProgress::Clock;
using std::chrono::milliseconds;

constexpr int64_t kKiB = 1024;
constexpr int64_t kMiB = 1024 * kKiB;
constexpr int64_t kGiB = 1024 * kMiB;

struct LineCase {
    const char* name;
    StepPhase phase;
    PhaseFigures figures;
    const char* line;
};

TEST(StepProgressText, FormatsSizesSpeedsAndTimesLeft) {
    const LineCase cases[] = {
        {"just under a GiB, which one decimal rounds up, reads in GB", StepPhase::Download,
         {"data3.pak", 412 * kMiB + kMiB / 2, kGiB - 1, 12.3 * kMiB, 49},
         "正在下载 : data3.pak  0.4 / 1.0 GB  12.3 MB/s  剩余 00:49"},
        {"the total's unit for both", StepPhase::Download, {"a.pak", 300 * kMiB, 3 * kGiB, 2048.0, 59},
         "正在下载 : a.pak  0.3 / 3.0 GB  2.0 KB/s  剩余 00:59"},
        {"under a KB reads in KB", StepPhase::Unpack, {"Root\\x.dat", 100, 512, 100.0, 4},
         "正在解包 : Root\\x.dat  0.1 / 0.5 KB  0.1 KB/s  剩余 00:04"},
        {"unknown total shows only done", StepPhase::Download, {"b.pak", 5 * kMiB, kUnknownBytes, 1.5 * kMiB, -1},
         "正在下载 : b.pak  5.0 MB  1.5 MB/s  剩余 --:--"},
        {"zero speed", StepPhase::Download, {"c.pak", 0, 10 * kMiB, 0.0, -1},
         "正在下载 : c.pak  0.0 / 10.0 MB  0.0 KB/s  剩余 --:--"},
        {"speed not known yet", StepPhase::Apply, {"Root\\d.bin", kMiB, 4 * kMiB, -1.0, -1},
         "正在应用补丁 : Root\\d.bin  1.0 / 4.0 MB  0.0 KB/s  剩余 --:--"},
        {"an hour and more", StepPhase::Download, {"e.pak", kGiB, 20 * kGiB, 5.0 * kMiB, 3723},
         "正在下载 : e.pak  1.0 / 20.0 GB  5.0 MB/s  剩余 1:02:03"},
        {"just under an hour", StepPhase::Download, {"f.pak", 0, kGiB, 300.0 * kKiB, 3599},
         "正在下载 : f.pak  0.0 / 1.0 GB  300.0 KB/s  剩余 59:59"},
        {"a wait beyond the cap", StepPhase::Download, {"g.pak", 0, 8 * kGiB, 10.0, kMaxShownSecondsLeft + 1},
         "正在下载 : g.pak  0.0 / 8.0 GB  0.0 KB/s  剩余 --:--"},
        {"the longest wait shown", StepPhase::Download, {"g.pak", 0, 8 * kGiB, 10.0, kMaxShownSecondsLeft},
         "正在下载 : g.pak  0.0 / 8.0 GB  0.0 KB/s  剩余 99:59:59"},
    };
    for (const LineCase& c : cases) {
        EXPECT_EQ(FormatProgressLine(c.phase, c.figures), c.line) << c.name;
    }
}

// One step of a script fed to the model, and what it shows afterwards.
struct FeedStep {
    int atMs;
    enum Kind { Start, File, Add, Look } kind;
    StepPhase phase;
    int64_t a;  // Start: expected bytes; File: so far; Add: bytes
    int64_t b;  // File: file total
    double speed;        // Look: bytes a second, -1 when not known
    int64_t secondsLeft; // Look
    double fraction;     // Look
    const char* file = nullptr;  // Start: the file's name; none: a new file
};

struct FeedCase {
    const char* name;
    std::array<int64_t, kStepPhaseCount> planned;
    std::vector<FeedStep> steps;
};

TEST(StepProgressModel, AveragesSpeedOverTheWindowAndWeighsThePhases) {
    constexpr StepPhase D = StepPhase::Download;
    constexpr StepPhase U = StepPhase::Unpack;
    const FeedCase cases[] = {
        {"steady 1 MiB/s",
         {10 * kMiB, 10 * kMiB, 0},
         {{0, FeedStep::Start, D, 10 * kMiB, 0, 0, 0, 0},
          {0, FeedStep::File, D, 0, 10 * kMiB, 0, 0, 0},
          {200, FeedStep::Look, D, 0, 0, -1.0, -1, 0.0},
          {1000, FeedStep::File, D, kMiB, 10 * kMiB, 0, 0, 0},
          {2000, FeedStep::File, D, 2 * kMiB, 10 * kMiB, 0, 0, 0},
          {2000, FeedStep::Look, D, 0, 0, 1.0 * kMiB, 8, 0.15}}},
        {"the window forgets a fast start",
         {100 * kMiB, 0, 0},
         {{0, FeedStep::Start, D, 100 * kMiB, 0, 0, 0, 0},
          {1000, FeedStep::File, D, 0, 100 * kMiB, 0, 0, 0},
          {2000, FeedStep::File, D, 50 * kMiB, 100 * kMiB, 0, 0, 0},
          {7000, FeedStep::File, D, 55 * kMiB, 100 * kMiB, 0, 0, 0},
          {12000, FeedStep::File, D, 60 * kMiB, 100 * kMiB, 0, 0, 0},
          {12000, FeedStep::Look, D, 0, 0, 1.0 * kMiB, 40, 0.6}}},
        {"a stall drops the speed to zero",
         {10 * kMiB, 0, 0},
         {{0, FeedStep::Start, D, 10 * kMiB, 0, 0, 0, 0},
          {1000, FeedStep::File, D, kMiB, 10 * kMiB, 0, 0, 0},
          {9000, FeedStep::Look, D, 0, 0, 0.0, -1, 0.1}}},
        {"resumed bytes are done but not speed",
         {10 * kMiB, 0, 0},
         {{0, FeedStep::Start, D, 10 * kMiB, 0, 0, 0, 0},
          {1000, FeedStep::File, D, 5 * kMiB, 10 * kMiB, 0, 0, 0},
          {2000, FeedStep::File, D, 6 * kMiB, 10 * kMiB, 0, 0, 0},
          {2000, FeedStep::Look, D, 0, 0, 0.5 * kMiB, 8, 0.6}}},
        {"a package size corrects the list's estimate",
         {30 * kMiB, 30 * kMiB, 0},
         {{0, FeedStep::Start, D, 20 * kMiB, 0, 0, 0, 0},
          {1000, FeedStep::File, D, 0, 5 * kMiB, 0, 0, 0},
          {1000, FeedStep::File, D, 5 * kMiB, 5 * kMiB, 0, 0, 0},
          {1000, FeedStep::Start, D, 10 * kMiB, 0, 0, 0, 0},
          {1000, FeedStep::File, D, 0, 5 * kMiB, 0, 0, 0},
          {2000, FeedStep::File, D, 5 * kMiB, 5 * kMiB, 0, 0, 0},
          {2000, FeedStep::Look, D, 0, 0, 5.0 * kMiB, 0, 0.75}}},
        {"unpacking counts written bytes with its weight",
         {8 * kMiB, 4 * kMiB, 0},
         {{0, FeedStep::Start, D, 8 * kMiB, 0, 0, 0, 0},
          {0, FeedStep::File, D, 0, 8 * kMiB, 0, 0, 0},
          {1000, FeedStep::File, D, 8 * kMiB, 8 * kMiB, 0, 0, 0},
          {1000, FeedStep::Start, U, 3 * kMiB, 0, 0, 0, 0},
          {1500, FeedStep::Add, U, kMiB, 0, 0, 0, 0},
          {2000, FeedStep::Add, U, kMiB, 0, 0, 0, 0},
          {2000, FeedStep::Look, U, 0, 0, 2.0 * kMiB, 1, 0.875}}},
        {"nothing planned is no progress",
         {0, 0, 0},
         {{0, FeedStep::Look, D, 0, 0, -1.0, -1, 0.0}}},
        {"a package fetched again from the next host counts once", {20 * kMiB, 0, 0},
         {{0, FeedStep::Start, D, 10 * kMiB, 0, 0, 0, 0, "a.pak"}, {0, FeedStep::File, D, 10 * kMiB, 10 * kMiB, 0, 0, 0},
          {0, FeedStep::Start, D, 10 * kMiB, 0, 0, 0, 0, "b.pak"}, {0, FeedStep::File, D, 10 * kMiB, 10 * kMiB, 0, 0, 0},
          {0, FeedStep::Start, D, 10 * kMiB, 0, 0, 0, 0, "a.pak"}, {0, FeedStep::File, D, 5 * kMiB, 10 * kMiB, 0, 0, 0},
          {0, FeedStep::Look, D, 0, 0, -1.0, -1, 0.75}}},
        {"a download cut short and fetched anew keeps its corrected share", {18 * kMiB, 0, 0},
         {{0, FeedStep::Start, D, 10 * kMiB, 0, 0, 0, 0, "a.pak"}, {0, FeedStep::File, D, 10 * kMiB, 10 * kMiB, 0, 0, 0},
          {0, FeedStep::Start, D, 8 * kMiB, 0, 0, 0, 0, "b.pak"}, {0, FeedStep::File, D, 4 * kMiB, 10 * kMiB, 0, 0, 0},
          {0, FeedStep::Start, D, 8 * kMiB, 0, 0, 0, 0, "b.pak"}, {0, FeedStep::File, D, 10 * kMiB, 10 * kMiB, 0, 0, 0},
          {0, FeedStep::Look, D, 0, 0, -1.0, -1, 1.0}}},
        {"a file beyond its share takes the total along", {0, 0, 4 * kMiB},
         {{0, FeedStep::Start, StepPhase::Apply, 4 * kMiB, 0, 0, 0, 0},
          {0, FeedStep::File, StepPhase::Apply, 5 * kMiB, kUnknownBytes, 0, 0, 0},
          {0, FeedStep::Look, StepPhase::Apply, 0, 0, -1.0, -1, 1.0}}},
    };
    for (const FeedCase& c : cases) {
        StepProgress progress;
        progress.Begin(c.planned);
        const Clock::time_point start{};
        for (const FeedStep& s : c.steps) {
            const Clock::time_point now = start + milliseconds(s.atMs);
            switch (s.kind) {
                case FeedStep::Start:
                    progress.StartFile(s.phase, s.file ? s.file : std::to_string(&s - c.steps.data()), s.a, now);
                    break;
                case FeedStep::File:
                    progress.FileBytes(s.phase, s.a, s.b, now);
                    break;
                case FeedStep::Add:
                    progress.AddBytes(s.phase, s.a, now);
                    break;
                case FeedStep::Look: {
                    const PhaseFigures figures = progress.Figures(s.phase, now);
                    EXPECT_NEAR(figures.bytesPerSecond, s.speed, 1.0) << c.name;
                    EXPECT_EQ(figures.secondsLeft, s.secondsLeft) << c.name;
                    EXPECT_NEAR(progress.Fraction(), s.fraction, 1e-9) << c.name;
                    EXPECT_EQ(progress.Foremost(), s.phase) << c.name;
                    break;
                }
            }
            for (const StepPhase phase : {D, U, StepPhase::Apply}) {
                const PhaseFigures figures = progress.Figures(phase, now);
                EXPECT_TRUE(figures.total < 0 || figures.done <= figures.total) << c.name << " beyond its total";
            }
        }
    }
}

TEST(StepProgressModel, ReportsAtItsPaceAndWheneverAPhaseEnds) {
    StepProgress progress;
    progress.Begin({2048, 1024, 0});
    const Clock::time_point start{};
    progress.StartFile(StepPhase::Download, "a.pak", 2048, start);
    const struct {
        int atMs;
        StepPhase phase;
        int64_t soFar;  // Download: bytes of the file; Unpack: bytes added (-1: starts its file)
        bool due;
    } rows[] = {
        {0, StepPhase::Download, 0, true},        {50, StepPhase::Download, 512, false},
        {150, StepPhase::Download, 1024, true},   {200, StepPhase::Download, 2048, true},
        {210, StepPhase::Unpack, -1, true},       {220, StepPhase::Unpack, 512, false},
        {230, StepPhase::Unpack, 512, true},      {240, StepPhase::Unpack, 0, false},
        {320, StepPhase::Unpack, 0, false},       {330, StepPhase::Unpack, 0, true},
    };
    for (const auto& row : rows) {
        const Clock::time_point now = start + milliseconds(row.atMs);
        if (row.phase == StepPhase::Download) progress.FileBytes(row.phase, row.soFar, 2048, now);
        if (row.phase == StepPhase::Unpack && row.soFar < 0) progress.StartFile(row.phase, "x", 1024, now);
        if (row.phase == StepPhase::Unpack && row.soFar > 0) progress.AddBytes(row.phase, row.soFar, now);
        EXPECT_EQ(progress.ReportDue(now), row.due) << row.atMs;
    }
}

}  // namespace
