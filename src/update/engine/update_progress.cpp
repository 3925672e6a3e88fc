// The step's progress as the engine feeds it: the planned bytes from the
// lists (and the signed manifest's package sizes), the transfers' and the
// unpacking's reports, paced on their way to the window.
#include "update/engine/game_updater.h"
#include "update/engine/update_pipeline.h"

#include <algorithm>
#include <limits>

#include "platform/saturated_sum.h"

namespace {

// A stalled transfer reports nothing; the figures are shown again this often.
constexpr std::chrono::milliseconds kProgressTick{1000};

}  // namespace

ProgressFn CGameUpdater::DownloadProgress(const std::string& name, int64_t plannedBytes) {
    m_progress.StartFile(StepPhase::Download, name, plannedBytes, StepProgress::Clock::now());
    return [this](int64_t soFar, int64_t total) {
        m_progress.FileBytes(StepPhase::Download, soFar, total, StepProgress::Clock::now());
        ReportProgress();
    };
}

void CGameUpdater::BeginStepProgress(const UpdatePlan& plan) {
    // Every file came by delta: the applying's figures were the step's last.
    if (plan.packages.empty()) {
        EndStepProgress();
        return;
    }
    int64_t download = 0;
    for (const PackageGroup& group : plan.packages) {
        download = SaturatedSum(download, PlannedDownloadBytes(m_fetcher, group));
    }
    BeginDownloads(download, plan.totalSize);
}

void CGameUpdater::BeginDownloads(int64_t downloadBytes, int64_t unpackBytes) {
    m_progress.Begin({downloadBytes, unpackBytes, 0});
    (void)m_progressTicker.Start(kProgressTick, [this] { ReportProgress(); });
}

// Deltas are applied before any package downloads: their phase is planned on
// its own, and the packages' plan follows it.
void CGameUpdater::BeginDeltas(int64_t applyBytes) {
    m_progress.Begin({0, 0, applyBytes});
    (void)m_progressTicker.Start(kProgressTick, [this] { ReportProgress(); });
}

ProgressFn CGameUpdater::ApplyProgress(const std::string& name, int64_t expectedBytes) {
    m_progress.StartFile(StepPhase::Apply, name, expectedBytes, StepProgress::Clock::now());
    return [this](int64_t soFar, int64_t) {
        m_progress.FileBytes(StepPhase::Apply, soFar, -1, StepProgress::Clock::now());
        ReportProgress();
    };
}

std::function<void(uint64_t)> CGameUpdater::UnpackProgress(const std::string& name, int64_t expectedBytes) {
    m_progress.StartFile(StepPhase::Unpack, name, expectedBytes, StepProgress::Clock::now());
    return [this](uint64_t bytes) {
        m_progress.AddBytes(StepPhase::Unpack, static_cast<int64_t>(bytes), StepProgress::Clock::now());
        ReportProgress();
    };
}

void CGameUpdater::ReportProgress() {
    const StepProgress::Clock::time_point now = StepProgress::Clock::now();
    // Before the step's first file there are no figures to show.
    if (m_pWindow == nullptr || !m_progress.Started() || !m_progress.ReportDue(now)) return;
    const StepPhase phase = m_progress.Foremost();
    m_pWindow->ShowProgress(m_progress.Fraction(), FormatProgressLine(phase, m_progress.Figures(phase, now)));
}

// Once the files are unpacked, and at the end of every run: the installer's
// work that may follow has no figures of ours.
void CGameUpdater::EndStepProgress() {
    m_progressTicker.Stop();
    if (!m_progress.Started()) return;
    m_progress.Begin({0, 0, 0});
    if (m_pWindow) m_pWindow->EndProgress();
}
