#include "ui/skin_region.h"

#include <algorithm>

namespace {

bool ValidSize(int32_t width, int32_t height) {
    return width > 0 && height > 0 && width <= kMaxSkinSide && height <= kMaxSkinSide;
}

// Appends the runs of one row. `isKey(x)` tells whether pixel x is the key.
template <typename IsKey>
void ScanRow(int32_t y, int32_t width, IsKey isKey, std::vector<PixelRect>* runsOut) {
    int32_t x = 0;
    while (true) {
        while (x < width && isKey(x)) {
            ++x;
        }
        if (x == width) {
            return;
        }
        const int32_t start = x;
        while (x < width && !isKey(x)) {
            ++x;
        }
        runsOut->push_back(PixelRect{start, y, x, y + 1});
    }
}

}  // namespace

std::vector<PixelRect> ScanKeyRuns(int32_t width, int32_t height, const PixelReader& pixelAt) {
    std::vector<PixelRect> runs;
    if (!ValidSize(width, height) || !pixelAt) {
        return runs;
    }
    for (int32_t y = 0; y < height; ++y) {
        ScanRow(y, width, [&](int32_t x) { return pixelAt(x, y) == kSkinKeyColour; }, &runs);
    }
    return runs;
}

size_t DibStride24(int32_t width) {
    if (width <= 0) {
        return 0;
    }
    return (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
}

std::vector<PixelRect> ScanKeyRuns(const PixelBuffer24& buffer) {
    std::vector<PixelRect> runs;
    if (!ValidSize(buffer.width, buffer.height) || buffer.bits == nullptr ||
        buffer.stride < static_cast<size_t>(buffer.width) * 3) {
        return runs;
    }
    const size_t rows = static_cast<size_t>(buffer.height);
    const size_t needed = buffer.stride * (rows - 1) + static_cast<size_t>(buffer.width) * 3;
    if (buffer.size < needed) {
        return runs;
    }
    for (int32_t y = 0; y < buffer.height; ++y) {
        const size_t memoryRow = buffer.bottomUp ? rows - 1 - static_cast<size_t>(y) : static_cast<size_t>(y);
        const uint8_t* row = buffer.bits + memoryRow * buffer.stride;
        ScanRow(y, buffer.width,
                [row](int32_t x) {
                    const uint8_t* p = row + static_cast<size_t>(x) * 3;
                    return p[0] == 0xFF && p[1] == 0x00 && p[2] == 0xFF;
                },
                &runs);
    }
    return runs;
}

std::vector<PixelRect> MergeRuns(const std::vector<PixelRect>& runs) {
    std::vector<PixelRect> done;
    // Rectangles still growing: they reach the row above the current one.
    // Kept sorted by left edge, as the runs of a row arrive.
    std::vector<PixelRect> open;
    std::vector<PixelRect> next;
    size_t i = 0;
    while (i < runs.size()) {
        const int32_t y = runs[i].top;
        next.clear();
        size_t o = 0;
        for (; i < runs.size() && runs[i].top == y; ++i) {
            const PixelRect& run = runs[i];
            while (o < open.size() && open[o].left < run.left) {
                done.push_back(open[o++]);
            }
            if (o < open.size() && open[o].left == run.left && open[o].right == run.right &&
                open[o].bottom == y && run.bottom == y + 1) {
                PixelRect taller = open[o++];
                taller.bottom = y + 1;
                next.push_back(taller);
            } else {
                next.push_back(run);
            }
        }
        done.insert(done.end(), open.begin() + static_cast<std::ptrdiff_t>(o), open.end());
        open.swap(next);
    }
    done.insert(done.end(), open.begin(), open.end());
    std::sort(done.begin(), done.end(), [](const PixelRect& a, const PixelRect& b) {
        return a.top != b.top ? a.top < b.top : a.left < b.left;
    });
    return done;
}

std::vector<PixelRect> BuildKeyRectangles(const PixelBuffer24& buffer) {
    return MergeRuns(ScanKeyRuns(buffer));
}
