// Minimal journal for the network tests while the real one lives on another
// branch: writes each entry as one line to the attached file. Linked only
// when src/external has no journal implementation.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "external/journal.h"

CJournal::~CJournal() { Detach(); }

void CJournal::SetThreshold(Threshold threshold) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_threshold = threshold;
}

int CJournal::AttachFile(const char* path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file != nullptr) std::fclose(m_file);
    m_file = std::fopen(path, "ab");
    m_path = m_file != nullptr ? path : "";
    return m_file != nullptr ? 0 : -1;
}

int CJournal::AddEntry(EntryKind kind, const char* text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file == nullptr) return -1;
    static const char* const kNames[] = {"Info", "Notice", "Error"};
    std::fprintf(m_file, "[%s] %s\n", kNames[static_cast<int>(kind) % 3], text);
    std::fflush(m_file);
    return 0;
}

int CJournal::AddEntryF(EntryKind kind, const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return AddEntry(kind, text);
}

void CJournal::TrapFaults(bool) {}

void CJournal::Detach() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file != nullptr) std::fclose(m_file);
    m_file = nullptr;
    m_path.clear();
}

std::string CJournal::AttachedPath() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_path;
}

CJournal& TheJournal() {
    static CJournal journal;
    return journal;
}
