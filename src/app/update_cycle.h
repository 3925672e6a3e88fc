// The update cycle seen from the main window: when a check begins, the one
// update worker that runs the engine, what each outcome does to the buttons
// and texts, the update button (update, pause while a step runs, continue a
// paused or kept step), and the update-end notice of a second launcher.
//
// Workers never touch the window: every change goes through
// UpdateCycleWindow, whose Win32 side posts it to the window's thread. A
// worker is stopped cooperatively (stop request, then a bounded wait), never
// killed.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "update/fetch/kept_downloads.h"

class CJournal;

namespace cycle_text {
constexpr const char kGameRunningBox[] = "游戏正在运行 ,不能进行更新!";
constexpr const char kCheckingUpdate[] = "执行检查更新";
constexpr const char kVerifyFailedLog[] = "本地版本验证失败";
constexpr const char kAskingState[] = "请求版本升级状态...";
constexpr const char kNewVersion[] = "发现可用的新版本";
constexpr const char kUpdateEndLog[] = "Update end.";
constexpr const char kUpdateFinishedLog[] = "更新完成!";
constexpr const char kUpdateInstalled[] = "更新安装完成!";
// The kept bytes alone, for a state that does not know the step's size.
constexpr const char kPausedKeptFormat[] = "已暂停 : 已下载 %s";
constexpr const char kCanContinueKeptFormat[] = "可继续更新 : 已下载 %s";
constexpr const char kDamagedFilesFormat[] = "发现 %d 个文件损坏";
}  // namespace cycle_text

// What the update button does when pressed, and so which pictures it shows.
enum class UpdateButtonRole {
    Update,    // install the offered version
    Pause,     // a step runs: stop it and keep its downloads
    Continue,  // install, going on from the kept downloads
    Repair,    // fetch again the installed files that differ (the update button's pictures)
};

// How long the window waits for a worker it has asked to stop.
constexpr std::chrono::milliseconds kWorkerStopWait{5000};

// Failed: version.data could not be read. Damaged: it was, the installed
// version is set, but some listed files differ or are missing.
enum class VerifyOutcome { Verified, Failed, Damaged, Stopped };

// What the cycle needs of the window. Safe to call from any thread.
class UpdateCycleWindow {
public:
    virtual ~UpdateCycleWindow() = default;
    virtual bool IsGameRunning() = 0;
    // "The game is running" box; may block until the player answers.
    virtual void ShowGameRunningBox(const std::string& text) = 0;
    // Verifies the installed files on the update worker, showing its
    // progress in the status line when asked; on success the installed
    // version is set. Once stop is set it ends within a block's read and
    // gives Stopped. With Damaged, damagedOut gets the places that differ,
    // as version.data names them.
    virtual VerifyOutcome VerifyInstalledVersion(const std::atomic<bool>& stop, bool showProgress,
                                                 std::vector<std::string>* damagedOut) = 0;
    // While verifying, the start and update buttons are off; what the cycle
    // asks of them meanwhile is applied when the verification ends.
    virtual void SetVerifying(bool verifying) = 0;
    [[nodiscard]] virtual int32_t InstalledVersion() const = 0;
    virtual void ShowVersionLine(int32_t latestVersion) = 0;
    // Called only when the role changes; the window shows the role's pictures
    // and hands a press to OnPauseButton while it shows Pause.
    virtual void SetUpdateButtonRole(UpdateButtonRole role) = 0;
    virtual void ShowStatus(const std::string& text) = 0;
    virtual void EnableUpdateButton(bool enable) = 0;
    virtual void EnableStartButton(bool enable) = 0;
    // Starts the removal of the update's work files on its own worker.
    virtual void StartTempCleanup() = 0;
    // Blocks until no removal started by StartTempCleanup still runs.
    virtual void WaitTempCleanup() = 0;
};

// What the cycle needs of the update engine.
class UpdateEngine {
public:
    virtual ~UpdateEngine() = default;
    // Runs on the worker; the outcome of the engine (1, 2, 3, or 0).
    // mandatoryStep is called on the worker when the check found a mandatory
    // version and the run goes on to install it without having been asked.
    virtual int RunUpdate(const std::function<void()>& mandatoryStep) = 0;
    // Runs on the worker: fetches the damaged places of the installed
    // version again and hands them to the installer; the outcome as RunUpdate's.
    virtual int RunRepair(const std::vector<std::string>& damaged) = 0;
    // Runs on the worker: what RunRepair would download, asked of the
    // server with nothing shown; -1 when it cannot tell.
    virtual int64_t RepairDownloadBytes(const std::vector<std::string>& damaged) = 0;
    virtual void SetInstall(bool install) = 0;
    [[nodiscard]] virtual bool Install() const = 0;
    [[nodiscard]] virtual int32_t LatestVersion() const = 0;
    // The version the last check found to install next; 0 for none.
    [[nodiscard]] virtual int32_t OfferedVersion() const = 0;
    // What the work folder keeps of an unfinished step, read now.
    [[nodiscard]] virtual KeptDownloadsSummary KeptDownloads() const = 0;
    // From any thread: the running RunUpdate ends soon, or the next one at
    // once when it has not begun yet.
    virtual void RequestStop() = 0;
    // Takes back a stop request; called before a new worker starts.
    virtual void ClearStop() = 0;
    // The flag RequestStop sets and ClearStop takes back: the verification
    // on the worker watches it too, so one request stops either.
    [[nodiscard]] virtual const std::atomic<bool>& StopFlag() const = 0;
    // Starts the installer program on an installation that was cut off;
    // true when it did (its update-end notice follows).
    virtual bool ResumeInterruptedInstall() = 0;
};

// The window owns the cycle; the window port and the engine are shared with
// it, and through it with a worker that did not stop in time: such a worker
// is left to run out, and everything it uses stays alive until it has.
class CUpdateCycle {
public:
    CUpdateCycle(std::shared_ptr<UpdateCycleWindow> window, std::shared_ptr<UpdateEngine> engine,
                 CJournal& journal, std::chrono::milliseconds stopWait = kWorkerStopWait);
    // Stops a running worker (bounded wait); one that does not stop is left
    // to end by itself.
    ~CUpdateCycle();
    CUpdateCycle(const CUpdateCycle&) = delete;
    CUpdateCycle& operator=(const CUpdateCycle&) = delete;

    void BeginUpdateCheck();
    // The update button showing Update or Continue: installs, on a new worker
    // that asks the server at once.
    void OnUpdateButton();
    // The update button showing Pause: the running step stops (cooperatively,
    // never waited for here) and its downloads stay for a continue. Nothing
    // happens when no step runs (a press that raced the step's end).
    void OnPauseButton();
    // The update button showing Repair: the files the last check found
    // damaged come again, on a new worker.
    void OnRepairButton();
    // The next check repairs the damaged files it finds without a press
    // (the launcher started with "/repair"); only that check.
    void RepairAtOnce();
    // The notice WM_USER+100; only wParam 0 with lParam 1 is acted on.
    void OnUpdateEnd(uintptr_t wParam, intptr_t lParam);

    // Asks the running worker to stop and waits for it at most `wait`.
    // True when no worker runs any more.
    bool StopWorker(std::chrono::milliseconds wait);
    // Waits until the worker has ended by itself (tests, shutdown).
    bool WaitForWorker(std::chrono::milliseconds wait);
    [[nodiscard]] bool WorkerRunning() const;

private:
    class Core;
    std::shared_ptr<Core> m_core;
};
