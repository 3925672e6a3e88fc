#include "installer_log.h"

#include "platform/file_system.h"

InstallerLog::InstallerLog(const std::string& path) {
    const size_t cut = path.find_last_of("\\/");
    const std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut);
    if (!folder.empty() && !fs_port::IsDirectory(folder)) fs_port::MakeDirectories(folder);
    TheJournal().SetThreshold(Threshold::All);
    TheJournal().AttachFile(path.c_str());
}

void InstallerLog::Add(EntryKind kind, const std::string& text) {
    TheJournal().AddEntry(kind, text.c_str());
}
