// The update engine: one version step per run. RunUpdate checks the server's
// version list, and for a chosen target empties the work folder, loads the
// target's update and delete lists, downloads and unpacks the packages,
// writes the hand-off file and starts the installer program with it. Every
// step is shown through the window port and written to the journal.
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
#include "update/disk_space.h"
#include "update/hand_off.h"
#include "update/mirrored_transfer.h"
#include "update/release_trust.h"
#include "update/step_progress.h"
#include "update/update_delta_stage.h"
#include "update/update_lists.h"
#include "update/updater_ports.h"
#include "update/version_list.h"

// Outcomes of RunUpdate and CheckVersion.
namespace update_outcome {
constexpr int kFailed = 0;
constexpr int kHandedOver = 1;      // installer started, or nothing to install
constexpr int kNewerAvailable = 2;  // optional version, not asked to install
constexpr int kUpToDate = 3;
}  // namespace update_outcome

// A status text longer than this is shortened (at a character boundary) for
// the status line; the journal always gets the whole text.
constexpr size_t kMaxShownStatusBytes = 4096;

// What unpacking one package gave: the moves and checked files of its members,
// or why it ended early. Made where the package is unpacked (mostly a second
// thread), read by the engine's thread only once that unpacking has ended.
struct UnpackedPackage {
    enum class Kind {
        None,     // no package was being unpacked
        Done,
        Halted,   // a stop, or the other side's failure, ended it
        Damaged,  // the package failed its check; another host may serve a good one
        Failed,   // the disk or the installer program's place failed
    };
    Kind kind = Kind::None;
    const PackageGroup* group = nullptr;
    std::vector<HandOffMove> moves;
    std::vector<VerifyCacheLine> checkedFiles;
    std::string text;     // the failure as shown
    std::string reason;   // and its cause, for the log
    bool box = false;     // the failure asks the player for a manual update
    bool refused = false; // the signed manifest refused it: the version's downloads go
};

class CGameUpdater {
public:
    // launcherFolder without a trailing separator. Null ports mean the
    // network clients and the platform's program start.
    explicit CGameUpdater(std::string launcherFolder, IUpdateTransfer* transfer = nullptr,
                          IProgramStarter* starter = nullptr);
    ~CGameUpdater();
    CGameUpdater(const CGameUpdater&) = delete;
    CGameUpdater& operator=(const CGameUpdater&) = delete;

    [[nodiscard]] int RunUpdate(IUpdaterWindow* window);
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
    // Bytes received over the network by this updater so far.
    [[nodiscard]] int64_t ReceivedBytes() const { return m_counting.Received(); }
    // What the full packages of the last executed step weigh (see FullPackageBytes).
    [[nodiscard]] int64_t FullUpdateBytes() const { return m_nFullUpdateBytes; }

    // Checks every release against these public keys from now on (see
    // CReleaseTrust); without this call nothing is checked.
    void UseTrustKeys(std::vector<MinisignPublicKey> keys) { m_trust.UseKeys(std::move(keys)); }
    // How a stalled download is resumed (tests use short pauses).
    void SetResumePolicy(const ResumePolicy& policy) { m_hosts.SetResumePolicy(policy); }

    std::string m_strTempFolder;
    std::atomic<int32_t> m_bInstall{0};
    LauncherSettings m_settings;
    IUpdaterWindow* m_pWindow = nullptr;
    VersionEntry m_target;
    std::atomic<int32_t> m_nLatestVersion{0};
    // The version last given to the installer program by this updater.
    int32_t m_nHandedOverVersion = 0;

private:
    friend class CDeltaStage;
    enum class ListStage { Failed, NothingToInstall, Ready };

    [[nodiscard]] bool IsHttp() const;
    [[nodiscard]] bool FetchVersionList(std::string* contentOut);
    [[nodiscard]] std::string BaseUrl(const std::string& versionText) const;
    [[nodiscard]] ListStage LoadUpdateLists(UpdatePlan* planOut);
    struct FetchedList {
        int result = 0;          // the client's result
        bool notFound = false;   // the server has no such file
        bool readable = false;   // fetched, deciphered and decoded
        std::string content;     // UTF-8
        bool refused = false;    // not as the signed manifest says; shown already
    };
    [[nodiscard]] FetchedList FetchList(const std::string& url, const std::string& name, bool mayBeMissing);
    [[nodiscard]] bool LoadDeleteList(UpdatePlan* plan);
    // Downloads and unpacking overlapped (update_pipeline.cpp): each package is
    // checked and unpacked on a second thread while the next one downloads.
    [[nodiscard]] bool DownloadAndUnpack(const UpdatePlan& plan, HandOffPlan* handOff);
    [[nodiscard]] int FetchPackage(const UpdatePlan& plan, const PackageGroup& group);
    void FailDownload(int result, const UpdatePlan& plan, const PackageGroup& group);
    void AnnounceUnpack(const PackageGroup& group, bool first);
    [[nodiscard]] UnpackedPackage UnpackPackage(const PackageGroup& group, bool selfUpdate);
    [[nodiscard]] bool ExtractMember(class CBundle& bundle, const PackageMember& member, UnpackedPackage* unpackOut);
    [[nodiscard]] bool PlaceInstallerProgram(const PackageMember& member, UnpackedPackage* unpackOut);
    [[nodiscard]] bool SettleUnpack(const UpdatePlan& plan, UnpackedPackage unpacked, HandOffPlan* handOff);
    void ReportUnpackFailure(const UnpackedPackage& unpacked);
    // Clears the halt flag for a new start, unless a stop is requested.
    void ResetHalt();
    // Disk space before the first package (update_space_stage.cpp).
    void AddPackageSpaceNeeds(const UpdatePlan& plan, std::vector<SpaceNeed>* needsOut) const;
    [[nodiscard]] bool CheckDiskSpace(const std::vector<SpaceNeed>& needs);
    [[nodiscard]] HandOffMove MoveOf(const PackageMember& member) const;
    [[nodiscard]] bool CheckExpectedInstall(const UpdatePlan& plan);
    void AddDeletions(const UpdatePlan& plan, HandOffPlan* handOff);
    [[nodiscard]] int64_t FullPackageBytes(const UpdatePlan& plan) const;
    void ReportDeltaSaving(const UpdatePlan& plan, int64_t receivedBefore, size_t patchedFiles);
    [[nodiscard]] int HandOver(const HandOffPlan& handOff);
    [[nodiscard]] bool StopHere();
    // Signed releases (update_trust_stage.cpp). Each shows its refusal.
    [[nodiscard]] bool FetchSmallFile(const std::string& url, const std::string& name, int64_t cap,
                                      std::string* contentOut, bool* notFoundOut);
    [[nodiscard]] bool CheckListSignature(const std::string& raw, const std::string& signatureUrl);
    [[nodiscard]] bool LoadManifest(const std::string& baseUrl, const std::string& versionText);
    [[nodiscard]] bool CapOfVersionFile(const std::string& name, int64_t* capInOut);
    [[nodiscard]] bool CheckVersionFile(const std::string& name, const std::string& path);
    [[nodiscard]] bool CheckPackagesListed(const UpdatePlan& plan);
    // The fetch cap of a package that CheckPackagesListed found: the
    // manifest's size, none without keys.
    [[nodiscard]] int64_t CapOfListedPackage(const std::string& name) const;
    void RefuseRelease(const TrustRefusal& refusal);
    void DiscardDownloads();
    // Progress of the step under way (update_progress.cpp): each hands out
    // the callback that a transfer or a writer calls on its own thread.
    void BeginStepProgress(const UpdatePlan& plan);
    [[nodiscard]] int64_t PlannedDownloadBytes(const PackageGroup& group) const;
    [[nodiscard]] ProgressFn DownloadProgress(const PackageGroup& group);
    // The next file of a phase that writes (unpacking, applying deltas); the
    // callback takes the bytes of each block written.
    [[nodiscard]] std::function<void(uint64_t)> WriteProgress(StepPhase phase, const std::string& name,
                                                             int64_t expectedBytes);
    void BeginDeltaProgress(int64_t applyBytes);
    // The bytes a delta has made of the file name so far.
    [[nodiscard]] ProgressFn ApplyProgress(const std::string& name, int64_t expectedBytes);
    void ReportProgress();
    void EndStepProgress();
    // Shows text and logs it, followed by the reason when there is one: only
    // the log has room for it.
    void Fail(const std::string& text, const std::string& reason = std::string());
    // The text of a failed fetch: the transfer's own (a stall), else generic.
    [[nodiscard]] std::string FetchFailure(const std::string& generic) const;
    void Clear();

    std::string m_strLauncherFolder;
    // Counts the bytes the network delivers to the step.
    ByteCountingTransfer m_counting;
    // The step's update hosts in front of the counted transfer; every fetch
    // goes through them (m_pTransfer points here).
    CMirroredTransfer m_hosts;
    IUpdateTransfer* m_pTransfer;
    IProgramStarter* m_pStarter;
    std::atomic<bool> m_bStopRequested{false};
    // Watched by the package transfers and the unpacking: set by a stop
    // request and by either side's failure, so the other side ends promptly.
    std::atomic<bool> m_bHalt{false};
    // The window hears from the engine's thread and the unpacking thread.
    std::mutex m_reportMutex;
    // The unpacked files whose MD5 the list gave and the unpacking checked.
    std::vector<VerifyCacheLine> m_checkedFiles;
    CReleaseTrust m_trust;
    int64_t m_nFullUpdateBytes = 0;
    StepProgress m_progress;
    // Reports the figures now and then while a step runs, so that a transfer
    // that has stalled shows its speed fall instead of frozen figures.
    PeriodicCall m_progressTicker;
};
