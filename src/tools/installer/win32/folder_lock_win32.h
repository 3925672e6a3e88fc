// The name of the mutex that keeps a second installer out of a folder in
// which one is working: named after the folder (case folded, hashed to fit
// a kernel object name), so that installers of two game copies never wait
// for each other.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>

#include "platform/win32/wide.h"

inline std::wstring FolderLockName(const std::string& folder) {
    std::wstring key = ToWide(folder);
    CharLowerBuffW(key.data(), static_cast<DWORD>(key.size()));
    uint32_t hash = 2166136261u;
    for (const wchar_t c : key) hash = (hash ^ static_cast<uint32_t>(c)) * 16777619u;
    wchar_t name[64];
    std::swprintf(name, 64, L"Local\\VantorelPath-%08x", static_cast<unsigned>(hash));
    return name;
}
