#include "ui/win32/base_dialog.h"

#include <algorithm>
#include <string>

#include "ui/win32/subclassed_control.h"
#include "ui/win32/ui_ids.h"
#include "ui/win32/web_browser2.h"
#include "ui/win32/x_button.h"
#include "ui/win32/x_static.h"

namespace {

constexpr COLORREF kLayerKey = RGB(255, 0, 255);
// Rectangles handed to one ExtCreateRegion call; larger sets are joined from
// several calls, as some systems refuse very large region data.
constexpr size_t kMaxRectsPerRegionCall = 4000;
// The secondary windows' frame pieces: the top, centre and bottom drawn this
// wide, the left, centre and right this high.
constexpr int kSecondaryFrameWidth = 688;
constexpr int kSecondaryFrameHeight = 370;
constexpr POINT kSecondaryTile1At{23, 591};
constexpr POINT kSecondaryTile2At{170, 591};

using SetLayeredWindowAttributesFn = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);

// The skinned windows of this thread, for the message filter.
struct ThreadDialogs {
    std::vector<CBaseDialog*> open;
    HHOOK hook = nullptr;
    bool filtering = false;
};
thread_local ThreadDialogs t_dialogs;

LRESULT CALLBACK MessageFilterHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == MSGF_DIALOGBOX && CBaseDialog::FilterMessage(reinterpret_cast<MSG*>(lParam))) {
        return TRUE;
    }
    return ::CallNextHookEx(t_dialogs.hook, code, wParam, lParam);
}

UniqueRegion RegionFromChunk(const PixelRect* rects, size_t count) {
    static_assert(sizeof(RGNDATAHEADER) == 2 * sizeof(RECT), "header takes two RECT slots");
    std::vector<RECT> data(2 + count);
    auto* header = reinterpret_cast<RGNDATAHEADER*>(data.data());
    header->dwSize = sizeof(RGNDATAHEADER);
    header->iType = RDH_RECTANGLES;
    header->nCount = static_cast<DWORD>(count);
    header->nRgnSize = static_cast<DWORD>(count * sizeof(RECT));
    RECT bound{rects[0].left, rects[0].top, rects[0].right, rects[0].bottom};
    for (size_t i = 0; i < count; ++i) {
        const PixelRect& r = rects[i];
        data[2 + i] = RECT{r.left, r.top, r.right, r.bottom};
        bound.left = std::min<LONG>(bound.left, r.left);
        bound.top = std::min<LONG>(bound.top, r.top);
        bound.right = std::max<LONG>(bound.right, r.right);
        bound.bottom = std::max<LONG>(bound.bottom, r.bottom);
    }
    header->rcBound = bound;
    const DWORD bytes = static_cast<DWORD>(data.size() * sizeof(RECT));
    return UniqueRegion(::ExtCreateRegion(nullptr, bytes, reinterpret_cast<const RGNDATA*>(data.data())));
}

}  // namespace

UniqueRegion RegionFromRects(const std::vector<PixelRect>& rects) {
    UniqueRegion region(::CreateRectRgn(0, 0, 0, 0));
    for (size_t first = 0; region && first < rects.size(); first += kMaxRectsPerRegionCall) {
        const size_t count = std::min(kMaxRectsPerRegionCall, rects.size() - first);
        UniqueRegion chunk = RegionFromChunk(rects.data() + first, count);
        if (!chunk) {
            return UniqueRegion();
        }
        if (first == 0) {
            region = std::move(chunk);
        } else {
            ::CombineRgn(region.Get(), region.Get(), chunk.Get(), RGN_OR);
        }
    }
    return region;
}

std::vector<uint8_t> ReadBitmapPixels24(HDC dc, HBITMAP bitmap, int width, int height) {
    if (width <= 0 || height <= 0 || width > kMaxSkinSide || height > kMaxSkinSide) {
        return {};
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint8_t> bits(DibStride24(width) * static_cast<size_t>(height));
    const int rows = ::GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), bits.data(), &info, DIB_RGB_COLORS);
    if (rows != height) {
        return {};
    }
    return bits;
}

std::wstring LoadResourceString(UINT id) {
    const wchar_t* text = nullptr;
    const int length = ::LoadStringW(::GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr) {
        return {};
    }
    return std::wstring(text, static_cast<size_t>(length));
}

CBaseDialog::CBaseDialog(UINT templateId, HWND parent)
    : m_nSkinID(templateId), m_nTemplateId(templateId), m_hParent(parent) {}

CBaseDialog::~CBaseDialog() {
    DestroyWindow();
}

INT_PTR CBaseDialog::DoModal() {
    if (m_hWnd != nullptr || !EnsureBrowserHostClass()) {
        return -1;
    }
    m_bModal = true;
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nTemplateId), m_hParent,
                             &StaticDialogProc, reinterpret_cast<LPARAM>(this));
}

bool CBaseDialog::Create() {
    if (m_hWnd != nullptr || !EnsureBrowserHostClass()) {
        return false;
    }
    m_bModal = false;
    return ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nTemplateId), m_hParent,
                                &StaticDialogProc, reinterpret_cast<LPARAM>(this)) != nullptr;
}

void CBaseDialog::DestroyWindow() {
    if (m_hWnd != nullptr && ::IsWindow(m_hWnd)) {
        ::DestroyWindow(m_hWnd);
    }
}

void CBaseDialog::EndDialog(INT_PTR result) {
    m_nResult = result;
    if (m_hWnd == nullptr) {
        return;
    }
    if (m_bModal) {
        ::EndDialog(m_hWnd, result);
    } else {
        ::ShowWindow(m_hWnd, SW_HIDE);
    }
}

BOOL CBaseDialog::OnInitDialog() {
    DoDataExchange();
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    // A DIB section keeps the skin's own 24-bit colours whatever the
    // display's depth, so the key colour is found exactly.
    m_bmpSkin.Reset(static_cast<HBITMAP>(::LoadImageW(instance, MAKEINTRESOURCEW(LOWORD(m_nSkinID)), IMAGE_BITMAP,
                                                      0, 0, LR_CREATEDIBSECTION)));
    if (!m_bmpSkin) {
        return FALSE;
    }
    if (::GetObjectW(m_bmpSkin.Get(), sizeof(m_bmInfo), &m_bmInfo) == 0) {
        m_bmpSkin.Reset();
        m_bmInfo = BITMAP{};
        return FALSE;
    }
    if (!ApplySkinShape()) {
        return FALSE;
    }
    FitToSkin();
    return TRUE;
}

void CBaseDialog::FitToSkin() {
    RECT rc{};
    ::GetWindowRect(m_hWnd, &rc);
    ::MoveWindow(m_hWnd, rc.left, rc.top, m_bmInfo.bmWidth, m_bmInfo.bmHeight, TRUE);
}

bool CBaseDialog::ApplySkinShape() {
    if (m_bLayered) {
        const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
        const auto setAttributes =
            user32 == nullptr ? nullptr
                              : reinterpret_cast<SetLayeredWindowAttributesFn>(
                                    reinterpret_cast<void*>(::GetProcAddress(user32, "SetLayeredWindowAttributes")));
        if (setAttributes != nullptr) {
            const LONG exStyle = ::GetWindowLongW(m_hWnd, GWL_EXSTYLE);
            ::SetWindowLongW(m_hWnd, GWL_EXSTYLE, exStyle | WS_EX_LAYERED);
            setAttributes(m_hWnd, kLayerKey, 255, LWA_COLORKEY);
            return true;
        }
        // Without the function the window is shaped by a region instead.
        m_bLayered = FALSE;
    }
    WindowDc dc(m_hWnd);
    BuildKeyRegion(m_bmpSkin.Get(), dc.Get());
    return true;
}

void CBaseDialog::BuildKeyRegion(HBITMAP skin, HDC dc) {
    BITMAP bm{};
    if (skin == nullptr || dc == nullptr || ::GetObjectW(skin, sizeof(bm), &bm) == 0) {
        return;
    }
    const std::vector<uint8_t> bits = ReadBitmapPixels24(dc, skin, bm.bmWidth, bm.bmHeight);
    std::vector<PixelRect> rects;
    if (bits.empty()) {
        // Pixels that cannot be read are not the key: the whole skin stays.
        rects.push_back(PixelRect{0, 0, bm.bmWidth, bm.bmHeight});
    } else {
        const PixelBuffer24 buffer{bits.data(), bits.size(), bm.bmWidth, bm.bmHeight, DibStride24(bm.bmWidth), false};
        rects = BuildKeyRectangles(buffer);
    }
    UniqueRegion region = RegionFromRects(rects);
    const HWND hwnd = ::WindowFromDC(dc);
    if (hwnd == nullptr) {
        return;
    }
    if (region && ::SetWindowRgn(hwnd, region.Get(), TRUE) != 0) {
        (void)region.Release();  // the window owns its region now
    }
    ::SetForegroundWindow(hwnd);
}

bool CBaseDialog::FilterMessage(MSG* msg) {
    ThreadDialogs& state = t_dialogs;
    if (msg == nullptr || msg->hwnd == nullptr || state.filtering) {
        return false;
    }
    const HWND root = ::GetAncestor(msg->hwnd, GA_ROOT);
    const auto it = std::find_if(state.open.begin(), state.open.end(),
                                 [root](const CBaseDialog* d) { return d->m_hWnd == root; });
    if (it == state.open.end()) {
        return false;
    }
    CBaseDialog* dialog = *it;
    state.filtering = true;
    bool consumed = dialog->PreTranslateMessage(msg);
    // A modeless window gets the standard dialog keyboard handling here; a
    // modal one gets it from its own loop right after this filter.
    if (!consumed && !dialog->m_bModal && ::IsWindow(dialog->m_hWnd)) {
        consumed = ::IsDialogMessageW(dialog->m_hWnd, msg) != FALSE;
    }
    state.filtering = false;
    return consumed;
}

bool CBaseDialog::PreTranslateMessage(MSG*) {
    return false;
}

INT_PTR CBaseDialog::DialogProc(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_PAINT:
            return OnPaint();
        case WM_PRINTCLIENT:
            PaintSkin(reinterpret_cast<HDC>(wParam));
            return SetResult(1);
        default:
            return FALSE;
    }
}

INT_PTR CBaseDialog::OnPaint() {
    PaintDc paint(m_hWnd);
    PaintSkin(paint.Get());
    return TRUE;
}

void CBaseDialog::PaintSkin(HDC dc) const {
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    if (!m_bmpSkin) {
        ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_BTNFACE));
        return;
    }
    MemoryDc memory(::CreateCompatibleDC(dc));
    SelectGuard select(memory.Get(), m_bmpSkin.Get());
    if (m_bLayered) {
        BITMAP now{};
        ::GetObjectW(m_bmpSkin.Get(), sizeof(now), &now);
        ::StretchBlt(dc, 0, 0, client.right - client.left, client.bottom - client.top, memory.Get(), 0, 0,
                     now.bmWidth, now.bmHeight, SRCCOPY);
    } else {
        ::BitBlt(dc, 0, 0, m_bmInfo.bmWidth, m_bmInfo.bmHeight, memory.Get(), 0, 0, SRCCOPY);
    }
}

INT_PTR CBaseDialog::OnSkinnedPaint(HICON appIcon) {
    if (!::IsIconic(m_hWnd)) {
        return OnPaint();
    }
    PaintDc paint(m_hWnd);
    ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(paint.Get()), 0);
    const int iconWidth = ::GetSystemMetrics(SM_CXICON);
    const int iconHeight = ::GetSystemMetrics(SM_CYICON);
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    ::DrawIcon(paint.Get(), x, y, appIcon);
    return TRUE;
}

INT_PTR CBaseDialog::OnNcHitTest(LPARAM lParam) {
    const LRESULT hit = ::DefWindowProcW(m_hWnd, WM_NCHITTEST, 0, lParam);
    return SetResult(hit == HTCLIENT ? HTCAPTION : hit);
}

void CBaseDialog::OnMinimize() {
    ::ShowWindow(m_hWnd, SW_SHOWMINIMIZED);
    ::UpdateWindow(m_hWnd);
}

bool CBaseDialog::HandleSecondaryWindowMessage(UINT message, WPARAM wParam, LPARAM lParam,
                                               HICON appIcon, INT_PTR* resultOut) {
    switch (message) {
        case WM_PAINT:
            *resultOut = OnSkinnedPaint(appIcon);
            return true;
        case WM_NCHITTEST:
            *resultOut = OnNcHitTest(lParam);
            return true;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) != SC_CLOSE) {
                *resultOut = FALSE;
                return true;
            }
            OnClose();
            *resultOut = TRUE;
            return true;
        case WM_CLOSE:
            OnClose();
            *resultOut = TRUE;
            return true;
        default:
            return false;
    }
}

void CBaseDialog::OnClose() {
    EndDialog(0);
}

void CBaseDialog::StartSecondaryWindow(const SecondaryWindowParts& parts) {
    m_nSkinID = ui_ids::kSkinBitmap;
    (void)CBaseDialog::OnInitDialog();
    ::SetWindowTextW(m_hWnd, LoadResourceString(ui_ids::kAppTitleString).c_str());

    SetUpSkinButton(parts.minimise, ui_ids::kMinimiseIcons, ui_ids::kHandCursor);
    SetUpSkinButton(parts.close, ui_ids::kCloseIcons, ui_ids::kHandCursor);
    MoveChild(parts.minimise.GetSafeHwnd(), parts.minimiseAt);
    MoveChild(parts.close.GetSafeHwnd(), parts.closeAt);

    MoveChild(parts.frame.GetSafeHwnd(), parts.frameAt);
    LoadFramePieces(parts.frame, ui_ids::kFrameFirstIcon, kSecondaryFrameWidth, kSecondaryFrameHeight);

    (void)parts.tile1.SetPiece(0, ui_ids::kTileIcon1, 0, 0);
    (void)parts.tile2.SetPiece(0, ui_ids::kTileIcon2, 0, 0);
    MoveChild(parts.tile1.GetSafeHwnd(), kSecondaryTile1At);
    MoveChild(parts.tile2.GetSafeHwnd(), kSecondaryTile2At);
}

bool CBaseDialog::FilterSecondaryWindowMessage(const MSG& msg) {
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
        return true;
    }
    if (msg.message == WM_NCLBUTTONDBLCLK && msg.wParam == HTCAPTION) {
        return true;
    }
    if (msg.message == WM_SYSCOMMAND && msg.wParam == SC_CLOSE) {
        EndDialog(0);
        return true;
    }
    return false;
}

INT_PTR CBaseDialog::SetResult(LRESULT result) {
    ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

void CBaseDialog::MoveControl(int id, int x, int y) const {
    MoveChild(::GetDlgItem(m_hWnd, id), POINT{x, y});
}

void CBaseDialog::MoveChild(HWND child, POINT at) {
    ::SetWindowPos(child, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CBaseDialog::RouteMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT reflected = 0;
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item != nullptr && item->CtlType != ODT_MENU &&
                CSubclassedControl::Reflect(item->hwndItem, message, wParam, lParam, &reflected) && reflected) {
                return TRUE;
            }
            break;
        }
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORSTATIC:
            // Colour queries answer with the brush itself, not through the result slot.
            if (CSubclassedControl::Reflect(reinterpret_cast<HWND>(lParam), message, wParam, lParam, &reflected) &&
                reflected != 0) {
                return static_cast<INT_PTR>(reflected);
            }
            break;
        case WM_COMMAND:
            // The control reacts first; the dialog still gets the command.
            if (lParam != 0) {
                CSubclassedControl::Reflect(reinterpret_cast<HWND>(lParam), message, wParam, lParam, &reflected);
            }
            break;
        default:
            break;
    }
    return DialogProc(message, wParam, lParam);
}

INT_PTR CALLBACK CBaseDialog::StaticDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CBaseDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CBaseDialog*>(lParam);
        self->m_hWnd = hwnd;
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        ThreadDialogs& state = t_dialogs;
        if (state.open.empty()) {
            state.hook = ::SetWindowsHookExW(WH_MSGFILTER, &MessageFilterHook, nullptr, ::GetCurrentThreadId());
        }
        state.open.push_back(self);
    } else {
        self = reinterpret_cast<CBaseDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (self == nullptr) {
        return FALSE;
    }
    INT_PTR result = FALSE;
    try {
        result = self->RouteMessage(message, wParam, lParam);
    } catch (...) {
        // Nothing may cross the window procedure; the message counts as unhandled.
        result = FALSE;
    }
    if (message == WM_NCDESTROY) {
        ThreadDialogs& state = t_dialogs;
        state.open.erase(std::remove(state.open.begin(), state.open.end(), self), state.open.end());
        if (state.open.empty() && state.hook != nullptr) {
            ::UnhookWindowsHookEx(state.hook);
            state.hook = nullptr;
        }
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
    }
    return result;
}
