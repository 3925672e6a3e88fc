// The installer program's log, "<own folder>\Log\installer.log", written
// through the process's journal (same line layout as the launcher's log).
#pragma once

#include <string>

#include "journal/journal.h"

class InstallerLog {
public:
    // Creates the folder of path when it is missing and attaches the journal.
    explicit InstallerLog(const std::string& path);

    void Add(EntryKind kind, const std::string& text);
};
