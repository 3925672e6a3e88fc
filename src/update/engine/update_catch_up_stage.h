// Carries out a catch-up plan (catch_up_plan.h): every member it names comes
// into the work folder checked against the state index — alone, by byte
// range from the version folder that holds it, or out of its whole package
// when the server does not honour ranges or the plan says the package is
// cheaper — and the hand-off gets their moves and the plan's deletions.
// Deltas are not its business: what the delta stage made is already out of
// the plan it is given.
//
//   CCatchUpStage catchUp(step);
//   if (!catchUp.Run(plan, &handOff, &checked)) return 0;  // failure shown
#pragma once

#include <string>
#include <vector>

#include "maintenance/verify_cache.h"
#include "package/bundle.h"
#include "update/engine/catch_up_plan.h"
#include "update/engine/step_context.h"
#include "update/install/hand_off.h"

// The work folder's subfolder for fetched spans and whole packages of other
// version folders.
constexpr char kCatchUpFolderName[] = "_catchup";

class CCatchUpStage {
public:
    explicit CCatchUpStage(const StepContext& step) : m_step(step) {}

    // False, with the failure shown and logged, when a member could not be
    // had or a stop ended the run; nothing it made stays then.
    [[nodiscard]] bool Run(const CatchUpPlan& plan, HandOffPlan* handOff, std::vector<VerifyCacheLine>* checkedOut);

private:
    enum class Got { Done, WholePackage, Failed };

    [[nodiscard]] bool MakeMembers(const CatchUpPlan& plan);
    [[nodiscard]] Got MemberBySpan(const StateEntry& entry);
    [[nodiscard]] bool MembersFromPackage(const CatchUpPackage& package, size_t from);
    [[nodiscard]] std::string ExtractChecked(CBundle& bundle, const StateEntry& entry, ExtractedFile* fileOut);
    [[nodiscard]] Got TakeKept(const StateEntry& entry);
    [[nodiscard]] bool Took(const StateEntry& entry, const ExtractedFile& file);
    [[nodiscard]] std::string SpanPath() const;
    [[nodiscard]] std::string OutPath(const StateEntry& entry) const { return m_step.workFolder + entry.member; }

    const StepContext& m_step;
    HandOffPlan* m_handOff = nullptr;
    std::vector<VerifyCacheLine>* m_checked = nullptr;
};
