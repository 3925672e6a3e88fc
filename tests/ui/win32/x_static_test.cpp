// The owner-drawn label on a skinned dialog, painted for real under Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "support/win32/gui_test_support.h"
#include "test_dialog.h"
#include "ui/win32/x_static.h"

namespace {

constexpr COLORREF kFill = RGB(18, 7, 5);
constexpr uint32_t kFillPixel = 0x120705;  // as captured: 0x00RRGGBB

class StaticTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dlg.Create());
        m_hwnd = m_dlg.GetSafeHwnd();
        // Only the labels under test show; the template's others are plain statics.
        for (HWND child = ::GetWindow(m_hwnd, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
            ::ShowWindow(child, SW_HIDE);
        }
        ::SetWindowPos(m_hwnd, HWND_TOP, 20, 20, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
        gui_test::Pump();
    }
    // Binds control `id`, places it and sizes it.
    HWND Bind(CXStatic& label, int id, int x, int y, int width, int height) {
        EXPECT_TRUE(label.SubclassDlgItem(id, m_hwnd));
        const HWND hwnd = label.GetSafeHwnd();
        ::SetWindowPos(hwnd, HWND_TOP, x, y, width, height, SWP_SHOWWINDOW);
        return hwnd;
    }
    // The label does not erase: the dialog paints the skin under it first.
    static gui_test::Capture Paint(HWND hwnd) {
        gui_test::Repaint(::GetParent(hwnd));
        return gui_test::CaptureWindow(hwnd);
    }
    // `background` with icons drawn over it as the label should draw them.
    static gui_test::Capture Expected(const gui_test::Capture& background, const std::vector<PiecePlacement>& placed,
                                      const std::vector<HICON>& icons) {
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bi.bmiHeader.biWidth = background.width;
        bi.bmiHeader.biHeight = -background.height;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HDC memory = ::CreateCompatibleDC(nullptr);
        HBITMAP bitmap = ::CreateDIBSection(memory, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = ::SelectObject(memory, bitmap);
        std::memcpy(bits, background.pixels.data(), background.pixels.size() * 4);
        for (const PiecePlacement& p : placed) {
            ::DrawIconEx(memory, p.rect.left, p.rect.top, icons[static_cast<size_t>(p.index)],
                         p.rect.right - p.rect.left, p.rect.bottom - p.rect.top, 0, nullptr, DI_NORMAL);
        }
        ::GdiFlush();
        gui_test::Capture out = background;
        const auto* px = static_cast<const uint32_t*>(bits);
        for (size_t i = 0; i < out.pixels.size(); ++i) {
            out.pixels[i] = px[i] & 0x00FFFFFFu;
        }
        ::SelectObject(memory, old);
        ::DeleteObject(bitmap);
        ::DeleteDC(memory);
        return out;
    }
    static HICON LoadIconAt(int id, int width, int height) {
        return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, width,
                                               height, LR_DEFAULTCOLOR));
    }

    TestDialog m_dlg;
    HWND m_hwnd = nullptr;
};

TEST_F(StaticTest, SetPieceRules) {
    CXStatic label;
    Bind(label, ui_ids::kSysInfoTile1, 23, 591, 140, 60);
    struct Case {
        const char* name;
        unsigned index;
        int resource, width, height;
        bool result;
        PieceSize after;
    };
    const Case cases[] = {
        {"tile at its own size", 0, 800, 0, 0, true, {true, 140, 60}},
        {"index 9 is refused", 9, 800, 0, 0, false, {}},
        {"stretched edge", 1, 803, 688, 0, true, {true, 688, 20}},
        {"stretched centre", 4, 806, 688, 370, true, {true, 688, 370}},
        {"corner", 8, 810, 0, 0, true, {true, 20, 20}},
        {"missing icon clears the piece", 0, 9999, 0, 0, false, {false, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(label.SetPiece(c.index, c.resource, c.width, c.height), c.result);
        const PieceSize size = label.GetPieceSize(c.index);
        EXPECT_EQ(size.present, c.after.present);
        EXPECT_EQ(size.width, c.after.width);
        EXPECT_EQ(size.height, c.after.height);
    }
    EXPECT_EQ(label.GetPieceResource(1), 803);
    EXPECT_TRUE(::SendMessageW(label.GetSafeHwnd(), WM_ERASEBKGND,
                               reinterpret_cast<WPARAM>(::GetDC(label.GetSafeHwnd())), 0));
}

int CountNot(const gui_test::Capture& c, uint32_t pixel, int fromX = 0) {
    int n = 0;
    for (int y = 0; y < c.height; ++y) {
        for (int x = fromX; x < c.width; ++x) {
            n += c.At(x, y) != pixel ? 1 : 0;
        }
    }
    return n;
}

TEST_F(StaticTest, TextOnItsFillAndAShorterTextLeavesNoTrace) {
    CXStatic line;
    const HWND hwnd = Bind(line, ui_ids::kSysInfoReport, 340, 604, 300, 20);
    line.m_crText = RGB(255, 255, 255);
    line.m_nFormat = DT_BOTTOM | DT_SINGLELINE;
    line.m_bFill = true;
    line.m_crFill = kFill;
    line.SetText("WWWWWWWWWWWWWWWWWWWW");
    gui_test::Capture shot = Paint(hwnd);
    ASSERT_EQ(shot.width, 300);
    const int textPixels = CountNot(shot, kFillPixel);
    EXPECT_GT(textPixels, 100);
    // Text pixels are white or blend toward it; none keep the skin.
    int whiteish = 0;
    for (uint32_t px : shot.pixels) {
        whiteish += (px & 0xFF) > 0x80 ? 1 : 0;
    }
    EXPECT_GT(whiteish, 50);

    line.SetText("i");
    shot = Paint(hwnd);
    EXPECT_EQ(CountNot(shot, kFillPixel, 40), 0);
    EXPECT_GT(CountNot(shot, kFillPixel), 0);
}

TEST_F(StaticTest, EmptyTextShowsTheWindowText) {
    CXStatic line;
    const HWND hwnd = Bind(line, ui_ids::kSysInfoReport, 340, 604, 300, 20);
    line.m_bFill = true;
    line.m_crFill = kFill;
    ::SetWindowTextW(hwnd, L"Version 1.0.0.1");
    const gui_test::Capture shot = Paint(hwnd);
    EXPECT_EQ(line.GetText(), "Version 1.0.0.1");
    EXPECT_GT(CountNot(shot, kFillPixel), 50);
}

TEST_F(StaticTest, SingleImageIsStretchedOverTheControl) {
    CXStatic tile;
    const HWND hwnd = Bind(tile, ui_ids::kSysInfoTile1, 23, 500, 280, 120);
    const gui_test::Capture background = Paint(hwnd);
    ASSERT_TRUE(tile.SetPiece(0, 800, 0, 0));
    const gui_test::Capture shot = Paint(hwnd);
    const HICON icon = LoadIconAt(800, 0, 0);
    const gui_test::Capture expected = Expected(background, {{0, {0, 0, 280, 120}}}, {icon});
    ::DestroyIcon(icon);
    EXPECT_EQ(shot.pixels, expected.pixels);
    EXPECT_NE(shot.pixels, background.pixels);
}

TEST_F(StaticTest, NinePieceFrameAndAnIncompleteOneThatDrawsNothing) {
    CXStatic panel;
    const HWND hwnd = Bind(panel, ui_ids::kSysInfoPanel, 47, 81, 740, 420);
    const gui_test::Capture background = Paint(hwnd);
    LoadFramePieces(panel, 802, 688, 370);
    const gui_test::Capture shot = Paint(hwnd);

    std::array<PieceSize, kPieceCount> sizes{};
    std::vector<HICON> icons;
    for (unsigned i = 0; i < 9; ++i) {
        sizes[i] = panel.GetPieceSize(i);
        icons.push_back(LoadIconAt(802 + static_cast<int>(i), sizes[i].width, sizes[i].height));
    }
    const std::vector<PiecePlacement> placed = LayoutPieces(sizes, PixelRect{0, 0, 740, 420});
    ASSERT_EQ(placed.size(), 9u);
    EXPECT_EQ(placed[8].rect.right, 728);  // 20 + 688 + 20
    EXPECT_EQ(placed[8].rect.bottom, 410);  // 20 + 370 + 20
    EXPECT_EQ(shot.pixels, Expected(background, placed, icons).pixels);
    for (HICON icon : icons) {
        ::DestroyIcon(icon);
    }

    // One piece missing: no image at all, the skin shows.
    EXPECT_FALSE(panel.SetPiece(5, 9999, 0, 0));
    EXPECT_EQ(Paint(hwnd).pixels, background.pixels);
}

TEST_F(StaticTest, RepaintingLeaksNoGdiObjects) {
    gui_test::GdiCounter gdi;
    if (!gdi.Works()) {
        GTEST_SKIP() << "no way to count GDI objects here";
    }
    CXStatic panel;
    CXStatic line;
    const HWND panelHwnd = Bind(panel, ui_ids::kSysInfoPanel, 47, 81, 740, 420);
    const HWND lineHwnd = Bind(line, ui_ids::kSysInfoReport, 340, 604, 300, 20);
    LoadFramePieces(panel, 802, 688, 370);
    line.m_bFill = true;
    line.SetText("status");
    Paint(panelHwnd);
    Paint(lineHwnd);
    const long before = gdi.Count();
    for (int i = 0; i < 200; ++i) {
        ::RedrawWindow(panelHwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        ::RedrawWindow(lineHwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    }
    EXPECT_LT(gdi.Count() - before, 5);
}

}  // namespace
