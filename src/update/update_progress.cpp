// The step's progress as the engine feeds it: the planned bytes from the
// lists (and the signed manifest's package sizes), the transfers' and the
// unpacking's reports, paced on their way to the window.
#include "update/game_updater.h"

#include <algorithm>
#include <limits>

#include "platform/saturated_sum.h"

namespace {

// A stalled transfer reports nothing; the figures are shown again this often.
constexpr std::chrono::milliseconds kProgressTick{1000};

int64_t MembersBytes(const PackageGroup& group) {
    int64_t sum = 0;
    for (const PackageMember& member : group.members) sum = SaturatedSum(sum, member.nSize);
    return sum;
}

}  // namespace

// A package's download is planned at its size in the signed manifest, else
// at its members' unpacked sizes; the server's announced length corrects the
// guess as soon as the package's transfer begins.
int64_t CGameUpdater::PlannedDownloadBytes(const PackageGroup& group) const {
    uint64_t size = 0;
    TrustRefusal refusal;
    if (m_trust.Enabled() && m_trust.ExpectedSize(group.name, &size, &refusal)) {
        return static_cast<int64_t>(std::min<uint64_t>(size, std::numeric_limits<int64_t>::max()));
    }
    return MembersBytes(group);
}

ProgressFn CGameUpdater::DownloadProgress(const PackageGroup& group) {
    m_progress.StartFile(StepPhase::Download, group.name, PlannedDownloadBytes(group), StepProgress::Clock::now());
    return [this](int64_t soFar, int64_t total) {
        m_progress.FileBytes(StepPhase::Download, soFar, total, StepProgress::Clock::now());
        ReportProgress();
    };
}

void CGameUpdater::BeginStepProgress(const UpdatePlan& plan) {
    int64_t download = 0;
    for (const PackageGroup& group : plan.packages) download = SaturatedSum(download, PlannedDownloadBytes(group));
    m_progress.Begin({download, plan.totalSize, 0});
    (void)m_progressTicker.Start(kProgressTick, [this] { ReportProgress(); });
}

// Deltas are applied before any package downloads: their phase is planned on
// its own, and the packages' plan follows it.
void CGameUpdater::BeginDeltaProgress(int64_t applyBytes) {
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

std::function<void(uint64_t)> CGameUpdater::WriteProgress(StepPhase phase, const std::string& name,
                                                          int64_t expectedBytes) {
    m_progress.StartFile(phase, name, expectedBytes, StepProgress::Clock::now());
    return [this, phase](uint64_t bytes) {
        m_progress.AddBytes(phase, static_cast<int64_t>(bytes), StepProgress::Clock::now());
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
