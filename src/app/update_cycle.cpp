#include "app/update_cycle.h"

#include <utility>

#include "journal/journal.h"
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
    void OnUpdateEnd(uintptr_t wParam, intptr_t lParam);
    bool StopWorker(std::chrono::milliseconds wait);
    bool WaitForWorker(std::chrono::milliseconds wait);
    [[nodiscard]] bool WorkerRunning() const;

private:
    enum class CheckResult {
        GameRunning, InstallResumed, VerifyFailed, Stopped, Verified, WorkerStarted, WorkerEnds,
        NotStarted
    };

    [[nodiscard]] std::shared_ptr<Worker> CurrentWorker() const;
    CheckResult RunCheck();
    CheckResult Verify(bool showProgress);
    void AskForState();
    CheckResult StartUpdateWorker(bool verifyFirst);
    void UpdateWorkerMain(bool verifyFirst);
    void ApplyOutcome(int outcome);
    void GiveBothChoicesBack();

    const std::shared_ptr<UpdateCycleWindow> m_window;
    const std::shared_ptr<UpdateEngine> m_engine;
    CJournal& m_journal;
    const std::chrono::milliseconds m_stopWait;
    mutable std::mutex m_lock;                // guards m_pUpdateThread
    std::shared_ptr<Worker> m_pUpdateThread;  // the worker started last, or none
    // Only the first check looks for a cut-off installation: one the
    // installer could not settle must not send every later notice back to it.
    std::atomic<bool> m_bResumeLooked{false};
};

CUpdateCycle::CUpdateCycle(std::shared_ptr<UpdateCycleWindow> window, std::shared_ptr<UpdateEngine> engine,
                           CJournal& journal, std::chrono::milliseconds stopWait)
    : m_core(std::make_shared<Core>(std::move(window), std::move(engine), journal, stopWait)) {}

CUpdateCycle::~CUpdateCycle() { m_core->Shutdown(); }

void CUpdateCycle::BeginUpdateCheck() { m_core->BeginUpdateCheck(); }
void CUpdateCycle::OnUpdateButton() { m_core->OnUpdateButton(); }
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
    m_engine->RequestStop();
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
    if (!OnWorkerThread()) return StartUpdateWorker(true);
    // The status line keeps the installer's text meanwhile.
    const CheckResult verified = Verify(false);
    return verified == CheckResult::Verified ? CheckResult::WorkerEnds : verified;
}

// On the worker: the verification of the installed files, with both buttons
// held off while it runs.
CUpdateCycle::Core::CheckResult CUpdateCycle::Core::Verify(bool showProgress) {
    m_window->SetVerifying(true);
    const VerifyOutcome outcome = m_window->VerifyInstalledVersion(m_engine->StopFlag(), showProgress);
    m_window->SetVerifying(false);
    if (outcome == VerifyOutcome::Stopped) return CheckResult::Stopped;
    if (outcome == VerifyOutcome::Failed) {
        m_journal.AddEntry(EntryKind::Info, cycle_text::kVerifyFailedLog);
        m_window->ShowStatus(cycle_text::kAlreadyLatest);
        m_window->ShowVersionLine(m_window->InstalledVersion());
        return CheckResult::VerifyFailed;
    }
    m_window->ShowVersionLine(m_window->InstalledVersion());
    return CheckResult::Verified;
}

void CUpdateCycle::Core::AskForState() {
    m_journal.AddEntry(EntryKind::Info, cycle_text::kAskingState);
    m_window->ShowStatus(cycle_text::kAskingState);
}

// verifyFirst: the new worker verifies the installed files before it asks
// the server (a check); without, it asks at once (the update button).
CUpdateCycle::Core::CheckResult CUpdateCycle::Core::StartUpdateWorker(bool verifyFirst) {
    // On a worker (after a hand-over) the worker that runs is this one: it
    // ends here, and the update-end notice starts the next check.
    if (OnWorkerThread()) return CheckResult::WorkerEnds;
    if (!StopWorker(m_stopWait)) {
        // Two workers must never drive one engine: no new one starts.
        m_journal.AddEntry(EntryKind::Error, kWorkerNotStopped);
        return CheckResult::NotStarted;
    }
    if (!verifyFirst) AskForState();

    // Cleared here, not when the run begins: a stop asked for while the new
    // worker still waits (for the removal of the work files) must hold.
    m_engine->ClearStop();
    auto worker = std::make_shared<Worker>();
    std::lock_guard<std::mutex> hold(m_lock);
    m_pUpdateThread = worker;
    worker->thread = std::thread([self = shared_from_this(), worker, verifyFirst] {
        t_currentWorker = worker.get();
        self->UpdateWorkerMain(verifyFirst);
        t_currentWorker = nullptr;
        std::lock_guard<std::mutex> done(worker->lock);
        worker->done = true;
        worker->ended.notify_all();
    });
    return CheckResult::WorkerStarted;
}

void CUpdateCycle::Core::UpdateWorkerMain(bool verifyFirst) {
    if (verifyFirst) {
        if (Verify(true) != CheckResult::Verified) return;
        AskForState();
    }
    // A removal of the work files started by the update-end notice (or a
    // "/update" start) ends before the engine downloads into them again.
    m_window->WaitTempCleanup();
    const int outcome = m_engine->RunUpdate();
    m_window->ShowVersionLine(m_engine->LatestVersion());
    if (outcome == 1) {
        // The installer program has the files now: verify again; the worker
        // ends there unless the game runs or the verification fails.
        if (RunCheck() == CheckResult::WorkerEnds) return;
    } else {
        ApplyOutcome(outcome);
    }
    m_window->ShowVersionLine(m_engine->LatestVersion());
}

void CUpdateCycle::Core::ApplyOutcome(int outcome) {
    switch (outcome) {
        case 2:
            m_window->EnableUpdateButton(true);
            m_window->EnableStartButton(true);
            m_window->ShowStatus(cycle_text::kNewVersion);
            break;
        case 3:
            m_window->EnableUpdateButton(false);
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
    if (StartUpdateWorker(false) == CheckResult::NotStarted) GiveBothChoicesBack();
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
