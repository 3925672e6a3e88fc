// The update engine: one version step per run. RunUpdate checks the server's
// version list, and for a chosen target empties the work folder and runs the
// step's stages, each a unit of its own that takes the step's context (the
// fetcher, this engine as the report port, the stop flags, the folders):
// the lists (update_list_stage), the disk space (update_space_stage), the
// deltas (update_delta_stage), the overlapped download and unpacking
// (update_pipeline); then it writes the hand-off file and starts the
// installer program with it. Every step is shown through the window port and
// written to the journal.
//
//   CGameUpdater updater(launcherFolder);
//   updater.m_bInstall = 1;
//   int outcome = updater.RunUpdate(&window);   // on a worker thread
//   ...                                         // another thread may call RequestStop()
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/launcher_settings.h"
#include "maintenance/verify_cache.h"
#include "update/engine/catch_up_plan.h"
#include "update/engine/step_context.h"
#include "update/engine/update_delta_stage.h"
#include "update/engine/update_lists.h"
#include "update/engine/updater_ports.h"
#include "update/engine/version_list.h"
#include "update/fetch/byte_counting_transfer.h"
#include "update/fetch/mirrored_transfer.h"
#include "update/fetch/version_fetcher.h"
#include "update/install/hand_off.h"
#include "update/report/step_progress.h"

// Outcomes of RunUpdate and CheckVersion.
namespace update_outcome {
constexpr int kFailed = 0;
constexpr int kHandedOver = 1;      // installer started, or nothing to install
constexpr int kNewerAvailable = 2;  // optional version, not asked to install
constexpr int kUpToDate = 3;
}  // namespace update_outcome

// How many listed versions, newest first, a run that finds version.data
// missing or unreadable compares the installed files against.
constexpr size_t kMaxRecoveryVersions = 32;

// A status text longer than this is shortened (at a character boundary) for
// the status line; the journal always gets the whole text.
constexpr size_t kMaxShownStatusBytes = 4096;

class CGameUpdater : private IStepReport {
public:
    // launcherFolder without a trailing separator. Null ports mean the
    // network clients and the platform's program start.
    explicit CGameUpdater(std::string launcherFolder, IUpdateTransfer* transfer = nullptr,
                          IProgramStarter* starter = nullptr);
    ~CGameUpdater() override;
    CGameUpdater(const CGameUpdater&) = delete;
    CGameUpdater& operator=(const CGameUpdater&) = delete;

    [[nodiscard]] int RunUpdate(IUpdaterWindow* window);
    // Repairs the installed version (update_repair.cpp): the files of
    // damaged (places as version.data names them; missing ones too) come
    // again from the server, by byte range as the installed version's state
    // index places them, and go in through the installer program as a step's
    // files do; with a newer version to catch up to, they come along with
    // that step. kHandedOver also when there is nothing to repair.
    [[nodiscard]] int RunRepair(IUpdaterWindow* window, const std::vector<std::string>& damaged);
    // What RunRepair would download for damaged, asked of the server without
    // touching the work folder; -1 when the server cannot tell (no index for
    // the installed version, a failed fetch, a package of unknown size).
    [[nodiscard]] int64_t RepairDownloadBytes(IUpdaterWindow* window, const std::vector<std::string>& damaged);
    [[nodiscard]] int CheckVersion();
    [[nodiscard]] int PrepareUpdate();
    [[nodiscard]] int ExecuteUpdate();

    void ReportStatus(int bShowPercent, float fPercent, std::string text);
    void ReportUnpacking(const std::string& text);

    // An installation cut off by a kill or a power loss leaves its journal
    // in the launcher folder, and the game half old, half new, until the
    // installer program runs again. When the journal is there, starts the
    // installer on the hand-off file (it finishes or undoes that run, and
    // then tells the launcher with "/update") and gives true.
    [[nodiscard]] bool ResumeInterruptedInstall();

    // From any thread: the run ends at its next step, and a running transfer
    // gives up within the clients' poll interval. A request made before a
    // run begins holds for that run: only ClearStop, called by whoever starts
    // a new worker, takes it back.
    void RequestStop() {
        m_bStopRequested.store(true);
        m_bHalt.store(true);
    }
    void ClearStop() { m_bStopRequested.store(false); }
    [[nodiscard]] bool StopRequested() const { return m_bStopRequested.load(); }
    [[nodiscard]] const std::atomic<bool>& StopFlag() const { return m_bStopRequested; }

    const std::string& LauncherFolder() const { return m_strLauncherFolder; }
    // The version the last check found to install next (installed or not);
    // 0 when it found none.
    [[nodiscard]] int32_t OfferedVersion() const { return m_nOfferedVersion.load(); }
    // Bytes a run used from the work folder's kept downloads instead of
    // fetching them again.
    [[nodiscard]] int64_t ReusedBytes() const { return m_fetcher.ReusedBytes(); }
    // Bytes received over the network by this updater so far.
    [[nodiscard]] int64_t ReceivedBytes() const { return m_counting.Received(); }
    // What the full packages of the last executed step weigh (see FullPackageBytes).
    [[nodiscard]] int64_t FullUpdateBytes() const { return m_nFullUpdateBytes; }

    // Checks every release against these public keys from now on (see
    // CVersionFetcher); without this call nothing is checked.
    void UseTrustKeys(std::vector<MinisignPublicKey> keys) { m_fetcher.UseTrustKeys(std::move(keys)); }
    // How a stalled download is resumed (tests use short pauses).
    void SetResumePolicy(const ResumePolicy& policy) { m_hosts.SetResumePolicy(policy); }

    std::string m_strTempFolder;
    std::atomic<int32_t> m_bInstall{0};
    std::atomic<int32_t> m_nOfferedVersion{0};
    LauncherSettings m_settings;
    IUpdaterWindow* m_pWindow = nullptr;
    VersionEntry m_target;
    // The newest entry of the last version list read.
    VersionEntry m_newest;
    // What a probe found for a catch-up to m_target; null: a step to the next version.
    std::unique_ptr<CatchUpState> m_catchUp;
    std::atomic<int32_t> m_nLatestVersion{0};
    // The version last given to the installer program by this updater.
    int32_t m_nHandedOverVersion = 0;

private:
    // When the installed version is two or more behind the newest and the
    // newest folder has a usable state index: one step straight to the
    // newest (update_catch_up.cpp). The probe fetches the index and reads
    // the installed files; false, logged, when the engine steps as before.
    // A run's start: the window, its settings, the hosts, the fetcher, the limit.
    void BeginRun(IUpdaterWindow* window);
    [[nodiscard]] bool ProbeCatchUp(const VersionEntry& newest);
    // The repair of damaged from the installed version's index (the plan
    // points into state), or, when a newer version's folder has an index,
    // the catch-up to it with damaged among the files it fetches (then
    // m_catchUp holds it); false, shown, when neither can be made.
    [[nodiscard]] bool PlanRepair(IUpdaterWindow* window, const std::vector<std::string>& damaged,
                                  CatchUpState* state, CatchUpPlan* planOut);
    // version.data missing or unreadable (update_recovery.cpp): sets the
    // installed version from the files against the listed versions' state
    // indexes, else the oldest listed one, and with the newest version's
    // index a catch-up to it; false when stopped.
    [[nodiscard]] bool RecoverInstalledVersion(const std::vector<VersionEntry>& entries);
    // A plan's package sizes: those of the version folder whose manifest is open.
    [[nodiscard]] std::function<int64_t(const std::string&, const std::string&)> PackageSizes(
        const std::string& openVersion) const;
    [[nodiscard]] int RunCatchUp();
    [[nodiscard]] bool FetchVersionList(std::string* contentOut);
    // Fetched, checked and parsed, sorted highest first; false, shown, when not.
    [[nodiscard]] bool ReadVersionList(std::vector<VersionEntry>* entriesOut);
    // The context the stages of the step under way work with.
    [[nodiscard]] StepContext Step();
    [[nodiscard]] int64_t FullPackageBytes(const UpdatePlan& plan) const;
    void ReportDeltaSaving(const UpdatePlan& plan, int64_t receivedBefore, size_t patchedFiles);
    // The text of a failed fetch: the transfer's own (a stall), else generic.
    [[nodiscard]] std::string FetchFailure(const std::string& generic) const;
    void Clear();

    // The report port of the stages (game_updater.cpp, update_progress.cpp).
    void Status(const std::string& text) override { ReportStatus(0, 0.0f, text); }
    void StatusPercent(float percent, const std::string& text) override { ReportStatus(1, percent, text); }
    void Unpacking(const std::string& text) override { ReportUnpacking(text); }
    // Shows text and logs it, followed by the reason when there is one: only
    // the log has room for it.
    void Fail(const std::string& text, const std::string& reason = std::string()) override;
    void ManualUpdateBox() override;
    [[nodiscard]] bool StopHere() override;
    void BeginDownloads(int64_t downloadBytes, int64_t unpackBytes) override;
    void BeginDeltas(int64_t applyBytes) override;
    [[nodiscard]] ProgressFn DownloadProgress(const std::string& name, int64_t plannedBytes) override;
    [[nodiscard]] ProgressFn ApplyProgress(const std::string& name, int64_t expectedBytes) override;
    [[nodiscard]] std::function<void(uint64_t)> UnpackProgress(const std::string& name,
                                                               int64_t expectedBytes) override;
    // The packages' phases of the step, planned from what the deltas left.
    void BeginStepProgress(const UpdatePlan& plan);
    void ReportProgress();
    void EndStepProgress();

    std::string m_strLauncherFolder;
    // The installed version the run works from: the window's, or the one
    // the files showed when version.data could not be read.
    int32_t m_nInstalled = 0;
    // Counts the bytes the network delivers to the step.
    ByteCountingTransfer m_counting;
    // The step's update hosts in front of the counted transfer.
    CMirroredTransfer m_hosts;
    // Every file of the server comes through it, from the hosts.
    CVersionFetcher m_fetcher;
    IProgramStarter* m_pStarter;
    std::atomic<bool> m_bStopRequested{false};
    // Watched by the package transfers and the unpacking: set by a stop
    // request and by either side's failure, so the other side ends promptly.
    std::atomic<bool> m_bHalt{false};
    // The window hears from the engine's thread and the unpacking thread.
    std::mutex m_reportMutex;
    // The unpacked files whose MD5 the list gave and the unpacking checked.
    std::vector<VerifyCacheLine> m_checkedFiles;
    int64_t m_nFullUpdateBytes = 0;
    StepProgress m_progress;
    // Reports the figures now and then while a step runs, so that a transfer
    // that has stalled shows its speed fall instead of frozen figures.
    PeriodicCall m_progressTicker;
};
