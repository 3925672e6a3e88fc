// Packages: standard ZIP archives, streamed in both directions so that a
// member never has to fit in memory.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/byte_sink.h"
#include "platform/file_system.h"

// The tag our tools write as the archive comment. Opening does not require it.
constexpr const char kBundleTag[] = "VT";

struct BundleMember {
    std::string name;        // UTF-8, separators as stored ("/" or "\")
    uint64_t size = 0;       // uncompressed
    uint64_t packedSize = 0;
    uint32_t crc32 = 0;
    bool isDirectory = false;
};

// What an extraction left at its destination.
struct ExtractedFile {
    // Of the file now at the destination: read from the written file before
    // it was closed and found the same after the rename that put it there,
    // so it belongs to the bytes written. Otherwise stamped stays false.
    fs_port::FileStamp stamp;
    bool stamped = false;
};

class CBundle {
public:
    CBundle();
    ~CBundle();
    CBundle(const CBundle&) = delete;
    CBundle& operator=(const CBundle&) = delete;

    // Reading. Member names match with "\" and "/" as the same separator,
    // otherwise exactly. The tag is not checked: packages of other tools open.
    // Fails on a package that is cut off, damaged in its directory, split over
    // disks, or whose members declare sizes that cannot be true. The whole
    // directory is checked here, so a package that any member makes unsafe
    // writes nothing: an unsafe name, two names for one place, encryption, a
    // method other than stored and deflated, a symbolic link, members whose
    // data overlap, a local header that names another member.
    [[nodiscard]] bool Open(const char* path, const char* tag);
    // Streams one member to destPath, creating missing folders above it. The
    // data goes through a temporary file beside destPath that replaces it only
    // when the member's size and CRC-32 check out, so a failed or damaged
    // extraction leaves whatever was at destPath untouched. Refuses unsafe
    // names (IsSafeMemberName) and folders.
    [[nodiscard]] bool Extract(const char* memberName, const char* destPath);
    // The same, also handing every byte written to copy (may be null; its
    // refusal fails the extraction), and giving the written file's stamp in
    // fileOut (may be null).
    [[nodiscard]] bool Extract(const char* memberName, const char* destPath, ByteSink* copy,
                               ExtractedFile* fileOut);
    // The last failure of Open or Extract lay in the package itself: its
    // directory, a member it lacks, or member data that is cut off or
    // damaged. False for the disk, a stop, or a refused name or copy.
    [[nodiscard]] bool LastFailureInPackage() const;
    // From then on, an Extract under way gives up at its next block once
    // *stop is true (error "stopped"), so that a member of gigabytes does not
    // hold up a worker asked to end. Null: never.
    void SetStopFlag(const std::atomic<bool>* stop);
    // From then on, an Extract calls written with the size of each block it
    // has written, on the extracting thread. Empty: no calls.
    void SetProgress(std::function<void(uint64_t bytes)> written);
    // The members in directory order, names decoded to UTF-8.
    const std::vector<BundleMember>& Members() const;

    // Writing. The package is built beside path and replaces it at Release;
    // a package deleted before Release leaves nothing behind. The tag becomes
    // the archive comment (kBundleTag when null).
    [[nodiscard]] bool Create(const char* path, const char* tag);
    // Adds a file, deflated (or stored when that is smaller). memberName is
    // stored as given (UTF-8, flagged as such when not ASCII); unsafe or
    // repeated names are refused. A failed AddFile leaves the package as it
    // was, and further members may follow.
    [[nodiscard]] bool AddFile(const char* sourcePath, const char* memberName);
    // Writes the central directory and puts the package in place.
    bool Release();

    // Why the last call failed, for the log and the tools.
    const std::string& LastError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// True when a member name may be unpacked below a folder: not empty, not
// absolute, no drive, no ":", not UNC, no control characters, no empty, "."
// or ".." component, and no component that Win32 would trim or open as a
// device (trailing dot or space, CON, NUL, COM1, ...). One trailing
// separator (a folder member) is allowed.
bool IsSafeMemberName(const std::string& name);
