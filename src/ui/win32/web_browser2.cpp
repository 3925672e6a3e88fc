#include "ui/win32/web_browser2.h"

#include <oleauto.h>

#include "platform/win32/wide.h"
#include "ui/win32/browser_site.h"

const wchar_t kBrowserClassName[] = L"{8856F961-340A-11D0-A96B-00C04FD705A2}";

namespace {

constexpr DISPID kDispidNavigate = 104;
constexpr DISPID kDispidLeft = 206;
constexpr DISPID kDispidTop = 207;
constexpr DISPID kDispidWidth = 208;
constexpr DISPID kDispidHeight = 209;
constexpr int kNavigateOptionalArguments = 4;

BrowserSite* SiteOf(HWND host) {
    return reinterpret_cast<BrowserSite*>(::GetWindowLongPtrW(host, GWLP_USERDATA));
}

// The host window: owns the container and, while the browser cannot be
// shown, stands in its place as a plain white area.
LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: {
            auto* site = new BrowserSite(hwnd);
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(site));
            (void)site->Start();
            return 0;
        }
        case WM_DESTROY:
            if (BrowserSite* site = SiteOf(hwnd)) {
                ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
                site->Stop();
                site->Release();
            }
            return 0;
        case WM_ERASEBKGND: {
            RECT rc{};
            ::GetClientRect(hwnd, &rc);
            ::FillRect(reinterpret_cast<HDC>(wParam), &rc, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
            return TRUE;
        }
        default:
            return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

}  // namespace

bool EnsureBrowserHostClass() {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    if (::GetClassInfoExW(instance, kBrowserClassName, &wc)) {
        return true;
    }
    wc = WNDCLASSEXW{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &HostWindowProc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = kBrowserClassName;
    return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool CWebBrowser2::SubclassDlgItem(int id, HWND parent) {
    const HWND host = ::GetDlgItem(parent, id);
    wchar_t className[64] = {};
    if (host == nullptr || ::GetClassNameW(host, className, 64) == 0 ||
        ::lstrcmpiW(className, kBrowserClassName) != 0) {
        return false;
    }
    m_hWnd = host;
    return true;
}

BrowserSite* CWebBrowser2::Site() const {
    return m_hWnd != nullptr ? SiteOf(m_hWnd) : nullptr;
}

bool CWebBrowser2::HasBrowser() const {
    const BrowserSite* site = Site();
    return site != nullptr && site->HasBrowser();
}

HWND CWebBrowser2::GetBrowserWindow() const {
    const BrowserSite* site = Site();
    return site != nullptr && site->BrowserWindow() != nullptr ? site->BrowserWindow() : m_hWnd;
}

RECT CWebBrowser2::GetPlacement() const {
    const BrowserSite* site = Site();
    return site != nullptr ? site->Placement() : RECT{};
}

void CWebBrowser2::PutPosition(DISPID id, long value) {
    BrowserSite* site = Site();
    if (site == nullptr) {
        return;
    }
    VARIANT argument;
    ::VariantInit(&argument);
    argument.vt = VT_I4;
    argument.lVal = value;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&argument, &named, 1, 1};
    if (SUCCEEDED(site->InvokeBrowser(id, DISPATCH_PROPERTYPUT, &params))) {
        return;  // the browser asks its site to move it
    }
    // No browser to ask: place the stand-in area the same way.
    RECT r = site->Placement();
    const long width = r.right - r.left;
    const long height = r.bottom - r.top;
    switch (id) {
        case kDispidLeft:
            r.left = value;
            r.right = value + width;
            break;
        case kDispidTop:
            r.top = value;
            r.bottom = value + height;
            break;
        case kDispidWidth:
            r.right = r.left + value;
            break;
        case kDispidHeight:
            r.bottom = r.top + value;
            break;
        default:
            return;
    }
    site->SetPlacement(r);
}

void CWebBrowser2::put_Left(long left) {
    PutPosition(kDispidLeft, left);
}

void CWebBrowser2::put_Top(long top) {
    PutPosition(kDispidTop, top);
}

void CWebBrowser2::put_Width(long width) {
    PutPosition(kDispidWidth, width);
}

void CWebBrowser2::put_Height(long height) {
    PutPosition(kDispidHeight, height);
}

void CWebBrowser2::Navigate(const std::string& url) {
    BrowserSite* site = Site();
    if (site == nullptr) {
        m_hrNavigate = E_HANDLE;
        return;
    }
    // Arguments go last to first: the four optional ones are absent.
    VARIANT arguments[kNavigateOptionalArguments + 1];
    for (VARIANT& v : arguments) {
        ::VariantInit(&v);
        v.vt = VT_ERROR;
        v.scode = DISP_E_PARAMNOTFOUND;
    }
    const std::wstring wide = ToWide(url);
    VARIANT& address = arguments[kNavigateOptionalArguments];
    address.vt = VT_BSTR;
    address.bstrVal = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    DISPPARAMS params{arguments, nullptr, kNavigateOptionalArguments + 1, 0};
    m_hrNavigate = site->InvokeBrowser(kDispidNavigate, DISPATCH_METHOD, &params);
    ::VariantClear(&address);
}

void CWebBrowser2::BringToTopAndUpdate() {
    const HWND window = GetBrowserWindow();
    if (window == nullptr) {
        return;
    }
    ::SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ::UpdateWindow(window);
}
