#include "ui/skin_region.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

// A picture drawn with characters: '.' is the key colour, 'b' the colour one
// step off the key (red 255, green 0, blue 254), anything else opaque grey.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> colours;  // 0x00BBGGRR, row by row from the top

    uint32_t At(int32_t x, int32_t y) const { return colours[static_cast<size_t>(y * width + x)]; }
};

Picture Draw(const std::vector<std::string>& rows) {
    Picture p;
    p.height = static_cast<int32_t>(rows.size());
    p.width = rows.empty() ? 0 : static_cast<int32_t>(rows[0].size());
    for (const std::string& row : rows) {
        for (char c : row) {
            p.colours.push_back(c == '.' ? kSkinKeyColour : c == 'b' ? 0x00FE00FFu : 0x00808080u);
        }
    }
    return p;
}

// The picture as a 24-bit DIB with padded rows; padding bytes hold the key so
// that a scan reading them would show it.
std::vector<uint8_t> ToDib(const Picture& p, bool bottomUp) {
    const size_t stride = DibStride24(p.width);
    std::vector<uint8_t> bits(stride * static_cast<size_t>(p.height), 0xFF);
    for (int32_t y = 0; y < p.height; ++y) {
        const int32_t memoryRow = bottomUp ? p.height - 1 - y : y;
        uint8_t* row = bits.data() + static_cast<size_t>(memoryRow) * stride;
        for (int32_t x = 0; x < p.width; ++x) {
            const uint32_t c = p.At(x, y);
            row[x * 3 + 0] = static_cast<uint8_t>(c >> 16);  // blue
            row[x * 3 + 1] = static_cast<uint8_t>(c >> 8);   // green
            row[x * 3 + 2] = static_cast<uint8_t>(c);        // red
        }
        for (size_t pad = static_cast<size_t>(p.width) * 3; pad < stride; ++pad) {
            row[pad] = (pad % 3 == 1) ? 0x00 : 0xFF;
        }
    }
    return bits;
}

std::vector<PixelRect> ScanPicture(const Picture& p) {
    return ScanKeyRuns(p.width, p.height, [&p](int32_t x, int32_t y) { return p.At(x, y); });
}

// How often each pixel is covered by the rectangles.
std::vector<int> Coverage(const std::vector<PixelRect>& rects, int32_t width, int32_t height) {
    std::vector<int> cover(static_cast<size_t>(width * height), 0);
    for (const PixelRect& r : rects) {
        for (int32_t y = r.top; y < r.bottom; ++y) {
            for (int32_t x = r.left; x < r.right; ++x) {
                ++cover[static_cast<size_t>(y * width + x)];
            }
        }
    }
    return cover;
}

struct ScanCase {
    const char* name;
    std::vector<std::string> rows;
    std::vector<PixelRect> runs;
};

TEST(SkinRegion, ScanYieldsOneRectanglePerRunRowByRow) {
    const std::vector<ScanCase> cases = {
        {"no key pixel: one full-width run per row", {"####", "####", "####"},
         {{0, 0, 4, 1}, {0, 1, 4, 2}, {0, 2, 4, 3}}},
        {"a row of key adds nothing", {"###", "...", "###"}, {{0, 0, 3, 1}, {0, 2, 3, 3}}},
        {"all key: nothing", {"...", "..."}, {}},
        {"opaque to a, key to b, opaque to the end", {"##...###"}, {{0, 0, 2, 1}, {5, 0, 8, 1}}},
        {"enclosed key pixel is a hole", {"###", "#.#", "###"},
         {{0, 0, 3, 1}, {0, 1, 1, 2}, {2, 1, 3, 2}, {0, 2, 3, 3}}},
        {"single opaque pixel", {"...", ".#.", "..."}, {{1, 1, 2, 2}}},
        {"key at both image edges", {".##.", "#..#"}, {{1, 0, 3, 1}, {0, 1, 1, 2}, {3, 1, 4, 2}}},
        {"blue 254 is not the key", {".b."}, {{1, 0, 2, 1}}},
        {"runs left to right", {"#.#.#"}, {{0, 0, 1, 1}, {2, 0, 3, 1}, {4, 0, 5, 1}}},
        {"one pixel picture", {"#"}, {{0, 0, 1, 1}}},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Picture p = Draw(c.rows);
        EXPECT_EQ(ScanPicture(p), c.runs);
        for (bool bottomUp : {true, false}) {
            const std::vector<uint8_t> dib = ToDib(p, bottomUp);
            PixelBuffer24 buffer{dib.data(), dib.size(), p.width, p.height, DibStride24(p.width), bottomUp};
            EXPECT_EQ(ScanKeyRuns(buffer), c.runs) << (bottomUp ? "bottom-up" : "top-down");
        }
    }
}

TEST(SkinRegion, RefusesBuffersThatDoNotHoldTheirPicture) {
    const Picture p = Draw({"###", "###"});
    std::vector<uint8_t> dib = ToDib(p, true);
    const size_t stride = DibStride24(p.width);
    struct Case {
        const char* name;
        PixelBuffer24 buffer;
    } cases[] = {
        // the last row needs its pixels but not its padding
        {"last pixel cut", {dib.data(), stride + 3 * 3 - 1, p.width, p.height, stride, true}},
        {"stride below the row", {dib.data(), dib.size(), p.width, p.height, 8, true}},
        {"no bits", {nullptr, dib.size(), p.width, p.height, stride, true}},
        {"zero width", {dib.data(), dib.size(), 0, p.height, stride, true}},
        {"negative height", {dib.data(), dib.size(), p.width, -2, stride, true}},
        {"side over the limit", {dib.data(), dib.size(), kMaxSkinSide + 1, 1, stride, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(ScanKeyRuns(c.buffer).empty());
    }
    EXPECT_TRUE(ScanKeyRuns(0, 5, [](int32_t, int32_t) { return 0u; }).empty());
    const PixelBuffer24 unpaddedEnd{dib.data(), stride + 3 * 3, p.width, p.height, stride, true};
    EXPECT_EQ(ScanKeyRuns(unpaddedEnd).size(), 2u);
}

TEST(SkinRegion, DibStrideRoundsRowsToFourBytes) {
    const std::pair<int32_t, size_t> cases[] = {{1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}, {820, 2460}, {0, 0}};
    for (const auto& [width, stride] : cases) {
        EXPECT_EQ(DibStride24(width), stride) << width;
    }
}

TEST(SkinRegion, MergeJoinsOnlyIdenticalSpansOfConsecutiveRows) {
    struct Case {
        const char* name;
        std::vector<std::string> rows;
        std::vector<PixelRect> merged;
    };
    const std::vector<Case> cases = {
        {"solid block is one rectangle", {"###", "###", "###"}, {{0, 0, 3, 3}}},
        {"two columns stay two", {"#.#", "#.#"}, {{0, 0, 1, 2}, {2, 0, 3, 2}}},
        {"a key row splits the block", {"##", "..", "##"}, {{0, 0, 2, 1}, {0, 2, 2, 3}}},
        {"wider row starts anew", {"#.", "##", "##"}, {{0, 0, 1, 1}, {0, 1, 2, 3}}},
        {"same left, other right", {"##..", "###.", "###."}, {{0, 0, 2, 1}, {0, 1, 3, 3}}},
        {"hole in the middle", {"###", "#.#", "###"},
         {{0, 0, 3, 1}, {0, 1, 1, 2}, {2, 1, 3, 2}, {0, 2, 3, 3}}},
        {"span ends and resumes", {"#.#", "..#", "#.#"}, {{0, 0, 1, 1}, {2, 0, 3, 3}, {0, 2, 1, 3}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MergeRuns(ScanPicture(Draw(c.rows))), c.merged);
    }
}

// The merged rectangles must cover exactly the pixels of the run-by-run
// union, each once, on pictures with every kind of outline.
TEST(SkinRegion, MergedRectanglesCoverExactlyTheRunUnionOnRandomPictures) {
    std::mt19937 random(20240607);
    for (int round = 0; round < 300; ++round) {
        const int32_t width = 1 + static_cast<int32_t>(random() % 40);
        const int32_t height = 1 + static_cast<int32_t>(random() % 40);
        // Blocky pictures (repeated rows) as well as noise.
        const unsigned keyShare = random() % 100;
        const bool blocky = round % 2 == 0;
        Picture p{width, height, {}};
        std::vector<uint32_t> previous;
        for (int32_t y = 0; y < height; ++y) {
            std::vector<uint32_t> row;
            if (blocky && y > 0 && random() % 4 != 0) {
                row = previous;
            } else {
                for (int32_t x = 0; x < width; ++x) {
                    row.push_back(random() % 100 < keyShare ? kSkinKeyColour : 0x00102030u);
                }
            }
            p.colours.insert(p.colours.end(), row.begin(), row.end());
            previous = row;
        }
        const std::vector<PixelRect> runs = ScanPicture(p);
        const std::vector<PixelRect> merged = MergeRuns(runs);
        const std::vector<int> runCover = Coverage(runs, width, height);
        const std::vector<int> mergedCover = Coverage(merged, width, height);
        ASSERT_EQ(mergedCover, runCover) << "round " << round;
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                ASSERT_EQ(runCover[static_cast<size_t>(y * width + x)], p.At(x, y) == kSkinKeyColour ? 0 : 1)
                    << "round " << round << " at " << x << "," << y;
            }
        }
        ASSERT_LE(merged.size(), runs.size());
        std::vector<uint8_t> dib = ToDib(p, round % 3 == 0);
        PixelBuffer24 buffer{dib.data(), dib.size(), width, height, DibStride24(width), round % 3 == 0};
        ASSERT_EQ(BuildKeyRectangles(buffer), merged) << "round " << round;
    }
}

TEST(SkinRegion, MergeKeepsTheCountLowOnAShapedSkin) {
    // A 200 x 150 skin with rounded corners and a hole: rows in the middle are
    // identical, so the middle collapses to a few rectangles.
    Picture p{200, 150, {}};
    for (int32_t y = 0; y < p.height; ++y) {
        for (int32_t x = 0; x < p.width; ++x) {
            const int32_t dx = x < 10 ? 10 - x : x >= 190 ? x - 189 : 0;
            const int32_t dy = y < 10 ? 10 - y : y >= 140 ? y - 139 : 0;
            const bool corner = dx * dx + dy * dy > 100;
            const bool hole = x >= 90 && x < 110 && y >= 5 && y < 20;
            p.colours.push_back(corner || hole ? kSkinKeyColour : 0x00203040u);
        }
    }
    const std::vector<PixelRect> runs = ScanPicture(p);
    const std::vector<PixelRect> merged = MergeRuns(runs);
    EXPECT_EQ(Coverage(merged, p.width, p.height), Coverage(runs, p.width, p.height));
    EXPECT_GT(runs.size(), 150u);
    EXPECT_LT(merged.size(), 60u);
}

}  // namespace
