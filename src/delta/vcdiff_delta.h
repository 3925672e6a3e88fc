// Binary deltas in the VCDIFF format (RFC 3284), made and applied with
// xdelta3. Both directions stream: files of any size (64-bit), and applying
// runs in a bounded amount of memory whatever the sizes, as a 32-bit
// launcher needs. Paths are UTF-8.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

class ByteSink;

// How far back in the old file the encoder looks for matches around the
// position it is encoding; the operator may take more for files whose parts
// move far. Memory while encoding grows with it.
constexpr int64_t kDefaultSourceWindowBytes = 64ll * 1024 * 1024;
constexpr int64_t kMinSourceWindowBytes = 1ll * 1024 * 1024;
constexpr int64_t kMaxSourceWindowBytes = 1ll * 1024 * 1024 * 1024;
// xdelta3's compression levels: 1 fastest, 9 smallest delta.
constexpr int kDefaultDeltaLevel = 6;
constexpr int kMinDeltaLevel = 1;
constexpr int kMaxDeltaLevel = 9;

struct DeltaEncodeOptions {
    int64_t sourceWindowBytes = kDefaultSourceWindowBytes;  // clamped to the limits above
    int level = kDefaultDeltaLevel;                          // clamped to the limits above
};

// What went wrong, for callers that act on the kind (the text says it to a person).
enum class DeltaFault {
    None,
    SourceUnreadable,  // the old file cannot be opened or read
    TargetUnreadable,  // encoding: the new file cannot be opened or read
    DeltaUnreadable,   // the delta file cannot be opened or read
    NotDelta,          // not a VCDIFF delta at all
    Unsupported,       // a VCDIFF feature we do not read (secondary compression)
    Damaged,           // a broken or cut delta, or one asking for too much memory
    WrongSource,       // the old file is not the one the delta was made from
    WriteFailed,       // the output cannot be created, written or renamed in
    Stopped,           // the stop flag was raised
};

struct DeltaResult {
    bool ok = false;
    std::string error;        // one line for the status line and the log; empty on success
    int64_t written = 0;      // bytes of the output file (when ok)
    DeltaFault fault = DeltaFault::None;
};

// Writes to deltaPath the delta that turns sourcePath into targetPath. The
// delta carries an Adler-32 checksum of every window, so applying it to
// another old file fails instead of producing garbage. An empty old file
// gives a delta that simply compresses the new one.
[[nodiscard]] DeltaResult EncodeDeltaFile(const std::string& sourcePath, const std::string& targetPath,
                                          const std::string& deltaPath, const DeltaEncodeOptions& options);

// Rebuilds the new file at outPath from the old file sourcePath and the delta
// deltaPath, VCDIFF or BSDIFF40 (bsdiff_delta.h) as its first bytes say. The
// output is written beside outPath and renamed in only when complete (and,
// for VCDIFF, checked against the delta's own window checksums); on any
// failure nothing is left at outPath's side and a file already at outPath
// stays as it was. outPath may name sourcePath. stop (may be null) is read
// between output blocks; progress (may be empty) gets the bytes written so
// far and -1 as the total, which a delta does not tell (the caller knows the
// expected size). The caller checks the result's MD5.
[[nodiscard]] DeltaResult ApplyDeltaFile(const std::string& sourcePath, const std::string& deltaPath,
                                         const std::string& outPath, const std::atomic<bool>* stop,
                                         const std::function<void(int64_t done, int64_t total)>& progress);

// The same on open streams: the old file of sourceSize bytes (read at any
// offset), the delta from its current position to its end, the new bytes
// into sink. The caller owns the files and what sink does on failure.
[[nodiscard]] DeltaResult ApplyDeltaStreams(std::FILE* source, int64_t sourceSize, std::FILE* delta,
                                            const std::string& deltaName, ByteSink* sink,
                                            const std::atomic<bool>* stop,
                                            const std::function<void(int64_t done, int64_t total)>& progress);
