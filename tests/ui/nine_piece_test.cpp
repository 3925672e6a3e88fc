#include "ui/nine_piece.h"

#include <gtest/gtest.h>

namespace {

using Pieces = std::array<PieceSize, kPieceCount>;

Pieces Frame(int32_t corner, int32_t stretchedWidth, int32_t stretchedHeight) {
    Pieces p;
    for (int32_t i = 0; i < kPieceCount; ++i) {
        const bool wide = i == kPieceTop || i == kPieceCentre || i == kPieceBottom;
        const bool tall = i == kPieceLeft || i == kPieceCentre || i == kPieceRight;
        p[i] = PieceSize{true, wide ? stretchedWidth : corner, tall ? stretchedHeight : corner};
    }
    return p;
}

TEST(NinePiece, FrameOfTwentyPixelCornersCoversTheStretchedEdges) {
    const std::vector<PiecePlacement> placed = LayoutPieces(Frame(20, 678, 370), PixelRect{0, 0, 760, 500});
    ASSERT_EQ(placed.size(), 9u);
    const PixelRect expected[] = {
        {0, 0, 20, 20},     {20, 0, 698, 20},     {698, 0, 718, 20},
        {0, 20, 20, 390},   {20, 20, 698, 390},   {698, 20, 718, 390},
        {0, 390, 20, 410},  {20, 390, 698, 410},  {698, 390, 718, 410},
    };
    for (int32_t i = 0; i < kPieceCount; ++i) {
        EXPECT_EQ(placed[static_cast<size_t>(i)].index, i);
        EXPECT_EQ(placed[static_cast<size_t>(i)].rect, expected[i]) << "piece " << i;
    }
}

// Each piece follows the sizes of the pieces before it in its own row and
// above it in its own column, not those of its neighbours' rows or columns.
TEST(NinePiece, EachPieceFollowsItsOwnRowAndColumn) {
    Pieces p;
    const int32_t sizes[9][2] = {{1, 10}, {2, 20}, {3, 30}, {4, 40}, {5, 50}, {6, 60}, {7, 70}, {8, 80}, {9, 90}};
    for (int32_t i = 0; i < kPieceCount; ++i) {
        p[i] = PieceSize{true, sizes[i][0], sizes[i][1]};
    }
    const std::vector<PiecePlacement> placed = LayoutPieces(p, PixelRect{100, 200, 400, 600});
    ASSERT_EQ(placed.size(), 9u);
    const int32_t origins[9][2] = {
        {100, 200}, {101, 200}, {103, 200},
        {100, 210}, {104, 220}, {109, 230},
        {100, 250}, {107, 270}, {115, 290},
    };
    for (int32_t i = 0; i < kPieceCount; ++i) {
        const PixelRect& r = placed[static_cast<size_t>(i)].rect;
        EXPECT_EQ(r.left, origins[i][0]) << "piece " << i;
        EXPECT_EQ(r.top, origins[i][1]) << "piece " << i;
        EXPECT_EQ(r.right - r.left, sizes[i][0]) << "piece " << i;
        EXPECT_EQ(r.bottom - r.top, sizes[i][1]) << "piece " << i;
    }
}

TEST(NinePiece, SingleImageStretchesAndIncompleteFramesDrawNothing) {
    struct Case {
        const char* name;
        std::vector<int32_t> present;
        size_t placed;
    };
    const Case cases[] = {
        {"piece 0 alone is stretched", {0}, 1},
        {"no piece", {}, 0},
        {"frame without piece 0", {1, 2, 3, 4, 5, 6, 7, 8}, 0},
        {"frame missing one edge", {0, 1, 2, 3, 4, 5, 6, 8}, 0},
        {"frame missing the centre", {0, 1, 2, 3, 5, 6, 7, 8}, 0},
        {"piece 0 and one other", {0, 8}, 0},
        {"whole frame", {0, 1, 2, 3, 4, 5, 6, 7, 8}, 9},
    };
    const PixelRect client{0, 0, 140, 60};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Pieces p;
        for (int32_t i : c.present) {
            p[i] = PieceSize{true, 20, 20};
        }
        const std::vector<PiecePlacement> placed = LayoutPieces(p, client);
        ASSERT_EQ(placed.size(), c.placed);
        if (c.placed == 1) {
            EXPECT_EQ(placed[0].index, 0);
            EXPECT_EQ(placed[0].rect, (PixelRect{0, 0, 140, 60}));
        }
    }
}

}  // namespace
