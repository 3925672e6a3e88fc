// The launcher's log: one process-wide journal that any thread may write to.
//
// The file is UTF-8 text, one line per entry, "\n" at the end of each:
//   2026-12-07 19:24:36.123 [Info] text
// (local time to the millisecond; the kinds are Info, Notice and Error). A line
// break or other control character inside a text becomes a space and an
// invalid UTF-8 byte becomes U+FFFD, so one entry is always exactly one line.
// Entries written before a file is attached are dropped, not kept.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/append_file.h"
#include "platform/text_format.h"

enum class EntryKind : int32_t { Info = 0, Notice = 1, Error = 2 };

// How far below Error the journal listens: an entry of kind k is written when
// k + threshold >= 2. So 0 writes only errors, 1 notices and errors, 2 and
// above (the launcher uses 3) every kind, and a negative value nothing.
enum class Threshold : int32_t { ErrorsOnly = 0, NoticesAndErrors = 1, All = 3 };

class CJournal {
public:
    CJournal() = default;
    ~CJournal();
    CJournal(const CJournal&) = delete;
    CJournal& operator=(const CJournal&) = delete;

    void SetThreshold(Threshold threshold);
    // Opens (appends to) the log file at a UTF-8 path, closing one attached
    // before. 0 on success, -1 when the file cannot be opened; entries are
    // then dropped. The folder is not created here.
    int AttachFile(const char* path);
    // Appends one entry as one whole line. The line reaches the file (the
    // system's cache, not necessarily the disk) before this returns, so a crash
    // later loses nothing already logged; lines of concurrent callers, also
    // of other processes logging into the same file, never mix. 0 when written or left out by the threshold, -1 when no file is
    // attached or the write failed (a full disk): then nothing of the line
    // stays in the file.
    int AddEntry(EntryKind kind, const char* text);
    // The same with a printf-style format; the entry may be of any length.
    int AddEntryF(EntryKind kind, const char* format, ...) VANTOREL_PRINTF_LIKE(3, 4);
    // Kept for callers that ask for it; faults are never trapped.
    void TrapFaults(bool enable);

    // Closes the file; used by tests that attach several files in turn.
    void Detach();
    // Full path of the attached file, empty when none is attached.
    std::string AttachedPath() const;

private:
    void CloseLocked();

    mutable std::mutex m_mutex;
    fs_port::AppendFile m_file;
    std::string m_path;
    Threshold m_threshold = Threshold::All;
};

// The one journal of the process: created on first use and never destroyed,
// so destructors of other static objects can still log at exit.
CJournal& TheJournal();
