// The delta road of a version step. When the version folder has
// patchlist.data, a file whose installed copy is the delta's source is made
// from the installed copy and a small VCDIFF delta instead of its full
// package. The result lands in the work folder where the full package's
// member would have been unpacked, checked against its MD5, and joins the
// hand-off like any unpacked member; the installer never knows the
// difference. Every failure costs only that file's full package, in the same
// run: the delta road is never worse than the full one.
//
//   CDeltaStage deltas(updater);
//   UpdatePlan remaining = plan;
//   if (!deltas.Run(&remaining, &handOff)) return 0;   // stopped
//   ... download and unpack `remaining` as usual ...
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "update/hand_off.h"
#include "update/update_lists.h"
#include "update/updater_ports.h"

class CGameUpdater;
class CBundle;

// The work folder's subfolder for delta packages and deltas; a release whose
// members would be unpacked into it gets no deltas.
constexpr char kDeltaFolderName[] = "_delta";

// Counts the bytes that fetches put into local files (what grew, also of a
// fetch that failed half-way) and into memory: the network cost of a step.
class ByteCountingTransfer : public IUpdateTransfer {
public:
    explicit ByteCountingTransfer(IUpdateTransfer* inner) : m_inner(inner) {}
    int FetchToFile(int32_t transferMode, const std::string& url, const std::string& localPath, int64_t maxBytes,
                    const std::atomic<bool>* stop, bool* notFoundOut, const ProgressFn& progress) override;
    int FetchToMemory(int32_t transferMode, const std::string& url, int64_t maxBytes, std::string* contentOut,
                      const std::atomic<bool>* stop) override;
    bool LeaveHostOf(const std::string& url) override { return m_inner->LeaveHostOf(url); }
    [[nodiscard]] std::string FailureText() const override { return m_inner->FailureText(); }
    [[nodiscard]] int64_t Received() const { return m_received.load(); }

private:
    IUpdateTransfer* m_inner;
    std::atomic<int64_t> m_received{0};
};

class CDeltaStage {
public:
    explicit CDeltaStage(CGameUpdater& updater) : m_updater(updater) {}

    // Takes from remaining every member made here by delta (and the packages
    // left without members) and adds their moves to handOff. False only when
    // a stop request ended the run.
    [[nodiscard]] bool Run(UpdatePlan* remaining, HandOffPlan* handOff);
    [[nodiscard]] size_t PatchedFiles() const { return m_patched; }

private:
    struct Candidate {
        DeltaMember delta;
        PackageMember member;
    };

    [[nodiscard]] bool LoadPatchList(const std::string& baseUrl, std::vector<DeltaMember>* membersOut);
    [[nodiscard]] std::string FetchPatchList(const std::string& url, const std::string& localPath);
    [[nodiscard]] std::vector<Candidate> Choose(const UpdatePlan& plan, const std::vector<DeltaMember>& deltas);
    [[nodiscard]] bool InstalledIsSource(const Candidate& candidate, const class VerifyCacheIndex& cache);
    [[nodiscard]] bool PatchFromPackage(const std::string& package, const std::vector<const Candidate*>& members,
                                        HandOffPlan* handOff);
    [[nodiscard]] std::string FetchDeltaPackage(const std::string& name, const std::string& localPath);
    [[nodiscard]] std::string PatchMember(CBundle& bundle, const Candidate& candidate, HandOffPlan* handOff);
    void FallBack(const Candidate& candidate, const std::string& reason);

    CGameUpdater& m_updater;
    std::string m_baseUrl;
    std::vector<std::string> m_patchedMembers;  // member paths made by delta
    size_t m_patched = 0;
};
