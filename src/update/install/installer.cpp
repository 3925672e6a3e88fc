#include "update/install/installer.h"

#include <algorithm>
#include <vector>

#include "platform/file_system.h"
#include "update/install/install_journal.h"
#include "update/install/install_paths.h"

namespace {

// Where a run goes after a step: on, to its rollback, or out at once.
enum class Flow { Go, Fail, Stop };

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A path as the log shows it: with the platform's own separator.
std::string Shown(const std::string& path) { return fs_port::NativePath(path); }

std::string ParentOf(const std::string& path) {
    const size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

bool IsEmptyFolder(const std::string& path) {
    std::vector<fs_port::DirEntry> entries;
    return fs_port::ListDirectory(path, &entries) && entries.empty();
}

bool AnyUnpackedFilePresent(const std::vector<JournalRecord>& records) {
    return std::any_of(records.begin(), records.end(), [](const JournalRecord& record) {
        return record.kind == JournalRecord::Kind::Move && fs_port::PathExists(record.path);
    });
}

// The folders between the launcher folder and a file, top down.
std::vector<std::string> FoldersAbove(const std::string& folder, const std::string& file) {
    std::vector<std::string> levels;
    for (size_t i = folder.size() + 1; i < file.size(); ++i) {
        if (IsSeparator(file[i])) levels.push_back(file.substr(0, i));
    }
    return levels;
}

class InstallRun {
public:
    InstallRun(const std::string& folder, const std::string& handOffPath, InstallerFileOps* ops,
               const InstallLog& log, size_t stepsPerWrite)
        : m_folder(folder),
          m_handOff(handOffPath),
          m_journal(folder + "\\" + kInstallJournalName),
          m_backupFolder(folder + "\\" + kBackupFolderName),
          m_ops(ops),
          m_log(log),
          m_stepsPerWrite(stepsPerWrite > 0 ? stepsPerWrite : 1) {}

    InstallOutcome Run();

private:
    enum class Settled { Clean, Undone, Committed, Broken, Stopped };

    Flow Step(StepResult result, const std::string& what);
    Flow Append(const std::string& text);
    // The journal on the disk, parsed; false with the reason.
    [[nodiscard]] bool ReadJournal(JournalContent* contentOut, std::string* errorOut) const;
    // True when the journal on the disk carries the commit mark.
    [[nodiscard]] bool JournalSaysCommitted() const;
    Settled SettleJournal();
    bool JournalStaysInside(const JournalContent& content, std::string* errorOut) const;
    Flow FinishCommit(const std::vector<JournalRecord>& records, bool removeHandOff);
    Flow EndAfterUndo();
    InstallOutcome Install(const HandOffPlan& plan);
    InstallOutcome RollBack();
    Flow ComposeMove(const HandOffMove& move, size_t index, JournalRecord* recordOut);
    Flow PerformMove(const JournalRecord& record);
    Flow PerformDelete(const JournalRecord& record);
    Flow RunBatch(const HandOffPlan& plan, size_t first, size_t end);
    Flow Undo(const std::vector<JournalRecord>& records);
    Flow UndoMove(const JournalRecord& record);
    Flow UndoDelete(const JournalRecord& record);
    Flow RemoveNewFolders(const JournalRecord& record);
    std::string NewBackupPath(size_t index) const;
    std::string FirstMissingFolder(const std::string& target) const;
    bool ReadHandOff(HandOffPlan* planOut, std::string* errorOut);

    std::string m_folder;
    std::string m_handOff;
    std::string m_journal;
    std::string m_backupFolder;
    InstallerFileOps* m_ops;
    const InstallLog& m_log;
    size_t m_stepsPerWrite;
    std::string m_handOffBytes;
    std::string m_handOffDigest;
    bool m_journalStarted = false;
    std::vector<JournalRecord> m_records;
    std::string m_failure;
};

Flow InstallRun::Step(StepResult result, const std::string& what) {
    if (result == StepResult::Done) return Flow::Go;
    if (result == StepResult::Stop) return Flow::Stop;
    m_failure = "cannot " + what;
    return Flow::Fail;
}

bool InstallRun::ReadJournal(JournalContent* contentOut, std::string* errorOut) const {
    std::string text;
    bool tooLarge = false;
    if (!ReadFileUpTo(m_journal, kMaxJournalBytes, &text, &tooLarge)) {
        *errorOut = tooLarge ? "journal too large" : "cannot read the journal";
        return false;
    }
    return ParseJournal(text, contentOut, errorOut);
}

bool InstallRun::JournalSaysCommitted() const {
    JournalContent content;
    std::string error;
    return ReadJournal(&content, &error) && content.state == JournalState::Committed;
}

Flow InstallRun::Append(const std::string& text) {
    const bool create = !m_journalStarted;
    m_journalStarted = true;
    return Step(m_ops->WriteDurably(m_journal, text, !create), "write the journal " + Shown(m_journal));
}

std::string InstallRun::NewBackupPath(size_t index) const {
    const std::string base = m_backupFolder + "\\" + std::to_string(index);
    std::string path = base;
    for (int k = 1; fs_port::PathExists(path); ++k) path = base + "-" + std::to_string(k);
    return path;
}

std::string InstallRun::FirstMissingFolder(const std::string& target) const {
    for (const std::string& level : FoldersAbove(m_folder, target)) {
        if (!fs_port::PathExists(level)) return level;
    }
    return {};
}

Flow InstallRun::ComposeMove(const HandOffMove& move, size_t index, JournalRecord* recordOut) {
    if (fs_port::IsDirectory(move.to)) {
        m_failure = "install over a folder: " + Shown(move.to);
        return Flow::Fail;
    }
    if (!fs_port::IsRegularFile(move.from)) {
        m_failure = "find the unpacked file " + Shown(move.from);
        return Flow::Fail;
    }
    recordOut->kind = JournalRecord::Kind::Move;
    recordOut->path = move.from;
    recordOut->target = move.to;
    recordOut->backup = fs_port::PathExists(move.to) ? NewBackupPath(index) : std::string();
    recordOut->firstNewFolder = FirstMissingFolder(move.to);
    return Flow::Go;
}

Flow InstallRun::PerformMove(const JournalRecord& record) {
    Flow flow = Flow::Go;
    if (!record.firstNewFolder.empty()) {
        for (const std::string& level : FoldersAbove(m_folder, record.target)) {
            if (level.size() < record.firstNewFolder.size() || fs_port::IsDirectory(level)) continue;
            flow = Step(m_ops->MakeFolder(level), "create the folder " + Shown(level));
            if (flow != Flow::Go) return flow;
        }
    }
    if (!record.backup.empty()) {
        flow = Step(m_ops->MovePath(record.target, record.backup), "put aside " + Shown(record.target));
        if (flow != Flow::Go) return flow;
    }
    flow = Step(m_ops->MovePath(record.path, record.target),
                "move " + Shown(record.path) + " to " + Shown(record.target));
    if (flow == Flow::Go) m_log(EntryKind::Info, "installed " + Shown(record.target));
    return flow;
}

Flow InstallRun::PerformDelete(const JournalRecord& record) {
    // An earlier deletion of the same batch may have taken its folder.
    if (!fs_port::PathExists(record.path)) return Flow::Go;
    const Flow flow = Step(m_ops->MovePath(record.path, record.backup), "put aside " + Shown(record.path));
    if (flow == Flow::Go) m_log(EntryKind::Info, "deleted " + Shown(record.path));
    return flow;
}

// Steps are journaled in batches: every record of a batch reaches the disk
// before the first of its steps runs. A record whose step never ran is
// harmless to undo, as every undo step looks at what exists.
Flow InstallRun::RunBatch(const HandOffPlan& plan, size_t first, size_t end) {
    std::vector<JournalRecord> batch;
    for (size_t i = first; i < end; ++i) {
        JournalRecord record;
        if (i < plan.moves.size()) {
            const Flow flow = ComposeMove(plan.moves[i], i, &record);
            if (flow != Flow::Go) return flow;
        } else {
            const std::string& path = plan.deletes[i - plan.moves.size()];
            if (!fs_port::PathExists(path)) {
                m_log(EntryKind::Info, "already absent: " + Shown(path));
                continue;
            }
            record.kind = JournalRecord::Kind::Delete;
            record.path = path;
            record.backup = NewBackupPath(i);
        }
        batch.push_back(std::move(record));
    }
    if (batch.empty()) return Flow::Go;
    std::string text;
    for (const JournalRecord& record : batch) text += FormatJournalRecord(record);
    Flow flow = Append(text);
    if (flow != Flow::Go) return flow;
    m_records.insert(m_records.end(), batch.begin(), batch.end());
    for (const JournalRecord& record : batch) {
        flow = record.kind == JournalRecord::Kind::Move ? PerformMove(record) : PerformDelete(record);
        if (flow != Flow::Go) return flow;
    }
    return Flow::Go;
}

InstallOutcome InstallRun::Install(const HandOffPlan& plan) {
    m_records.clear();
    Flow flow = Flow::Go;
    if (!fs_port::IsDirectory(m_backupFolder)) {
        flow = Step(m_ops->MakeFolder(m_backupFolder), "create the folder " + Shown(m_backupFolder));
    }
    if (flow == Flow::Go) flow = Append(FormatJournalHeader(m_handOffDigest));
    const size_t steps = plan.moves.size() + plan.deletes.size();
    for (size_t first = 0; flow == Flow::Go && first < steps; first += m_stepsPerWrite) {
        flow = RunBatch(plan, first, std::min(steps, first + m_stepsPerWrite));
    }
    if (flow == Flow::Go) {
        flow = Append(FormatJournalCommit());
        // A write that reports failure may still have put the mark on the
        // disk. The disk decides: rolled back under a mark that a later run
        // would read as committed, a kill during the rollback would leave a
        // mix of the two versions.
        if (flow == Flow::Fail && JournalSaysCommitted()) flow = Flow::Go;
    }
    if (flow == Flow::Stop) return InstallOutcome::Stopped;
    if (flow == Flow::Fail) return RollBack();
    m_log(EntryKind::Info, "update installed: " + std::to_string(plan.moves.size()) +
                               " files moved into place");
    flow = FinishCommit(m_records, true);
    return flow == Flow::Stop ? InstallOutcome::Stopped : InstallOutcome::Installed;
}

InstallOutcome InstallRun::RollBack() {
    m_log(EntryKind::Error, "installation failed: " + m_failure + "; putting the old files back");
    const Flow flow = Undo(m_records);
    if (flow == Flow::Stop) return InstallOutcome::Stopped;
    if (flow == Flow::Fail) {
        m_log(EntryKind::Error, "could not put everything back: " + m_failure +
                                    "; the journal stays for the next run");
        return InstallOutcome::RollbackIncomplete;
    }
    if (EndAfterUndo() == Flow::Stop) return InstallOutcome::Stopped;
    m_log(EntryKind::Notice, "the installed version is unchanged");
    return InstallOutcome::RolledBack;
}

Flow InstallRun::Undo(const std::vector<JournalRecord>& records) {
    Flow result = Flow::Go;
    std::string firstFailure;
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        const Flow flow = it->kind == JournalRecord::Kind::Move ? UndoMove(*it) : UndoDelete(*it);
        if (flow == Flow::Stop) return flow;
        if (flow == Flow::Fail && result == Flow::Go) {
            result = Flow::Fail;
            firstFailure = m_failure;
        }
    }
    if (result == Flow::Fail) m_failure = firstFailure;
    return result;
}

Flow InstallRun::UndoMove(const JournalRecord& record) {
    // With no old file recorded, or the old one already aside, whatever lies
    // at the installed place is the new file or a part of its copy.
    const bool vacated = record.backup.empty() || fs_port::PathExists(record.backup);
    Flow flow = Flow::Go;
    if (vacated && fs_port::PathExists(record.target)) {
        if (fs_port::PathExists(record.path)) {
            flow = Step(m_ops->RemoveFile(record.target), "remove the partial copy " + Shown(record.target));
        } else {
            const StepResult back = m_ops->MovePath(record.target, record.path);
            if (back == StepResult::Stop) return Flow::Stop;
            if (back == StepResult::Failed) {
                // Only when the work folder is gone is the new file not needed.
                flow = fs_port::IsDirectory(ParentOf(record.path))
                           ? Step(back, "move " + Shown(record.target) + " back to " + Shown(record.path))
                           : Step(m_ops->RemoveFile(record.target), "take back " + Shown(record.target));
            }
        }
        if (flow != Flow::Go) return flow;
    }
    if (!record.backup.empty() && fs_port::PathExists(record.backup)) {
        if (fs_port::PathExists(record.target)) {
            m_failure = "put back " + Shown(record.target) + ": the place is taken";
            return Flow::Fail;
        }
        flow = Step(m_ops->MovePath(record.backup, record.target), "put back " + Shown(record.target));
        if (flow != Flow::Go) return flow;
    }
    return record.backup.empty() ? RemoveNewFolders(record) : Flow::Go;
}

Flow InstallRun::RemoveNewFolders(const JournalRecord& record) {
    if (record.firstNewFolder.empty()) return Flow::Go;
    const std::vector<std::string> levels = FoldersAbove(m_folder, record.target);
    for (auto it = levels.rbegin(); it != levels.rend(); ++it) {
        if (it->size() < record.firstNewFolder.size()) break;
        if (!fs_port::IsDirectory(*it)) continue;
        if (!IsEmptyFolder(*it)) break;  // holds files of an earlier step; that step removes it
        const Flow flow = Step(m_ops->RemoveEmptyFolder(*it), "remove the folder " + Shown(*it));
        if (flow != Flow::Go) return flow;
    }
    return Flow::Go;
}

Flow InstallRun::UndoDelete(const JournalRecord& record) {
    if (!fs_port::PathExists(record.backup)) return Flow::Go;
    if (fs_port::PathExists(record.path)) {
        m_failure = "put back " + Shown(record.path) + ": the place is taken";
        return Flow::Fail;
    }
    return Step(m_ops->MovePath(record.backup, record.path), "put back " + Shown(record.path));
}

Flow InstallRun::EndAfterUndo() {
    if (m_journalStarted || fs_port::PathExists(m_journal)) {
        // Rewritten whole, not appended to (its last line may be cut): the mark
        // keeps a journal that cannot be removed from being undone again.
        const StepResult marked = m_ops->WriteDurably(
            m_journal, FormatJournalHeader(m_handOffDigest) + FormatJournalRollback(), false);
        if (marked == StepResult::Stop) return Flow::Stop;
        const StepResult removed = m_ops->RemoveFile(m_journal);
        if (removed == StepResult::Stop) return Flow::Stop;
        if (removed == StepResult::Failed) m_log(EntryKind::Notice, "cannot remove " + Shown(m_journal));
    }
    if (fs_port::IsDirectory(m_backupFolder) && IsEmptyFolder(m_backupFolder)) {
        if (m_ops->RemoveEmptyFolder(m_backupFolder) == StepResult::Stop) return Flow::Stop;
    }
    m_journalStarted = false;
    return Flow::Go;
}

Flow InstallRun::FinishCommit(const std::vector<JournalRecord>& records, bool removeHandOff) {
    for (const JournalRecord& record : records) {
        if (record.backup.empty() || !fs_port::PathExists(record.backup)) continue;
        const StepResult removed = m_ops->RemoveTree(record.backup);
        if (removed == StepResult::Stop) return Flow::Stop;
        if (removed == StepResult::Failed) {
            m_log(EntryKind::Notice, "old file still in use, left for a later run: " + Shown(record.backup));
        }
    }
    if (fs_port::IsDirectory(m_backupFolder) && IsEmptyFolder(m_backupFolder)) {
        if (m_ops->RemoveEmptyFolder(m_backupFolder) == StepResult::Stop) return Flow::Stop;
    }
    // The hand-off file goes before the journal: a kill between the two then
    // leaves a committed journal, never a spent hand-off file without one.
    if (removeHandOff && fs_port::PathExists(m_handOff)) {
        const StepResult removed = m_ops->RemoveFile(m_handOff);
        if (removed == StepResult::Stop) return Flow::Stop;
        if (removed == StepResult::Failed) {
            // The committed journal stays and marks the file as spent.
            m_log(EntryKind::Notice, "cannot remove " + Shown(m_handOff));
            return Flow::Go;
        }
    }
    const StepResult removed = m_ops->RemoveFile(m_journal);
    if (removed == StepResult::Stop) return Flow::Stop;
    if (removed == StepResult::Failed) m_log(EntryKind::Error, "cannot remove " + Shown(m_journal));
    return Flow::Go;
}

bool InstallRun::JournalStaysInside(const JournalContent& content, std::string* errorOut) const {
    for (const JournalRecord& record : content.records) {
        const bool inside =
            IsInsideFolder(m_folder, record.path) &&
            (record.target.empty() || IsInsideFolder(m_folder, record.target)) &&
            (record.backup.empty() || IsInsideFolder(m_backupFolder, record.backup)) &&
            (record.firstNewFolder.empty() || (IsInsideFolder(m_folder, record.firstNewFolder) &&
                                               IsSameOrBelow(record.firstNewFolder, record.target)));
        if (!inside) {
            *errorOut = "journal names a path outside the launcher folder: " + Shown(record.path);
            return false;
        }
    }
    return true;
}

InstallRun::Settled InstallRun::SettleJournal() {
    std::string error;
    JournalContent content;
    if (ReadJournal(&content, &error)) JournalStaysInside(content, &error);
    if (!error.empty()) {
        m_log(EntryKind::Error, error + " (" + Shown(m_journal) + "); nothing is touched");
        return Settled::Broken;
    }
    if (content.state == JournalState::Committed) {
        m_log(EntryKind::Notice, "finishing the clean-up of an installed update");
        // Equal bytes alone do not make it the same hand-off: the file holds
        // only paths, so the next update's may match it byte for byte. The
        // committed one has moved every unpacked file away; a new one has
        // them unpacked again.
        const bool sameHandOff =
            !fs_port::PathExists(m_handOff) ||
            (content.handOffDigest == m_handOffDigest && !AnyUnpackedFilePresent(content.records));
        if (FinishCommit(content.records, sameHandOff) == Flow::Stop) return Settled::Stopped;
        return sameHandOff ? Settled::Committed : Settled::Clean;
    }
    if (content.state == JournalState::RolledBack) {
        // Already undone; a fresh journal replaces it if it cannot go now.
        return m_ops->RemoveFile(m_journal) == StepResult::Stop ? Settled::Stopped : Settled::Clean;
    }
    m_log(EntryKind::Notice, "an earlier installation was interrupted; undoing its " +
                                 std::to_string(content.records.size()) + " steps");
    const Flow flow = Undo(content.records);
    if (flow == Flow::Stop) return Settled::Stopped;
    if (flow == Flow::Fail) {
        m_log(EntryKind::Error, "could not undo the interrupted installation: " + m_failure);
        return Settled::Broken;
    }
    if (EndAfterUndo() == Flow::Stop) return Settled::Stopped;
    return Settled::Undone;
}

bool InstallRun::ReadHandOff(HandOffPlan* planOut, std::string* errorOut) {
    if (!DecodeHandOff(m_handOffBytes, planOut, errorOut)) return false;
    if (!CheckInstallPlan(m_folder, *planOut, errorOut)) return false;
    for (const HandOffMove& move : planOut->moves) {
        if (!fs_port::IsRegularFile(move.from)) {
            *errorOut = "unpacked file missing: " + Shown(move.from);
            return false;
        }
        if (fs_port::IsDirectory(move.to)) {
            *errorOut = "installed place is a folder: " + Shown(move.to);
            return false;
        }
    }
    return true;
}

InstallOutcome InstallRun::Run() {
    bool tooLarge = false;
    const bool haveHandOff = ReadFileUpTo(m_handOff, kMaxHandOffBytes, &m_handOffBytes, &tooLarge);
    m_handOffDigest = HandOffDigest(m_handOffBytes);
    Settled settled = Settled::Clean;
    if (fs_port::PathExists(m_journal)) {
        settled = SettleJournal();
    } else if (fs_port::IsDirectory(m_backupFolder)) {
        // Old files that were still in use when an earlier update ended.
        if (m_ops->RemoveTree(m_backupFolder) == StepResult::Stop) return InstallOutcome::Stopped;
    }
    if (settled == Settled::Stopped) return InstallOutcome::Stopped;
    if (settled == Settled::Broken) return InstallOutcome::RollbackIncomplete;
    if (settled == Settled::Committed) return InstallOutcome::Installed;
    if (settled == Settled::Undone) m_log(EntryKind::Notice, "installing the update again");
    if (!haveHandOff) {
        const char* why = tooLarge                            ? "hand-off file too large: "
                          : fs_port::PathExists(m_handOff) ? "cannot read the hand-off file "
                                                           : "no hand-off file at ";
        m_log(EntryKind::Error, why + Shown(m_handOff));
        // A hand-off file that is there but cannot be read is a failed
        // install, not "nothing to install".
        if (tooLarge || fs_port::PathExists(m_handOff)) return InstallOutcome::Refused;
        return settled == Settled::Undone ? InstallOutcome::RolledBack
                                          : InstallOutcome::NothingToInstall;
    }
    HandOffPlan plan;
    std::string error;
    if (!ReadHandOff(&plan, &error)) {
        m_log(EntryKind::Error, "hand-off file refused, nothing installed: " + error);
        return InstallOutcome::Refused;
    }
    if (plan.IsEmpty()) {
        m_log(EntryKind::Notice, "hand-off file names nothing to do");
        return InstallOutcome::NothingToInstall;
    }
    m_log(EntryKind::Info, "installing " + std::to_string(plan.moves.size()) + " files, deleting " +
                               std::to_string(plan.deletes.size()));
    return Install(plan);
}

}  // namespace

const char* InstallOutcomeName(InstallOutcome outcome) {
    switch (outcome) {
        case InstallOutcome::Installed: return "installed";
        case InstallOutcome::NothingToInstall: return "nothing to install";
        case InstallOutcome::Refused: return "refused";
        case InstallOutcome::RolledBack: return "rolled back";
        case InstallOutcome::RollbackIncomplete: return "rollback incomplete";
        case InstallOutcome::Stopped: return "stopped";
    }
    return "unknown";
}

void DiscardUnpackedFiles(const std::string& folder, const HandOffPlan& plan) {
    const std::string workFolder = folder + "\\" + kWorkFolderName;
    for (const HandOffMove& move : plan.moves) {
        if (!IsInsideFolder(workFolder, move.from)) continue;
        (void)fs_port::RemoveFile(move.from);
        const std::vector<std::string> levels = FoldersAbove(workFolder, move.from);
        for (auto it = levels.rbegin(); it != levels.rend() && IsEmptyFolder(*it); ++it) {
            (void)fs_port::RemoveEmptyDirectory(*it);
        }
    }
}

InstallOutcome RunInstaller(const std::string& folder, const std::string& handOffPath,
                            InstallerFileOps* ops, const InstallLog& log, size_t stepsPerJournalWrite) {
    InstallRun run(folder, handOffPath, ops, log, stepsPerJournalWrite);
    return run.Run();
}
