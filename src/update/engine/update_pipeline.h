// The download-and-unpack stage of a version step, overlapped: the engine's
// thread fetches package k+1 while a second thread checks and unpacks
// package k, so a step takes about as long as the slower of the two.
//
//   CPackagePipeline pipeline(step);
//   if (!pipeline.Run(plan, &handOff, &checkedFiles)) return 0;   // shown already
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "maintenance/verify_cache.h"
#include "update/engine/step_context.h"
#include "update/engine/update_lists.h"
#include "update/install/hand_off.h"

class CBundle;

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
};

// A package's download as planned before its transfer begins: its size in
// the signed manifest, else its members' unpacked sizes, which its
// compression can only lower.
[[nodiscard]] int64_t PlannedDownloadBytes(const CVersionFetcher& fetcher, const PackageGroup& group);

class CPackagePipeline {
public:
    explicit CPackagePipeline(const StepContext& step) : m_step(step) {}

    // Downloads and unpacks every package of plan: the members' moves go to
    // handOff, the files whose MD5 was checked as they were written to
    // checkedOut. False, shown through the report, on a failure or a stop.
    [[nodiscard]] bool Run(const UpdatePlan& plan, HandOffPlan* handOff, std::vector<VerifyCacheLine>* checkedOut);

private:
    // Clears the halt flag for a new start, unless a stop is requested.
    void ResetHalt();
    [[nodiscard]] int FetchPackage(const PackageGroup& group);
    void FailDownload(int result, const PackageGroup& group);
    void AnnounceUnpack(const PackageGroup& group, bool first);
    [[nodiscard]] UnpackedPackage UnpackPackage(const PackageGroup& group);
    [[nodiscard]] bool ExtractMember(CBundle& bundle, const PackageMember& member, UnpackedPackage* unpackOut);
    [[nodiscard]] bool PlaceInstallerProgram(const PackageMember& member, UnpackedPackage* unpackOut);
    [[nodiscard]] bool SettleUnpack(UnpackedPackage unpacked, HandOffPlan* handOff);
    void ReportUnpackFailure(const UnpackedPackage& unpacked);

    const StepContext& m_step;
    const UpdatePlan* m_plan = nullptr;
    std::vector<VerifyCacheLine>* m_checked = nullptr;
};
