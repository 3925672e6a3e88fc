// A bare skinned dialog for the tests: the system information template on
// the common skin, with nothing of that window's own set-up, and a log of the
// commands it receives.
#pragma once

#include <windows.h>

#include <vector>

#include "platform/win32/win_handles.h"
#include "ui/skin_region.h"

#include "ui/win32/base_dialog.h"
#include "ui/win32/ui_ids.h"

constexpr int kSkinWidth = 820;
constexpr int kSkinHeight = 670;

// The skin's pixels as 0x00BBGGRR, row by row from the top.
inline std::vector<uint32_t> SkinPixels() {
    UniqueBitmap skin(static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr),
                                                        MAKEINTRESOURCEW(ui_ids::kSkinBitmap), IMAGE_BITMAP, 0, 0,
                                                        LR_CREATEDIBSECTION)));
    WindowDc screen(nullptr);
    const std::vector<uint8_t> bits = ReadBitmapPixels24(screen.Get(), skin.Get(), kSkinWidth, kSkinHeight);
    std::vector<uint32_t> out;
    const size_t stride = DibStride24(kSkinWidth);
    for (int y = 0; y < kSkinHeight && !bits.empty(); ++y) {
        for (int x = 0; x < kSkinWidth; ++x) {
            const uint8_t* p = bits.data() + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3;
            out.push_back(static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2]);
        }
    }
    return out;
}

class TestDialog : public CBaseDialog {
public:
    struct Command {
        int id;
        int code;
    };

    explicit TestDialog(UINT skin = ui_ids::kSkinBitmap, BOOL layered = FALSE)
        : CBaseDialog(ui_ids::kSystemInfoTemplate), m_skin(skin), m_layered(layered) {}

    using CBaseDialog::FilterSecondaryWindowMessage;
    using CBaseDialog::m_bLayered;
    using CBaseDialog::m_bmInfo;
    using CBaseDialog::m_nSkinID;

    BOOL m_initResult = FALSE;
    std::vector<Command> m_commands;

protected:
    BOOL OnInitDialog() override {
        m_nSkinID = m_skin;
        m_bLayered = m_layered;
        m_initResult = CBaseDialog::OnInitDialog();
        return TRUE;
    }
    INT_PTR DialogProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
            case WM_COMMAND:
                m_commands.push_back(Command{LOWORD(wParam), HIWORD(wParam)});
                return TRUE;
            case WM_NCHITTEST:
                return OnNcHitTest(lParam);
            default:
                return CBaseDialog::DialogProc(message, wParam, lParam);
        }
    }
    bool PreTranslateMessage(MSG* msg) override { return FilterSecondaryWindowMessage(*msg); }

private:
    UINT m_skin;
    BOOL m_layered;
};
