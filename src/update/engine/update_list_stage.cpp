#include "update/engine/update_list_stage.h"

#include "app/util/launcher_util.h"
#include "journal/journal.h"
#include "platform/text_encoding.h"
#include "platform/text_format.h"
#include "update/report/status_texts.h"

namespace {

void Log(EntryKind kind, const std::string& text) { TheJournal().AddEntry(kind, text.c_str()); }

// A list of the version folder, deciphered and decoded to UTF-8.
struct ReadList {
    FetchedFile file;
    bool readable = false;
    std::string content;
};

ReadList FetchList(const StepContext& step, const std::string& name, VersionFileKind kind) {
    ReadList list;
    list.file = step.fetcher.FetchSmallFile(name, kind, kMaxListFileBytes);
    std::string gbk;
    list.readable = list.file.result == 0 && !list.file.refused && !list.file.absent &&
                    DecipherListImage(std::move(list.file.bytes), &gbk) && GbkToUtf8(gbk, &list.content);
    if (!list.readable) list.content.clear();
    return list;
}

bool LoadUpdateList(const StepContext& step, std::vector<std::string>* linesOut) {
    const ReadList list = FetchList(step, "updatelist.data", VersionFileKind::Required);
    if (list.file.refused) {
        step.report.Fail(list.file.failure.shown, list.file.failure.reason);
        return false;
    }
    if (step.report.StopHere()) return false;
    if (list.file.result != 0) {
        step.report.Fail(step.fetcher.FailureText(
            StringPrintf(update_text::kUpdateListFetchFailed, list.file.result * 10)));
        return false;
    }
    SplitText(list.content, "\n", linesOut);
    if (list.content.empty() || linesOut->size() > kMaxListLines) {
        step.report.Fail(update_text::kUpdateListUnreadable);
        return false;
    }
    if (linesOut->empty()) {
        step.report.Fail(update_text::kUpdateListNoLines);
        return false;
    }
    return true;
}

// With keys the signed manifest says whether the version has a delete list,
// and one it names must be served (the fetcher asks the next host on a 404,
// and the step fails without any): taken as "nothing to delete", a withheld
// list would keep a file the release removes, an obsolete and perhaps
// vulnerable one, while the step reports success.
bool LoadDeleteList(const StepContext& step, UpdatePlan* plan) {
    const ReadList list = FetchList(step, "dellist.data", VersionFileKind::Optional);
    if (list.file.refused) {
        step.report.Fail(list.file.failure.shown, list.file.failure.reason);
        return false;
    }
    if (step.report.StopHere()) return false;
    // The release has none (the signed manifest names none, or an unsigned
    // server has none): nothing to delete.
    if (list.file.absent) return true;
    if (list.file.result != 0) {
        // Any other failure would skip this step's deletions for good.
        step.report.Fail(step.fetcher.FailureText(
            StringPrintf(update_text::kDeleteListFetchFailed, list.file.result * 10)));
        return false;
    }
    SplitText(list.content, "\n", &plan->deleteLines);
    if (!list.readable || plan->deleteLines.size() > kMaxListLines) {
        plan->deleteLines.clear();
        step.report.Fail(update_text::kDeleteListUnreadable);
        return false;
    }
    TheJournal().AddEntryF(EntryKind::Info, update_text::kDeleteLineCount,
                           static_cast<int>(plan->deleteLines.size()));
    return true;
}

}  // namespace

ListStage LoadUpdateLists(const StepContext& step, const VersionEntry& target, UpdatePlan* planOut) {
    Log(EntryKind::Info, update_text::kExecuting);
    step.report.Status(update_text::kExecuting);
    StepFailure failure;
    if (!step.fetcher.OpenVersion(VersionNumberToText(target.nVersion), target.manifestSha256, &failure)) {
        if (!step.report.StopHere()) step.report.Fail(failure.shown, failure.reason);
        return ListStage::Failed;
    }
    planOut->baseUrl = step.fetcher.BaseUrl();
    Log(EntryKind::Info, update_text::kRequestingUpdateList);
    step.report.Status(update_text::kRequestingUpdateList);

    std::vector<std::string> lines;
    if (!LoadUpdateList(step, &lines) || !LoadDeleteList(step, planOut)) return ListStage::Failed;
    BuildUpdatePlan(lines, planOut);
    if (planOut->packages.empty()) {
        step.report.Fail(update_text::kNothingToUpdate);
        return ListStage::NothingToInstall;
    }
    std::string offending;
    if (!CheckPlanPaths(*planOut, &offending)) {
        step.report.Fail(StringPrintf(update_text::kUnsafePath, offending.c_str()));
        return ListStage::Failed;
    }
    if (!planOut->badSize.empty()) {
        step.report.Fail(StringPrintf(update_text::kBadSize, planOut->badSize.c_str()));
        return ListStage::Failed;
    }
    return ListStage::Ready;
}
