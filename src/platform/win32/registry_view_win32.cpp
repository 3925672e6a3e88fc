#include "platform/win32/registry_view_win32.h"

#include <cwchar>
#include <vector>

#include "platform/win32/wide.h"
#include "sysinfo/system_readings.h"

bool ReadRegistryText(HKEY key, const std::string& name, size_t maxChars, std::string* textOut) {
    if (maxChars == 0) return false;
    // One unit more than offered to the call, so the text always ends in a zero
    // even when the stored value has none.
    std::vector<wchar_t> buffer(maxChars + 1, L'\0');
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(maxChars * sizeof(wchar_t));
    const LONG rc = RegQueryValueExW(key, ToWide(name).c_str(), nullptr, &type,
                                     reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (rc != ERROR_SUCCESS || size == 0) return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return false;
    const size_t units = wcsnlen(buffer.data(), size / sizeof(wchar_t));
    *textOut = FromWide(std::wstring_view(buffer.data(), units));
    return true;
}

bool ReadRegistryNumber(HKEY key, const std::string& name, uint32_t* numberOut) {
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    const LONG rc = RegQueryValueExW(key, ToWide(name).c_str(), nullptr, &type,
                                     reinterpret_cast<BYTE*>(&value), &size);
    if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return false;
    *numberOut = value;
    return true;
}

bool CRegistryKey::Open(HKEY parent, const std::string& path) {
    Close();
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, ToWide(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    m_hKey = key;
    return true;
}

void CRegistryKey::Close() {
    if (m_hKey) RegCloseKey(m_hKey);
    m_hKey = nullptr;
}

HKEY CRegistryViewWin32::ToHandle(Key key) const {
    return key == kRootKey ? m_hRoot : reinterpret_cast<HKEY>(key);
}

bool CRegistryViewWin32::OpenKey(Key parent, const std::string& path, Key* keyOut) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(ToHandle(parent), ToWide(path).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    *keyOut = reinterpret_cast<Key>(key);
    return true;
}

void CRegistryViewWin32::CloseKey(Key key) {
    if (key != kRootKey) RegCloseKey(reinterpret_cast<HKEY>(key));
}

bool CRegistryViewWin32::EnumSubKey(Key key, uint32_t index, std::string* nameOut) {
    std::vector<wchar_t> name(kWalkTextMaxChars + 1, L'\0');
    DWORD length = static_cast<DWORD>(kWalkTextMaxChars);
    if (RegEnumKeyExW(ToHandle(key), index, name.data(), &length, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS) {
        return false;
    }
    *nameOut = FromWide(std::wstring_view(name.data(), length));
    return true;
}

bool CRegistryViewWin32::ReadText(Key key, const std::string& name, size_t maxChars,
                                  std::string* textOut) {
    return ReadRegistryText(ToHandle(key), name, maxChars, textOut);
}

bool CRegistryViewWin32::ReadNumber(Key key, const std::string& name, uint32_t* numberOut) {
    return ReadRegistryNumber(ToHandle(key), name, numberOut);
}
