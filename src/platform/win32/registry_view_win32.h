// The registry through wide calls, read-only, with UTF-8 names and texts.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "sysinfo/display_adapter_walk.h"

// A text value (REG_SZ, REG_EXPAND_SZ unexpanded, or the first string of a
// REG_MULTI_SZ) that fits in maxChars UTF-16 units with its terminating zero.
// A missing, empty-sized, longer or non-text value gives false.
[[nodiscard]] bool ReadRegistryText(HKEY key, const std::string& name, size_t maxChars,
                                    std::string* textOut);
// A REG_DWORD value.
[[nodiscard]] bool ReadRegistryNumber(HKEY key, const std::string& name, uint32_t* numberOut);

// An open registry key, closed when the object goes.
class CRegistryKey {
public:
    CRegistryKey() = default;
    ~CRegistryKey() { Close(); }
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    // Opens path below parent for reading.
    [[nodiscard]] bool Open(HKEY parent, const std::string& path);
    void Close();
    HKEY Get() const { return m_hKey; }

private:
    HKEY m_hKey = nullptr;
};

// The view below a given root key (HKEY_LOCAL_MACHINE for the real walk).
// Keys handed out must be closed through CloseKey.
class CRegistryViewWin32 final : public IRegistryView {
public:
    explicit CRegistryViewWin32(HKEY root) : m_hRoot(root) {}

    bool OpenKey(Key parent, const std::string& path, Key* keyOut) override;
    void CloseKey(Key key) override;
    bool EnumSubKey(Key key, uint32_t index, std::string* nameOut) override;
    bool ReadText(Key key, const std::string& name, size_t maxChars,
                  std::string* textOut) override;
    bool ReadNumber(Key key, const std::string& name, uint32_t* numberOut) override;

private:
    HKEY ToHandle(Key key) const;

    HKEY m_hRoot;
};
