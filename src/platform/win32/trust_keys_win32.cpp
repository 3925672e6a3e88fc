// The Windows programs carry the keys as the RCDATA resource IDR_TRUST_KEYS.
#include <windows.h>

#include "resource.h"
#include "trust/built_in_keys.h"

std::string BuiltInTrustKeysText() {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_TRUST_KEYS), RT_RCDATA);
    if (!found) return std::string();
    HGLOBAL loaded = LoadResource(nullptr, found);
    const DWORD size = SizeofResource(nullptr, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    return bytes ? std::string(static_cast<const char*>(bytes), size) : std::string();
}
