#include "installer_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "platform/file_system.h"

namespace {

const char* KindName(EntryKind kind) {
    switch (kind) {
        case EntryKind::Info: return "Info";
        case EntryKind::Notice: return "Notice";
        case EntryKind::Error: return "Error";
    }
    return "Info";
}

std::string ParentFolder(const std::string& path) {
    const size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

}  // namespace

std::string FormatLogLine(EntryKind kind, const std::string& text) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const long long millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03lld [%s] ",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, millis, KindName(kind));
    std::string line = stamp + text;
    // One entry stays one line.
    for (char& c : line) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return line;
}

InstallerLog::InstallerLog(const std::string& path) : m_path(path) {
    const std::string folder = ParentFolder(path);
    if (!folder.empty() && !fs_port::IsDirectory(folder)) fs_port::MakeDirectories(folder);
}

void InstallerLog::Add(EntryKind kind, const std::string& text) {
    std::FILE* file = fs_port::OpenFile(m_path, "ab");
    if (!file) return;
    const std::string line = FormatLogLine(kind, text) + "\n";
    std::fwrite(line.data(), 1, line.size(), file);
    std::fflush(file);
    std::fclose(file);
}
