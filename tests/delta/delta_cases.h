// Pairs of old and new files for the delta tests: the changes a game
// update makes to a file.
#pragma once

#include <bzlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "package/test_data.h"
#include "platform/file_system.h"

namespace deltacases {

struct DeltaCase {
    const char* name;
    std::string oldContent;
    std::string newContent;
    int64_t maxDeltaBytes;  // a delta that grows past this copies too little
};

inline std::string Cut(const std::string& text, size_t at, size_t count) {
    return text.substr(0, at) + text.substr(at + count);
}

inline std::vector<DeltaCase> Cases() {
    using testdata::Lines;
    using testdata::Noise;
    const std::string base = Noise(200000, 1) + Lines(200000) + Noise(200000, 2);
    const std::string blockA = base.substr(50000, 60000);
    const std::string blockB = base.substr(420000, 60000);
    const std::string moved = base.substr(0, 50000) + blockB + base.substr(110000, 310000) + blockA +
                              base.substr(480000);
    return {
        {"insertions", base, base.substr(0, 1000) + Noise(3000, 3) + base.substr(1000, 300000) +
                                 Noise(2000, 4) + base.substr(301000), 8000},
        {"deletions", base, Cut(Cut(base, 500000, 40000), 70000, 90000), 1000},
        {"moved blocks", base, moved, 1000},
        {"appended data", base, base + Noise(100000, 5), 102000},
        {"empty old file", "", base, 620000},
        {"identical files", base, base, 1000},
        {"shrinks to zero", base, "", 100},
        {"both empty", "", "", 100},
        {"spread small edits", base, [&] {
             std::string edited = base;
             for (size_t at = 7; at < edited.size(); at += 65536) edited[at] = static_cast<char>(~edited[at]);
             return edited;
         }(), 2000},
    };
}

}  // namespace deltacases

namespace deltacases {

// A VCDIFF integer (RFC 3284 section 2): base 128, most significant first.
inline std::string VarInt(uint64_t value) {
    std::string out(1, static_cast<char>(value & 0x7F));
    while (value >>= 7) out.insert(out.begin(), static_cast<char>(0x80 | (value & 0x7F)));
    return out;
}

// One piece of a target window made by hand: a copy from the source segment
// (at offset from its start) or literal bytes.
struct Piece {
    uint64_t copyOffset;
    uint64_t copySize;  // 0: add the bytes instead
    std::string bytes;
};

// A one-window delta in the default code table (ADD with explicit size is
// opcode 1, COPY mode 0 with explicit size opcode 19), reading the source
// segment [segmentStart, segmentStart + segmentSize): a delta the tests can
// aim at any offset of a large old file without encoding all of it.
inline std::string HandMadeDelta(uint64_t segmentStart, uint64_t segmentSize, const std::vector<Piece>& pieces) {
    std::string data, instructions, addresses;
    uint64_t targetSize = 0;
    for (const Piece& piece : pieces) {
        if (piece.copySize == 0) {
            data += piece.bytes;
            instructions += '\x01' + VarInt(piece.bytes.size());
            targetSize += piece.bytes.size();
        } else {
            instructions += '\x13' + VarInt(piece.copySize);
            addresses += VarInt(piece.copyOffset);
            targetSize += piece.copySize;
        }
    }
    const std::string encoding = VarInt(targetSize) + '\0' + VarInt(data.size()) + VarInt(instructions.size()) +
                                 VarInt(addresses.size()) + data + instructions + addresses;
    return std::string("\xD6\xC3\xC4\x00\x00\x01", 6) + VarInt(segmentSize) + VarInt(segmentStart) +
           VarInt(encoding.size()) + encoding;
}

// An old file above 4 GiB, sparse but for a block of noise near its end,
// and a delta that copies around that block and changes a few bytes in it.
struct BigSparseCase {
    std::string expected;  // the new file
};

constexpr uint64_t kBigOldBytes = (4ull << 30) + (1u << 20);
constexpr uint64_t kBigNoiseAt = (4ull << 30) + (512u << 10);

inline BigSparseCase WriteBigSparseCase(const std::string& oldPath, const std::string& deltaPath) {
    const std::string noise = testdata::Noise(256u << 10, 9);
    std::FILE* file = fs_port::OpenFile(oldPath, "wb");
    if (!file) return {};
    const bool written = fs_port::TruncateFile(file, static_cast<int64_t>(kBigOldBytes)) &&
                         fs_port::SeekFile(file, static_cast<int64_t>(kBigNoiseAt), SEEK_SET) &&
                         std::fwrite(noise.data(), 1, noise.size(), file) == noise.size();
    std::fclose(file);
    if (!written) return {};
    const uint64_t segmentStart = kBigNoiseAt - 1000;
    const std::string change = "changed near the end of a file above 4 GiB";
    WriteTextFile(deltaPath, HandMadeDelta(segmentStart, noise.size() + 1000,
                                           {{0, 100000, ""}, {0, 0, change}, {100010, noise.size() - 99010, ""}}));
    BigSparseCase big;
    big.expected = std::string(1000, '\0') + noise.substr(0, 99000) + change + noise.substr(99010);
    return big;
}

}  // namespace deltacases

namespace deltacases {

// A bsdiff delta made by hand: the header, then the control triples, the
// diff bytes and the extra bytes, each stream compressed by bzip2.
struct Control {
    int64_t add, copy, seek;
};

inline std::string BsdiffOffset(int64_t value) {
    uint64_t magnitude = static_cast<uint64_t>(value < 0 ? -value : value);
    std::string out;
    for (int i = 0; i < 8; ++i, magnitude >>= 8) out += static_cast<char>(magnitude & 0xFF);
    if (value < 0) out[7] = static_cast<char>(out[7] | 0x80);
    return out;
}

inline std::string Bzip2(const std::string& data) {
    auto size = static_cast<unsigned>(data.size() + data.size() / 100 + 600);
    std::string out(size, '\0');
    if (BZ2_bzBuffToBuffCompress(&out[0], &size, const_cast<char*>(data.data()), static_cast<unsigned>(data.size()),
                                 9, 0, 0) != BZ_OK) {
        return std::string();
    }
    out.resize(size);
    return out;
}

inline std::string HandMadeBsdiff(int64_t newSize, const std::vector<Control>& controls, const std::string& diff,
                                  const std::string& extra) {
    std::string triples;
    for (const Control& c : controls) triples += BsdiffOffset(c.add) + BsdiffOffset(c.copy) + BsdiffOffset(c.seek);
    const std::string control = Bzip2(triples), diffStream = Bzip2(diff);
    return "BSDIFF40" + BsdiffOffset(static_cast<int64_t>(control.size())) +
           BsdiffOffset(static_cast<int64_t>(diffStream.size())) + BsdiffOffset(newSize) + control + diffStream +
           Bzip2(extra);
}

}  // namespace deltacases
