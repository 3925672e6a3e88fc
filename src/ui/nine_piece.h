// Where the owner-drawn static puts its images: one image stretched over the
// whole control, or a frame of nine pieces (four corners, four edges, the
// centre) laid out in a 3 x 3 grid, each piece at its own size.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "ui/skin_region.h"

constexpr int32_t kPieceCount = 9;

// Index of each piece, row by row.
enum PieceIndex : int32_t {
    kPieceTopLeft = 0,
    kPieceTop,
    kPieceTopRight,
    kPieceLeft,
    kPieceCentre,
    kPieceRight,
    kPieceBottomLeft,
    kPieceBottom,
    kPieceBottomRight,
};

struct PieceSize {
    bool present = false;
    int32_t width = 0;
    int32_t height = 0;
};

struct PiecePlacement {
    int32_t index = 0;
    PixelRect rect;  // where the piece is drawn, at the size it is drawn
};

// Piece 0 alone: stretched from the client's top-left corner over its right
// and bottom coordinates. All nine: each at its own size, right of the pieces
// before it in its row and below the pieces above it in its column, in index
// order. Piece 0 missing, or some but not all of pieces 1 to 8: nothing.
[[nodiscard]] std::vector<PiecePlacement> LayoutPieces(const std::array<PieceSize, kPieceCount>& pieces,
                                                       const PixelRect& client);
