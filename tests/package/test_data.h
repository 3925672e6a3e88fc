// Contents for the package and file tests.
#pragma once

#include <cstdint>
#include <string>

#include "support/test_support.h"

namespace testdata {

// Incompressible bytes, the same for the same seed.
inline std::string Noise(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<char>(x >> 24);
    }
    return out;
}

// Text that deflate shrinks well but not to nothing.
inline std::string Lines(size_t size) {
    std::string out;
    out.reserve(size + 64);
    for (uint32_t i = 0; out.size() < size; ++i) {
        out += "line " + std::to_string(i) + " value " + std::to_string(i * 7919u % 10007u) + "\n";
    }
    out.resize(size);
    return out;
}

// path + "\" + name: the program's own path form, which the file port
// accepts on both sides.
inline std::string Under(const TempDir& dir, const std::string& name) {
    return dir.Path() + "\\" + name;
}

}  // namespace testdata
