#include "ui/win32/x_button.h"

#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>

#include "platform/win32/wide.h"

namespace {

HICON LoadIconResource(int resource, int width, int height) {
    return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resource), IMAGE_ICON,
                                           width, height, LR_DEFAULTCOLOR));
}

// The counted size of an icon (twice its hot spot); false when unreadable.
bool ReadIconExtent(HICON icon, int* widthOut, int* heightOut) {
    ICONINFO info{};
    if (icon == nullptr || !::GetIconInfo(icon, &info)) {
        return false;
    }
    UniqueBitmap mask(info.hbmMask);
    UniqueBitmap colour(info.hbmColor);
    *widthOut = ExtentFromHotSpot(info.xHotspot);
    *heightOut = ExtentFromHotSpot(info.yHotspot);
    return true;
}

RECT ToRect(const PixelRect& r) {
    return RECT{r.left, r.top, r.right, r.bottom};
}

}  // namespace

CXButton::CXButton() {
    ResetColours();
}

CXButton::~CXButton() {
    UnsubclassWindow();
    DropBackground();
}

void CXButton::ResetColours() {
    m_crBackHover = m_crBackNormal = m_crBackFocus = ::GetSysColor(COLOR_BTNFACE);
    m_crTextHover = m_crTextNormal = m_crTextFocus = ::GetSysColor(COLOR_BTNTEXT);
}

void CXButton::OnAttached() {
    const LONG_PTR style = ::GetWindowLongPtrW(m_hWnd, GWL_STYLE);
    m_bCheckBox = (style & 0x2) != 0;
    m_bDefault = (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_OWNERDRAW);
}

HICON CXButton::LoadStateIcon(int resource) const {
    return resource > 0 ? LoadIconResource(resource, 0, 0) : nullptr;
}

UniqueIcon CXButton::DeriveIcon(HICON from, bool grey) const {
    ICONINFO info{};
    if (from == nullptr || !::GetIconInfo(from, &info)) {
        return UniqueIcon();
    }
    UniqueBitmap mask(info.hbmMask);
    UniqueBitmap colour(info.hbmColor);
    BITMAP bm{};
    if (!colour || ::GetObjectW(colour.Get(), sizeof(bm), &bm) == 0 || bm.bmWidth <= 0 || bm.bmHeight <= 0) {
        return UniqueIcon();
    }
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = bm.bmWidth;
    bi.bmiHeader.biHeight = -bm.bmHeight;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    WindowDc screen(nullptr);
    void* bits = nullptr;
    UniqueBitmap derived(::CreateDIBSection(screen.Get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!derived || bits == nullptr ||
        ::GetDIBits(screen.Get(), colour.Get(), 0, static_cast<UINT>(bm.bmHeight), bits, &bi, DIB_RGB_COLORS) !=
            bm.bmHeight) {
        return UniqueIcon();
    }
    auto* pixels = static_cast<uint32_t*>(bits);
    const size_t count = static_cast<size_t>(bm.bmWidth) * static_cast<size_t>(bm.bmHeight);
    for (size_t i = 0; i < count; ++i) {
        pixels[i] = grey ? GreyPixel(pixels[i]) : DarkenPixel(pixels[i]);
    }
    ICONINFO made{TRUE, info.xHotspot, info.yHotspot, mask.Get(), derived.Get()};
    return UniqueIcon(::CreateIconIndirect(&made));
}

int CXButton::SetStateIcons(int normal, int hover, int pressed, int disabled) {
    DropImages();
    std::array<HICON, kButtonImageCount> loaded{};
    loaded[kImageNormal] = LoadStateIcon(normal);
    m_ownedIcons.emplace_back(loaded[kImageNormal]);
    if (hover == kHoverDarkened || hover == kHoverGrey) {
        UniqueIcon derived = DeriveIcon(loaded[kImageNormal], hover == kHoverGrey);
        loaded[kImageHover] = derived.Get();
        m_ownedIcons.push_back(std::move(derived));
    } else {
        loaded[kImageHover] = LoadStateIcon(hover);
        m_ownedIcons.emplace_back(loaded[kImageHover]);
    }
    if (loaded[kImageHover] != nullptr) {
        loaded[kImagePressed] = LoadStateIcon(pressed);
        loaded[kImageDisabled] = LoadStateIcon(disabled);
        m_ownedIcons.emplace_back(loaded[kImagePressed]);
        m_ownedIcons.emplace_back(loaded[kImageDisabled]);
    }
    std::array<bool, kButtonImageCount> present{};
    std::array<Slot, kButtonImageCount> own{};
    for (int i = 0; i < kButtonImageCount; ++i) {
        present[i] = loaded[i] != nullptr;
        if (present[i] && !ReadIconExtent(loaded[i], &own[i].width, &own[i].height)) {
            present[i] = false;
            if (i == kImageNormal || i == kImageHover) {
                DropImages();
                return 1;
            }
        }
        own[i].icon = present[i] ? loaded[i] : nullptr;
    }
    if (!present[kImageNormal]) {
        DropImages();
        return 1;
    }
    const SlotSources slots = ResolveImageSlots(present);
    for (int i = 0; i < kButtonImageCount; ++i) {
        m_aImages[i] = slots.source[i] >= 0 ? own[slots.source[i]] : Slot{};
    }
    Invalidate();
    return 0;
}

void CXButton::DropImages() {
    m_aImages = {};
    m_ownedIcons.clear();
}

SIZE CXButton::GetImageSize(int slot) const {
    if (slot < 0 || slot >= kButtonImageCount) {
        return SIZE{0, 0};
    }
    return SIZE{m_aImages[slot].width, m_aImages[slot].height};
}

HICON CXButton::GetImage(int slot) const {
    return slot >= 0 && slot < kButtonImageCount ? m_aImages[slot].icon : nullptr;
}

void CXButton::SetHoverCursor(int resource) {
    m_hHoverCursor.Reset(static_cast<HCURSOR>(
        ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resource), IMAGE_CURSOR, 0, 0, LR_DEFAULTCOLOR)));
    Invalidate();
}

void CXButton::FitToImage() {
    const Slot& normal = m_aImages[kImageNormal];
    if (normal.icon == nullptr || m_hWnd == nullptr) {
        return;
    }
    m_nMarginX = 0;
    m_nMarginY = 0;
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, normal.width, normal.height,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
}

void CXButton::SetTransparent(bool transparent) {
    m_bTransparent = transparent;
    DropBackground();
    Invalidate();
}

void CXButton::SetLink(const std::string& link) {
    size_t length = std::min(link.size(), kMaxLinkBytes - 1);
    // Do not keep half of a character.
    while (length > 0 && length < link.size() && (static_cast<unsigned char>(link[length]) & 0xC0) == 0x80) {
        --length;
    }
    m_szLink.assign(link, 0, length);
}

void CXButton::DropBackground() {
    if (m_dcBack && m_hOldBack != nullptr) {
        ::SelectObject(m_dcBack.Get(), m_hOldBack);
    }
    m_hOldBack = nullptr;
    m_dcBack.Reset();
    m_bmpBack.Reset();
}

void CXButton::CaptureBackground(int width, int height) {
    const HWND parent = ::GetParent(m_hWnd);
    RECT rc{};
    ::GetWindowRect(m_hWnd, &rc);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rc), 2);
    WindowDc parentDc(parent);
    m_dcBack.Reset(::CreateCompatibleDC(parentDc.Get()));
    m_bmpBack.Reset(::CreateCompatibleBitmap(parentDc.Get(), width, height));
    if (!m_dcBack || !m_bmpBack) {
        DropBackground();
        return;
    }
    m_hOldBack = ::SelectObject(m_dcBack.Get(), m_bmpBack.Get());
    // The parent draws its face into the bitmap when it can; what is on the
    // screen may still be covered or not yet painted.
    POINT oldOrigin{};
    ::SetViewportOrgEx(m_dcBack.Get(), -rc.left, -rc.top, &oldOrigin);
    const LRESULT printed =
        ::SendMessageW(parent, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(m_dcBack.Get()), PRF_CLIENT);
    ::SetViewportOrgEx(m_dcBack.Get(), oldOrigin.x, oldOrigin.y, nullptr);
    if (printed == 0) {
        ::BitBlt(m_dcBack.Get(), 0, 0, width, height, parentDc.Get(), rc.left, rc.top, SRCCOPY);
    }
}

void CXButton::PaintSavedBackground(HDC dc, const RECT& client) {
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    if (!m_dcBack) {
        CaptureBackground(width, height);
    }
    if (m_dcBack) {
        ::BitBlt(dc, client.left, client.top, width, height, m_dcBack.Get(), 0, 0, SRCCOPY);
    }
}

LRESULT CXButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_LBUTTONDBLCLK:
            // A fast double click counts as two clicks.
            return CallDefault(WM_LBUTTONDOWN, wParam, lParam);
        case WM_GETDLGCODE:
            return CallDefault(message, wParam, lParam) | (m_bDefault ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
        case BM_SETSTYLE: {
            const WPARAM type = wParam & BS_TYPEMASK;
            if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) {
                m_bDefault = type == BS_DEFPUSHBUTTON;
            }
            return CallDefault(message, (wParam & ~static_cast<WPARAM>(BS_TYPEMASK)) | BS_OWNERDRAW, lParam);
        }
        case BM_SETCHECK:
            if (m_bCheckBox) {
                m_nCheckState = (wParam == BST_CHECKED || wParam == BST_INDETERMINATE) ? 1 : 0;
                Invalidate();
            }
            return 0;
        case BM_GETCHECK:
            return m_nCheckState;
        case WM_SETCURSOR:
            if (m_hHoverCursor) {
                ::SetCursor(m_hHoverCursor.Get());
                return TRUE;
            }
            break;
        case WM_MOUSEMOVE:
            OnMouseMove(wParam, lParam);
            return 0;
        case WM_MOUSELEAVE:
            CancelHover();
            return 0;
        case WM_KILLFOCUS:
        case WM_CANCELMODE: {
            const LRESULT result = CallDefault(message, wParam, lParam);
            CancelHover();
            return result;
        }
        case WM_ACTIVATE: {
            const LRESULT result = CallDefault(message, wParam, lParam);
            if (LOWORD(wParam) == WA_INACTIVE) {
                CancelHover();
            }
            return result;
        }
        case WM_ENABLE: {
            const LRESULT result = CallDefault(message, wParam, lParam);
            OnEnable(wParam != FALSE);
            return result;
        }
        case WM_SYSCOLORCHANGE:
            ResetColours();
            DropBackground();
            Invalidate();
            break;
        case kReflectBase + WM_CTLCOLORBTN:
            return reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
        case kReflectBase + WM_DRAWITEM:
            DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case kReflectBase + WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) {
                OnClicked();
            }
            return 0;
        default:
            break;
    }
    return CallDefault(message, wParam, lParam);
}

void CXButton::OnMouseMove(WPARAM keys, LPARAM point) {
    CallDefault(WM_MOUSEMOVE, keys, point);
    POINT screen{GET_X_LPARAM(point), GET_Y_LPARAM(point)};
    ::ClientToScreen(m_hWnd, &screen);
    const HWND under = ::WindowFromPoint(screen);
    if (((keys & MK_LBUTTON) != 0 && !m_bHover) || !m_bFlat) {
        return;
    }
    const HWND reference = m_bTrackAlways ? m_hWnd : ::GetActiveWindow();
    if (under == m_hWnd && reference != nullptr) {
        if (m_bHover) {
            return;
        }
        m_bHover = true;
        Invalidate();
        TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), TME_LEAVE, m_hWnd, 0};
        ::TrackMouseEvent(&track);
    } else {
        CancelHover();
    }
}

void CXButton::CancelHover() {
    if (m_bFlat && m_bHover) {
        m_bHover = false;
        Invalidate();
    }
}

void CXButton::OnEnable(bool enabled) {
    if (enabled) {
        return;
    }
    // A disabled button cannot keep the focus: hand it to the next tab stop.
    const HWND parent = ::GetParent(m_hWnd);
    const HWND next = ::GetNextDlgTabItem(parent, m_hWnd, FALSE);
    ::SetFocus(next != nullptr && next != m_hWnd ? next : parent);
    CancelHover();
}

void CXButton::OnClicked() {
    ::SetFocus(m_hWnd);
    if (m_bCheckBox) {
        m_nCheckState = m_nCheckState == 0 ? 1 : 0;
        Invalidate();
        return;
    }
    if (!m_szLink.empty()) {
        const std::wstring link = ToWide(m_szLink);
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = SEE_MASK_FLAG_NO_UI;
        info.hwnd = m_hWnd;
        info.lpVerb = L"open";
        info.lpFile = link.c_str();
        info.nShow = SW_SHOWMAXIMIZED;
        (void)::ShellExecuteExW(&info);
    }
}

void CXButton::DrawItem(const DRAWITEMSTRUCT& item) {
    const HDC dc = item.hDC;
    const UINT state = item.itemState;
    m_bSelected = (state & ODS_SELECTED) != 0;
    m_bPressed = m_bSelected || (m_bCheckBox && m_nCheckState != 0);
    m_bFocused = (state & ODS_FOCUS) != 0;
    m_bDisabled = (state & ODS_DISABLED) != 0;
    RECT client = item.rcItem;
    ::SetBkMode(dc, TRANSPARENT);
    if (m_bTransparent) {
        PaintSavedBackground(dc, client);
    } else {
        DrawBackground(dc, &client);
    }
    DrawFrame(dc, client);
    const int length = ::GetWindowTextLengthW(m_hWnd);
    std::wstring caption(static_cast<size_t>(std::max(length, 0)) + 1, L'\0');
    caption.resize(static_cast<size_t>(::GetWindowTextW(m_hWnd, caption.data(), length + 1)));
    RECT captionRect = client;
    m_nLastDrawnImage = -1;
    if (m_aImages[kImageNormal].icon != nullptr) {
        DrawIconImage(dc, client, !caption.empty(), &captionRect);
    }
    if (!caption.empty()) {
        DrawCaption(dc, captionRect, caption);
    }
    if (m_bFocused && (!m_bFlat || m_bFlatFocus)) {
        RECT focus = item.rcItem;
        ::InflateRect(&focus, -3, -3);
        ::DrawFocusRect(dc, &focus);
    }
}

void CXButton::DrawBackground(HDC dc, RECT* area) {
    if (!m_bFlat && (m_bFocused || m_bDefault)) {
        UniqueBrush black(::CreateSolidBrush(RGB(0, 0, 0)));
        ::FrameRect(dc, area, black.Get());
        ::InflateRect(area, -1, -1);
    }
    const COLORREF colour = (m_bHover || m_bPressed) ? m_crBackHover : m_bFocused ? m_crBackFocus : m_crBackNormal;
    UniqueBrush fill(::CreateSolidBrush(colour));
    ::FillRect(dc, area, fill.Get());
}

void CXButton::DrawFrame(HDC dc, const RECT& area) {
    RECT r = area;
    if (m_bPressed) {
        if (m_bFlat) {
            if (m_bBorder) {
                ::DrawEdge(dc, &r, BDR_SUNKENOUTER, BF_RECT);
            }
        } else {
            UniqueBrush shadow(::CreateSolidBrush(::GetSysColor(COLOR_BTNSHADOW)));
            ::FrameRect(dc, &r, shadow.Get());
        }
        return;
    }
    if (!m_bFlat) {
        ::DrawEdge(dc, &r, EDGE_RAISED, BF_RECT);
    } else if (m_bHover && m_bBorder) {
        ::DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
    }
}

void CXButton::DrawIconImage(HDC dc, const RECT& client, bool hasCaption, RECT* captionOut) {
    const ButtonLook look{m_bHover, m_bPressed, m_bDisabled, m_bSelected, m_bCheckBox};
    SlotSources slots;
    for (int i = 0; i < kButtonImageCount; ++i) {
        slots.source[i] = m_aImages[i].icon != nullptr ? i : -1;
    }
    const int shown = ShownImageSlot(look, slots);
    if (shown < 0) {
        return;
    }
    const Slot& image = m_aImages[shown];
    ImagePlacementInput in;
    in.client = PixelRect{client.left, client.top, client.right, client.bottom};
    in.imageWidth = image.width;
    in.imageHeight = image.height;
    in.hasCaption = hasCaption;
    in.align = m_nAlign;
    in.marginX = m_nMarginX;
    in.marginY = m_nMarginY;
    in.pressed = m_bPressed;
    in.checkBox = m_bCheckBox;
    in.pressedOffsetX = m_nPressedOffsetX;
    in.pressedOffsetY = m_nPressedOffsetY;
    const ImagePlacement placed = PlaceButtonImage(in);
    *captionOut = ToRect(placed.caption);
    // Drawn at the icon's own size from the placed corner; the window clips it.
    ::DrawIconEx(dc, placed.image.left, placed.image.top, image.icon, 0, 0, 0, nullptr, DI_NORMAL);
    m_nLastDrawnImage = shown;
}

void CXButton::DrawCaption(HDC dc, const RECT& area, const std::wstring& caption) {
    RECT r = area;
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
    SelectGuard keepFont(dc, font);
    if (m_bDisabled) {
        ::SetTextColor(dc, ::GetSysColor(COLOR_GRAYTEXT));
    } else {
        ::SetTextColor(dc, (m_bHover || m_bPressed) ? m_crTextHover : m_bFocused ? m_crTextFocus : m_crTextNormal);
    }
    ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &r,
                DT_WORDBREAK | DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

void SetUpSkinButton(CXButton& button, const int (&icons)[4], int cursor) {
    (void)button.SetStateIcons(icons[0], icons[1], icons[2], icons[3]);
    button.SetHoverCursor(cursor);
    button.FitToImage();
    button.SetBorder(false);
    button.SetTransparent(true);
    button.SetTrackAlways(true);
}
