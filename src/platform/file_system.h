// Files and folders behind one small interface, implemented for Win32 (wide
// calls) and POSIX. Paths are UTF-8; "\" and "/" are both accepted as the
// separator (the POSIX side turns "\" into "/").
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace fs_port {

// Names avoid the Win32 macros (CreateDirectory, MoveFile, ...).

// fopen with a UTF-8 path; mode as for fopen ("rb", "wb", "ab", "r+b").
std::FILE* OpenFile(const std::string& path, const char* mode);
// 64-bit positioning for files above 2 GiB on the 32-bit build.
bool SeekFile(std::FILE* file, int64_t offset, int origin);
int64_t TellFile(std::FILE* file);
// Cuts or extends an open file to length bytes.
bool TruncateFile(std::FILE* file, int64_t length);
// Forces written data to the disk (used before a rename makes a file live).
bool FlushFileToDisk(std::FILE* file);
// True when the stream goes to a terminal (a console) rather than a file or pipe.
bool IsTerminal(std::FILE* file);

bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);
bool IsRegularFile(const std::string& path);
// A symbolic link, junction or other reparse point itself (not followed).
bool IsLink(const std::string& path);
// Size of a file; -1 when it does not exist or is not a file.
int64_t FileSize(const std::string& path);

// What tells one state of a file from another without reading it: size,
// last-write time and the volume's id of the file. A rename within a volume
// keeps all of them; a copy, a replacement or a write changes at least one.
struct FileStamp {
    uint64_t size = 0;
    int64_t writeTime = 0;  // platform ticks (Win32 FILETIME, POSIX ns since 1970)
    uint64_t volume = 0;    // Win32 volume serial number, POSIX st_dev
    uint64_t fileIndex = 0; // Win32 file index, POSIX st_ino

    bool operator==(const FileStamp& other) const {
        return size == other.size && writeTime == other.writeTime && volume == other.volume &&
               fileIndex == other.fileIndex;
    }
    bool operator!=(const FileStamp& other) const { return !(*this == other); }
};
// The stamp of a regular file; false when it does not exist or is not a file.
bool ReadFileStamp(const std::string& path, FileStamp* stampOut);
// The stamp of the file an open stream reads, whatever its path names now.
bool ReadOpenFileStamp(std::FILE* file, FileStamp* stampOut);

// The room left on a volume for this process, and the volume's id as a
// FileStamp gives it (two folders with the same id share their free bytes).
struct VolumeSpace {
    uint64_t volume = 0;
    uint64_t freeBytes = 0;
};
// Of the volume that holds folder (an existing folder); false when it
// cannot be read.
bool ReadVolumeSpace(const std::string& folder, VolumeSpace* spaceOut);

bool MakeDirectory(const std::string& path);        // one level
bool MakeDirectories(const std::string& path);      // every missing level
bool RemoveFile(const std::string& path);
bool RemoveEmptyDirectory(const std::string& path); // empty folder only
// Renames, replacing an existing destination file when replace is true.
// On Windows a file may be copied to another volume, and a copy cut short
// can leave part of it at the destination.
bool RenamePath(const std::string& from, const std::string& to, bool replace);
// A rename that never copies and never replaces: false with errno EXDEV when
// the two paths lie on different volumes.
bool RenameOnVolume(const std::string& from, const std::string& to);
// Clears read-only (and on Windows hidden/system) attributes.
bool SetNormalAttributes(const std::string& path);

struct DirEntry {
    std::string name;   // bare name, never "." or ".."
    bool isDirectory = false;
    // A symbolic link, junction or other reparse point. A tree walk must not
    // follow one into a folder outside the tree; isDirectory tells whether
    // the link itself is removed as a folder (Windows) or as a file.
    bool isLink = false;
};
// Lists a folder; false when it cannot be read.
bool ListDirectory(const std::string& path, std::vector<DirEntry>* entriesOut);

// The process's current folder.
std::string CurrentDirectory();
// A platform path for display and system calls: "\" -> "/" on POSIX, "/" -> "\" on Windows.
std::string NativePath(const std::string& path);
// The separator that NativePath produces.
char NativeSeparator();

}  // namespace fs_port
