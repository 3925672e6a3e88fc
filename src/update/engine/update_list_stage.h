// The list stage of a version step: the target's version folder opened (its
// manifest checked when releases are signed), its update and delete lists
// fetched, read and turned into a plan, and the plan's paths checked.
#pragma once

#include "update/engine/step_context.h"
#include "update/engine/update_lists.h"
#include "update/engine/version_list.h"

enum class ListStage { Failed, NothingToInstall, Ready };

// Each failure is shown through the step's report.
[[nodiscard]] ListStage LoadUpdateLists(const StepContext& step, const VersionEntry& target, UpdatePlan* planOut);
