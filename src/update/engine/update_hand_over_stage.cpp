#include "update/engine/update_hand_over_stage.h"

#include "app/util/launcher_util.h"
#include "journal/journal.h"
#include "platform/file_system.h"
#include "platform/text_format.h"
#include "update/install/install_paths.h"
#include "update/install/installer.h"
#include "update/report/status_texts.h"

namespace {

void Log(EntryKind kind, const std::string& text) { TheJournal().AddEntry(kind, text.c_str()); }

}  // namespace

// The plan actually written is checked again by HandOver.
bool CheckExpectedInstall(const StepContext& step, const UpdatePlan& plan) {
    HandOffPlan expected;
    for (const PackageGroup& group : plan.packages) {
        for (const PackageMember& member : group.members) {
            if (!IsInstallerMember(member.strMember)) expected.moves.push_back(MoveOfMember(step, member));
        }
    }
    for (const std::string& line : plan.deleteLines) {
        const std::string path = step.launcherFolder + "\\" + line;
        if (!line.empty() && PathExists(path.c_str())) expected.deletes.push_back(path);
    }
    std::string error;
    if (CheckInstallPlan(step.launcherFolder, expected, &error)) return true;
    step.report.Fail(StringPrintf(update_text::kUnsafePath, error.c_str()));
    return false;
}

void AddDeletions(const StepContext& step, const UpdatePlan& plan, HandOffPlan* handOff) {
    for (const std::string& line : plan.deleteLines) {
        if (line.empty()) continue;
        const std::string path = step.launcherFolder + "\\" + line;
        if (PathExists(path.c_str())) {
            handOff->deletes.push_back(path);
            TheJournal().AddEntryF(EntryKind::Info, update_text::kDeleteAdded, path.c_str());
        } else {
            TheJournal().AddEntryF(EntryKind::Info, update_text::kDeleteAbsent, path.c_str());
        }
    }
}

// A step that fails after unpacking takes its unpacked files away again:
// nothing will install them.
bool HandOver(const StepContext& step, IProgramStarter& starter, const HandOffPlan& handOff,
              const std::vector<VerifyCacheLine>& checkedFiles) {
    std::string error;
    if (!CheckInstallPlan(step.launcherFolder, handOff, &error)) {
        step.report.Fail(StringPrintf(update_text::kUnsafePath, error.c_str()));
        DiscardUnpackedFiles(step.launcherFolder, handOff);
        return false;
    }
    const std::string handOffPath = step.launcherFolder + "\\" + kHandOffFileName;
    if (!WriteHandOffFile(handOffPath, handOff, &error)) {
        step.report.Fail(StringPrintf(update_text::kHandOffWriteFailed, error.c_str()));
        DiscardUnpackedFiles(step.launcherFolder, handOff);
        return false;
    }
    // Only lost reads at the next check if this fails.
    (void)RecordInstalledFiles(step.launcherFolder, checkedFiles);
    const std::string parameters = FormatInstallerParameters(handOffPath);
    const std::string installer = step.launcherFolder + "\\" + kInstallerFileName;
    Log(EntryKind::Notice, installer);
    Log(EntryKind::Notice, parameters);
    int code = 0;
    if (!starter.Start(installer, parameters, &code)) {
        step.report.Fail(StringPrintf(update_text::kInstallerStartFailed, code));
        TheJournal().TrapFaults(false);
        // Nobody will carry the file out; a later run writes a new one.
        (void)fs_port::RemoveFile(handOffPath);
        DiscardUnpackedFiles(step.launcherFolder, handOff);
        return false;
    }
    step.report.Status(update_text::kInstallerStarted);
    Log(EntryKind::Info, update_text::kInstallerStartLog);
    return true;
}
