#include "app/update_cycle.h"

#include <utility>

#include "external/journal.h"
#include "update/status_texts.h"

// One update worker: its thread and whether its procedure has returned.
struct CUpdateCycle::Worker {
    std::thread thread;
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;

    bool WaitDone(std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> hold(lock);
        return ended.wait_for(hold, wait, [this] { return done; });
    }
};

namespace {

// The worker whose procedure runs on this thread, if any.
thread_local const void* t_currentWorker = nullptr;

}  // namespace

CUpdateCycle::CUpdateCycle(UpdateCycleWindow& window, UpdateEngine& engine, CJournal& journal)
    : m_window(window), m_engine(engine), m_journal(journal) {}

CUpdateCycle::~CUpdateCycle() {
    if (StopWorker(kWorkerStopWait)) return;
    m_journal.AddEntry(EntryKind::Error, "更新线程未能按时结束");
    // The process is ending; a worker that does not stop is left to it
    // rather than ended in the middle of a heap or file operation.
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_pUpdateThread && m_pUpdateThread->thread.joinable()) m_pUpdateThread->thread.detach();
}

bool CUpdateCycle::OnWorkerThread() const { return t_currentWorker != nullptr; }

bool CUpdateCycle::WorkerRunning() const {
    std::shared_ptr<Worker> worker;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        worker = m_pUpdateThread;
    }
    if (!worker) return false;
    std::lock_guard<std::mutex> hold(worker->lock);
    return !worker->done;
}

bool CUpdateCycle::WaitForWorker(std::chrono::milliseconds wait) {
    std::shared_ptr<Worker> worker;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        worker = m_pUpdateThread;
    }
    if (!worker) return true;
    if (!worker->WaitDone(wait)) return false;
    if (worker->thread.joinable() && worker->thread.get_id() != std::this_thread::get_id()) {
        worker->thread.join();
    }
    return true;
}

bool CUpdateCycle::StopWorker(std::chrono::milliseconds wait) {
    std::shared_ptr<Worker> worker;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        worker = m_pUpdateThread;
    }
    if (!worker || OnWorkerThread()) return !worker;
    m_engine.RequestStop();
    if (!worker->WaitDone(wait)) return false;
    if (worker->thread.joinable()) worker->thread.join();
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_pUpdateThread == worker) m_pUpdateThread.reset();
    return true;
}

void CUpdateCycle::BeginUpdateCheck() { (void)RunCheck(); }

CUpdateCycle::CheckResult CUpdateCycle::RunCheck() {
    if (m_window.IsGameRunning()) {
        m_window.ShowGameRunningBox(cycle_text::kGameRunningBox);
        return CheckResult::GameRunning;
    }
    if (!m_bResumeLooked.exchange(true) && m_engine.ResumeInterruptedInstall()) {
        // Nothing is verified or started over a half-installed game: the
        // installer's update-end notice starts the next check.
        m_window.EnableStartButton(false);
        m_window.EnableUpdateButton(false);
        m_window.ShowStatus(update_text::kInstallerStarted);
        return CheckResult::InstallResumed;
    }
    m_journal.AddEntry(EntryKind::Info, cycle_text::kCheckingUpdate);
    if (!m_window.VerifyInstalledVersion()) {
        m_journal.AddEntry(EntryKind::Info, cycle_text::kVerifyFailedLog);
        m_window.ShowStatus(cycle_text::kAlreadyLatest);
        m_window.ShowVersionLine(m_window.InstalledVersion());
        return CheckResult::VerifyFailed;
    }
    m_window.ShowVersionLine(m_window.InstalledVersion());
    return StartUpdateWorker();
}

CUpdateCycle::CheckResult CUpdateCycle::StartUpdateWorker() {
    // On a worker (after a hand-over) the worker that runs is this one: it
    // ends here, and the update-end notice starts the next check.
    if (OnWorkerThread()) return CheckResult::WorkerEnds;
    if (!StopWorker(kWorkerStopWait)) {
        // Two workers must never drive one engine: no new one starts.
        m_journal.AddEntry(EntryKind::Error, "更新线程未能按时结束");
        return CheckResult::NotStarted;
    }
    m_journal.AddEntry(EntryKind::Info, cycle_text::kAskingState);
    m_window.ShowStatus(cycle_text::kAskingState);

    // Cleared here, not when the run begins: a stop asked for while the new
    // worker still waits (for the removal of the work files) must hold.
    m_engine.ClearStop();
    auto worker = std::make_shared<Worker>();
    std::lock_guard<std::mutex> hold(m_lock);
    m_pUpdateThread = worker;
    worker->thread = std::thread([this, worker] {
        t_currentWorker = worker.get();
        UpdateWorkerMain();
        t_currentWorker = nullptr;
        std::lock_guard<std::mutex> done(worker->lock);
        worker->done = true;
        worker->ended.notify_all();
    });
    return CheckResult::WorkerStarted;
}

void CUpdateCycle::UpdateWorkerMain() {
    // A removal of the work files started by the update-end notice (or a
    // "/update" start) ends before the engine downloads into them again.
    m_window.WaitTempCleanup();
    const int outcome = m_engine.RunUpdate();
    m_window.ShowVersionLine(m_engine.LatestVersion());
    if (outcome == 1) {
        // The installer program has the files now: verify again; the worker
        // ends there unless the game runs or the verification fails.
        if (RunCheck() == CheckResult::WorkerEnds) return;
    } else {
        ApplyOutcome(outcome);
    }
    m_window.ShowVersionLine(m_engine.LatestVersion());
}

void CUpdateCycle::ApplyOutcome(int outcome) {
    switch (outcome) {
        case 2:
            m_window.EnableUpdateButton(true);
            m_window.EnableStartButton(true);
            m_window.ShowStatus(cycle_text::kNewVersion);
            break;
        case 3:
            m_window.EnableUpdateButton(false);
            m_window.EnableStartButton(true);
            m_engine.SetInstall(false);
            break;
        default:
            // A failure leaves the game startable and the update button as it was.
            m_engine.SetInstall(false);
            m_window.EnableStartButton(true);
            break;
    }
}

void CUpdateCycle::OnUpdateButton() {
    if (m_window.IsGameRunning()) {
        m_window.ShowGameRunningBox(cycle_text::kGameRunningBox);
        return;
    }
    // Both buttons go off before the worker starts: a worker that ends at
    // once must find them off, not have its own settings overwritten.
    m_window.EnableStartButton(false);
    m_window.EnableUpdateButton(false);
    m_engine.SetInstall(true);
    if (StartUpdateWorker() == CheckResult::NotStarted) {
        // The old worker did not stop: nothing installs, the player keeps
        // both choices.
        m_engine.SetInstall(false);
        m_window.EnableUpdateButton(true);
        m_window.EnableStartButton(true);
    }
}

void CUpdateCycle::OnUpdateEnd(uintptr_t wParam, intptr_t lParam) {
    if (wParam != 0 || lParam != 1) return;
    m_journal.AddEntry(EntryKind::Notice, cycle_text::kUpdateEndLog);
    m_window.StartTempCleanup();
    m_journal.AddEntry(EntryKind::Info, cycle_text::kUpdateFinishedLog);
    m_window.ShowStatus(cycle_text::kUpdateInstalled);
    m_engine.SetInstall(false);
    BeginUpdateCheck();
}
