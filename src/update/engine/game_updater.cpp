#include "update/engine/game_updater.h"

#include "app/util/launcher_util.h"
#include "journal/journal.h"
#include "net/rate_limiter.h"
#include "platform/text_encoding.h"
#include "platform/text_format.h"
#include "update/report/status_texts.h"

namespace {

void Log(EntryKind kind, const std::string& text) { TheJournal().AddEntry(kind, text.c_str()); }

// The shown part of a status text: whole up to the limit, else cut at a
// character boundary with an ellipsis, so a long name never breaks a character.
std::string ShownText(const std::string& text) {
    if (text.size() <= kMaxShownStatusBytes) return text;
    return text.substr(0, Utf8PrefixLength(text, kMaxShownStatusBytes - 3)) + "...";
}

}  // namespace

CGameUpdater::CGameUpdater(std::string launcherFolder, IUpdateTransfer* transfer,
                           IProgramStarter* starter)
    : m_strLauncherFolder(std::move(launcherFolder)),
      m_counting(transfer ? transfer : &NetworkTransfer()),
      m_hosts(&m_counting),
      m_fetcher(&m_hosts),
      m_pStarter(starter ? starter : &PlatformProgramStarter()) {
    Clear();
}

CGameUpdater::~CGameUpdater() { Clear(); }

void CGameUpdater::Clear() {
    m_settings = LauncherSettings{};
    m_settings.TransferMode = kTransferModeHttp;
    m_bInstall = 0;
    m_target = VersionEntry{};
    m_catchUp.reset();
    m_nLatestVersion = 0;
    m_strTempFolder.clear();
    m_pWindow = nullptr;
}

void CGameUpdater::BeginRun(IUpdaterWindow* window) {
    m_pWindow = window;
    m_settings = window->Settings();
    m_hosts.StartStep(m_settings);
    m_fetcher.BeginStep(m_settings, m_strLauncherFolder, &m_bStopRequested);
    DownloadRateLimiter().SetLimit(m_settings.MaxDownloadKiBps * 1024);
}

int CGameUpdater::RunUpdate(IUpdaterWindow* window) {
    if (window == nullptr) return update_outcome::kFailed;
    BeginRun(window);
    const int checked = CheckVersion();
    if (checked != update_outcome::kHandedOver) return checked;
    if (m_catchUp) {
        const int caughtUp = RunCatchUp();
        EndStepProgress();
        return caughtUp;
    }
    if (!PrepareUpdate()) return update_outcome::kFailed;
    const int executed = ExecuteUpdate();
    EndStepProgress();
    return executed ? update_outcome::kHandedOver : update_outcome::kFailed;
}

void CGameUpdater::ReportStatus(int bShowPercent, float fPercent, std::string text) {
    if (bShowPercent) text = StringPrintf(update_text::kPercentFormat, fPercent, text.c_str());
    std::lock_guard<std::mutex> hold(m_reportMutex);
    if (m_pWindow) m_pWindow->SetStatusText(ShownText(text));
}

void CGameUpdater::ReportUnpacking(const std::string& text) {
    std::lock_guard<std::mutex> hold(m_reportMutex);
    if (m_pWindow) m_pWindow->SetStatusText(ShownText(StringPrintf(update_text::kUnpackingFormat, text.c_str())));
}

std::string CGameUpdater::FetchFailure(const std::string& generic) const { return m_fetcher.FailureText(generic); }

void CGameUpdater::Fail(const std::string& text, const std::string& reason) {
    ReportStatus(0, 0.0f, text);
    Log(EntryKind::Error, reason.empty() ? text : text + " : " + reason);
}

bool CGameUpdater::StopHere() {
    if (!m_bStopRequested.load()) return false;
    Fail(update_text::kStopped);
    return true;
}

void CGameUpdater::ManualUpdateBox() { m_pWindow->ShowMessageBox(update_text::kInstallFailedBox); }

StepContext CGameUpdater::Step() {
    return {m_fetcher, *this, m_bStopRequested, m_bHalt, m_strLauncherFolder, m_strTempFolder};
}

bool CGameUpdater::FetchVersionList(std::string* contentOut) {
    Log(EntryKind::Notice, StringPrintf(update_text::kRequestingFromServer, m_settings.UpdateIP.c_str(),
                                        m_settings.UpdatePort.c_str(), m_settings.TransferMode));
    std::string raw;
    const int result = m_fetcher.FetchVersionList(&raw);
    if (StopHere()) return false;
    if (result != 0 || raw.empty() || raw.front() == '\0') {
        Log(EntryKind::Error, update_text::kVersionListFetchFailed);
        Fail(FetchFailure(StringPrintf(update_text::kUpdateFailedCode, result * 10)));
        return false;
    }
    StepFailure failure;
    if (!m_fetcher.CheckVersionList(raw, &failure)) {
        if (!StopHere()) Fail(failure.shown, failure.reason);
        return false;
    }
    if (!DecodeVersionList(std::move(raw), contentOut)) {
        Fail(update_text::kVersionListUnreadable);
        return false;
    }
    return true;
}

bool CGameUpdater::ReadVersionList(std::vector<VersionEntry>* entriesOut) {
    std::string content;
    if (!FetchVersionList(&content)) return false;
    Log(EntryKind::Info, update_text::kAnalysingVersionList);
    switch (ParseVersionList(content, entriesOut)) {
        case VersionListParse::NoLines:
            ReportStatus(0, 0.0f, StringPrintf(update_text::kUpdateAnomalyCode, 0));
            Log(EntryKind::Error, update_text::kVersionListNoLines);
            return false;
        case VersionListParse::NoEntries:
            ReportStatus(0, 0.0f, StringPrintf(update_text::kUpdateAnomalyCode, 1));
            Log(EntryKind::Error, update_text::kVersionListNoEntries);
            return false;
        case VersionListParse::Ok:
            break;
    }
    return true;
}

int CGameUpdater::CheckVersion() {
    m_target = VersionEntry{};
    m_newest = VersionEntry{};
    m_nOfferedVersion = 0;
    m_catchUp.reset();
    Log(EntryKind::Info, update_text::kRequestingVersionList);
    ReportStatus(0, 0.0f, update_text::kRequestingUpdate);
    std::vector<VersionEntry> entries;
    if (!ReadVersionList(&entries)) return update_outcome::kFailed;
    m_nLatestVersion = entries.front().nVersion;
    m_newest = entries.front();
    m_nInstalled = m_pWindow->InstalledVersion();
    // Without version.data nothing can be verified or stepped from: the run
    // recovers it whether or not the player asked for an update.
    const bool recovering = m_nInstalled == kInstalledVersionUnknown;
    if (recovering && !RecoverInstalledVersion(entries)) return update_outcome::kFailed;
    VersionEntry target;
    if (m_catchUp) {
        target = m_newest;
    } else if (ChooseTarget(entries, m_nInstalled, &target) == VersionChoice::UpToDate) {
        ReportStatus(0, 0.0f, update_text::kAlreadyNewest);
        Log(EntryKind::Info, update_text::kAlreadyNewest);
        return update_outcome::kUpToDate;
    }
    // A catch-up passes over every version between: one of them mandatory
    // makes it mandatory, so it is probed for whenever one is.
    const bool mandatoryAhead = std::any_of(entries.begin(), entries.end(), [&](const VersionEntry& entry) {
        return entry.nVersion > m_nInstalled && entry.nMandatory != 0;
    });
    const bool installing = target.nMandatory != 0 || m_bInstall != 0 || mandatoryAhead;
    // Two or more behind: one step to the newest when its folder's state
    // index allows it.
    if (!m_catchUp && installing && m_newest.nVersion != target.nVersion && ProbeCatchUp(m_newest)) target = m_newest;
    if (m_catchUp && mandatoryAhead) target.nMandatory = 1;
    m_nOfferedVersion = target.nVersion;
    if (target.nMandatory == 0 && m_bInstall == 0 && !recovering) {
        Log(EntryKind::Notice, update_text::kNewVersionAvailable);
        return update_outcome::kNewerAvailable;
    }
    if (target.nMandatory != 0) {
        m_pWindow->ShowVersionLine(m_nLatestVersion);
        m_pWindow->EnableStartButton(false);
    }
    if ((target.nMandatory != 0 || recovering) && target.nVersion == m_nHandedOverVersion) {
        // Handed to the installer already and still not installed: the
        // installer put the old files back, or the packages do not carry
        // the new version. Installing it again without asking would
        // download and fail the same way without end.
        Fail(StringPrintf(update_text::kInstallNotTaken, VersionNumberToText(target.nVersion).c_str()));
        m_pWindow->ShowMessageBox(update_text::kInstallFailedBox);
        return update_outcome::kFailed;
    }
    if (StopHere()) return update_outcome::kFailed;
    const std::string updatingTo =
        StringPrintf(update_text::kUpdatingTo, VersionNumberToText(target.nVersion).c_str());
    ReportStatus(0, 0.0f, updatingTo);
    ReportStatus(0, 0.0f, update_text::kAnalysingUpdateList);
    m_target = target;
    Log(EntryKind::Info, updatingTo);
    Log(EntryKind::Info, update_text::kVersionCheckDone);
    return update_outcome::kHandedOver;
}
