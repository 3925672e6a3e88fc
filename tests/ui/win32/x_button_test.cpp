// The image button on a skinned dialog, driven through its messages under Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/win32/wide.h"
#include "support/test_support.h"
#include "support/win32/gui_test_support.h"
#include "test_dialog.h"
#include "ui/win32/x_button.h"

namespace {

constexpr int kRuntimeButton = 2001;

// A shown test dialog with its copy button bound and set up as the skinned
// windows do it.
class ButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dlg.Create());
        m_hwnd = m_dlg.GetSafeHwnd();
        ASSERT_TRUE(m_button.SubclassDlgItem(ui_ids::kSysInfoCopy, m_hwnd));
        SetUpSkinButton(m_button, ui_ids::kCopyIcons, ui_ids::kHandCursor);
        ::SetWindowPos(m_button.GetSafeHwnd(), HWND_TOP, 328, 540, 0, 0, SWP_NOSIZE);
        // Topmost: other test programs may show windows on the same screen,
        // and hover follows the window under the mouse.
        ::SetWindowPos(m_hwnd, HWND_TOPMOST, 30, 30, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
        ::SetForegroundWindow(m_hwnd);
        gui_test::Pump();
    }

    HWND Button() const { return m_button.GetSafeHwnd(); }
    int Clicks() const {
        int n = 0;
        for (const TestDialog::Command& c : m_dlg.m_commands) {
            n += (c.id == ui_ids::kSysInfoCopy && c.code == BN_CLICKED) ? 1 : 0;
        }
        return n;
    }
    int DrawnNow() {
        ::RedrawWindow(Button(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        return m_button.GetLastDrawnImage();
    }
    // Puts the cursor over the button and tells it the mouse moved there.
    void Hover() {
        RECT rc{};
        ::GetWindowRect(Button(), &rc);
        ::SetCursorPos(rc.left + 10, rc.top + 10);
        ::SendMessageW(Button(), WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
    }
    void DoubleClick() {
        const LPARAM at = MAKELPARAM(10, 10);
        ::SendMessageW(Button(), WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::SendMessageW(Button(), WM_LBUTTONUP, 0, at);
        ::SendMessageW(Button(), WM_LBUTTONDBLCLK, MK_LBUTTON, at);
        ::SendMessageW(Button(), WM_LBUTTONUP, 0, at);
    }

    TestDialog m_dlg;
    CXButton m_button;
    HWND m_hwnd = nullptr;
};

TEST_F(ButtonTest, AttachmentReadsTheTypeAndMakesTheButtonOwnerDrawn) {
    struct Case {
        const char* name;
        DWORD style;
        bool checkBox;
        bool isDefault;
    };
    const Case cases[] = {
        {"push button", BS_PUSHBUTTON, false, false},
        {"default push button", BS_DEFPUSHBUTTON, false, true},
        {"check box", BS_CHECKBOX, true, false},
        {"automatic check box", BS_AUTOCHECKBOX, true, false},
        {"radio button", BS_RADIOBUTTON, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const HWND made = ::CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | c.style, 5, 5, 40, 20, m_hwnd,
                                            reinterpret_cast<HMENU>(kRuntimeButton), ::GetModuleHandleW(nullptr),
                                            nullptr);
        ASSERT_NE(made, nullptr);
        {
            CXButton button;
            ASSERT_TRUE(button.SubclassWindow(made));
            EXPECT_EQ(button.IsCheckBox(), c.checkBox);
            EXPECT_EQ(button.IsDefault(), c.isDefault);
            EXPECT_EQ(::GetWindowLongW(made, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
            const LRESULT code = ::SendMessageW(made, WM_GETDLGCODE, 0, 0);
            EXPECT_EQ((code & DLGC_DEFPUSHBUTTON) != 0, c.isDefault);
            EXPECT_EQ((code & DLGC_UNDEFPUSHBUTTON) != 0, !c.isDefault);
        }
        ::DestroyWindow(made);
    }
    // A push button made the default one reports so, and stays owner-drawn.
    ::SendMessageW(Button(), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    EXPECT_TRUE(m_button.IsDefault());
    EXPECT_NE(::SendMessageW(Button(), WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON, 0);
    EXPECT_EQ(::GetWindowLongW(Button(), GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    ::SendMessageW(Button(), BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    EXPECT_FALSE(m_button.IsDefault());
}

TEST_F(ButtonTest, CheckStateOnlyForCheckBoxes) {
    ::SendMessageW(Button(), BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_EQ(::SendMessageW(Button(), BM_GETCHECK, 0, 0), 0);

    const HWND made = ::CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, 5, 5, 40, 20,
                                        m_hwnd, reinterpret_cast<HMENU>(kRuntimeButton), ::GetModuleHandleW(nullptr),
                                        nullptr);
    CXButton box;
    ASSERT_TRUE(box.SubclassWindow(made));
    const std::pair<WPARAM, LRESULT> states[] = {{1, 1}, {0, 0}, {2, 1}, {7, 0}};
    for (const auto& [set, got] : states) {
        ::SendMessageW(made, BM_SETCHECK, set, 0);
        EXPECT_EQ(::SendMessageW(made, BM_GETCHECK, 0, 0), got) << set;
    }
    ::SendMessageW(made, BM_CLICK, 0, 0);
    EXPECT_EQ(::SendMessageW(made, BM_GETCHECK, 0, 0), 1);
    ::SendMessageW(made, BM_CLICK, 0, 0);
    EXPECT_EQ(::SendMessageW(made, BM_GETCHECK, 0, 0), 0);
    box.UnsubclassWindow();
    ::DestroyWindow(made);
}

TEST_F(ButtonTest, ImagesSizeTheButtonAndFallBack) {
    // 136 x 44 icons count as 136 x 44; the 43 x 37 minimise icon as 42 x 36.
    EXPECT_EQ(m_button.GetImageSize(0).cx, 136);
    EXPECT_EQ(m_button.GetImageSize(0).cy, 44);
    RECT rc{};
    ::GetClientRect(Button(), &rc);
    EXPECT_EQ(rc.right, 136);
    EXPECT_EQ(rc.bottom, 44);
    for (int slot = 0; slot < 4; ++slot) {
        EXPECT_NE(m_button.GetImage(slot), nullptr) << slot;
    }

    CXButton minimise;
    ASSERT_TRUE(minimise.SubclassDlgItem(ui_ids::kSysInfoMinimise, m_hwnd));
    SetUpSkinButton(minimise, ui_ids::kMinimiseIcons, ui_ids::kHandCursor);
    ::GetClientRect(minimise.GetSafeHwnd(), &rc);
    EXPECT_EQ(rc.right, 42);
    EXPECT_EQ(rc.bottom, 36);

    // Without pressed and disabled images those looks show the hover image.
    EXPECT_EQ(minimise.SetStateIcons(348, 349, 0, 0), 0);
    EXPECT_EQ(minimise.GetImage(2), minimise.GetImage(1));
    EXPECT_EQ(minimise.GetImage(3), minimise.GetImage(1));
    // A missing normal image leaves the button without any.
    EXPECT_EQ(minimise.SetStateIcons(9999, 349, 350, 351), 1);
    for (int slot = 0; slot < 4; ++slot) {
        EXPECT_EQ(minimise.GetImage(slot), nullptr) << slot;
    }
    // The reserved hover values make a new image of the normal one's size.
    for (int derived : {kHoverDarkened, kHoverGrey}) {
        EXPECT_EQ(minimise.SetStateIcons(348, derived, 0, 0), 0);
        ASSERT_NE(minimise.GetImage(1), nullptr);
        EXPECT_NE(minimise.GetImage(1), minimise.GetImage(0));
        EXPECT_EQ(minimise.GetImageSize(1).cx, 42);
    }
}

TEST_F(ButtonTest, EachLookDrawsItsImage) {
    EXPECT_EQ(DrawnNow(), kImageNormal);
    Hover();
    EXPECT_TRUE(m_button.IsHovered());
    EXPECT_EQ(DrawnNow(), kImageHover);
    ::SendMessageW(Button(), WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(m_button.IsHovered());
    EXPECT_EQ(DrawnNow(), kImageNormal);

    ::SendMessageW(Button(), BM_SETSTATE, TRUE, 0);
    EXPECT_EQ(DrawnNow(), kImagePressed);
    ::SendMessageW(Button(), BM_SETSTATE, FALSE, 0);

    // Hover ends on focus loss, cancel mode and deactivation.
    for (UINT message : {static_cast<UINT>(WM_KILLFOCUS), static_cast<UINT>(WM_CANCELMODE),
                         static_cast<UINT>(WM_ACTIVATE)}) {
        Hover();
        ASSERT_TRUE(m_button.IsHovered());
        ::SendMessageW(Button(), message, message == WM_ACTIVATE ? WA_INACTIVE : 0, 0);
        EXPECT_FALSE(m_button.IsHovered()) << message;
    }
    // A move with the left button held does not start hovering.
    RECT rc{};
    ::GetWindowRect(Button(), &rc);
    ::SetCursorPos(rc.left + 10, rc.top + 10);
    ::SendMessageW(Button(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(10, 10));
    EXPECT_FALSE(m_button.IsHovered());
    // A move that ends off the button ends hovering.
    Hover();
    ::SetCursorPos(rc.right + 40, rc.bottom + 40);
    ::SendMessageW(Button(), WM_MOUSEMOVE, 0, MAKELPARAM(rc.right - rc.left + 40, rc.bottom - rc.top + 40));
    EXPECT_FALSE(m_button.IsHovered());

    // Disabled: image 3 even while the mouse is over it, and the focus moves on.
    ::SetFocus(Button());
    Hover();
    ::EnableWindow(Button(), FALSE);
    EXPECT_FALSE(m_button.IsHovered());
    EXPECT_NE(::GetFocus(), Button());
    EXPECT_EQ(DrawnNow(), kImageDisabled);
    ::EnableWindow(Button(), TRUE);
}

TEST_F(ButtonTest, PressedImageMovesOnePixelRightAndDown) {
    // Pressed and hover share one picture here, so only the offset differs.
    ASSERT_EQ(m_button.SetStateIcons(812, 813, 813, 815), 0);
    Hover();
    DrawnNow();
    const gui_test::Capture hover = gui_test::CaptureWindow(Button());
    ::SendMessageW(Button(), BM_SETSTATE, TRUE, 0);
    DrawnNow();
    const gui_test::Capture pressed = gui_test::CaptureWindow(Button());
    ::SendMessageW(Button(), BM_SETSTATE, FALSE, 0);
    ASSERT_EQ(hover.width, 136);
    int same = 0;
    int shiftedSame = 0;
    for (int y = 0; y + 1 < hover.height; ++y) {
        for (int x = 0; x + 1 < hover.width; ++x) {
            shiftedSame += pressed.At(x + 1, y + 1) == hover.At(x, y) ? 1 : 0;
            same += pressed.At(x, y) == hover.At(x, y) ? 1 : 0;
        }
    }
    const int area = (hover.width - 1) * (hover.height - 1);
    // Edges blend the icon's alpha with the skin, which does not move.
    EXPECT_GT(shiftedSame, area * 80 / 100);
    EXPECT_LT(same, area * 10 / 100);
    EXPECT_LT(same, shiftedSame);
}

TEST_F(ButtonTest, ClicksReachTheParentAndDoubleClickCountsTwice) {
    ::SendMessageW(Button(), BM_CLICK, 0, 0);
    EXPECT_EQ(Clicks(), 1);
    EXPECT_EQ(::GetFocus(), Button());
    DoubleClick();
    EXPECT_EQ(Clicks(), 3);
}

TEST_F(ButtonTest, LinkOpensMaximisedOncePerClickAndTheParentStillHearsIt) {
    TempDir temp;
    const std::string marker = temp.File("link.txt");
    ASSERT_TRUE(::SetEnvironmentVariableW(L"VANTOREL_LINK_PROBE_MARKER", ToWide(marker).c_str()));
    std::string probe = "Z:" VANTOREL_BINARY_DIR "/bin/ui_link_probe.exe";
    for (char& c : probe) {
        if (c == '/') c = '\\';
    }
    m_button.SetLink(probe);
    EXPECT_EQ(m_button.GetLink(), probe);
    DoubleClick();
    EXPECT_EQ(Clicks(), 2);
    std::string lines;
    for (int i = 0; i < 200 && lines != "3\n3\n"; ++i) {
        ::Sleep(50);
        lines = ReadTextFile(marker);
    }
    EXPECT_EQ(lines, "3\n3\n");  // SW_SHOWMAXIMIZED, twice
    ::SetEnvironmentVariableW(L"VANTOREL_LINK_PROBE_MARKER", nullptr);

    // Long links are cut to the buffer, never inside a character.
    m_button.SetLink(std::string(258, 'a') + "\xE4\xB8\xAD");
    EXPECT_EQ(m_button.GetLink(), std::string(258, 'a'));
    m_button.SetLink(std::string(400, 'b'));
    EXPECT_EQ(m_button.GetLink().size(), kMaxLinkBytes - 1);
}

TEST_F(ButtonTest, HandCursorAndHollowBrush) {
    const HCURSOR arrow = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    ::SetCursor(arrow);
    EXPECT_TRUE(::SendMessageW(Button(), WM_SETCURSOR, reinterpret_cast<WPARAM>(Button()),
                               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
    EXPECT_NE(::GetCursor(), arrow);
    EXPECT_NE(::GetCursor(), nullptr);

    HDC dc = ::GetDC(Button());
    const LRESULT brush = ::SendMessageW(m_hwnd, WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc),
                                         reinterpret_cast<LPARAM>(Button()));
    ::ReleaseDC(Button(), dc);
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(brush), ::GetStockObject(NULL_BRUSH));
}

TEST_F(ButtonTest, WithoutImagesItShowsTheSkinUnderIt) {
    EXPECT_EQ(m_button.SetStateIcons(9999, 0, 0, 0), 1);
    m_button.SetTransparent(true);
    DrawnNow();
    const gui_test::Capture button = gui_test::CaptureWindow(Button());
    ASSERT_EQ(button.width, 136);
    const std::vector<uint32_t> skin = SkinPixels();
    int differ = 0;
    for (int y = 0; y < button.height; ++y) {
        for (int x = 0; x < button.width; ++x) {
            const uint32_t bgr = skin[static_cast<size_t>((540 + y) * kSkinWidth + 328 + x)];
            const uint32_t rgb = (bgr & 0xFF) << 16 | (bgr & 0xFF00) | (bgr >> 16);
            differ += button.At(x, y) != rgb ? 1 : 0;
        }
    }
    EXPECT_EQ(differ, 0);
}

TEST_F(ButtonTest, RepaintingLeaksNoGdiObjects) {
    gui_test::GdiCounter gdi;
    if (!gdi.Works()) {
        GTEST_SKIP() << "no way to count GDI objects here";
    }
    DrawnNow();
    const long before = gdi.Count();
    for (int i = 0; i < 200; ++i) {
        if (i % 2 == 0) {
            Hover();
        } else {
            ::SendMessageW(Button(), WM_MOUSELEAVE, 0, 0);
        }
        DrawnNow();
    }
    m_button.SetTransparent(true);  // drops and later re-captures the background
    DrawnNow();
    EXPECT_LT(gdi.Count() - before, 5);
}

}  // namespace
