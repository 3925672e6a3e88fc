#include "ui/win32/progress_strip.h"

#include "platform/win32/wide.h"
#include "platform/win32/win_handles.h"

namespace {

// The skin's text panel: its frame line and its fill.
constexpr COLORREF kFrameColour = RGB(96, 66, 30);
constexpr COLORREF kTrackColour = RGB(10, 4, 3);
// The fill runs from a light gold at its top edge to a dark one at its foot.
constexpr COLORREF kFillTop = RGB(200, 152, 80);
constexpr COLORREF kFillFoot = RGB(104, 66, 26);
constexpr COLORREF kTextColour = RGB(255, 255, 255);
// A dark copy of the text one pixel down and right keeps it readable on gold.
constexpr COLORREF kShadowColour = RGB(10, 4, 3);

// Pixels of the fill for a fraction of width: none for a fraction not above
// 0 (or not a number), all of it from 1 on.
int FilledPixels(double fraction, int width) {
    if (!(fraction > 0.0) || width <= 0) return 0;
    if (fraction >= 1.0) return width;
    return static_cast<int>(fraction * width + 0.5);
}

void FillSolid(HDC dc, const RECT& rect, COLORREF colour) {
    UniqueBrush brush(::CreateSolidBrush(colour));
    ::FillRect(dc, &rect, brush.Get());
}

TRIVERTEX Vertex(LONG x, LONG y, COLORREF colour) {
    return TRIVERTEX{x, y, static_cast<COLOR16>(GetRValue(colour) << 8), static_cast<COLOR16>(GetGValue(colour) << 8),
                     static_cast<COLOR16>(GetBValue(colour) << 8), 0};
}

}  // namespace

CProgressStrip::~CProgressStrip() { UnsubclassWindow(); }

void CProgressStrip::SetProgress(double fraction, const std::string& text) {
    m_fraction = fraction > 1.0 ? 1.0 : (fraction > 0.0 ? fraction : 0.0);
    m_text = ToWide(text);
    // The window text too, so that tools reading the control see the figures.
    ::SetWindowTextW(m_hWnd, m_text.c_str());
    ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

LRESULT CProgressStrip::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND:
            return TRUE;  // every pixel is painted
        case WM_PAINT:
            OnPaint();
            return 0;
        default:
            return CallDefault(message, wParam, lParam);
    }
}

void CProgressStrip::OnPaint() {
    PaintDc paint(m_hWnd);
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    MemoryDc memory(::CreateCompatibleDC(paint.Get()));
    UniqueBitmap picture(::CreateCompatibleBitmap(paint.Get(), width, height));
    if (!memory || !picture) {
        Draw(paint.Get(), client);  // no memory for the picture: straight on the screen
        return;
    }
    SelectGuard keepPicture(memory.Get(), picture.Get());
    Draw(memory.Get(), client);
    ::BitBlt(paint.Get(), 0, 0, width, height, memory.Get(), 0, 0, SRCCOPY);
}

void CProgressStrip::Draw(HDC dc, const RECT& client) const {
    FillSolid(dc, client, kFrameColour);
    RECT track = client;
    ::InflateRect(&track, -1, -1);
    FillSolid(dc, track, kTrackColour);
    const int filled = FilledPixels(m_fraction, track.right - track.left);
    if (filled > 0) {
        TRIVERTEX ends[2] = {Vertex(track.left, track.top, kFillTop),
                             Vertex(track.left + filled, track.bottom, kFillFoot)};
        GRADIENT_RECT span{0, 1};
        ::GradientFill(dc, ends, 2, &span, 1, GRADIENT_FILL_RECT_V);
    }
    if (m_text.empty()) return;
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
    SelectGuard keepFont(dc, font);
    ::SetBkMode(dc, TRANSPARENT);
    constexpr UINT kFormat = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS;
    RECT shadow = track;
    ::OffsetRect(&shadow, 1, 1);
    ::SetTextColor(dc, kShadowColour);
    ::DrawTextW(dc, m_text.c_str(), static_cast<int>(m_text.size()), &shadow, kFormat);
    ::SetTextColor(dc, kTextColour);
    RECT text = track;
    ::DrawTextW(dc, m_text.c_str(), static_cast<int>(m_text.size()), &text, kFormat);
}
