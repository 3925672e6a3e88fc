// Whole-file read and write, optionally enciphered with the launcher's file
// key (format and integrity check: sealed_content.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

enum AccessMode : int32_t { ModeWrite = 1, ModeRead = 2 };

using FileKey = std::array<uint32_t, 5>;

// The five key words of the launcher's data files (config.data, the update
// and delete lists, version.data). Obfuscation against casual edits only.
const FileKey& LauncherFileKey();

// Largest file that a whole-file read accepts; the lists come from the
// network and must not exhaust memory.
constexpr size_t kMaxWholeFileBytes = 64u * 1024u * 1024u;

class CFastFile {
public:
    explicit CFastFile(AccessMode mode);
    ~CFastFile();
    CFastFile(const CFastFile&) = delete;
    CFastFile& operator=(const CFastFile&) = delete;

    // modeText is "r+" with ModeRead and "w+" with ModeWrite; other pairs are
    // refused. Path is UTF-8. Reading opens the file read-only, so a file
    // with the read-only attribute still reads. Writing goes to a temporary
    // file beside the path that Write renames over it: an interrupted or
    // failed write leaves the old file as it was.
    [[nodiscard]] bool Open(const char* path, const char* modeText);
    // The whole content with a NUL after it; *sizeOut is its length without the
    // NUL. Null when nothing can be read, the file is too large, or (with
    // deciphered) the file is not intact under this key. The buffer is the caller's.
    std::unique_ptr<char[]> Read(size_t* sizeOut, const FileKey* key, bool deciphered);
    // Writes text (up to its NUL) as the whole file, enciphered under key when
    // asked. One Write per Open: it finishes the file.
    [[nodiscard]] bool Write(const char* text, const FileKey* key, bool enciphered);
    // Same for content that may hold NUL bytes.
    [[nodiscard]] bool WriteBytes(const void* data, size_t size, const FileKey* key, bool enciphered);
    void Close();

private:
    [[nodiscard]] bool CommitWrite();
    void DiscardWrite();

    AccessMode m_mode;
    std::FILE* m_file = nullptr;
    std::string m_path;       // the file named by Open
    std::string m_tempPath;   // writing only: where the content goes first
};

// Convenience for the callers: open, read, close. False when there is no
// content (nothing readable, or a content whose first character is NUL).
bool ReadWholeFile(const std::string& path, const FileKey* key, bool deciphered,
                   std::string* contentOut);
