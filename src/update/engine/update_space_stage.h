// The disk space a version step needs, checked before its first package is
// fetched: a step that cannot finish should not download gigabytes first and
// then fail with the disk full.
#pragma once

#include <vector>

#include "update/engine/catch_up_plan.h"
#include "update/engine/disk_space.h"
#include "update/engine/step_context.h"

// What the packages of plan write (see the definition); appended to needsOut.
void AddPackageSpaceNeeds(const StepContext& step, const UpdatePlan& plan, std::vector<SpaceNeed>* needsOut);
// CheckDiskSpace for what a catch-up's or a repair's plan writes.
[[nodiscard]] bool CheckCatchUpSpace(const StepContext& step, const CatchUpPlan& plan);
// False, with the shortfall shown, when a volume has too little room.
[[nodiscard]] bool CheckDiskSpace(const StepContext& step, const std::vector<SpaceNeed>& needs);
