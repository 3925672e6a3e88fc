// A journal of its own for each test, and its entries as "[Kind] text".
#pragma once

#include <string>
#include <vector>

#include "journal/journal.h"
#include "support/test_support.h"

class JournalCapture {
public:
    JournalCapture() : m_path(m_dir.File("test.log")) { m_journal.AttachFile(m_path.c_str()); }
    CJournal& Journal() { return m_journal; }
    // Every entry without its time stamp, e.g. "[Error] 版本文件打开失败".
    std::vector<std::string> Entries() const {
        std::vector<std::string> entries;
        const std::string content = ReadTextFile(m_path);
        size_t start = 0;
        for (size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
            const std::string line = content.substr(start, end - start);
            const size_t kind = line.find(" [");
            entries.push_back(kind == std::string::npos ? line : line.substr(kind + 1));
        }
        return entries;
    }

private:
    TempDir m_dir;
    std::string m_path;
    CJournal m_journal;
};
