// The skinned dialog base on the launcher's skin, for real under Wine.
#include <windows.h>

#include <gtest/gtest.h>


#include "platform/win32/win_handles.h"
#include "support/win32/gui_test_support.h"
#include "test_dialog.h"
#include "ui/skin_region.h"
#include "ui/win32/base_dialog.h"

namespace {


// The outline as one rectangle region per run, combined one by one: the
// slow way that the fast one must equal.
UniqueRegion RunByRunRegion(const std::vector<uint32_t>& skin) {
    UniqueRegion all(::CreateRectRgn(0, 0, 0, 0));
    for (int y = 0; y < kSkinHeight; ++y) {
        int x = 0;
        while (x < kSkinWidth) {
            while (x < kSkinWidth && skin[static_cast<size_t>(y * kSkinWidth + x)] == kSkinKeyColour) ++x;
            if (x == kSkinWidth) break;
            const int start = x;
            while (x < kSkinWidth && skin[static_cast<size_t>(y * kSkinWidth + x)] != kSkinKeyColour) ++x;
            UniqueRegion run(::CreateRectRgn(start, y, x, y + 1));
            ::CombineRgn(all.Get(), all.Get(), run.Get(), RGN_OR);
        }
    }
    return all;
}

TEST(BaseDialog, WindowTakesTheSkinsSizeAndExactlyItsOutline) {
    const std::vector<uint32_t> skin = SkinPixels();
    ASSERT_EQ(skin.size(), static_cast<size_t>(kSkinWidth * kSkinHeight));

    TestDialog dlg;
    ASSERT_TRUE(dlg.Create());
    EXPECT_TRUE(dlg.m_initResult);
    const HWND hwnd = dlg.GetSafeHwnd();
    RECT rc{};
    ::GetWindowRect(hwnd, &rc);
    EXPECT_EQ(rc.right - rc.left, kSkinWidth);
    EXPECT_EQ(rc.bottom - rc.top, kSkinHeight);

    UniqueRegion actual(::CreateRectRgn(0, 0, 0, 0));
    ASSERT_EQ(::GetWindowRgn(hwnd, actual.Get()), COMPLEXREGION);
    UniqueRegion expected = RunByRunRegion(skin);
    EXPECT_TRUE(::EqualRgn(actual.Get(), expected.Get()));

    // And pixel by pixel at a sample: key pixels are out, every other one in.
    int keyPixels = 0;
    for (int y = 0; y < kSkinHeight; y += 3) {
        for (int x = 0; x < kSkinWidth; x += 3) {
            const bool key = skin[static_cast<size_t>(y * kSkinWidth + x)] == kSkinKeyColour;
            keyPixels += key ? 1 : 0;
            ASSERT_EQ(::PtInRegion(actual.Get(), x, y) != FALSE, !key) << x << "," << y;
        }
    }
    EXPECT_GT(keyPixels, 100);
}

TEST(BaseDialog, SkinThatDoesNotLoadLeavesTheTemplateWindow) {
    TestDialog dlg(9999);
    ASSERT_TRUE(dlg.Create());
    EXPECT_FALSE(dlg.m_initResult);
    UniqueRegion region(::CreateRectRgn(0, 0, 0, 0));
    EXPECT_EQ(::GetWindowRgn(dlg.GetSafeHwnd(), region.Get()), ERROR);
    RECT rc{};
    ::GetWindowRect(dlg.GetSafeHwnd(), &rc);
    EXPECT_NE(rc.right - rc.left, kSkinWidth);
    // It still paints, with a plain background.
    ::ShowWindow(dlg.GetSafeHwnd(), SW_SHOW);
    gui_test::Repaint(dlg.GetSafeHwnd());
}

TEST(BaseDialog, LayeredModeKeysOutMagentaWithoutRegion) {
    TestDialog dlg(ui_ids::kSkinBitmap, TRUE);
    ASSERT_TRUE(dlg.Create());
    const HWND hwnd = dlg.GetSafeHwnd();
    EXPECT_TRUE(dlg.m_bLayered);
    EXPECT_NE(::GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_LAYERED, 0);
    COLORREF key = 0;
    BYTE alpha = 0;
    DWORD flags = 0;
    ASSERT_TRUE(::GetLayeredWindowAttributes(hwnd, &key, &alpha, &flags));
    EXPECT_EQ(key, RGB(255, 0, 255));
    EXPECT_EQ(flags & LWA_COLORKEY, static_cast<DWORD>(LWA_COLORKEY));
    UniqueRegion region(::CreateRectRgn(0, 0, 0, 0));
    EXPECT_EQ(::GetWindowRgn(hwnd, region.Get()), ERROR);
    RECT rc{};
    ::GetWindowRect(hwnd, &rc);
    EXPECT_EQ(rc.right - rc.left, kSkinWidth);
}

// Points of the client area outside every child window.
bool UnderAChild(HWND parent, int x, int y) {
    POINT pt{x, y};
    const HWND child = ::ChildWindowFromPointEx(parent, pt, CWP_SKIPINVISIBLE);
    return child != nullptr && child != parent;
}

TEST(BaseDialog, PaintsTheSkinAndLeaksNoGdiObjects) {
    const std::vector<uint32_t> skin = SkinPixels();
    TestDialog dlg;
    ASSERT_TRUE(dlg.Create());
    const HWND hwnd = dlg.GetSafeHwnd();
    ::SetWindowPos(hwnd, HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    gui_test::Pump();
    gui_test::Repaint(hwnd);
    const gui_test::Capture shot = gui_test::CaptureWindow(hwnd);
    ASSERT_EQ(shot.width, kSkinWidth);
    int compared = 0;
    for (int y = 0; y < kSkinHeight; y += 7) {
        for (int x = 0; x < kSkinWidth; x += 7) {
            const uint32_t bgr = skin[static_cast<size_t>(y * kSkinWidth + x)];
            if (bgr == kSkinKeyColour || UnderAChild(hwnd, x, y)) continue;
            const uint32_t rgb = (bgr & 0xFF) << 16 | (bgr & 0xFF00) | (bgr >> 16);
            ASSERT_EQ(shot.At(x, y), rgb) << x << "," << y;
            ++compared;
        }
    }
    EXPECT_GT(compared, 1000);

    gui_test::GdiCounter gdi;
    if (!gdi.Works()) {
        GTEST_SKIP() << "no way to count GDI objects here";
    }
    const long before = gdi.Count();
    for (int i = 0; i < 200; ++i) {
        gui_test::Repaint(hwnd);
    }
    // A leak of one object per paint would show as 200 or more.
    EXPECT_LT(gdi.Count() - before, 5);
}

TEST(BaseDialog, DragsByTheSkinButNotByControlsOrHoles) {
    TestDialog dlg;
    ASSERT_TRUE(dlg.Create());
    const HWND hwnd = dlg.GetSafeHwnd();
    // Topmost: other test programs may show windows on the same screen.
    ::SetWindowPos(hwnd, HWND_TOPMOST, 100, 60, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    gui_test::Pump();
    RECT rc{};
    ::GetWindowRect(hwnd, &rc);
    const LPARAM inside = MAKELPARAM(rc.left + 400, rc.top + 300);
    EXPECT_EQ(::SendMessageW(hwnd, WM_NCHITTEST, 0, inside), HTCAPTION);
    const LPARAM outside = MAKELPARAM(rc.right + 50, rc.bottom + 50);
    EXPECT_EQ(::SendMessageW(hwnd, WM_NCHITTEST, 0, outside), HTNOWHERE);

    const HWND button = ::GetDlgItem(hwnd, ui_ids::kSysInfoCopy);
    ::SetWindowPos(button, HWND_TOP, 328, 540, 0, 0, SWP_NOSIZE);
    RECT b{};
    ::GetWindowRect(button, &b);
    EXPECT_EQ(::WindowFromPoint(POINT{b.left + 3, b.top + 3}), button);

    // The first row of the skin is key colour at its left end: no window there.
    EXPECT_NE(::WindowFromPoint(POINT{rc.left + 2, rc.top + 0}), hwnd);
    EXPECT_EQ(::WindowFromPoint(POINT{rc.left + 410, rc.top + 300}), hwnd);
}

TEST(BaseDialog, SecondaryWindowFilterSwallowsEscapeAndCaptionDoubleClickAndClosesOnSystemClose) {
    TestDialog dlg;
    ASSERT_TRUE(dlg.Create());
    const HWND hwnd = dlg.GetSafeHwnd();
    ::ShowWindow(hwnd, SW_SHOW);
    struct Case {
        const char* name;
        UINT message;
        WPARAM wParam;
        bool swallowed;
        bool visibleAfter;
    };
    const Case cases[] = {
        {"escape", WM_KEYDOWN, VK_ESCAPE, true, true},
        {"other key", WM_KEYDOWN, 'A', false, true},
        {"escape released", WM_KEYUP, VK_ESCAPE, false, true},
        {"caption double click", WM_NCLBUTTONDBLCLK, HTCAPTION, true, true},
        {"border double click", WM_NCLBUTTONDBLCLK, HTBORDER, false, true},
        {"minimise command", WM_SYSCOMMAND, SC_MINIMIZE, false, true},
        {"close command with extra bits", WM_SYSCOMMAND, SC_CLOSE | 2, false, true},
        {"close command", WM_SYSCOMMAND, SC_CLOSE, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MSG msg{hwnd, c.message, c.wParam, 0, 0, {0, 0}};
        EXPECT_EQ(dlg.FilterSecondaryWindowMessage(msg), c.swallowed);
        EXPECT_EQ(::IsWindowVisible(hwnd) != FALSE, c.visibleAfter);
    }
    EXPECT_EQ(dlg.GetResult(), 0);

    // The same through the message loop: posted, filtered, dispatched.
    ::ShowWindow(hwnd, SW_SHOW);
    ::PostMessageW(::GetDlgItem(hwnd, ui_ids::kSysInfoCopy), WM_KEYDOWN, VK_ESCAPE, 0);
    gui_test::Pump();
    EXPECT_TRUE(::IsWindowVisible(hwnd));
    ::PostMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    gui_test::Pump();
    EXPECT_FALSE(::IsWindowVisible(hwnd));
}

TEST(BaseDialog, RegionFromManyRectanglesEqualsTheirUnion) {
    std::vector<PixelRect> rects;
    UniqueRegion expected(::CreateRectRgn(0, 0, 0, 0));
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 100; x += 2) {
            const int left = x + (y % 2);
            rects.push_back(PixelRect{left, y, left + 1, y + 1});
            UniqueRegion one(::CreateRectRgn(left, y, left + 1, y + 1));
            ::CombineRgn(expected.Get(), expected.Get(), one.Get(), RGN_OR);
        }
    }
    ASSERT_GT(rects.size(), 4000u);  // more than one call's worth
    UniqueRegion made = RegionFromRects(rects);
    ASSERT_TRUE(made);
    EXPECT_TRUE(::EqualRgn(made.Get(), expected.Get()));
    UniqueRegion empty = RegionFromRects({});
    ASSERT_TRUE(empty);
    RECT box{};
    EXPECT_EQ(::GetRgnBox(empty.Get(), &box), NULLREGION);
}

}  // namespace
