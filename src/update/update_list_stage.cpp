// The list stage of an execution: the target's update and delete lists,
// fetched into the launcher folder, read deciphered and turned into a plan.
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

}  // namespace

std::string CGameUpdater::BaseUrl(const std::string& versionText) const {
    if (IsHttp()) return StringPrintf("http://%s/%s/", m_settings.UpdateIP.c_str(), versionText.c_str());
    return StringPrintf("ftp://%s:%s\\%s\\", m_settings.UpdateIP.c_str(), m_settings.UpdatePort.c_str(),
                        versionText.c_str());
}

// Fetches one enciphered list into the launcher folder, reads it and removes
// the local copy. The client's result; contentOut stays empty when the file
// came but cannot be read, deciphered or decoded.
int CGameUpdater::FetchList(const std::string& url, const std::string& name, std::string* contentOut) {
    contentOut->clear();
    const std::string localPath = m_strLauncherFolder + "\\" + name;
    // A leftover from an interrupted run may be of another list state; a
    // resume would splice the two, so every list is fetched whole.
    (void)fs_port::RemoveFile(localPath);
    const int result = m_pTransfer->FetchToFile(m_settings.TransferMode, url, localPath, kMaxListFileBytes,
                                                &m_bStopRequested);
    std::string gbk;
    const bool read = result == 0 && ReadWholeFile(localPath, &LauncherFileKey(), true, &gbk);
    // Also what a failed fetch left: at most the list's cap, or an empty file.
    (void)fs_port::RemoveFile(localPath);
    if (result != 0) return result;
    if (read && !GbkToUtf8(gbk, contentOut)) contentOut->clear();
    return result;
}

void CGameUpdater::LoadDeleteList(UpdatePlan* plan) {
    std::string content;
    if (FetchList(plan->baseUrl + "dellist.data", "dellist.data", &content) != 0) return;
    SplitText(content, "\n", &plan->deleteLines);
    if (plan->deleteLines.size() > kMaxListLines) plan->deleteLines.clear();
    TheJournal().AddEntryF(EntryKind::Info, update_text::kDeleteLineCount,
                           static_cast<int>(plan->deleteLines.size()));
}

CGameUpdater::ListStage CGameUpdater::LoadUpdateLists(UpdatePlan* planOut) {
    Log(EntryKind::Info, update_text::kExecuting);
    ReportStatus(0, 0.0f, update_text::kExecuting);
    planOut->baseUrl = BaseUrl(VersionNumberToText(m_target.nVersion));
    Log(EntryKind::Info, update_text::kRequestingUpdateList);
    ReportStatus(0, 0.0f, update_text::kRequestingUpdateList);

    std::string content;
    const int result = FetchList(planOut->baseUrl + "updatelist.data", "updatelist.data", &content);
    if (StopHere()) return ListStage::Failed;
    if (result != 0) {
        Fail(StringPrintf(update_text::kUpdateListFetchFailed, result * 10));
        return ListStage::Failed;
    }
    std::vector<std::string> lines;
    SplitText(content, "\n", &lines);
    if (content.empty() || lines.size() > kMaxListLines) {
        Fail(update_text::kUpdateListUnreadable);
        return ListStage::Failed;
    }
    if (lines.empty()) {
        Fail(update_text::kUpdateListNoLines);
        return ListStage::Failed;
    }
    LoadDeleteList(planOut);
    if (StopHere()) return ListStage::Failed;
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
    return ListStage::Ready;
}
