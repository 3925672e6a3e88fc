// How far one version step has got: bytes to download, to unpack and to
// apply as deltas, done so far per phase, the file each phase is at, the speed
// over the last few seconds and the time left from it, and a fraction of the
// whole step for a progress bar. Several threads may feed it at once (a
// second thread may unpack while the first downloads); every call locks.
//
//   StepProgress progress;
//   progress.Begin({downloadBytes, unpackBytes, 0});
//   progress.StartFile(StepPhase::Download, "data3.pak", expected, now);
//   progress.FileBytes(StepPhase::Download, soFar, fileTotal, now);  // from the transfer
//   FormatProgressLine(StepPhase::Download, progress.Figures(StepPhase::Download, now));
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "platform/progress_pacer.h"

enum class StepPhase { Download = 0, Unpack = 1, Apply = 2 };
constexpr size_t kStepPhaseCount = 3;

// A byte count or total that is not known.
constexpr int64_t kUnknownBytes = -1;

// The speed is the bytes of this last stretch of time over its length, so
// one slow or fast second does not make the figures jump.
constexpr std::chrono::milliseconds kSpeedWindow{5000};
// Before a phase has run this long its speed is not known yet: the first
// piece would otherwise read as an absurd speed.
constexpr std::chrono::milliseconds kMinSpeedSpan{500};
// A time left beyond this is shown as not known: a stalled link would
// otherwise promise a wait of years.
constexpr int64_t kMaxShownSecondsLeft = 100 * 3600 - 1;
// The window hears of progress at most this often.
constexpr std::chrono::milliseconds kProgressReportInterval{100};

// What the texts show of one phase.
struct PhaseFigures {
    std::string file;                 // the phase's current file, empty before the first
    int64_t done = 0;                 // bytes of the whole step's phase so far
    int64_t total = kUnknownBytes;    // bytes the phase will take, or unknown
    double bytesPerSecond = -1.0;     // negative while not known
    int64_t secondsLeft = -1;         // negative while not known
};

class StepProgress {
public:
    using Clock = std::chrono::steady_clock;

    // A new step with each phase's planned bytes (kUnknownBytes: not known;
    // 0: the phase has nothing to do). Forgets the previous step.
    void Begin(const std::array<int64_t, kStepPhaseCount>& planned);
    // The phase moves on to the file name, expected to take expectedBytes
    // (already part of the planned total). The previous file's bytes stay done.
    // A name the phase had before (a package fetched again, a member unpacked
    // again) starts over: its earlier bytes are no longer done, and its share
    // of the total stays as it was, so no byte counts twice.
    void StartFile(StepPhase phase, const std::string& name, int64_t expectedBytes, Clock::time_point now);
    // A transfer's report: bytes of the current file so far (a resumed file
    // counts its old bytes, which were not transferred now) and its size, or
    // kUnknownBytes. A size that differs from the file's share corrects the
    // phase's total.
    void FileBytes(StepPhase phase, int64_t soFar, int64_t fileTotal, Clock::time_point now);
    // Bytes just written to the current file (unpacking, applying). A file
    // that grows beyond its share takes the phase's total with it: the figures
    // never show more done than the total.
    void AddBytes(StepPhase phase, int64_t bytes, Clock::time_point now);

    [[nodiscard]] PhaseFigures Figures(StepPhase phase, Clock::time_point now) const;
    // The whole step, 0..1: each phase with a known, non-zero total counts
    // with its weight (downloading most, being the slowest part).
    [[nodiscard]] double Fraction() const;
    // The phase whose figures the status shows: the first one, in step order,
    // that has started a file and not finished all its bytes, else the last
    // one that started.
    [[nodiscard]] StepPhase Foremost() const;
    // A phase has started a file since Begin.
    [[nodiscard]] bool Started() const;
    // True at most once per kProgressReportInterval, the first time at once,
    // whichever thread asks: the phases' reports share one pace. Also true
    // when the foremost phase has changed or finished since the last report,
    // so that a quick phase never stays shown at its first figures.
    [[nodiscard]] bool ReportDue(Clock::time_point now);

private:
    struct Sample {
        Clock::time_point when;
        int64_t flowed;  // bytes that moved in this phase up to then
    };
    struct FileShare {
        int64_t share = 0;  // the file's part of the phase's total
        int64_t done = 0;
    };
    struct Phase {
        int64_t total = kUnknownBytes;
        int64_t done = 0;            // of all files
        std::map<std::string, FileShare> files;  // by name, each counted once
        bool fileReported = false;   // the current file has had a report
        std::string file;            // the current one
        bool started = false;
        Clock::time_point firstByte;  // of the phase, once bytes flow
        int64_t flowed = 0;
        std::deque<Sample> samples;  // within kSpeedWindow of the last report, plus one before
    };
    void Flow(Phase& phase, int64_t bytes, Clock::time_point now);
    // Sets the current file's bytes, within the total.
    static void SetFileDone(Phase& phase, int64_t done);
    [[nodiscard]] StepPhase ForemostLocked() const;
    [[nodiscard]] bool FinishedLocked(StepPhase phase) const;
    [[nodiscard]] static double Speed(const Phase& phase, Clock::time_point now);

    mutable std::mutex m_lock;
    std::array<Phase, kStepPhaseCount> m_phases;
    StepPhase m_lastStarted = StepPhase::Download;
    ProgressPacer m_reportPacer{kProgressReportInterval};
    StepPhase m_reportedPhase = StepPhase::Download;
    bool m_reportedFinished = false;
};

// Calls a function every interval on a thread of its own until Stop (or the
// end of the object), which waits for a call under way.
class PeriodicCall {
public:
    PeriodicCall() = default;
    ~PeriodicCall() { Stop(); }
    PeriodicCall(const PeriodicCall&) = delete;
    PeriodicCall& operator=(const PeriodicCall&) = delete;

    // Stops a previous run first. False when no thread could be started.
    bool Start(std::chrono::milliseconds interval, std::function<void()> call);
    void Stop();

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

// "412.5 / 1000.0 MB": done and total in the unit ByteUnitFor picks for the
// total, one decimal, or done alone when the total is not known.
std::string FormatByteFigures(int64_t done, int64_t total);
// "12.3 MB/s"; a speed not known or zero reads "0.0 KB/s".
std::string FormatSpeed(double bytesPerSecond);
// "00:49", "1:02:03" from an hour on, "--:--" when not known or too long.
std::string FormatTimeLeft(int64_t seconds);
// The progress text of one phase, e.g.
// "正在下载 : data3.pak  412.5 / 1024.0 MB  12.3 MB/s  剩余 00:49".
std::string FormatProgressLine(StepPhase phase, const PhaseFigures& figures);
