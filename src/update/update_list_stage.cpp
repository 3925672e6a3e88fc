// The list stage of an execution: the target's update and delete lists,
// fetched into the launcher folder, read deciphered and turned into a plan.
#include <memory>

#include "app/util/launcher_util.h"
#include "external/fast_file.h"
#include "external/journal.h"
#include "platform/file_system.h"
#include "platform/text_encoding.h"
#include "platform/text_format.h"
#include "update/game_updater.h"
#include "update/status_texts.h"

namespace {

void Log(EntryKind kind, const std::string& text) { TheJournal().AddEntry(kind, text.c_str()); }

// The deciphered text of a list, up to a NUL as a C string would be; an
// empty list is a list too. False when the file cannot be read or is not
// intact under the launcher's key.
bool ReadListFile(const std::string& path, std::string* gbkOut) {
    CFastFile file(ModeRead);
    if (!file.Open(path.c_str(), "r+")) return false;
    size_t size = 0;
    std::unique_ptr<char[]> content = file.Read(&size, &LauncherFileKey(), true);
    if (!content) return false;
    gbkOut->assign(content.get());
    return true;
}

}  // namespace

std::string CGameUpdater::BaseUrl(const std::string& versionText) const {
    return ServerUrlPrefix(m_settings) + versionText + (IsHttp() ? "/" : "\\");
}

// Fetches one enciphered list into the launcher folder, reads it and removes
// the local copy, also when the fetch failed: nothing of it is left behind.
// Only a list that may be missing takes a 404 as an answer; for any other a
// 404 is a host's fault, and the next update host is asked.
CGameUpdater::FetchedList CGameUpdater::FetchList(const std::string& url, const std::string& name,
                                                  bool mayBeMissing) {
    FetchedList list;
    const std::string localPath = m_strLauncherFolder + "\\" + name;
    // A leftover from an interrupted run may be of another list state; a
    // resume would splice the two, so every list is fetched whole.
    (void)fs_port::RemoveFile(localPath);
    int64_t cap = kMaxListFileBytes;
    list.refused = !CapOfVersionFile(name, &cap);
    if (list.refused) return list;
    list.result = m_pTransfer->FetchToFile(m_settings.TransferMode, url, localPath, cap, &m_bStopRequested,
                                           mayBeMissing ? &list.notFound : nullptr, {});
    list.refused = list.result == 0 && !CheckVersionFile(name, localPath);
    std::string gbk;
    const bool read = list.result == 0 && !list.refused && ReadListFile(localPath, &gbk);
    // Also what a failed fetch left: at most the list's cap, or an empty file.
    (void)fs_port::RemoveFile(localPath);
    list.readable = read && GbkToUtf8(gbk, &list.content);
    if (!list.readable) list.content.clear();
    return list;
}

bool CGameUpdater::LoadDeleteList(UpdatePlan* plan) {
    // With keys the signed manifest says whether the version has a delete
    // list. One it names must be served: a 404 is then a host's fault, the
    // next host is asked, and without any the step fails. Taken as "nothing
    // to delete", a withheld list would keep a file the release removes (an
    // obsolete, perhaps vulnerable one) while the step reports success.
    const bool named = m_trust.Enabled();
    if (named && !m_trust.Lists("dellist.data")) return true;
    const FetchedList list = FetchList(plan->baseUrl + "dellist.data", "dellist.data", !named);
    if (list.refused || StopHere()) return false;
    if (list.result != 0) {
        // Any other failure would skip this step's deletions for good.
        if (list.notFound) return true;
        Fail(FetchFailure(StringPrintf(update_text::kDeleteListFetchFailed, list.result * 10)));
        return false;
    }
    SplitText(list.content, "\n", &plan->deleteLines);
    if (!list.readable || plan->deleteLines.size() > kMaxListLines) {
        plan->deleteLines.clear();
        Fail(update_text::kDeleteListUnreadable);
        return false;
    }
    TheJournal().AddEntryF(EntryKind::Info, update_text::kDeleteLineCount,
                           static_cast<int>(plan->deleteLines.size()));
    return true;
}

CGameUpdater::ListStage CGameUpdater::LoadUpdateLists(UpdatePlan* planOut) {
    Log(EntryKind::Info, update_text::kExecuting);
    ReportStatus(0, 0.0f, update_text::kExecuting);
    const std::string versionText = VersionNumberToText(m_target.nVersion);
    planOut->baseUrl = BaseUrl(versionText);
    if (!LoadManifest(planOut->baseUrl, versionText)) return ListStage::Failed;
    Log(EntryKind::Info, update_text::kRequestingUpdateList);
    ReportStatus(0, 0.0f, update_text::kRequestingUpdateList);

    const FetchedList list = FetchList(planOut->baseUrl + "updatelist.data", "updatelist.data", false);
    if (list.refused || StopHere()) return ListStage::Failed;
    if (list.result != 0) {
        Fail(FetchFailure(StringPrintf(update_text::kUpdateListFetchFailed, list.result * 10)));
        return ListStage::Failed;
    }
    std::vector<std::string> lines;
    SplitText(list.content, "\n", &lines);
    if (list.content.empty() || lines.size() > kMaxListLines) {
        Fail(update_text::kUpdateListUnreadable);
        return ListStage::Failed;
    }
    if (lines.empty()) {
        Fail(update_text::kUpdateListNoLines);
        return ListStage::Failed;
    }
    if (!LoadDeleteList(planOut)) return ListStage::Failed;
    BuildUpdatePlan(lines, planOut);
    if (planOut->packages.empty()) {
        Fail(update_text::kNothingToUpdate);
        return ListStage::NothingToInstall;
    }
    std::string offending;
    if (!CheckPlanPaths(*planOut, &offending)) {
        Fail(StringPrintf(update_text::kUnsafePath, offending.c_str()));
        return ListStage::Failed;
    }
    if (!planOut->badSize.empty()) {
        Fail(StringPrintf(update_text::kBadSize, planOut->badSize.c_str()));
        return ListStage::Failed;
    }
    return ListStage::Ready;
}
