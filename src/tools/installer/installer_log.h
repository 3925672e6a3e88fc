// The installer program's log, "<own folder>\Log\installer.log": UTF-8, one
// line per entry, "2026-12-07 19:24:36.123 [Info] text". Each line reaches
// the file before the call returns, so a kill loses nothing already logged.
#pragma once

#include <string>

#include "external/journal.h"

class InstallerLog {
public:
    // Creates the folder of path when it is missing.
    explicit InstallerLog(const std::string& path);

    void Add(EntryKind kind, const std::string& text);

private:
    std::string m_path;
};

// One log line without its line end, for the given local time.
std::string FormatLogLine(EntryKind kind, const std::string& text);
