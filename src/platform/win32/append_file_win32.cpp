#include "platform/append_file.h"

#include <windows.h>

#include "platform/file_system.h"
#include "platform/win32/wide.h"

namespace fs_port {

namespace {

// Through a handle with write rights, moving to the end and writing are two
// steps, between which another process can write there too. A handle with
// append rights only would keep a failed write from being cut off again, and
// Wine does not keep its appends whole either. So every append of every
// process of ours takes this one named lock.
constexpr wchar_t kAppendLockName[] = L"Local\\VantorelAppendFileLock";
constexpr DWORD kLockWaitMs = 2000;

HANDLE AsHandle(intptr_t value) { return reinterpret_cast<HANDLE>(value); }

// The named lock, opened once per process and held until it ends: every
// AppendFile of the process takes the same one. Null when it cannot be had.
HANDLE SharedAppendLock() {
    static const HANDLE lock = CreateMutexW(nullptr, FALSE, kAppendLockName);
    return lock;
}

// Holds the named lock for one append. When it cannot be had in time (a
// process hangs while holding it) the append goes ahead unguarded: a log must
// never stop its program.
class LockHold {
public:
    explicit LockHold(HANDLE mutex) : m_mutex(mutex) {
        // An owner that died while holding it leaves it abandoned, which
        // still hands it to us.
        const DWORD wait = m_mutex ? WaitForSingleObject(m_mutex, kLockWaitMs) : WAIT_FAILED;
        m_owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    }
    ~LockHold() {
        if (m_owned) ReleaseMutex(m_mutex);
    }
    LockHold(const LockHold&) = delete;
    LockHold& operator=(const LockHold&) = delete;

private:
    HANDLE m_mutex;
    bool m_owned = false;
};

}  // namespace

AppendFile::~AppendFile() { Close(); }

bool AppendFile::Open(const std::string& path) {
    Close();
    HANDLE handle = CreateFileW(ToWide(NativePath(path)).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    m_handle = reinterpret_cast<intptr_t>(handle);
    return true;
}

void AppendFile::Close() {
    if (m_handle != -1) CloseHandle(AsHandle(m_handle));
    m_handle = -1;
}

bool AppendFile::IsOpen() const { return m_handle != -1; }

bool AppendFile::Append(std::string_view bytes) {
    if (m_handle == -1 || bytes.size() > static_cast<size_t>(MAXDWORD)) return false;
    HANDLE file = AsHandle(m_handle);
    LockHold hold(SharedAppendLock());
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file, LARGE_INTEGER{}, &start, FILE_END)) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    if (ok && written == bytes.size()) return true;
    if (written > 0 && SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) SetEndOfFile(file);
    return false;
}

}  // namespace fs_port
