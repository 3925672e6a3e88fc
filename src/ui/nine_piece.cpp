#include "ui/nine_piece.h"

namespace {

PiecePlacement At(int32_t index, int32_t x, int32_t y, const PieceSize& size) {
    return PiecePlacement{index, PixelRect{x, y, x + size.width, y + size.height}};
}

}  // namespace

std::vector<PiecePlacement> LayoutPieces(const std::array<PieceSize, kPieceCount>& p, const PixelRect& client) {
    std::vector<PiecePlacement> out;
    if (!p[kPieceTopLeft].present) {
        return out;
    }
    int32_t others = 0;
    for (int32_t i = 1; i < kPieceCount; ++i) {
        others += p[i].present ? 1 : 0;
    }
    const int32_t x0 = client.left;
    const int32_t y0 = client.top;
    if (others == 0) {
        out.push_back(PiecePlacement{kPieceTopLeft, PixelRect{x0, y0, x0 + client.right, y0 + client.bottom}});
        return out;
    }
    if (others != kPieceCount - 1) {
        return out;
    }
    auto w = [&](int32_t i) { return p[i].width; };
    auto h = [&](int32_t i) { return p[i].height; };
    out.push_back(At(0, x0, y0, p[0]));
    out.push_back(At(1, x0 + w(0), y0, p[1]));
    out.push_back(At(2, x0 + w(0) + w(1), y0, p[2]));
    out.push_back(At(3, x0, y0 + h(0), p[3]));
    out.push_back(At(4, x0 + w(3), y0 + h(1), p[4]));
    out.push_back(At(5, x0 + w(3) + w(4), y0 + h(2), p[5]));
    out.push_back(At(6, x0, y0 + h(0) + h(3), p[6]));
    out.push_back(At(7, x0 + w(6), y0 + h(1) + h(4), p[7]));
    out.push_back(At(8, x0 + w(6) + w(7), y0 + h(2) + h(5), p[8]));
    return out;
}
