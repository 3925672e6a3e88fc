// The shaped window's outline from the skin bitmap: our scan (BuildKeyRectangles,
// one pass over the pixel buffer, runs of equal edges joined into taller
// rectangles, handed to the system in one call) against the naive way, done
// here as a reference: read pixel by pixel through a reader call (where the
// naive way asks the system for each pixel), make one rectangle per run of
// non-key pixels and union it into the accumulated region one at a time.
// The reference region is kept in bands of spans, each union building a new
// region from the old one, as window-system region combination works.
//   region_bench SKIN.bmp [rounds, default 10]
// Both ways must cover the same pixels; prints the ratio of their times.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ui/skin_region.h"

namespace {

// The 24-bit BMP file: its pixels and their layout.
struct SkinFile {
    std::vector<uint8_t> bytes;
    PixelBuffer24 buffer;
};

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

bool LoadSkin(const char* path, SkinFile* skinOut) {
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    std::vector<uint8_t>& b = skinOut->bytes;
    char chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) b.insert(b.end(), chunk, chunk + n);
    std::fclose(f);
    // File header (14 bytes), then an info header of at least 40 bytes:
    // 24 bits per pixel, no compression.
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M' || Le32(b, 14) < 40 || (b[28] | b[29] << 8) != 24 ||
        Le32(b, 30) != 0) {
        return false;
    }
    const size_t offset = Le32(b, 10);
    const int32_t width = static_cast<int32_t>(Le32(b, 18));
    const int32_t height = static_cast<int32_t>(Le32(b, 22));
    if (offset >= b.size() || width <= 0 || height == 0) return false;
    skinOut->buffer = PixelBuffer24{b.data() + offset, b.size() - offset, width, height < 0 ? -height : height,
                                    DibStride24(width), height > 0};
    return true;
}

using Span = std::pair<int32_t, int32_t>;  // [first, second) on x
struct Band {
    int32_t top;
    int32_t bottom;
    std::vector<Span> spans;  // sorted, disjoint, not touching
};
using BandRegion = std::vector<Band>;

std::vector<Span> WithSpan(std::vector<Span> spans, Span add) {
    std::vector<Span> out;
    size_t i = 0;
    for (; i < spans.size() && spans[i].second < add.first; ++i) out.push_back(spans[i]);
    for (; i < spans.size() && spans[i].first <= add.second; ++i) {
        add.first = std::min(add.first, spans[i].first);
        add.second = std::max(add.second, spans[i].second);
    }
    out.push_back(add);
    out.insert(out.end(), spans.begin() + static_cast<std::ptrdiff_t>(i), spans.end());
    return out;
}

// region OR rect as a new region; bands with equal spans that touch are joined.
BandRegion UnionRect(const BandRegion& region, const PixelRect& r) {
    BandRegion out;
    const std::vector<Span> rectSpans{{r.left, r.right}};
    auto emit = [&out](int32_t top, int32_t bottom, const std::vector<Span>& spans) {
        if (top >= bottom) return;
        if (!out.empty() && out.back().bottom == top && out.back().spans == spans) {
            out.back().bottom = bottom;
        } else {
            out.push_back(Band{top, bottom, spans});
        }
    };
    int32_t y = r.top;  // rows of the rectangle below this one are not emitted yet
    for (const Band& b : region) {
        if (b.bottom <= r.top) {
            emit(b.top, b.bottom, b.spans);
            continue;
        }
        if (b.top >= r.bottom) {
            emit(y, r.bottom, rectSpans);
            y = r.bottom;
            emit(b.top, b.bottom, b.spans);
            continue;
        }
        emit(y, b.top, rectSpans);
        emit(b.top, r.top, b.spans);
        const int32_t lo = std::max(b.top, r.top);
        const int32_t hi = std::min(b.bottom, r.bottom);
        emit(lo, hi, WithSpan(b.spans, Span{r.left, r.right}));
        emit(r.bottom, b.bottom, b.spans);
        y = std::max(y, hi);
    }
    emit(y, r.bottom, rectSpans);
    return out;
}

BandRegion NaiveRegion(int32_t width, int32_t height, const PixelReader& pixelAt) {
    BandRegion region;
    for (int32_t y = 0; y < height; ++y) {
        int32_t x = 0;
        while (x < width) {
            while (x < width && pixelAt(x, y) == kSkinKeyColour) ++x;
            if (x == width) break;
            const int32_t start = x;
            while (x < width && pixelAt(x, y) != kSkinKeyColour) ++x;
            region = UnionRect(region, PixelRect{start, y, x, y + 1});
        }
    }
    return region;
}

std::vector<bool> Cover(int32_t width, int32_t height, const std::vector<PixelRect>& rects) {
    std::vector<bool> mask(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (const PixelRect& r : rects) {
        for (int32_t y = r.top; y < r.bottom; ++y) {
            for (int32_t x = r.left; x < r.right; ++x) mask[static_cast<size_t>(y) * width + x] = true;
        }
    }
    return mask;
}

std::vector<PixelRect> Rects(const BandRegion& region) {
    std::vector<PixelRect> rects;
    for (const Band& b : region) {
        for (const Span& s : b.spans) rects.push_back(PixelRect{s.first, b.top, s.second, b.bottom});
    }
    return rects;
}

// Microseconds of one call: the mean over a batch of `calls`.
double BatchMicros(int calls, const std::function<void()>& run) {
    const auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < calls; ++k) run();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / calls;
}

}  // namespace

int main(int argc, char** argv) {
    SkinFile skin;
    if (argc < 2 || !LoadSkin(argv[1], &skin)) {
        std::fprintf(stderr, "usage: region_bench SKIN.bmp (24-bit, uncompressed) [rounds]\n");
        return 2;
    }
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 10;
    const PixelBuffer24& buffer = skin.buffer;
    const size_t rows = static_cast<size_t>(buffer.height);
    const PixelReader readPixel = [&buffer, rows](int32_t x, int32_t y) {
        const size_t row = buffer.bottomUp ? rows - 1 - static_cast<size_t>(y) : static_cast<size_t>(y);
        const uint8_t* p = buffer.bits + row * buffer.stride + static_cast<size_t>(x) * 3;
        return static_cast<uint32_t>(p[2]) | p[1] << 8 | p[0] << 16;
    };
    const std::vector<PixelRect> ours = BuildKeyRectangles(buffer);
    const BandRegion naive = NaiveRegion(buffer.width, buffer.height, readPixel);
    if (ours.empty() || Cover(buffer.width, buffer.height, ours) != Cover(buffer.width, buffer.height, Rects(naive))) {
        std::printf("bench region: failed: our rectangles and the naive region cover different pixels\n");
        return 1;
    }
    size_t sink = 0;
    // Batches of the two ways take turns, so that a busy machine slows both
    // alike; the best batch of each counts.
    double oursUs = 1e18;
    double naiveUs = 1e18;
    for (int i = 0; i < rounds; ++i) {
        oursUs = std::min(oursUs, BatchMicros(100, [&] { sink += BuildKeyRectangles(buffer).size(); }));
        naiveUs = std::min(naiveUs, BatchMicros(5, [&] {
                               sink += NaiveRegion(buffer.width, buffer.height, readPixel).size();
                           }));
    }
    const size_t runs = ScanKeyRuns(buffer).size();
    const double ratio = naiveUs / oursUs;
    std::printf("bench region: ratio %.1f (goal >= 10, %s) skin %dx%d runs %zu ours %.0f us (%zu rectangles)"
                " naive %.0f us (%zu bands)%s\n",
                ratio, ratio >= 10 ? "met" : "missed", buffer.width, buffer.height, runs, oursUs, ours.size(),
                naiveUs, naive.size(), sink == 0 ? " (no work)" : "");
    return 0;
}
