#include "maintenance/temp_cleanup.h"

#include <system_error>

#include "app/util/launcher_util.h"
#include "journal/journal.h"
#include "platform/file_system.h"
#include "update/fetch/kept_downloads.h"
#include "update/install/installer.h"

void ClearTempFolders(const std::string& launcherFolder, CJournal& journal,
                      const std::atomic<bool>* stop) {
    if (launcherFolder.empty()) return;
    const std::string workFolder = launcherFolder + "\\" + kWorkFolderName;
    CKeptDownloads kept;
    if (kept.Open(workFolder)) {
        kept.KeepOnlyItsFiles();
    } else {
        (void)RemoveFolderTree(workFolder, stop);
    }
    // The hand-off file of the same name is the installer's and stays.
    const std::string handOff = launcherFolder + "\\udo.temp";
    if (fs_port::IsDirectory(handOff)) (void)RemoveFolderTree(handOff, stop);
    journal.AddEntry(EntryKind::Notice, "Clear dir.");
}

CTempCleanup::CTempCleanup(CJournal& journal) : m_journal(journal) {}

CTempCleanup::~CTempCleanup() { Wait(); }

void CTempCleanup::Start(const std::string& launcherFolder) {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        ++m_pending;
    }
    // Shared, so that a failed thread start leaves the earlier worker here to
    // be joined instead of destroying it while it runs.
    auto previous = std::make_shared<std::thread>(std::move(m_worker));
    try {
        m_worker = std::thread([this, previous, launcherFolder] {
            if (previous->joinable()) previous->join();
            Run(launcherFolder);
        });
    } catch (const std::system_error&) {
        // No thread to be had: do the work here rather than not at all.
        if (previous->joinable()) previous->join();
        Run(launcherFolder);
    }
}

void CTempCleanup::Run(const std::string& launcherFolder) {
    ClearTempFolders(launcherFolder, m_journal, &m_stop);
    std::lock_guard<std::mutex> hold(m_lock);
    --m_pending;
    m_idle.notify_all();
}

void CTempCleanup::Wait() {
    if (m_worker.joinable()) m_worker.join();
}

void CTempCleanup::WaitIdle() {
    std::unique_lock<std::mutex> hold(m_lock);
    m_idle.wait(hold, [this] { return m_pending == 0; });
}
