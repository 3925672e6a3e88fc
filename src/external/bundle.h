// Packages: standard ZIP archives, streamed in both directions so that a
// member never has to fit in memory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// The tag our tools write as the archive comment. Opening does not require it.
constexpr const char kBundleTag[] = "VT";

struct BundleMember {
    std::string name;        // UTF-8, separators as stored ("/" or "\")
    uint64_t size = 0;       // uncompressed
    uint64_t packedSize = 0;
    uint32_t crc32 = 0;
    bool isDirectory = false;
};

class CBundle {
public:
    CBundle();
    ~CBundle();
    CBundle(const CBundle&) = delete;
    CBundle& operator=(const CBundle&) = delete;

    // Reading. Member names match with "\" and "/" as the same separator.
    [[nodiscard]] bool Open(const char* path, const char* tag);
    // Streams one member to destPath (through a temporary file beside it, so
    // a failed or corrupt extraction leaves nothing at destPath).
    [[nodiscard]] bool Extract(const char* memberName, const char* destPath);
    const std::vector<BundleMember>& Members() const;

    // Writing.
    [[nodiscard]] bool Create(const char* path, const char* tag);
    [[nodiscard]] bool AddFile(const char* sourcePath, const char* memberName);
    // Writes the central directory and closes the package.
    bool Release();

    // Why the last call failed, for the log and the tools.
    const std::string& LastError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// True when a member name may be unpacked below a folder: not empty, not
// absolute, no drive, no ":", no "." or ".." component, not UNC.
bool IsSafeMemberName(const std::string& name);
