#include "update/report/step_progress.h"

#include <cmath>
#include <system_error>

#include "platform/saturated_sum.h"
#include "platform/text_format.h"

namespace {

// Downloading is most of a step's wait; unpacking and applying run at disk
// speed.
constexpr std::array<double, kStepPhaseCount> kPhaseWeights = {3.0, 1.0, 1.0};
constexpr const char* kPhaseLabels[kStepPhaseCount] = {"正在下载", "正在解包", "正在应用补丁"};
// Reports closer together than this share one speed sample, so that a fast
// link with small pieces does not pile up samples.
constexpr std::chrono::milliseconds kSampleSpacing{100};

size_t Index(StepPhase phase) { return static_cast<size_t>(phase); }

}  // namespace

void StepProgress::Begin(const std::array<int64_t, kStepPhaseCount>& planned) {
    std::lock_guard<std::mutex> hold(m_lock);
    for (size_t i = 0; i < kStepPhaseCount; ++i) {
        m_phases[i] = Phase{};
        m_phases[i].total = planned[i];
    }
    m_lastStarted = StepPhase::Download;
    m_reportPacer.Reset();
}

void StepProgress::StartFile(StepPhase phase, const std::string& name, int64_t expectedBytes,
                             Clock::time_point now) {
    std::lock_guard<std::mutex> hold(m_lock);
    Phase& p = m_phases[Index(phase)];
    const auto known = p.files.find(name);
    if (known == p.files.end()) {
        p.files[name].share = expectedBytes < 0 ? 0 : expectedBytes;
    } else {
        p.done -= known->second.done;
        known->second.done = 0;
    }
    p.fileReported = false;
    p.file = name;
    if (!p.started) p.samples.push_back({now, 0});
    p.started = true;
    m_lastStarted = phase;
}

void StepProgress::SetFileDone(Phase& p, int64_t done) {
    FileShare& f = p.files[p.file];
    if (done > f.share) {
        if (p.total >= 0) p.total = SaturatedSum(p.total, done - f.share);
        f.share = done;
    }
    p.done = SaturatedSum(p.done - f.done, done);
    f.done = done;
}

void StepProgress::FileBytes(StepPhase phase, int64_t soFar, int64_t fileTotal, Clock::time_point now) {
    std::lock_guard<std::mutex> hold(m_lock);
    Phase& p = m_phases[Index(phase)];
    FileShare& f = p.files[p.file];
    if (soFar < 0) soFar = 0;
    if (fileTotal >= 0 && fileTotal != f.share && p.total >= 0) {
        p.total = SaturatedSum(p.total - (f.share < p.total ? f.share : p.total), fileTotal);
        f.share = fileTotal;
    }
    // The first report of a file may carry the bytes a resumed file already
    // had: they are done, but did not flow now.
    const int64_t flowed = p.fileReported && soFar > f.done ? soFar - f.done : 0;
    p.fileReported = true;
    SetFileDone(p, soFar);
    Flow(p, flowed, now);
}

void StepProgress::AddBytes(StepPhase phase, int64_t bytes, Clock::time_point now) {
    if (bytes <= 0) return;
    std::lock_guard<std::mutex> hold(m_lock);
    Phase& p = m_phases[Index(phase)];
    SetFileDone(p, SaturatedSum(p.files[p.file].done, bytes));
    Flow(p, bytes, now);
}

void StepProgress::Flow(Phase& p, int64_t bytes, Clock::time_point now) {
    p.flowed += bytes;
    if (p.samples.empty() || now - p.samples.back().when >= kSampleSpacing) {
        p.samples.push_back({now, p.flowed});
    } else {
        p.samples.back().flowed = p.flowed;
    }
    // One sample at or before the window's start stays as its base.
    while (p.samples.size() >= 2 && p.samples[1].when <= now - kSpeedWindow) p.samples.pop_front();
}

double StepProgress::Speed(const Phase& p, Clock::time_point now) {
    if (p.samples.empty()) return -1.0;
    const Clock::time_point windowStart = now - kSpeedWindow;
    const Sample* base = &p.samples.front();
    for (const Sample& sample : p.samples) {
        if (sample.when <= windowStart) base = &sample;
    }
    const Clock::duration span = base->when <= windowStart ? Clock::duration(kSpeedWindow) : now - base->when;
    if (span < kMinSpeedSpan) return -1.0;
    const double seconds = std::chrono::duration<double>(span).count();
    return static_cast<double>(p.flowed - base->flowed) / seconds;
}

PhaseFigures StepProgress::Figures(StepPhase phase, Clock::time_point now) const {
    std::lock_guard<std::mutex> hold(m_lock);
    const Phase& p = m_phases[Index(phase)];
    PhaseFigures figures;
    figures.file = p.file;
    figures.done = p.done;
    figures.total = p.total;
    figures.bytesPerSecond = Speed(p, now);
    if (p.total >= 0 && figures.bytesPerSecond > 0.0) {
        const int64_t left = p.total > figures.done ? p.total - figures.done : 0;
        figures.secondsLeft = static_cast<int64_t>(std::ceil(static_cast<double>(left) / figures.bytesPerSecond));
    }
    return figures;
}

double StepProgress::Fraction() const {
    std::lock_guard<std::mutex> hold(m_lock);
    double weighted = 0.0;
    double weights = 0.0;
    for (size_t i = 0; i < kStepPhaseCount; ++i) {
        const Phase& p = m_phases[i];
        if (p.total <= 0) continue;
        const double done = static_cast<double>(p.done) / static_cast<double>(p.total);
        weighted += kPhaseWeights[i] * (done > 1.0 ? 1.0 : done);
        weights += kPhaseWeights[i];
    }
    return weights > 0.0 ? weighted / weights : 0.0;
}

StepPhase StepProgress::Foremost() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return ForemostLocked();
}

StepPhase StepProgress::ForemostLocked() const {
    for (size_t i = 0; i < kStepPhaseCount; ++i) {
        if (m_phases[i].started && !FinishedLocked(static_cast<StepPhase>(i))) return static_cast<StepPhase>(i);
    }
    return m_lastStarted;
}

bool StepProgress::FinishedLocked(StepPhase phase) const {
    const Phase& p = m_phases[Index(phase)];
    return p.total >= 0 && p.done >= p.total;
}

bool StepProgress::Started() const {
    std::lock_guard<std::mutex> hold(m_lock);
    for (const Phase& p : m_phases) {
        if (p.started) return true;
    }
    return false;
}

bool StepProgress::ReportDue(Clock::time_point now) {
    std::lock_guard<std::mutex> hold(m_lock);
    const StepPhase phase = ForemostLocked();
    const bool finished = FinishedLocked(phase);
    const bool moved = phase != m_reportedPhase || finished != m_reportedFinished;
    if (!m_reportPacer.Due(now, moved)) return false;
    m_reportedPhase = phase;
    m_reportedFinished = finished;
    return true;
}

bool PeriodicCall::Start(std::chrono::milliseconds interval, std::function<void()> call) {
    Stop();
    m_stop = false;
    const auto loop = [this, interval, call] {
        // The first call comes one interval after the start.
        ProgressPacer pacer(interval);
        (void)pacer.Due(ProgressPacer::Clock::now());
        std::unique_lock<std::mutex> hold(m_lock);
        while (!m_wake.wait_until(hold, pacer.NextDue(), [this] { return m_stop; })) {
            if (!pacer.Due(ProgressPacer::Clock::now())) continue;
            hold.unlock();
            call();
            hold.lock();
        }
    };
    try {
        m_thread = std::thread(loop);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void PeriodicCall::Stop() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

std::string FormatByteFigures(int64_t done, int64_t total) {
    const ByteUnit unit = ByteUnitFor(static_cast<double>(total >= 0 ? total : done));
    if (total < 0) return StringPrintf("%.1f %s", static_cast<double>(done) / unit.bytes, unit.name);
    return StringPrintf("%.1f / %.1f %s", static_cast<double>(done) / unit.bytes,
                        static_cast<double>(total) / unit.bytes, unit.name);
}

std::string FormatSpeed(double bytesPerSecond) {
    if (!(bytesPerSecond > 0.0)) return "0.0 KB/s";
    const ByteUnit unit = ByteUnitFor(bytesPerSecond);
    return StringPrintf("%.1f %s/s", bytesPerSecond / unit.bytes, unit.name);
}

std::string FormatTimeLeft(int64_t seconds) {
    if (seconds < 0 || seconds > kMaxShownSecondsLeft) return "--:--";
    const long long s = static_cast<long long>(seconds);
    if (s < 3600) return StringPrintf("%02lld:%02lld", s / 60, s % 60);
    return StringPrintf("%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
}

std::string FormatProgressLine(StepPhase phase, const PhaseFigures& figures) {
    return StringPrintf("%s : %s  %s  %s  剩余 %s", kPhaseLabels[Index(phase)], figures.file.c_str(),
                        FormatByteFigures(figures.done, figures.total).c_str(),
                        FormatSpeed(figures.bytesPerSecond).c_str(), FormatTimeLeft(figures.secondsLeft).c_str());
}
