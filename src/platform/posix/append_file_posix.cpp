#include "platform/append_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_system.h"

namespace fs_port {

AppendFile::~AppendFile() { Close(); }

bool AppendFile::Open(const std::string& path) {
    Close();
    // O_APPEND: the kernel moves to the end and writes in one step, so
    // writers in other processes cannot come between.
    const int fd = ::open(NativePath(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    m_handle = fd;
    return true;
}

void AppendFile::Close() {
    if (m_handle >= 0) ::close(static_cast<int>(m_handle));
    m_handle = -1;
}

bool AppendFile::IsOpen() const { return m_handle >= 0; }

bool AppendFile::Append(std::string_view bytes) {
    if (m_handle < 0) return false;
    const int fd = static_cast<int>(m_handle);
    const off_t start = ::lseek(fd, 0, SEEK_END);
    ssize_t written;
    do {
        written = ::write(fd, bytes.data(), bytes.size());
    } while (written < 0 && errno == EINTR);
    if (written == static_cast<ssize_t>(bytes.size())) return true;
    // A short write only happens when the disk (or the file size limit) is
    // reached; a second write for the rest would no longer be one piece, so
    // the part that got out is cut off.
    if (written > 0 && start >= 0 && ::ftruncate(fd, start) != 0) {
        // The cut failed as well; the failure is reported all the same.
    }
    return false;
}

}  // namespace fs_port
