// Access to the resources linked into the running test program.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

inline HMODULE Self() { return GetModuleHandleW(nullptr); }

struct Bytes {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// The raw bytes of one resource, or none.
inline Bytes ResourceBytes(int id, LPCWSTR type) {
    HRSRC found = FindResourceW(Self(), MAKEINTRESOURCEW(id), type);
    if (found == nullptr) return {};
    const void* data = LockResource(LoadResource(Self(), found));
    return {static_cast<const uint8_t*>(data), SizeofResource(Self(), found)};
}
