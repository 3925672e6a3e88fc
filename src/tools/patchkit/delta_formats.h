// The delta formats patchkit writes: VCDIFF (any size, little memory) and
// bsdiff (far smaller for programs, memory about 9 times the old file, so
// only up to kBsdiffMaxFileBytes), or the smaller of the two.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "delta/vcdiff_delta.h"

enum class DeltaFormat { Vcdiff, Bsdiff, Best };

// "vcdiff", "bsdiff" or "best" into *formatOut; false for any other text.
[[nodiscard]] bool ParseDeltaFormat(const std::string& text, DeltaFormat* formatOut);
const char* DeltaFormatName(DeltaFormat format);

// What a delta file costs, the smaller the better; false when it cannot be
// measured.
using DeltaCost = std::function<bool(const std::string& path, uint64_t* costOut)>;

// Writes deltaPath in the format asked. Best makes the VCDIFF delta and,
// when both files are within bsdiff's limit, the bsdiff one beside it, and
// keeps the one that costs less (the file's bytes when cost is empty); a
// bsdiff run that fails leaves the VCDIFF delta. *madeOut (may be null) gets
// the format written.
[[nodiscard]] DeltaResult EncodeDeltaAs(DeltaFormat format, const std::string& oldPath,
                                        const std::string& newPath, const std::string& deltaPath,
                                        const DeltaEncodeOptions& options, const DeltaCost& cost,
                                        DeltaFormat* madeOut);
