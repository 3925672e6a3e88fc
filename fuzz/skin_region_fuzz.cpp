// The skin scan over a 24-bit pixel buffer as GetDIBits fills it. The first
// six bytes give the picture's width and height (signed 16-bit, little
// endian), whether it is stored bottom-up, and extra row padding; the rest
// are the pixels.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ui/skin_region.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    PixelBuffer24 buffer;
    buffer.width = static_cast<int16_t>(data[0] | data[1] << 8);
    buffer.height = static_cast<int16_t>(data[2] | data[3] << 8);
    buffer.bottomUp = (data[4] & 1) != 0;
    buffer.stride = DibStride24(buffer.width) + (data[5] & 0x0F);
    buffer.bits = data + 6;
    buffer.size = size - 6;
    const std::vector<PixelRect> rects = BuildKeyRectangles(buffer);
    for (const PixelRect& rect : rects) {
        if (rect.left < 0 || rect.top < 0 || rect.right > buffer.width || rect.bottom > buffer.height ||
            rect.left >= rect.right || rect.top >= rect.bottom)
            __builtin_trap();
    }
    return 0;
}
