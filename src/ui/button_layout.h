// The image button's decisions that need no window: which of its four images
// a look shows, where the image and the caption go, which icon fills each
// slot, and the colour transforms of the derived hover images.
#pragma once

#include <array>
#include <cstdint>

#include "ui/skin_region.h"

// The four image slots of a button.
enum ButtonImage : int32_t {
    kImageNormal = 0,
    kImageHover = 1,
    kImagePressed = 2,
    kImageDisabled = 3,
};
constexpr int32_t kButtonImageCount = 4;

// Reserved hover-image values: an image made from the normal icon.
constexpr int32_t kHoverDarkened = -3;  // each colour channel at 75 percent
constexpr int32_t kHoverGrey = -2;      // grey by luminance

// The look of one paint, from the item state and the button's own flags.
struct ButtonLook {
    bool hover = false;
    bool pressed = false;   // selected bit (or checked, for a check box)
    bool disabled = false;
    bool selected = false;  // the raw selected bit
    bool checkBox = false;
};

// Normal, then hover when hovered, then pressed when pressed, enabled and
// selected, then disabled when disabled; later rules win. A check box always
// shows the normal image.
[[nodiscard]] ButtonImage ChooseButtonImage(const ButtonLook& look);

// Caption side of the image: 0 left of it, 1 above it, 2 right of it.
enum ImageAlign : uint8_t { kAlignLeft = 0, kAlignTop = 1, kAlignRight = 2 };

struct ImagePlacementInput {
    PixelRect client;
    int32_t imageWidth = 0;
    int32_t imageHeight = 0;
    bool hasCaption = false;
    uint8_t align = kAlignLeft;
    int32_t marginX = 3;
    int32_t marginY = 3;
    bool pressed = false;
    bool checkBox = false;
    int32_t pressedOffsetX = 1;
    int32_t pressedOffsetY = 1;
};

struct ImagePlacement {
    // The image is drawn at image.left/top; without a caption its right and
    // bottom stay at the client's edges.
    PixelRect image;
    // What is left for the caption.
    PixelRect caption;
};

// Without a caption the image is centred (halves rounded toward zero); with
// one it goes to the margin given by `align` and the caption gets the rest.
// A pressed button (not a check box) moves both by the pressed offset.
[[nodiscard]] ImagePlacement PlaceButtonImage(const ImagePlacementInput& input);

// Which icon each slot shows, after set-up. `requested` holds the resource
// numbers given for normal, hover, pressed and disabled (0 for none) and
// `loaded` whether each of them produced an image. A missing pressed or
// disabled image borrows the hover image; `source[i]` names the slot whose
// icon slot i shows, or -1 for none.
struct SlotSources {
    std::array<int32_t, kButtonImageCount> source{-1, -1, -1, -1};
};
[[nodiscard]] SlotSources ResolveImageSlots(const std::array<bool, kButtonImageCount>& loaded);

// The slot whose icon a look draws: the chosen image, or the normal image
// when the chosen slot is empty; -1 when there is nothing to draw.
[[nodiscard]] int32_t ShownImageSlot(const ButtonLook& look, const SlotSources& slots);

// An image's counted size is twice its hot spot: a 123 x 37 icon, whose hot
// spot is (61, 18), counts as 122 x 36.
[[nodiscard]] int32_t ExtentFromHotSpot(uint32_t hotSpot);

// The colour transforms of the reserved hover values, on 0x00RRGGBB-style
// pixels (alpha in the top byte is kept). Black stays black.
[[nodiscard]] uint32_t DarkenPixel(uint32_t argb);
[[nodiscard]] uint32_t GreyPixel(uint32_t argb);
