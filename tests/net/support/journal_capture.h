// Captures the journal's entries into a file of a temporary folder for the
// lifetime of the object.
#pragma once

#include <string>

#include "journal/journal.h"
#include "support/test_support.h"

namespace test_net {

class JournalCapture {
public:
    JournalCapture() : m_path(m_dir.File("journal.log")) { TheJournal().AttachFile(m_path.c_str()); }
    ~JournalCapture() { TheJournal().Detach(); }

    // How many entries contain the text.
    int Count(const std::string& text) const {
        const std::string all = ReadTextFile(m_path);
        int count = 0;
        for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++count;
        return count;
    }

private:
    TempDir m_dir;
    std::string m_path;
};

}  // namespace test_net
