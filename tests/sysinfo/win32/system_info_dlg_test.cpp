// The system information window end to end under Wine and Xvfb: created
// hidden, shown, copied to the clipboard, hidden by every way that closes it,
// shown again unchanged. A screenshot of the shown window is kept in the
// build tree.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

#include "platform/win32/wide.h"
#include "support/win32/gui_test_support.h"
#include "sysinfo/report_text.h"
#include "sysinfo/win32/system_info_dlg.h"
#include "ui/win32/ui_ids.h"

namespace {

SystemFacts SampleFacts() {
    SystemFacts f;
    f.strOS = "Microsoft Windows 10 Professional 64bit (10.0 19045) ";
    f.strCPU = "Intel(R) Core(TM) i5-8400 CPU @ 2.80GHz";
    f.strGHz = "2.81";
    f.strCPUCount = "6";
    f.strCPUProducer = "GenuineIntel";
    f.strCPUIdentifier = "x86 Family 6 Model 158 Stepping 10";
    f.strPhysicalMemory = "16313";
    f.strVirtualMemory = "2047";
    f.strSoundCard = "Realtek 高清晰度音频";
    f.strIEVersion = "11 ,0 , 19041 , 1";
    f.aVideoCards = {"NVIDIA GeForce GTX 1060 6GB"};
    f.aNetworkCards = {"Intel(R) Ethernet Connection I219-V", "Realtek 无线网卡"};
    return f;
}

std::wstring ClipboardUnicode() {
    std::wstring out;
    if (!::OpenClipboard(nullptr)) return out;
    if (HANDLE h = ::GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* p = static_cast<const wchar_t*>(::GlobalLock(h))) {
            out = p;
            ::GlobalUnlock(h);
        }
    }
    ::CloseClipboard();
    return out;
}

std::string ClipboardAnsi() {
    std::string out;
    if (!::OpenClipboard(nullptr)) return out;
    if (HANDLE h = ::GetClipboardData(CF_TEXT)) {
        if (const auto* p = static_cast<const char*>(::GlobalLock(h))) {
            out = p;
            ::GlobalUnlock(h);
        }
    }
    ::CloseClipboard();
    return out;
}

void PutOnClipboard(const std::wstring& text) {
    ASSERT_TRUE(::OpenClipboard(nullptr));
    ::EmptyClipboard();
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    std::memcpy(::GlobalLock(block), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    ::GlobalUnlock(block);
    ::SetClipboardData(CF_UNICODETEXT, block);
    ::CloseClipboard();
}

std::string Ansi(const std::string& utf8) {
    const std::wstring wide = ToWide(utf8);
    const int n = ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n > 0 ? n - 1 : 0));
    return out;
}

class SystemInfoWindow : public ::testing::Test {
protected:
    SystemInfoWindow() : m_dlg([this] {
        ++m_gathered;
        return SampleFacts();
    }) {}
    void SetUp() override {
        ASSERT_TRUE(m_dlg.Create());
        m_hwnd = m_dlg.GetSafeHwnd();
    }
    void Show() {
        ::SetWindowPos(m_hwnd, HWND_TOP, 100, 80, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
        ::SetForegroundWindow(m_hwnd);
        gui_test::Pump(100);
    }
    HWND Item(int id) const { return ::GetDlgItem(m_hwnd, id); }
    RECT Placement(int id) const {
        RECT rc{};
        ::GetWindowRect(Item(id), &rc);
        ::MapWindowPoints(nullptr, m_hwnd, reinterpret_cast<POINT*>(&rc), 2);
        return rc;
    }

    int m_gathered = 0;
    CSystemInfoDlg m_dlg;
    HWND m_hwnd = nullptr;
};

TEST_F(SystemInfoWindow, OpensHiddenWithTheReportAndTheLayoutOfItsTable) {
    EXPECT_FALSE(::IsWindowVisible(m_hwnd));
    EXPECT_EQ(m_gathered, 1);
    EXPECT_EQ(m_dlg.Report(), BuildReport(SampleFacts()));
    EXPECT_EQ(m_dlg.ReportLabel().GetText(), m_dlg.Report());
    wchar_t title[64] = {};
    ::GetWindowTextW(m_hwnd, title, 64);
    EXPECT_STREQ(title, L"Vantorel");
    RECT rc{};
    ::GetWindowRect(m_hwnd, &rc);
    EXPECT_EQ(rc.right - rc.left, 820);
    EXPECT_EQ(rc.bottom - rc.top, 670);

    struct Placed {
        int id;
        int x, y, width, height;  // a size of 0 is not checked
        bool visible;
    };
    const Placed table[] = {
        {ui_ids::kSysInfoMinimise, 679, 35, 42, 36, true},
        {ui_ids::kSysInfoClose, 720, 35, 42, 36, true},
        {ui_ids::kSysInfoCopy, 328, 540, 136, 44, true},
        {ui_ids::kSysInfoDismiss, 554, 540, 136, 44, true},
        {ui_ids::kSysInfoPanel, 47, 81, 0, 0, true},
        {ui_ids::kSysInfoTitle, 23, 40, 0, 0, true},
        {ui_ids::kSysInfoTile1, 23, 591, 0, 0, false},
        {ui_ids::kSysInfoTile2, 170, 591, 0, 0, false},
        {ui_ids::kSysInfoReport, 65, 105, 684, 495, true},
    };
    for (const Placed& p : table) {
        SCOPED_TRACE(p.id);
        const RECT at = Placement(p.id);
        EXPECT_EQ(at.left, p.x);
        EXPECT_EQ(at.top, p.y);
        if (p.width != 0) {
            EXPECT_EQ(at.right - at.left, p.width);
            EXPECT_EQ(at.bottom - at.top, p.height);
        }
        EXPECT_EQ((::GetWindowLongW(Item(p.id), GWL_STYLE) & WS_VISIBLE) != 0, p.visible);
    }
}

TEST_F(SystemInfoWindow, ShowsCopiesBothTextsAndHidesEveryWayButEscape) {
    Show();
    ASSERT_TRUE(::IsWindowVisible(m_hwnd));
    gui_test::Repaint(m_hwnd);
    const gui_test::Capture shot = gui_test::CaptureWindow(m_hwnd);
    EXPECT_TRUE(gui_test::SaveBmp(shot, gui_test::ScreenshotFolder(), L"system_info_window.bmp"));
    // The report is drawn in white on the dark panel.
    int white = 0;
    for (int y = 105; y < 300; ++y) {
        for (int x = 65; x < 749; ++x) {
            white += shot.At(x, y) == 0xFFFFFF ? 1 : 0;
        }
    }
    EXPECT_GT(white, 500);

    const std::wstring expectedWide = ToWide(m_dlg.Report());
    {
        gui_test::MessageBoxWatcher boxes(::GetCurrentThreadId());
        for (int copy = 0; copy < 2; ++copy) {
            PutOnClipboard(L"something else");
            ::SendMessageW(Item(ui_ids::kSysInfoCopy), BM_CLICK, 0, 0);
            EXPECT_EQ(ClipboardUnicode(), expectedWide) << copy;
            EXPECT_EQ(ClipboardAnsi(), Ansi(m_dlg.Report())) << copy;
        }
        const std::vector<std::wstring> texts = boxes.Texts();
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_EQ(texts[0], L"复制成功!");
        EXPECT_EQ(texts[1], L"复制成功!");
    }
    EXPECT_NE(expectedWide.find(L"高清晰度音频"), std::wstring::npos);
    EXPECT_NE(expectedWide.find(L"\r\nNetWork Card : Realtek 无线网卡\r\n"), std::wstring::npos);

    struct Closer {
        const char* name;
        std::function<void()> close;
    };
    const Closer closers[] = {
        {"close button", [&] { ::SendMessageW(Item(ui_ids::kSysInfoDismiss), BM_CLICK, 0, 0); }},
        {"title close button", [&] { ::SendMessageW(Item(ui_ids::kSysInfoClose), BM_CLICK, 0, 0); }},
        {"system close through the loop", [&] { ::PostMessageW(m_hwnd, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"system close sent", [&] { ::SendMessageW(m_hwnd, WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    for (const Closer& c : closers) {
        SCOPED_TRACE(c.name);
        Show();
        ::PostMessageW(Item(ui_ids::kSysInfoCopy), WM_KEYDOWN, VK_ESCAPE, 0);
        ::PostMessageW(m_hwnd, WM_KEYDOWN, VK_ESCAPE, 0);
        gui_test::Pump(100);
        EXPECT_TRUE(::IsWindowVisible(m_hwnd)) << "Escape closed it";
        c.close();
        gui_test::Pump(100);
        EXPECT_FALSE(::IsWindowVisible(m_hwnd));
        EXPECT_EQ(m_dlg.GetResult(), 0);
    }
    // Shown again: the same report, never gathered again.
    Show();
    EXPECT_EQ(m_gathered, 1);
    EXPECT_EQ(m_dlg.ReportLabel().GetText(), BuildReport(SampleFacts()));
}

TEST_F(SystemInfoWindow, ClipboardHeldElsewhereCopiesNothingAndSaysNothing) {
    Show();
    PutOnClipboard(L"kept");
    std::atomic<bool> started{false};
    std::atomic<bool> holding{false};
    std::atomic<bool> release{false};
    std::thread holder([&] {
        holding = ::OpenClipboard(nullptr) != FALSE;
        started = true;
        if (!holding) return;
        while (!release) ::Sleep(10);
        ::CloseClipboard();
    });
    while (!started) ::Sleep(10);
    if (!holding) {
        holder.join();
        FAIL() << "the clipboard could not be held by a second thread";
    }
    {
        gui_test::MessageBoxWatcher boxes(::GetCurrentThreadId());
        ::SendMessageW(Item(ui_ids::kSysInfoCopy), BM_CLICK, 0, 0);
        gui_test::Pump(200);
        EXPECT_TRUE(boxes.Texts().empty());
    }
    release = true;
    holder.join();
    EXPECT_EQ(ClipboardUnicode(), L"kept");
}

TEST_F(SystemInfoWindow, MinimisesAndRepaintsWithoutLeakingGdiObjects) {
    Show();
    ::SendMessageW(Item(ui_ids::kSysInfoMinimise), BM_CLICK, 0, 0);
    EXPECT_TRUE(::IsIconic(m_hwnd));
    gui_test::Repaint(m_hwnd);  // the minimised paint
    ::ShowWindow(m_hwnd, SW_RESTORE);
    gui_test::Pump();
    EXPECT_FALSE(::IsIconic(m_hwnd));

    gui_test::GdiCounter gdi;
    if (!gdi.Works()) {
        GTEST_SKIP() << "no way to count GDI objects here";
    }
    gui_test::Repaint(m_hwnd);
    const long before = gdi.Count();
    for (int i = 0; i < 200; ++i) {
        gui_test::Repaint(m_hwnd);
    }
    EXPECT_LT(gdi.Count() - before, 5);
}

}  // namespace
