// The update cycle seen from the main window: when a check begins, the one
// update worker that runs the engine, what each outcome does to the buttons
// and texts, the update button, and the update-end notice of a second
// launcher.
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
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CJournal;

namespace cycle_text {
constexpr const char kGameRunningBox[] = "游戏正在运行 ,不能进行更新!";
constexpr const char kCheckingUpdate[] = "执行检查更新";
constexpr const char kVerifyFailedLog[] = "本地版本验证失败";
constexpr const char kAlreadyLatest[] = "当前已经是最新版本";
constexpr const char kAskingState[] = "请求版本升级状态...";
constexpr const char kNewVersion[] = "发现可用的新版本";
constexpr const char kUpdateEndLog[] = "Update end.";
constexpr const char kUpdateFinishedLog[] = "更新完成!";
constexpr const char kUpdateInstalled[] = "更新安装完成!";
}  // namespace cycle_text

// How long the window waits for a worker it has asked to stop.
constexpr std::chrono::milliseconds kWorkerStopWait{5000};

enum class VerifyOutcome { Verified, Failed, Stopped };

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
    // gives Stopped.
    virtual VerifyOutcome VerifyInstalledVersion(const std::atomic<bool>& stop, bool showProgress) = 0;
    // While verifying, the start and update buttons are off; what the cycle
    // asks of them meanwhile is applied when the verification ends.
    virtual void SetVerifying(bool verifying) = 0;
    [[nodiscard]] virtual int32_t InstalledVersion() const = 0;
    virtual void ShowVersionLine(int32_t latestVersion) = 0;
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
    virtual int RunUpdate() = 0;
    virtual void SetInstall(bool install) = 0;
    [[nodiscard]] virtual bool Install() const = 0;
    [[nodiscard]] virtual int32_t LatestVersion() const = 0;
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
    // The update button.
    void OnUpdateButton();
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
