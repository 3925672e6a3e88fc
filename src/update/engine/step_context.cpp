#include "update/engine/step_context.h"

#include "update/install/install_paths.h"

HandOffMove MoveOfMember(const StepContext& step, const PackageMember& member) {
    return {step.workFolder + member.strMember, step.launcherFolder + "\\" + InstalledRelativePath(member.strMember)};
}
