// The launcher's log: one process-wide journal that any thread may write to.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

enum class EntryKind : int32_t { Info = 0, Notice = 1, Error = 2 };

// Minimum level that is written. The launcher only uses 3, which lets every
// kind through; lower values are kept for callers that want fewer entries.
enum class Threshold : int32_t { ErrorsOnly = 0, NoticesAndErrors = 1, All = 3 };

class CJournal {
public:
    CJournal() = default;
    ~CJournal();
    CJournal(const CJournal&) = delete;
    CJournal& operator=(const CJournal&) = delete;

    void SetThreshold(Threshold threshold);
    // Opens (appends to) the log file at a UTF-8 path. 0 on success, -1 when
    // the file cannot be opened; entries are then dropped.
    int AttachFile(const char* path);
    // Appends one entry as one whole line. The line reaches the file before
    // this returns, so a crash later loses nothing already logged.
    int AddEntry(EntryKind kind, const char* text);
    int AddEntryF(EntryKind kind, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;
    // Kept for callers that ask for it; faults are never trapped.
    void TrapFaults(bool enable);

    // Closes the file; used by tests that attach several files in turn.
    void Detach();
    // Full path of the attached file, empty when none is attached.
    std::string AttachedPath() const;

private:
    mutable std::mutex m_mutex;
    std::FILE* m_file = nullptr;
    std::string m_path;
    Threshold m_threshold = Threshold::All;
};

// The one journal of the process.
CJournal& TheJournal();
