// bsdiff deltas applied to a small fixed old file: the input is the delta, as
// a hostile server or a damaged download could hand it to the launcher. Both
// files are memory streams and the new bytes are counted, not kept; the
// output is capped like a full disk would cap it. Whatever the delta says,
// the apply must end with a result, within the decoders' memory cap, and a
// success must have written what it reports: exactly the header's new size.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "delta/bsdiff_delta.h"
#include "delta_fuzz_support.h"

using delta_fuzz::CountingSink;
using delta_fuzz::OldFile;

namespace {

// The new file's size as the header gives it.
int64_t NewSizeOf(const uint8_t* data, size_t size) {
    if (size < 32) return -1;
    uint64_t value = data[31] & 0x7Fu;
    for (int i = 30; i >= 24; --i) value = (value << 8) | data[i];
    // A set sign bit with no magnitude is a zero like any other.
    return (data[31] & 0x80u) && value ? -1 : static_cast<int64_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& old = OldFile();
    std::FILE* source = fmemopen(const_cast<char*>(old.data()), old.size(), "rb");
    // fmemopen refuses an empty buffer: an empty delta is a file with nothing in it.
    std::FILE* delta = size ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : std::tmpfile();
    if (!source || !delta) __builtin_trap();
    CountingSink sink;
    const DeltaResult result = ApplyBsdiffStreams(source, static_cast<int64_t>(old.size()), delta,
                                                  static_cast<int64_t>(size), "fuzz", &sink, nullptr, nullptr);
    if (result.ok != result.error.empty()) __builtin_trap();
    if (result.ok && result.written != static_cast<int64_t>(sink.Count())) __builtin_trap();
    if (result.ok && result.written != NewSizeOf(data, size)) __builtin_trap();
    std::fclose(source);
    std::fclose(delta);
    return 0;
}
