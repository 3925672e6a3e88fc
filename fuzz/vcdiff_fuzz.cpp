// Deltas applied to a small fixed old file: the input is the delta, as a
// hostile server or a damaged download could hand it to the launcher. Both
// files are memory streams and the new bytes are counted, not kept, so a run
// touches no disk; the output is capped like a full disk would cap it.
// Whatever the delta says, the apply must end with a result, within the
// memory cap of the decoder, and a success must have written what it reports.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "delta/vcdiff_delta.h"
#include "platform/byte_sink.h"

namespace {

// Far more than any seed makes, little enough that a delta of runs that
// claims gigabytes ends fast (as a write failure).
constexpr size_t kMaxOutputBytes = 64u << 20;

// The old file: 96 KiB of text and noise, the same in every run.
const std::string& OldFile() {
    static const std::string old = [] {
        std::string text;
        uint32_t x = 2463534242u;
        for (uint32_t i = 0; text.size() < 96u * 1024u; ++i) {
            text += "record " + std::to_string(i) + " ";
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            text.append(reinterpret_cast<const char*>(&x), sizeof x);
        }
        return text;
    }();
    return old;
}

class CountingSink : public ByteSink {
public:
    [[nodiscard]] bool Write(const char*, size_t size) override {
        if (size > kMaxOutputBytes - m_count) return false;
        m_count += size;
        return true;
    }
    size_t Count() const { return m_count; }

private:
    size_t m_count = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& old = OldFile();
    std::FILE* source = fmemopen(const_cast<char*>(old.data()), old.size(), "rb");
    // fmemopen refuses an empty buffer: an empty delta is a file with nothing in it.
    std::FILE* delta = size ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : std::tmpfile();
    if (!source || !delta) __builtin_trap();
    CountingSink sink;
    const DeltaResult result =
        ApplyDeltaStreams(source, static_cast<int64_t>(old.size()), delta, "fuzz", &sink, nullptr, nullptr);
    if (result.ok != result.error.empty()) __builtin_trap();
    if (result.ok && result.written != static_cast<int64_t>(sink.Count())) __builtin_trap();
    std::fclose(source);
    std::fclose(delta);
    return 0;
}
