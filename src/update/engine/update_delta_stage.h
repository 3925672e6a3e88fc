// The delta road of a version step. When the version folder has
// patchlist.data, a file whose installed copy is the delta's source is made
// from the installed copy and a small delta (VCDIFF or bsdiff) instead of its
// full package. The result lands in the work folder where the full package's
// member would have been unpacked, checked against its MD5, and joins the
// hand-off like any unpacked member; the installer never knows the
// difference. Every failure costs only that file's full package, in the same
// run: the delta road is never worse than the full one.
//
//   CDeltaStage deltas(step);
//   UpdatePlan remaining = plan;
//   if (!deltas.Run(&remaining, &handOff, &checked)) return 0;   // stopped
//   ... download and unpack `remaining` as usual ...
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "update/engine/step_context.h"
#include "update/engine/update_lists.h"
#include "update/engine/updater_ports.h"
#include "update/install/hand_off.h"

class CBundle;

// The work folder's subfolder for delta packages and deltas; a release whose
// members would be unpacked into it gets no deltas.
constexpr char kDeltaFolderName[] = "_delta";

class CDeltaStage {
public:
    explicit CDeltaStage(const StepContext& step) : m_step(step) {}

    // Takes from remaining every member made here by delta (its size too, and
    // the packages left without members), adds their moves to handOff and the
    // files whose MD5 it checked to checkedOut. False only when a stop request
    // ended the run.
    [[nodiscard]] bool Run(UpdatePlan* remaining, HandOffPlan* handOff, std::vector<VerifyCacheLine>* checkedOut);
    [[nodiscard]] size_t PatchedFiles() const { return m_patched; }
    // The bytes of the delta packages the stage took.
    [[nodiscard]] int64_t FetchedBytes() const { return m_fetchedBytes; }

private:
    struct Candidate {
        DeltaMember delta;
        PackageMember member;
    };

    [[nodiscard]] bool LoadPatchList(std::vector<DeltaMember>* membersOut);
    [[nodiscard]] std::vector<Candidate> Choose(const UpdatePlan& plan, const std::vector<DeltaMember>& deltas);
    [[nodiscard]] bool InstalledIsSource(const Candidate& candidate, const class VerifyCacheIndex& cache);
    [[nodiscard]] bool PatchFromPackage(const std::string& package, const std::vector<const Candidate*>& members,
                                        HandOffPlan* handOff);
    [[nodiscard]] std::string FetchDeltaPackage(const std::string& name, const std::string& localPath);
    [[nodiscard]] std::string PatchMember(CBundle& bundle, const Candidate& candidate, HandOffPlan* handOff);
    void FallBack(const Candidate& candidate, const std::string& reason);

    const StepContext& m_step;
    std::vector<VerifyCacheLine>* m_checked = nullptr;
    std::vector<std::string> m_patchedMembers;  // member paths made by delta
    size_t m_patched = 0;
    int64_t m_fetchedBytes = 0;
};
