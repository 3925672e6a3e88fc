// The hand-over stage of a version step: the installer's refusals checked on
// the plan the lists promise (before anything is downloaded), the deletions
// added, the hand-off file written and the installer program started on it.
#pragma once

#include <vector>

#include "maintenance/verify_cache.h"
#include "update/engine/step_context.h"
#include "update/engine/update_lists.h"
#include "update/engine/updater_ports.h"
#include "update/install/hand_off.h"

// False, shown, when the installer would refuse the plan that the lists
// promise: a list that deletes what it installs, deletes a program or
// installs among the installer's own files costs no download.
[[nodiscard]] bool CheckExpectedInstall(const StepContext& step, const UpdatePlan& plan);
// The delete list's paths that exist, as deletions of handOff.
void AddDeletions(const StepContext& step, const UpdatePlan& plan, HandOffPlan* handOff);
// Checks and writes the hand-off file, records the checked files in the
// verification cache and starts the installer program on it. False, shown,
// when the installer did not start.
[[nodiscard]] bool HandOver(const StepContext& step, IProgramStarter& starter, const HandOffPlan& handOff,
                            const std::vector<VerifyCacheLine>& checkedFiles);
