// Removal of the update's work files: the work folder "_temp" and a folder
// named "udo.temp" in the launcher folder, on a worker thread so that the
// window stays responsive.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CJournal;

// Removes <launcherFolder>\_temp and, only when it is a folder,
// <launcherFolder>\udo.temp, then writes the Notice "Clear dir." whatever the
// removals achieved. The downloads of a step that was not handed over (its
// state file still in "_temp") stay for that step to continue; all else goes. Files that cannot be removed stay, and so does whatever
// is left once stop (may be null) is set. An empty launcher folder does
// nothing at all: the paths would otherwise name the root.
void ClearTempFolders(const std::string& launcherFolder, CJournal& journal,
                      const std::atomic<bool>* stop = nullptr);

// The window's cleanup worker. A new Start while an earlier cleanup still
// runs never ends that one abruptly: the new worker first waits for it, so
// at most one removal runs at any time and the window's thread never blocks.
// An update worker calls WaitIdle before it writes into "_temp", so that a
// removal started by an update-end notice never deletes the next update's
// downloads.
class CTempCleanup {
public:
    explicit CTempCleanup(CJournal& journal);
    // Waits for the last worker (and through it for every earlier one).
    ~CTempCleanup();
    CTempCleanup(const CTempCleanup&) = delete;
    CTempCleanup& operator=(const CTempCleanup&) = delete;

    void Start(const std::string& launcherFolder);
    // Waits until every started cleanup has finished (owner's thread).
    void Wait();
    // From any thread: blocks while a started cleanup has not finished.
    void WaitIdle();
    // From any thread: running and later removals end at their next entry
    // (the window closes; what is left goes with the next update).
    void RequestStop() { m_stop = true; }

private:
    void Run(const std::string& launcherFolder);

    CJournal& m_journal;
    std::thread m_worker;  // the worker started last
    std::mutex m_lock;
    std::condition_variable m_idle;
    int m_pending = 0;  // cleanups started and not yet finished
    std::atomic<bool> m_stop{false};
};
