// Win32 side of the file port: wide calls, "/" accepted as "\".
#include "platform/file_system.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>

#include "platform/win32/wide.h"

namespace fs_port {

std::string NativePath(const std::string& path) {
    std::string out = path;
    for (char& c : out) {
        if (c == '/') c = '\\';
    }
    return out;
}

char NativeSeparator() { return '\\'; }

namespace {
// Paths near MAX_PATH and beyond need the extended form "\\?\", which takes
// only a full path with back-slashes and without "." or ".." parts;
// GetFullPathNameW makes one (it handles paths of any length).
constexpr size_t kExtendedPathFrom = 240;

std::wstring W(const std::string& path) {
    std::wstring wide = ToWide(NativePath(path));
    if (wide.size() < kExtendedPathFrom || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
    DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0) return wide;
    std::wstring full(n, L'\0');
    n = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    if (n == 0 || n >= full.size()) return wide;
    full.resize(n);
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// A file being read must not stop anyone else from moving, replacing or
// deleting it, as on POSIX: the launcher's verification hashes the game files
// while the installer program it has just started replaces them, and the
// CRT's own open shares neither. The reader keeps the content it opened.
std::FILE* OpenForSharedReading(const std::wstring& path) {
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd == -1) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "rb");
    if (file == nullptr) _close(fd);
    return file;
}
}  // namespace

std::FILE* OpenFile(const std::string& path, const char* mode) {
    if (std::string(mode) == "rb") return OpenForSharedReading(W(path));
    return _wfopen(W(path).c_str(), ToWide(mode).c_str());
}

bool SeekFile(std::FILE* file, int64_t offset, int origin) {
    return _fseeki64(file, offset, origin) == 0;
}

int64_t TellFile(std::FILE* file) { return _ftelli64(file); }

bool TruncateFile(std::FILE* file, int64_t length) {
    // A failed flush (a full disk) must fail here: the cut or extension
    // below would otherwise give a file of the right size with holes.
    return std::fflush(file) == 0 && _chsize_s(_fileno(file), length) == 0;
}

bool FlushFileToDisk(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return h != INVALID_HANDLE_VALUE && FlushFileBuffers(h);
}

bool IsTerminal(std::FILE* file) { return _isatty(_fileno(file)) != 0; }

namespace {
bool Attributes(const std::string& path, DWORD* attrOut) {
    if (path.empty()) return false;
    DWORD a = GetFileAttributesW(W(path).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return false;
    *attrOut = a;
    return true;
}
}  // namespace

bool PathExists(const std::string& path) {
    DWORD a;
    return Attributes(path, &a);
}

bool IsDirectory(const std::string& path) {
    DWORD a;
    return Attributes(path, &a) && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsLink(const std::string& path) {
    DWORD a;
    return Attributes(path, &a) && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsRegularFile(const std::string& path) {
    DWORD a;
    return Attributes(path, &a) && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

int64_t FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path.empty() || !GetFileAttributesExW(W(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return -1;
    }
    return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

namespace {
bool StampFromHandle(HANDLE handle, FileStamp* stampOut) {
    BY_HANDLE_FILE_INFORMATION info;
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return false;
    }
    stampOut->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    stampOut->writeTime = static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                               info.ftLastWriteTime.dwLowDateTime);
    stampOut->volume = info.dwVolumeSerialNumber;
    stampOut->fileIndex = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}
}  // namespace

bool ReadFileStamp(const std::string& path, FileStamp* stampOut) {
    if (path.empty()) return false;
    // Opened for no access at all: nobody's sharing mode can refuse it.
    HANDLE handle = CreateFileW(W(path).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool read = StampFromHandle(handle, stampOut);
    CloseHandle(handle);
    return read;
}

bool ReadOpenFileStamp(std::FILE* file, FileStamp* stampOut) {
    if (file == nullptr) return false;
    return StampFromHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), stampOut);
}

bool ReadVolumeSpace(const std::string& folder, VolumeSpace* spaceOut) {
    if (folder.empty()) return false;
    const std::wstring wide = W(folder);
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(wide.c_str(), &available, nullptr, nullptr)) return false;
    // The folder itself tells its volume's serial, the one file stamps carry.
    HANDLE handle = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool read = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!read || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    spaceOut->volume = info.dwVolumeSerialNumber;
    spaceOut->freeBytes = available.QuadPart;
    return true;
}

bool MakeDirectory(const std::string& path) {
    return CreateDirectoryW(W(path).c_str(), nullptr) != 0;
}

bool MakeDirectories(const std::string& path) {
    const std::string native = NativePath(path);
    if (native.empty()) return false;
    for (size_t pos = 1; pos <= native.size(); ++pos) {
        if (pos == native.size() || native[pos] == '\\') {
            std::string prefix = native.substr(0, pos);
            if (prefix.size() == 2 && prefix[1] == ':') continue;  // drive
            if (!CreateDirectoryW(W(prefix).c_str(), nullptr) &&
                GetLastError() != ERROR_ALREADY_EXISTS) {
                if (!IsDirectory(prefix)) return false;
            }
        }
    }
    return IsDirectory(native);
}

bool RemoveFile(const std::string& path) { return DeleteFileW(W(path).c_str()) != 0; }

bool RemoveEmptyDirectory(const std::string& path) {
    return RemoveDirectoryW(W(path).c_str()) != 0;
}

bool RenamePath(const std::string& from, const std::string& to, bool replace) {
    DWORD flags = MOVEFILE_COPY_ALLOWED | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    return MoveFileExW(W(from).c_str(), W(to).c_str(), flags) != 0;
}

bool RenameOnVolume(const std::string& from, const std::string& to) {
    if (MoveFileExW(W(from).c_str(), W(to).c_str(), 0)) return true;
    if (GetLastError() == ERROR_NOT_SAME_DEVICE) errno = EXDEV;
    return false;
}

bool SetNormalAttributes(const std::string& path) {
    return SetFileAttributesW(W(path).c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
}

bool ListDirectory(const std::string& path, std::vector<DirEntry>* entriesOut) {
    entriesOut->clear();
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(W(path + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
        std::string name = FromWide(data.cFileName);
        if (name == "." || name == "..") continue;
        DirEntry entry;
        entry.name = name;
        entry.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.isLink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        entriesOut->push_back(std::move(entry));
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return true;
}

std::string CurrentDirectory() {
    DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (n == 0) return {};
    std::wstring buf(n, L'\0');
    n = GetCurrentDirectoryW(n, buf.data());
    buf.resize(n);
    return FromWide(buf);
}

}  // namespace fs_port
