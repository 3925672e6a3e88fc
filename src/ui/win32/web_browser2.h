// The web browser inside the skinned windows. The dialog templates name the
// browser's class identifier as the window class of a control; we register a
// window class of that name whose windows host the platform's web-browser
// control through a small OLE container of our own. `CWebBrowser2` binds to
// such a control and drives the browser through its automation interface.
//
// When the browser control cannot be created (a system without it), the
// control stays a plain window that is placed like the browser would be, and
// every call does nothing more: the rest of the window keeps working.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string>

class BrowserSite;

// The browser control's class identifier, also the host window class name.
extern const wchar_t kBrowserClassName[];

// Registers the host window class once per process; false when it cannot.
[[nodiscard]] bool EnsureBrowserHostClass();

class CWebBrowser2 {
public:
    CWebBrowser2() = default;
    ~CWebBrowser2() = default;
    CWebBrowser2(const CWebBrowser2&) = delete;
    CWebBrowser2& operator=(const CWebBrowser2&) = delete;

    // Binds to the host control `id` of `parent`.
    [[nodiscard]] bool SubclassDlgItem(int id, HWND parent);

    // Position in pixels of the parent's client area, through the browser's
    // Left (206), Top (207), Width (208) and Height (209) properties.
    void put_Left(long left);
    void put_Top(long top);
    void put_Width(long width);
    void put_Height(long height);
    // Loads an address (method 104); the result is not looked at.
    void Navigate(const std::string& url);
    // Puts the browser's window above its siblings and paints it now.
    void BringToTopAndUpdate();

    [[nodiscard]] HWND GetSafeHwnd() const { return m_hWnd; }
    // The window that shows the page: the browser's own, or the host.
    [[nodiscard]] HWND GetBrowserWindow() const;
    [[nodiscard]] bool HasBrowser() const;
    // The browser's area in the parent's client coordinates.
    [[nodiscard]] RECT GetPlacement() const;
    // The outcome of the last Navigate call (S_OK, or why it failed).
    [[nodiscard]] HRESULT GetLastNavigateResult() const { return m_hrNavigate; }

private:
    [[nodiscard]] BrowserSite* Site() const;
    void PutPosition(DISPID id, long value);

    HWND m_hWnd = nullptr;
    HRESULT m_hrNavigate = S_FALSE;
};
