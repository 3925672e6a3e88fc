// The Weibo binding window with its browser, driven for real under Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "support/win32/gui_test_support.h"
#include "ui/win32/bind_weibo_dlg.h"
#include "ui/win32/ui_ids.h"

namespace {

POINT ClientPosition(HWND parent, HWND child) {
    RECT rc{};
    ::GetWindowRect(child, &rc);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rc), 2);
    return POINT{rc.left, rc.top};
}

TEST(BindWeiboDialog, LaysOutItsControlsOnTheSkinAndPlacesTheBrowser) {
    CBindWeiBoDlg dlg("example.invalid", "about:blank");
    ASSERT_TRUE(dlg.Create());
    const HWND hwnd = dlg.GetSafeHwnd();
    EXPECT_FALSE(::IsWindowVisible(hwnd));
    RECT rc{};
    ::GetWindowRect(hwnd, &rc);
    EXPECT_EQ(rc.right - rc.left, 820);
    EXPECT_EQ(rc.bottom - rc.top, 670);
    wchar_t title[64] = {};
    ::GetWindowTextW(hwnd, title, 64);
    EXPECT_STREQ(title, L"Vantorel");
    EXPECT_EQ(dlg.PageAddress(), "about:blank");
    EXPECT_EQ(CBindWeiBoDlg().PageAddress(), "http://www.vantorel.com/2599000.asp");

    struct Placed {
        int id;
        POINT at;
    };
    const Placed placed[] = {{ui_ids::kWeiboMinimise, {699, 25}}, {ui_ids::kWeiboClose, {740, 25}},
                             {ui_ids::kWeiboFrame, {33, 91}},     {ui_ids::kWeiboTile1, {23, 591}},
                             {ui_ids::kWeiboTile2, {170, 591}}};
    for (const Placed& p : placed) {
        const POINT at = ClientPosition(hwnd, ::GetDlgItem(hwnd, p.id));
        EXPECT_EQ(at.x, p.at.x) << p.id;
        EXPECT_EQ(at.y, p.at.y) << p.id;
    }
    const RECT browser = dlg.Browser().GetPlacement();
    EXPECT_EQ(browser.left, 37);
    EXPECT_EQ(browser.top, 95);
    EXPECT_EQ(browser.right, 757);
    EXPECT_EQ(browser.bottom, 497);
    // Whatever shows the page sits exactly there.
    RECT shown{};
    ::GetWindowRect(dlg.Browser().GetBrowserWindow(), &shown);
    ::MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&shown), 2);
    EXPECT_EQ(shown.left, 37);
    EXPECT_EQ(shown.top, 95);
    EXPECT_EQ(shown.right - shown.left, 720);
    EXPECT_EQ(shown.bottom - shown.top, 402);
    // The frame has all nine pieces, stretched where the frame stretches.
    for (unsigned i = 0; i < 9; ++i) {
        const PieceSize size = dlg.Frame().GetPieceSize(i);
        EXPECT_TRUE(size.present) << i;
        EXPECT_EQ(size.width, (i == 1 || i == 4 || i == 7) ? 688 : 20) << i;
        EXPECT_EQ(size.height, (i == 3 || i == 4 || i == 5) ? 370 : 20) << i;
    }
    std::printf("browser control %s, navigate result 0x%08lx\n", dlg.Browser().HasBrowser() ? "created" : "missing",
                static_cast<unsigned long>(dlg.Browser().GetLastNavigateResult()));
}

TEST(BindWeiboDialog, ButtonsMinimiseAndCloseEscapeDoesNothing) {
    CBindWeiBoDlg dlg("example.invalid", "about:blank");
    ASSERT_TRUE(dlg.Create());
    const HWND hwnd = dlg.GetSafeHwnd();
    ::SetWindowPos(hwnd, HWND_TOP, 60, 40, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    gui_test::Pump(200);

    gui_test::Repaint(hwnd);
    EXPECT_TRUE(gui_test::SaveBmp(gui_test::CaptureWindow(hwnd), gui_test::ScreenshotFolder(),
                                  L"weibo_binding_window.bmp"));

    ::SendMessageW(::GetDlgItem(hwnd, ui_ids::kWeiboMinimise), BM_CLICK, 0, 0);
    EXPECT_TRUE(::IsIconic(hwnd));
    ::ShowWindow(hwnd, SW_RESTORE);
    gui_test::Pump();

    ::PostMessageW(::GetDlgItem(hwnd, ui_ids::kWeiboClose), WM_KEYDOWN, VK_ESCAPE, 0);
    ::PostMessageW(hwnd, WM_KEYDOWN, VK_ESCAPE, 0);
    gui_test::Pump(100);
    EXPECT_TRUE(::IsWindowVisible(hwnd));

    ::SendMessageW(::GetDlgItem(hwnd, ui_ids::kWeiboClose), BM_CLICK, 0, 0);
    EXPECT_FALSE(::IsWindowVisible(hwnd));
    EXPECT_EQ(dlg.GetResult(), 0);
}

// Run modally, the window ends with 0 on the system close command that its
// loop receives, and not on Escape before it.
TEST(BindWeiboDialog, ModalWindowEndsOnSystemCloseNotOnEscape) {
    std::atomic<bool> visibleAfterEscape{false};
    std::thread closer([&] {
        // The window shows once its initialisation (with the browser) is done.
        HWND found = nullptr;
        for (int i = 0; i < 3000 && found == nullptr; ++i) {
            ::Sleep(20);
            found = ::FindWindowW(L"#32770", L"Vantorel");
            if (found != nullptr && !::IsWindowVisible(found)) found = nullptr;
        }
        if (found == nullptr) {
            return;
        }
        ::Sleep(200);
        ::PostMessageW(found, WM_KEYDOWN, VK_ESCAPE, 0);
        ::PostMessageW(found, WM_NCLBUTTONDBLCLK, HTCAPTION, 0);
        ::Sleep(300);
        visibleAfterEscape = ::IsWindowVisible(found) != FALSE;
        ::PostMessageW(found, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    CBindWeiBoDlg dlg("example.invalid", "about:blank");
    const INT_PTR result = dlg.DoModal();
    closer.join();
    EXPECT_TRUE(visibleAfterEscape);
    EXPECT_EQ(result, 0);
}

}  // namespace
