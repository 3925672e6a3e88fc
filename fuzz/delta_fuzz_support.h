// What the delta fuzz targets share: the old file every delta is applied to
// and a sink that counts the new bytes instead of keeping them, capped like a
// full disk would cap them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/byte_sink.h"

namespace delta_fuzz {

// Far more than any seed makes, little enough that a delta that claims
// gigabytes ends fast (as a write failure).
constexpr size_t kMaxOutputBytes = 64u << 20;

// The old file: 96 KiB of text and noise, the same in every run (the seeds
// of both kinds are made from it).
inline const std::string& OldFile() {
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

}  // namespace delta_fuzz
