// A file that only grows by whole records, shared with other processes that
// append to it too (two launcher instances write one log).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fs_port {

class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens (creating when missing) the file at a UTF-8 path, closing one
    // opened before. The handle is not inherited by started programs.
    [[nodiscard]] bool Open(const std::string& path);
    void Close();
    bool IsOpen() const;

    // Writes the bytes at the end of the file as one piece: records of other
    // processes that append at the same time land before or after it, never
    // inside it, and none overwrites another. When the write fails (a full
    // disk) the part that got out is cut off again, so the file never ends in
    // a broken record. Returns after the system has the data, without waiting
    // for the disk.
    [[nodiscard]] bool Append(std::string_view bytes);

private:
    intptr_t m_handle = -1;  // a descriptor on POSIX, a HANDLE on Windows
};

}  // namespace fs_port
