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

// A program's code as a linker lays it out: records of an address, a call
// target and eight bytes of instructions. A build that inserts shift bytes
// at record shiftAt moves every address past it, as a small source change
// does: a change every 16 bytes, each the same.
inline std::string ProgramBuild(uint32_t records, uint32_t shiftAt, uint32_t shift) {
    const std::string code = Noise(64 * 8, 11);
    const auto moved = [&](uint32_t record) { return 0x401000u + 16u * record + (record >= shiftAt ? shift : 0); };
    std::string out;
    for (uint32_t i = 0; i < records; ++i) {
        if (i == shiftAt) out.append(shift, '\x90');
        for (const uint32_t word : {moved(i), moved(i * 7919u % records)}) {
            for (int b = 0; b < 4; ++b) out += static_cast<char>(word >> (8 * b));
        }
        out.append(code, (i % 64) * 8, 8);
    }
    return out;
}

// path + "\" + name: the program's own path form, which the file port
// accepts on both sides.
inline std::string Under(const TempDir& dir, const std::string& name) {
    return dir.Path() + "\\" + name;
}

}  // namespace testdata
