// What every stage of a version step works with, and nothing more: the
// fetcher through which every file of the server comes, the report port
// through which the player and the log hear of the step, the stop flags and
// the folders. A stage takes a context and returns a value; it never reaches
// into the engine that runs it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "maintenance/verify_cache.h"
#include "net/transfer_control.h"
#include "update/engine/update_lists.h"
#include "update/fetch/version_fetcher.h"
#include "update/install/hand_off.h"

class IStepReport {
public:
    virtual ~IStepReport() = default;
    // The status line shows text until the next one (the log is the caller's).
    virtual void Status(const std::string& text) = 0;
    // The same with the step's percentage in front.
    virtual void StatusPercent(float percent, const std::string& text) = 0;
    // A status text of the unpacking ("解包中 : ...").
    virtual void Unpacking(const std::string& text) = 0;
    // Shows text and logs it, followed by the reason when there is one.
    virtual void Fail(const std::string& text, const std::string& reason = std::string()) = 0;
    // The warning box that asks the player for a manual update.
    virtual void ManualUpdateBox() = 0;
    // True, after showing the stop, when a stop was requested.
    [[nodiscard]] virtual bool StopHere() = 0;

    // The step's figures: its phases planned, then each file's bytes.
    virtual void BeginDownloads(int64_t downloadBytes, int64_t unpackBytes) = 0;
    virtual void BeginDeltas(int64_t applyBytes) = 0;
    [[nodiscard]] virtual ProgressFn DownloadProgress(const std::string& name, int64_t plannedBytes) = 0;
    [[nodiscard]] virtual ProgressFn ApplyProgress(const std::string& name, int64_t expectedBytes) = 0;
    // The callback takes the bytes of each block written.
    [[nodiscard]] virtual std::function<void(uint64_t)> UnpackProgress(const std::string& name,
                                                                       int64_t expectedBytes) = 0;
};

struct StepContext {
    CVersionFetcher& fetcher;
    IStepReport& report;
    // Set by a stop request.
    const std::atomic<bool>& stopRequested;
    // Set by a stop request and by either side of the overlapped download
    // and unpacking when it fails, so that the other side ends promptly.
    std::atomic<bool>& halt;
    std::string launcherFolder;  // without a trailing separator
    std::string workFolder;      // with one
};

// Where a member is unpacked, and where the installer moves it.
[[nodiscard]] HandOffMove MoveOfMember(const StepContext& step, const PackageMember& member);
