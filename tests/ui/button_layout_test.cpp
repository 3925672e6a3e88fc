#include "ui/button_layout.h"

#include <gtest/gtest.h>

namespace {

TEST(ButtonLayout, ImageChoiceFollowsTheLaterRule) {
    struct Case {
        bool hover, pressed, disabled, selected, checkBox;
        ButtonImage image;
    };
    const Case cases[] = {
        {false, false, false, false, false, kImageNormal},
        {true, false, false, false, false, kImageHover},
        {true, true, false, true, false, kImagePressed},
        {false, true, false, true, false, kImagePressed},
        // pressed needs the selected bit as well
        {true, true, false, false, false, kImageHover},
        // disabled wins over hover and press, and is never hover
        {true, false, true, false, false, kImageDisabled},
        {true, true, true, true, false, kImageDisabled},
        {false, false, true, false, false, kImageDisabled},
        // a check box always shows the normal image
        {true, true, false, true, true, kImageNormal},
        {false, false, true, false, true, kImageNormal},
    };
    for (const Case& c : cases) {
        const ButtonLook look{c.hover, c.pressed, c.disabled, c.selected, c.checkBox};
        EXPECT_EQ(ChooseButtonImage(look), c.image)
            << c.hover << c.pressed << c.disabled << c.selected << c.checkBox;
    }
}

TEST(ButtonLayout, MissingPressedAndDisabledImagesBorrowTheHoverImage) {
    struct Case {
        const char* name;
        std::array<bool, 4> loaded;
        std::array<int32_t, 4> source;
    };
    const Case cases[] = {
        {"all four", {true, true, true, true}, {0, 1, 2, 3}},
        {"no pressed, no disabled", {true, true, false, false}, {0, 1, 1, 1}},
        {"no disabled", {true, true, true, false}, {0, 1, 2, 1}},
        {"no hover: the rest stays empty", {true, false, true, true}, {0, -1, -1, -1}},
        {"nothing", {false, false, false, false}, {-1, -1, -1, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ResolveImageSlots(c.loaded).source, c.source);
    }
    // Looks whose slot is empty draw the normal image; no normal, nothing.
    const SlotSources normalOnly = ResolveImageSlots({true, false, false, false});
    EXPECT_EQ(ShownImageSlot(ButtonLook{true, true, false, true, false}, normalOnly), 0);
    EXPECT_EQ(ShownImageSlot(ButtonLook{false, false, true, false, false}, normalOnly), 0);
    const SlotSources hoverOnly = ResolveImageSlots({true, true, false, false});
    EXPECT_EQ(ShownImageSlot(ButtonLook{false, true, false, true, false}, hoverOnly), 1);
    EXPECT_EQ(ShownImageSlot(ButtonLook{}, ResolveImageSlots({false, true, true, true})), -1);
}

TEST(ButtonLayout, ImagePlacement) {
    struct Case {
        const char* name;
        ImagePlacementInput in;
        PixelRect image;
        PixelRect caption;
    };
    const PixelRect client{0, 0, 122, 36};
    const PixelRect wide{0, 0, 100, 40};
    const Case cases[] = {
        {"sized to the image: at the origin", {client, 122, 36}, {0, 0, 122, 36}, client},
        {"centred, right and bottom stay", {wide, 31, 21}, {34, 9, 100, 40}, wide},
        {"odd remainder rounds toward zero", {wide, 99, 39}, {0, 0, 100, 40}, wide},
        {"larger image: negative half rounds toward zero", {{0, 0, 10, 10}, 13, 15}, {-1, -2, 10, 10}, {0, 0, 10, 10}},
        {"pressed moves one right and down", {client, 122, 36, false, kAlignLeft, 0, 0, true}, {1, 1, 123, 37},
         {1, 1, 123, 37}},
        {"pressed check box does not move", {client, 122, 36, false, kAlignLeft, 0, 0, true, true}, {0, 0, 122, 36},
         client},
        {"caption right of the image", {wide, 20, 10, true, kAlignLeft}, {3, 15, 23, 25}, {23, 0, 100, 40}},
        {"caption below the image", {wide, 20, 10, true, kAlignTop}, {40, 3, 60, 13}, {0, 13, 100, 40}},
        {"caption left of the image", {wide, 20, 10, true, kAlignRight}, {77, 15, 97, 25}, {0, 0, 77, 40}},
        {"pressed with caption moves both", {wide, 20, 10, true, kAlignLeft, 3, 3, true}, {4, 16, 24, 26},
         {24, 1, 101, 41}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ImagePlacement placed = PlaceButtonImage(c.in);
        EXPECT_EQ(placed.image, c.image);
        EXPECT_EQ(placed.caption, c.caption);
    }
}

TEST(ButtonLayout, ExtentsAndDerivedColours) {
    EXPECT_EQ(ExtentFromHotSpot(123 / 2), 122);
    EXPECT_EQ(ExtentFromHotSpot(37 / 2), 36);
    EXPECT_EQ(ExtentFromHotSpot(10), 20);
    struct Case {
        uint32_t in, dark, grey;
    };
    const Case cases[] = {
        {0xFF000000u, 0xFF000000u, 0xFF000000u},  // black stays black
        {0x80FFFFFFu, 0x80BFBFBFu, 0x80FFFFFFu},  // alpha kept
        {0xFFFF0000u, 0xFFBF0000u, 0xFF4C4C4Cu},  // red: 0.299
        {0xFF00FF00u, 0xFF00BF00u, 0xFF969696u},  // green: 0.587
        {0xFF0000FFu, 0xFF0000BFu, 0xFF1D1D1Du},  // blue: 0.114
        {0x00102030u, 0x000C1824u, 0x001D1D1Du},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DarkenPixel(c.in), c.dark) << std::hex << c.in;
        EXPECT_EQ(GreyPixel(c.in), c.grey) << std::hex << c.in;
    }
}

}  // namespace
