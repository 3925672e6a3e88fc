// The folder and path functions of launcher_util.h, written once over the
// file port. Paths may use "\" or "/"; the port maps them to the platform.
#include <string>
#include <vector>

#include "app/util/launcher_util.h"
#include "platform/file_system.h"

namespace {

// The longest path the shell's classic API accepts, terminator included.
constexpr size_t kMaxShellPath = 260;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// "C:\x\_temp\" -> "C:\x\_temp", so that listing and joining never double a
// separator. A root ("\", "/", "C:\") keeps its separator.
std::string WithoutTrailingSeparators(const std::string& path) {
    size_t end = path.size();
    while (end > 1 && IsSeparator(path[end - 1]) && path[end - 2] != ':') --end;
    return path.substr(0, end);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && IsSeparator(folder.back())) return folder + name;
    return folder + "\\" + name;
}

// Length in UTF-16 units, the measure of the Windows path limit.
size_t Utf16Length(const std::string& utf8) {
    size_t units = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) != 0x80) ++units;  // each lead byte starts a character
        if (c >= 0xF0) ++units;           // four-byte sequences need a surrogate pair
    }
    return units;
}

// Removes one entry of a folder that is being emptied. A link is removed
// itself and never followed, so a link to a folder outside the tree cannot
// take that folder's content with it.
void RemoveLink(const std::string& path, const fs_port::DirEntry& entry) {
    if (entry.isDirectory) {
        (void)fs_port::RemoveEmptyDirectory(path);
    } else {
        (void)fs_port::RemoveFile(path);
    }
}

// Empties folder and removes it; true when it is gone. Below the first level
// every entry loses its read-only attribute first, and a window showing a
// sub-folder is asked to close, since it would keep the folder. At the first
// level only with clearFirstLevel: RemoveFolderTree leaves a read-only file
// directly inside in place. Once stop is set, what is left stays.
bool RemoveTree(const std::string& folder, bool clearFirstLevel, const std::atomic<bool>* stop) {
    std::vector<fs_port::DirEntry> entries;
    if (fs_port::ListDirectory(folder, &entries)) {
        for (const fs_port::DirEntry& entry : entries) {
            if (stop && stop->load()) return false;
            const std::string child = JoinPath(folder, entry.name);
            if (entry.isLink) {
                RemoveLink(child, entry);
                continue;
            }
            if (clearFirstLevel) (void)fs_port::SetNormalAttributes(child);
            if (entry.isDirectory) {
                if (clearFirstLevel) CloseWindowsTitled(entry.name.c_str());
                (void)RemoveTree(child, true, stop);
            } else {
                (void)fs_port::RemoveFile(child);
            }
        }
    }
    return fs_port::RemoveEmptyDirectory(folder);
}

}  // namespace

void DeleteFolderTree(const std::string& path) {
    if (!path.empty()) (void)RemoveTree(WithoutTrailingSeparators(path), true, nullptr);
}

bool RemoveFolderTree(const std::string& path, const std::atomic<bool>* stop) {
    return !path.empty() && RemoveTree(WithoutTrailingSeparators(path), false, stop);
}

// Creates the folders of a file path: every growing prefix up to a separator,
// but not the last part. Existing folders and drive prefixes fail quietly.
bool CreateFolderChain(const std::string& path) {
    if (path.empty()) return false;
    if (fs_port::IsDirectory(path)) return true;
    for (size_t pos = 0; pos < path.size(); ++pos) {
        if (!IsSeparator(path[pos])) continue;
        const std::string prefix = path.substr(0, pos);
        if (!prefix.empty() && fs_port::MakeDirectory(prefix)) {
            (void)fs_port::SetNormalAttributes(prefix);
        }
    }
    return fs_port::IsDirectory(path);
}

bool PathExists(const char* path) {
    if (!path) return false;
    const std::string text = path;
    if (Utf16Length(text) >= kMaxShellPath) return false;
    return fs_port::PathExists(text);
}

// Without a name the path would be the launcher folder itself, which the
// shell would open in a file browser: refuse that.
bool RunLauncherProgram(const char* name) {
    if (!name || !*name) return false;
    const std::string path = GetLauncherFolder() + "//" + name;
    return RunProgram(path.c_str());
}
