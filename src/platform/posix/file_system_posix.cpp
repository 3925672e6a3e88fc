// POSIX side of the file port. Windows-style "\" separators become "/".
#include "platform/file_system.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace fs_port {

std::string NativePath(const std::string& path) {
    std::string out = path;
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    return out;
}

char NativeSeparator() { return '/'; }

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return std::fopen(NativePath(path).c_str(), mode);
}

bool SeekFile(std::FILE* file, int64_t offset, int origin) {
    return fseeko(file, static_cast<off_t>(offset), origin) == 0;
}

int64_t TellFile(std::FILE* file) { return static_cast<int64_t>(ftello(file)); }

bool TruncateFile(std::FILE* file, int64_t length) {
    // A failed flush (a full disk) must fail here: the cut or extension
    // below would otherwise give a file of the right size with holes.
    return std::fflush(file) == 0 && ftruncate(fileno(file), static_cast<off_t>(length)) == 0;
}

bool FlushFileToDisk(std::FILE* file) {
    return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

bool IsTerminal(std::FILE* file) { return isatty(fileno(file)) == 1; }

namespace {
bool StatPath(const std::string& path, struct stat* st) {
    return !path.empty() && ::stat(NativePath(path).c_str(), st) == 0;
}
}  // namespace

bool PathExists(const std::string& path) {
    struct stat st;
    return StatPath(path, &st);
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return StatPath(path, &st) && S_ISDIR(st.st_mode);
}

bool IsLink(const std::string& path) {
    struct stat st;
    return !path.empty() && ::lstat(NativePath(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return StatPath(path, &st) && S_ISREG(st.st_mode);
}

int64_t FileSize(const std::string& path) {
    struct stat st;
    if (!StatPath(path, &st) || !S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

namespace {
bool StampFromStat(const struct stat& st, FileStamp* stampOut) {
    if (!S_ISREG(st.st_mode)) return false;
    stampOut->size = static_cast<uint64_t>(st.st_size);
    stampOut->writeTime = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stampOut->volume = static_cast<uint64_t>(st.st_dev);
    stampOut->fileIndex = static_cast<uint64_t>(st.st_ino);
    return true;
}
}  // namespace

bool ReadFileStamp(const std::string& path, FileStamp* stampOut) {
    struct stat st;
    return StatPath(path, &st) && StampFromStat(st, stampOut);
}

bool ReadOpenFileStamp(std::FILE* file, FileStamp* stampOut) {
    struct stat st;
    return file != nullptr && ::fstat(fileno(file), &st) == 0 && StampFromStat(st, stampOut);
}

bool ReadVolumeSpace(const std::string& folder, VolumeSpace* spaceOut) {
    struct stat st {};
    struct statvfs volume {};
    if (!StatPath(folder, &st) || !S_ISDIR(st.st_mode) || ::statvfs(NativePath(folder).c_str(), &volume) != 0) {
        return false;
    }
    spaceOut->volume = static_cast<uint64_t>(st.st_dev);
    // f_bavail leaves out the blocks kept for the superuser.
    spaceOut->freeBytes = static_cast<uint64_t>(volume.f_bavail) * static_cast<uint64_t>(volume.f_frsize);
    return true;
}

bool MakeDirectory(const std::string& path) {
    return ::mkdir(NativePath(path).c_str(), 0777) == 0;
}

bool MakeDirectories(const std::string& path) {
    const std::string native = NativePath(path);
    if (native.empty()) return false;
    for (size_t pos = 1; pos <= native.size(); ++pos) {
        if (pos == native.size() || native[pos] == '/') {
            std::string prefix = native.substr(0, pos);
            if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
        }
    }
    return IsDirectory(native);
}

bool RemoveFile(const std::string& path) { return ::unlink(NativePath(path).c_str()) == 0; }

bool RemoveEmptyDirectory(const std::string& path) {
    return ::rmdir(NativePath(path).c_str()) == 0;
}

bool RenamePath(const std::string& from, const std::string& to, bool replace) {
    const std::string target = NativePath(to);
    if (!replace && PathExists(target)) return false;
    return ::rename(NativePath(from).c_str(), target.c_str()) == 0;
}

bool RenameOnVolume(const std::string& from, const std::string& to) {
    return RenamePath(from, to, false);
}

bool SetNormalAttributes(const std::string& path) {
    struct stat st;
    if (!StatPath(path, &st)) return false;
    return ::chmod(NativePath(path).c_str(), st.st_mode | S_IWUSR | S_IRUSR |
                                                 (S_ISDIR(st.st_mode) ? S_IXUSR : 0)) == 0;
}

bool ListDirectory(const std::string& path, std::vector<DirEntry>* entriesOut) {
    entriesOut->clear();
    const std::string native = NativePath(path);
    DIR* dir = ::opendir(native.c_str());
    if (!dir) return false;
    while (struct dirent* ent = ::readdir(dir)) {
        std::string name = ent->d_name;
        if (name == "." || name == "..") continue;
        DirEntry entry;
        entry.name = name;
        struct stat st;
        if (::lstat((native + "/" + name).c_str(), &st) == 0) {
            entry.isDirectory = S_ISDIR(st.st_mode);
            entry.isLink = S_ISLNK(st.st_mode);
        }
        entriesOut->push_back(std::move(entry));
    }
    ::closedir(dir);
    return true;
}

std::string CurrentDirectory() {
    char* cwd = ::getcwd(nullptr, 0);
    if (!cwd) return {};
    std::string out = cwd;
    std::free(cwd);
    return out;
}

}  // namespace fs_port
