// Binary deltas in the BSDIFF40 format: made by Debian's bsdiff 4.3 encoder
// (suffix sorting of the old file: far smaller deltas than VCDIFF for
// programs, whose code moves and whose addresses shift with every build),
// applied by our own streaming decoder in bounded memory. ApplyDeltaFile
// (vcdiff_delta.h) tells the two formats apart by their first bytes.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "delta/vcdiff_delta.h"

class ByteSink;

// The delta's first eight bytes.
constexpr char kBsdiffMagic[] = "BSDIFF40";
constexpr size_t kBsdiffMagicBytes = 8;

// The encoder holds the old file, its suffix array (eight bytes a byte of
// it while sorting) and the new file three times: about 9 times the old
// file. It refuses an old or a new file above this size; the operator's
// tools then make a VCDIFF delta instead. A 32-bit program has less room.
constexpr int64_t kBsdiffMaxFileBytes = sizeof(void*) >= 8 ? 512ll << 20 : 128ll << 20;

// Writes to deltaPath the BSDIFF40 delta that turns sourcePath into
// targetPath, through deltaPath + ".part" like EncodeDeltaFile. Either file
// above kBsdiffMaxFileBytes gives DeltaFault::Unsupported.
[[nodiscard]] DeltaResult EncodeBsdiffFile(const std::string& sourcePath, const std::string& targetPath,
                                           const std::string& deltaPath);

// What bzip2's three decoders may allocate together: each needs under 4 MiB
// for the largest block size (bzip2 -9, which bsdiff uses).
constexpr size_t kBsdiffApplyMemoryLimit = 16u << 20;

// Applies a BSDIFF40 delta of deltaSize bytes (delta is read at any offset)
// to the old file of sourceSize bytes, the new bytes into sink, as
// ApplyDeltaStreams does for VCDIFF. The delta cannot make the decoder read
// outside the old file, write past the new size its header gives, or hold
// more than kBsdiffApplyMemoryLimit: any of these is DeltaFault::Damaged.
[[nodiscard]] DeltaResult ApplyBsdiffStreams(std::FILE* source, int64_t sourceSize, std::FILE* delta,
                                             int64_t deltaSize, const std::string& deltaName, ByteSink* sink,
                                             const std::atomic<bool>* stop,
                                             const std::function<void(int64_t, int64_t)>& progress);
