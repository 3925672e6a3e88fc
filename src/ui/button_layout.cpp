#include "ui/button_layout.h"

ButtonImage ChooseButtonImage(const ButtonLook& look) {
    if (look.checkBox) {
        return kImageNormal;
    }
    ButtonImage image = kImageNormal;
    if (look.hover) {
        image = kImageHover;
    }
    if (look.pressed && !look.disabled && look.selected) {
        image = kImagePressed;
    }
    if (look.disabled) {
        image = kImageDisabled;
    }
    return image;
}

ImagePlacement PlaceButtonImage(const ImagePlacementInput& in) {
    const PixelRect& c = in.client;
    const int32_t width = c.right - c.left;
    const int32_t height = c.bottom - c.top;
    ImagePlacement out{c, c};
    PixelRect& image = out.image;
    PixelRect& caption = out.caption;
    if (!in.hasCaption) {
        image.left = c.left + (width - in.imageWidth) / 2;
        image.top = c.top + (height - in.imageHeight) / 2;
    } else {
        switch (in.align) {
            case kAlignTop:
                image.left = c.left + (width - in.imageWidth) / 2;
                image.top = c.top + in.marginY;
                caption.top = image.top + in.imageHeight;
                break;
            case kAlignRight:
                image.left = c.right - in.imageWidth - in.marginX;
                image.top = c.top + (height - in.imageHeight) / 2;
                caption.right = image.left;
                break;
            case kAlignLeft:
            default:
                image.left = c.left + in.marginX;
                image.top = c.top + (height - in.imageHeight) / 2;
                caption.left = image.left + in.imageWidth;
                break;
        }
        image.right = image.left + in.imageWidth;
        image.bottom = image.top + in.imageHeight;
    }
    if (in.pressed && !in.checkBox) {
        for (PixelRect* r : {&image, &caption}) {
            r->left += in.pressedOffsetX;
            r->right += in.pressedOffsetX;
            r->top += in.pressedOffsetY;
            r->bottom += in.pressedOffsetY;
        }
    }
    return out;
}

SlotSources ResolveImageSlots(const std::array<bool, kButtonImageCount>& loaded) {
    SlotSources slots;
    if (loaded[kImageNormal]) {
        slots.source[kImageNormal] = kImageNormal;
    }
    // Without a hover image the pressed and disabled slots stay empty too.
    if (!loaded[kImageHover]) {
        return slots;
    }
    slots.source[kImageHover] = kImageHover;
    slots.source[kImagePressed] = loaded[kImagePressed] ? kImagePressed : kImageHover;
    slots.source[kImageDisabled] = loaded[kImageDisabled] ? kImageDisabled : kImageHover;
    return slots;
}

int32_t ShownImageSlot(const ButtonLook& look, const SlotSources& slots) {
    const int32_t chosen = slots.source[ChooseButtonImage(look)];
    return chosen >= 0 ? chosen : slots.source[kImageNormal];
}

int32_t ExtentFromHotSpot(uint32_t hotSpot) {
    return static_cast<int32_t>(hotSpot) * 2;
}

uint32_t DarkenPixel(uint32_t argb) {
    uint32_t out = argb & 0xFF000000u;
    for (int shift = 0; shift <= 16; shift += 8) {
        const uint32_t channel = (argb >> shift) & 0xFFu;
        out |= (channel * 3 / 4) << shift;
    }
    return out;
}

uint32_t GreyPixel(uint32_t argb) {
    const uint32_t r = (argb >> 16) & 0xFFu;
    const uint32_t g = (argb >> 8) & 0xFFu;
    const uint32_t b = argb & 0xFFu;
    const uint32_t grey = (r * 299 + g * 587 + b * 114 + 500) / 1000;
    return (argb & 0xFF000000u) | (grey << 16) | (grey << 8) | grey;
}
