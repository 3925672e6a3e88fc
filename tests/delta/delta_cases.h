// Pairs of old and new files for the delta tests: the changes a game
// update makes to a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "external/test_data.h"

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
