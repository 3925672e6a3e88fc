// The outline of a skinned window: which pixels of the skin bitmap belong to
// the window. Every pixel that equals the key colour (magenta, exactly) is cut
// out; the rest is described as a list of rectangles that the platform layer
// turns into the window's region.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// A rectangle in pixels; right and bottom are exclusive.
struct PixelRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    bool operator==(const PixelRect& other) const {
        return left == other.left && top == other.top && right == other.right && bottom == other.bottom;
    }
    bool operator!=(const PixelRect& other) const { return !(*this == other); }
};

// The key colour as a Windows colour reference (0x00BBGGRR): red 255,
// green 0, blue 255. No tolerance: blue 254 is not the key.
constexpr uint32_t kSkinKeyColour = 0x00FF00FFu;

// Largest skin side we scan; a bitmap beyond this is refused, not scanned.
constexpr int32_t kMaxSkinSide = 16384;

// Reads the colour of pixel (x, y) as 0x00BBGGRR.
using PixelReader = std::function<uint32_t(int32_t x, int32_t y)>;

// The run-by-run scan: for each row top to bottom, each maximal horizontal
// run of non-key pixels becomes one rectangle one pixel high, taken left to
// right. Empty for a non-positive or oversized width or height.
[[nodiscard]] std::vector<PixelRect> ScanKeyRuns(int32_t width, int32_t height, const PixelReader& pixelAt);

// A 24-bit pixel buffer as GetDIBits fills it: blue, green, red per pixel,
// each row padded to `stride` bytes. In a bottom-up buffer the first row in
// memory is the bottom row of the picture.
struct PixelBuffer24 {
    const uint8_t* bits = nullptr;
    size_t size = 0;  // bytes available at `bits`
    int32_t width = 0;
    int32_t height = 0;
    size_t stride = 0;
    bool bottomUp = true;
};

// Row stride of a 24-bit DIB: three bytes per pixel rounded up to 4 bytes.
[[nodiscard]] size_t DibStride24(int32_t width);

// The same runs as ScanKeyRuns, read straight from the buffer. Empty when the
// buffer is smaller than its dimensions claim.
[[nodiscard]] std::vector<PixelRect> ScanKeyRuns(const PixelBuffer24& buffer);

// Joins runs that have the same left and right edges on consecutive rows into
// taller rectangles. The covered set of pixels stays exactly the same; the
// result is ordered by top, then left. Input in the order ScanKeyRuns gives.
[[nodiscard]] std::vector<PixelRect> MergeRuns(const std::vector<PixelRect>& runs);

// ScanKeyRuns followed by MergeRuns: the rectangles for the window's region.
[[nodiscard]] std::vector<PixelRect> BuildKeyRectangles(const PixelBuffer24& buffer);
