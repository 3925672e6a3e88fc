#include "app/update_cycle.h"

#include <algorithm>
#include <utility>

#include "journal/journal.h"
#include "platform/text_format.h"
#include "update/report/status_texts.h"

namespace {

// One update worker: its thread and whether its procedure has returned.
struct Worker {
    std::thread thread;
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;

    bool WaitDone(std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> hold(lock);
        return ended.wait_for(hold, wait, [this] { return done; });
    }
};

// The worker whose procedure runs on this thread, if any.
thread_local const void* t_currentWorker = nullptr;

constexpr char kWorkerNotStopped[] = "更新线程未能按时结束";

bool OnWorkerThread() { return t_currentWorker != nullptr; }

// The kept downloads' figures in a status format. A state that does not know
// the step's size shows the kept bytes alone (keptOnly): a made-up total or a
// "?" would read as a fault.
std::string KeptFiguresText(const char* withStep, const char* keptOnly, const KeptDownloadsSummary& kept) {
    const std::string keptText = FormatByteCount(static_cast<uint64_t>(std::max<int64_t>(kept.keptBytes, 0)));
    if (kept.stepBytes < 0) return StringPrintf(keptOnly, keptText.c_str());
    return StringPrintf(withStep, keptText.c_str(), FormatByteCount(static_cast<uint64_t>(kept.stepBytes)).c_str());
}

}  // namespace

// Everything a worker uses. The cycle and each worker hold it, so a worker
// left running when the cycle goes still finds it.
class CUpdateCycle::Core : public std::enable_shared_from_this<Core> {
public:
    Core(std::shared_ptr<UpdateCycleWindow> window, std::shared_ptr<UpdateEngine> engine,
         CJournal& journal, std::chrono::milliseconds stopWait)
        : m_window(std::move(window)), m_engine(std::move(engine)), m_journal(journal),
          m_stopWait(stopWait) {}

    void Shutdown();
    void BeginUpdateCheck();
    void OnUpdateButton();
    void OnPauseButton();
    void OnRepairButton();
    void RepairAtOnce() { m_bRepairAtOnce = true; }
    void OnUpdateEnd(uintptr_t wParam, intptr_t lParam);
    bool StopWorker(std::chrono::milliseconds wait);
    bool WaitForWorker(std::chrono::milliseconds wait);
    [[nodiscard]] bool WorkerRunning() const;

private:
    // A version step under way: from the press of the update button (or the
    // start of a mandatory version) until its worker's run returns.
    struct Step {
        bool running = false;
        bool mandatory = false;
        bool pauseAsked = false;
    };

    enum class CheckResult {
        GameRunning, InstallResumed, VerifyFailed, Stopped, Verified, Damaged, WorkerStarted, WorkerEnds,
        NotStarted
    };

    // What a new worker does: verify, then ask the server (a check); ask at
    // once (the update button); or repair the damaged files.
    enum class WorkerJob { Check, Update, Repair };

    [[nodiscard]] std::shared_ptr<Worker> CurrentWorker() const;
    CheckResult RunCheck();
    CheckResult Verify(bool showProgress);
    void AskForState();
    CheckResult StartUpdateWorker(WorkerJob job);
    void UpdateWorkerMain(WorkerJob job);
    void OfferRepair();
    void HoldButtonsForRepair();
    void RepairOnWorker();
    void ApplyOutcome(int outcome);
    void GiveBothChoicesBack();
    void BeginStep(bool mandatory);
    [[nodiscard]] Step EndStep();
    void ShowPaused(bool mandatory);
    void ShowUpdateButton(UpdateButtonRole role, bool enable);

    const std::shared_ptr<UpdateCycleWindow> m_window;
    const std::shared_ptr<UpdateEngine> m_engine;
    CJournal& m_journal;
    const std::chrono::milliseconds m_stopWait;
    mutable std::mutex m_lock;                // guards m_pUpdateThread
    std::shared_ptr<Worker> m_pUpdateThread;  // the worker started last, or none
    // Only the first check looks for a cut-off installation: one the
    // installer could not settle must not send every later notice back to it.
    std::atomic<bool> m_bResumeLooked{false};
    std::atomic<bool> m_bRepairAtOnce{false};
    std::mutex m_stepLock;  // guards the three below
    Step m_step;
    UpdateButtonRole m_role = UpdateButtonRole::Update;  // as the window shows it
    std::vector<std::string> m_damaged;                  // as the last verification found them
};

CUpdateCycle::CUpdateCycle(std::shared_ptr<UpdateCycleWindow> window, std::shared_ptr<UpdateEngine> engine,
                           CJournal& journal, std::chrono::milliseconds stopWait)
    : m_core(std::make_shared<Core>(std::move(window), std::move(engine), journal, stopWait)) {}

CUpdateCycle::~CUpdateCycle() { m_core->Shutdown(); }

void CUpdateCycle::BeginUpdateCheck() { m_core->BeginUpdateCheck(); }
void CUpdateCycle::OnUpdateButton() { m_core->OnUpdateButton(); }
void CUpdateCycle::OnPauseButton() { m_core->OnPauseButton(); }
void CUpdateCycle::OnRepairButton() { m_core->OnRepairButton(); }
void CUpdateCycle::RepairAtOnce() { m_core->RepairAtOnce(); }
void CUpdateCycle::OnUpdateEnd(uintptr_t wParam, intptr_t lParam) { m_core->OnUpdateEnd(wParam, lParam); }
bool CUpdateCycle::StopWorker(std::chrono::milliseconds wait) { return m_core->StopWorker(wait); }
bool CUpdateCycle::WaitForWorker(std::chrono::milliseconds wait) { return m_core->WaitForWorker(wait); }
bool CUpdateCycle::WorkerRunning() const { return m_core->WorkerRunning(); }

void CUpdateCycle::Core::Shutdown() {
    if (StopWorker(m_stopWait)) return;
    m_journal.AddEntry(EntryKind::Error, kWorkerNotStopped);
    // A worker that does not stop is left to run out rather than ended in the
    // middle of a heap or file operation; it holds this core, the window
    // port and the engine until it has.
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_pUpdateThread && m_pUpdateThread->thread.joinable()) m_pUpdateThread->thread.detach();
}

std::shared_ptr<Worker> CUpdateCycle::Core::CurrentWorker() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_pUpdateThread;
}

bool CUpdateCycle::Core::WorkerRunning() const {
    const std::shared_ptr<Worker> worker = CurrentWorker();
    if (!worker) return false;
    std::lock_guard<std::mutex> hold(worker->lock);
    return !worker->done;
}

bool CUpdateCycle::Core::WaitForWorker(std::chrono::milliseconds wait) {
    const std::shared_ptr<Worker> worker = CurrentWorker();
    if (!worker) return true;
    if (!worker->WaitDone(wait)) return false;
    if (worker->thread.joinable() && worker->thread.get_id() != std::this_thread::get_id()) {
        worker->thread.join();
    }
    return true;
}

bool CUpdateCycle::Core::StopWorker(std::chrono::milliseconds wait) {
    const std::shared_ptr<Worker> worker = CurrentWorker();
    if (!worker || OnWorkerThread()) return !worker;
    // A worker that has ended is not asked: the engine's transfers would
    // find the request still set in its next run.
    if (!worker->WaitDone(std::chrono::milliseconds(0))) m_engine->RequestStop();
    if (!worker->WaitDone(wait)) return false;
    if (worker->thread.joinable()) worker->thread.join();
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_pUpdateThread == worker) m_pUpdateThread.reset();
    return true;
}

void CUpdateCycle::Core::BeginUpdateCheck() {
    // The old worker did not stop (after an update-end notice): no check
    // runs, and the player keeps both choices rather than two dead buttons.
    if (RunCheck() == CheckResult::NotStarted) GiveBothChoicesBack();
}

void CUpdateCycle::Core::GiveBothChoicesBack() {
    m_engine->SetInstall(false);
    m_window->EnableUpdateButton(true);
    m_window->EnableStartButton(true);
}

CUpdateCycle::Core::CheckResult CUpdateCycle::Core::RunCheck() {
    if (m_window->IsGameRunning()) {
        m_window->ShowGameRunningBox(cycle_text::kGameRunningBox);
        return CheckResult::GameRunning;
    }
    if (!m_bResumeLooked.exchange(true) && m_engine->ResumeInterruptedInstall()) {
        // Nothing is verified or started over a half-installed game: the
        // installer's update-end notice starts the next check.
        m_window->EnableStartButton(false);
        m_window->EnableUpdateButton(false);
        m_window->ShowStatus(update_text::kInstallerStarted);
        return CheckResult::InstallResumed;
    }
    m_journal.AddEntry(EntryKind::Info, cycle_text::kCheckingUpdate);
    // The window's thread hands the verification to a new worker, so the
    // window shows and answers while the files are read; after a hand-over
    // the worker that runs verifies, and ends there.
    if (!OnWorkerThread()) return StartUpdateWorker(WorkerJob::Check);
    // The status line keeps the installer's text meanwhile. Files found
    // damaged now may be the ones the installer is still putting in: its
    // update-end notice brings the check that offers a repair.
    const CheckResult verified = Verify(false);
    const bool ends = verified == CheckResult::Verified || verified == CheckResult::Damaged;
    return ends ? CheckResult::WorkerEnds : verified;
}

// On the worker: the verification of the installed files, with both buttons
// held off while it runs.
CUpdateCycle::Core::CheckResult CUpdateCycle::Core::Verify(bool showProgress) {
    m_window->SetVerifying(true);
    std::vector<std::string> damaged;
    const VerifyOutcome outcome = m_window->VerifyInstalledVersion(m_engine->StopFlag(), showProgress, &damaged);
    m_window->SetVerifying(false);
    if (outcome == VerifyOutcome::Stopped) return CheckResult::Stopped;
    if (outcome == VerifyOutcome::Failed) {
        // version.data is missing or unreadable: the update run that follows
        // takes the installed version from the files and recovers it.
        m_journal.AddEntry(EntryKind::Info, cycle_text::kVerifyFailedLog);
        return CheckResult::VerifyFailed;
    }
    m_window->ShowVersionLine(m_window->InstalledVersion());
    std::unique_lock<std::mutex> hold(m_stepLock);
    if (outcome == VerifyOutcome::Damaged) {
        m_damaged = std::move(damaged);
        return CheckResult::Damaged;
    }
    m_damaged.clear();
    const bool repairShown = m_role == UpdateButtonRole::Repair;
    hold.unlock();
    // Nothing is left to repair: a repair button still on would repair nothing.
    if (repairShown) ShowUpdateButton(UpdateButtonRole::Update, false);
    return CheckResult::Verified;
}

void CUpdateCycle::Core::AskForState() {
    m_journal.AddEntry(EntryKind::Info, cycle_text::kAskingState);
    m_window->ShowStatus(cycle_text::kAskingState);
}

CUpdateCycle::Core::CheckResult CUpdateCycle::Core::StartUpdateWorker(WorkerJob job) {
    // On a worker (after a hand-over) the worker that runs is this one: it
    // ends here, and the update-end notice starts the next check.
    if (OnWorkerThread()) return CheckResult::WorkerEnds;
    if (!StopWorker(m_stopWait)) {
        // Two workers must never drive one engine: no new one starts.
        m_journal.AddEntry(EntryKind::Error, kWorkerNotStopped);
        return CheckResult::NotStarted;
    }
    if (job == WorkerJob::Update) {
        // Set before the worker exists: one that ends at once finds its step.
        BeginStep(false);
        AskForState();
    }

    // Cleared here, not when the run begins: a stop asked for while the new
    // worker still waits (for the removal of the work files) must hold.
    m_engine->ClearStop();
    auto worker = std::make_shared<Worker>();
    std::lock_guard<std::mutex> hold(m_lock);
    m_pUpdateThread = worker;
    worker->thread = std::thread([self = shared_from_this(), worker, job] {
        t_currentWorker = worker.get();
        self->UpdateWorkerMain(job);
        t_currentWorker = nullptr;
        std::lock_guard<std::mutex> done(worker->lock);
        worker->done = true;
        worker->ended.notify_all();
    });
    return CheckResult::WorkerStarted;
}

void CUpdateCycle::Core::UpdateWorkerMain(WorkerJob job) {
    if (job == WorkerJob::Check) {
        const CheckResult verified = Verify(true);
        if (verified == CheckResult::Stopped) return;
        // Only the first check that ends is the one "/repair" asked for.
        const bool repairAtOnce = m_bRepairAtOnce.exchange(false);
        if (verified == CheckResult::Damaged && !repairAtOnce) {
            OfferRepair();
            return;
        }
        if (verified == CheckResult::Damaged) {
            HoldButtonsForRepair();
            job = WorkerJob::Repair;
        } else if (verified != CheckResult::Verified && verified != CheckResult::VerifyFailed) {
            return;
        } else {
            AskForState();
        }
    }
    // A removal of the work files started by the update-end notice (or a
    // "/update" start) ends before the engine downloads into them again.
    m_window->WaitTempCleanup();
    if (job == WorkerJob::Repair) {
        RepairOnWorker();
        return;
    }
    const int outcome = m_engine->RunUpdate([this] { BeginStep(true); });
    const Step step = EndStep();
    m_window->ShowVersionLine(m_engine->LatestVersion());
    if (outcome == 1) {
        if (step.running) ShowUpdateButton(UpdateButtonRole::Update, false);
        // The installer program has the files now: verify again; the worker
        // ends there unless the game runs or the verification fails.
        if (RunCheck() == CheckResult::WorkerEnds) return;
    } else if (step.pauseAsked) {
        ShowPaused(step.mandatory);
    } else {
        // A step that failed gives the update button back as it was before the press: off.
        if (step.running) ShowUpdateButton(UpdateButtonRole::Update, false);
        ApplyOutcome(outcome);
    }
    m_window->ShowVersionLine(m_engine->LatestVersion());
}

// The damaged files stop the check before the server is asked: the repair
// comes first, and the check after its update-end notice offers any newer
// version. The game stays startable, as after a failed step.
void CUpdateCycle::Core::OfferRepair() {
    std::vector<std::string> damaged;
    {
        std::lock_guard<std::mutex> hold(m_stepLock);
        damaged = m_damaged;
    }
    const int count = static_cast<int>(damaged.size());
    const std::string text = StringPrintf(cycle_text::kDamagedFilesFormat, count);
    m_journal.AddEntry(EntryKind::Info, text.c_str());
    m_window->ShowStatus(text);
    m_engine->SetInstall(false);
    ShowUpdateButton(UpdateButtonRole::Repair, true);
    m_window->EnableStartButton(true);
    // The button is there at once; what the repair downloads follows when
    // the server has told. A press meanwhile stops this worker, and with it
    // the question.
    const int64_t bytes = m_engine->RepairDownloadBytes(damaged);
    if (bytes < 0 || m_engine->StopFlag().load()) return;
    const std::string sized =
        StringPrintf(update_text::kRepairFound, count, FormatByteCount(static_cast<uint64_t>(bytes)).c_str());
    m_journal.AddEntry(EntryKind::Info, sized.c_str());
    m_window->ShowStatus(sized);
}

// A repair is no step: it has no pause, since a continue would go on as an
// update. Both buttons stay off until it ends.
void CUpdateCycle::Core::HoldButtonsForRepair() {
    m_window->EnableStartButton(false);
    ShowUpdateButton(UpdateButtonRole::Repair, false);
}

void CUpdateCycle::Core::RepairOnWorker() {
    std::vector<std::string> damaged;
    {
        std::lock_guard<std::mutex> hold(m_stepLock);
        damaged = m_damaged;
    }
    if (m_engine->RunRepair(damaged) == 1) {
        // As after an update step: the installer's notice brings the next check.
        (void)RunCheck();
        return;
    }
    // The engine's status says why; the repair can be tried again.
    ShowUpdateButton(UpdateButtonRole::Repair, true);
    m_window->EnableStartButton(true);
}

// Under the step's lock, so that a pause press and the worker's end reach
// the window in the order in which they took it.
void CUpdateCycle::Core::ShowUpdateButton(UpdateButtonRole role, bool enable) {
    std::lock_guard<std::mutex> hold(m_stepLock);
    if (m_role != role) m_window->SetUpdateButtonRole(role);
    m_role = role;
    m_window->EnableUpdateButton(enable);
}

// The update button turns into the pause button for the step's whole run.
void CUpdateCycle::Core::BeginStep(bool mandatory) {
    {
        std::lock_guard<std::mutex> hold(m_stepLock);
        m_step = Step{true, mandatory, false};
    }
    ShowUpdateButton(UpdateButtonRole::Pause, true);
}

CUpdateCycle::Core::Step CUpdateCycle::Core::EndStep() {
    std::lock_guard<std::mutex> hold(m_stepLock);
    return std::exchange(m_step, Step{});
}

// After a paused step: what the work folder keeps, and the way on from there.
// The start button is as after a failed step, except that a mandatory version
// must be installed before the game starts.
void CUpdateCycle::Core::ShowPaused(bool mandatory) {
    const std::string text =
        KeptFiguresText(update_text::kPausedFormat, cycle_text::kPausedKeptFormat, m_engine->KeptDownloads());
    m_journal.AddEntry(EntryKind::Info, text.c_str());
    m_window->ShowStatus(text);
    m_engine->SetInstall(false);
    ShowUpdateButton(UpdateButtonRole::Continue, true);
    m_window->EnableStartButton(!mandatory);
}

void CUpdateCycle::Core::ApplyOutcome(int outcome) {
    switch (outcome) {
        case 2: {
            // Downloads kept by an earlier run (paused, closed, cut off) toward
            // the offered version: the same button goes on from them.
            const KeptDownloadsSummary kept = m_engine->KeptDownloads();
            const int32_t offered = m_engine->OfferedVersion();
            const bool canContinue = kept.present && offered != 0 && kept.targetVersion == offered;
            ShowUpdateButton(canContinue ? UpdateButtonRole::Continue : UpdateButtonRole::Update, true);
            m_window->EnableStartButton(true);
            m_window->ShowStatus(canContinue ? KeptFiguresText(update_text::kCanContinueFormat,
                                                               cycle_text::kCanContinueKeptFormat, kept)
                                             : std::string(cycle_text::kNewVersion));
            break;
        }
        case 3:
            ShowUpdateButton(UpdateButtonRole::Update, false);
            m_window->EnableStartButton(true);
            m_engine->SetInstall(false);
            break;
        default:
            // A failure leaves the game startable and the update button as it was.
            m_engine->SetInstall(false);
            m_window->EnableStartButton(true);
            break;
    }
}

void CUpdateCycle::Core::OnUpdateButton() {
    if (m_window->IsGameRunning()) {
        m_window->ShowGameRunningBox(cycle_text::kGameRunningBox);
        return;
    }
    // Both buttons go off before the worker starts: a worker that ends at
    // once must find them off, not have its own settings overwritten.
    m_window->EnableStartButton(false);
    m_window->EnableUpdateButton(false);
    m_engine->SetInstall(true);
    // The old worker did not stop: nothing installs, the player keeps both choices.
    if (StartUpdateWorker(WorkerJob::Update) == CheckResult::NotStarted) GiveBothChoicesBack();
}

void CUpdateCycle::Core::OnRepairButton() {
    if (m_window->IsGameRunning()) {
        m_window->ShowGameRunningBox(cycle_text::kGameRunningBox);
        return;
    }
    HoldButtonsForRepair();
    if (StartUpdateWorker(WorkerJob::Repair) == CheckResult::NotStarted) GiveBothChoicesBack();
}

void CUpdateCycle::Core::OnPauseButton() {
    {
        std::lock_guard<std::mutex> hold(m_stepLock);
        if (!m_step.running) return;
        m_step.pauseAsked = true;
        // Off until the worker's end shows what it kept; under the lock, so
        // that this never lands after that end has turned it on again.
        m_window->EnableUpdateButton(false);
    }
    // Not waited for: the transfers give up within their poll interval, and
    // the worker's end shows the paused state.
    m_engine->RequestStop();
}

void CUpdateCycle::Core::OnUpdateEnd(uintptr_t wParam, intptr_t lParam) {
    if (wParam != 0 || lParam != 1) return;
    m_journal.AddEntry(EntryKind::Notice, cycle_text::kUpdateEndLog);
    m_window->StartTempCleanup();
    m_journal.AddEntry(EntryKind::Info, cycle_text::kUpdateFinishedLog);
    m_window->ShowStatus(cycle_text::kUpdateInstalled);
    m_engine->SetInstall(false);
    BeginUpdateCheck();
}
