#include "ui/win32/x_static.h"

#include <vector>

#include "platform/win32/wide.h"
#include "ui/button_layout.h"

CXStatic::~CXStatic() {
    UnsubclassWindow();
}

void CXStatic::SetText(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_textLock);
    m_strText = text;
}

std::string CXStatic::GetText() const {
    std::lock_guard<std::mutex> lock(m_textLock);
    return m_strText;
}

bool CXStatic::SetPiece(unsigned index, int resource, int width, int height) {
    if (index >= static_cast<unsigned>(kPieceCount)) {
        return false;
    }
    m_aPieces[index] = Piece{};
    UniqueIcon icon(static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resource),
                                                    IMAGE_ICON, width, height, LR_DEFAULTCOLOR)));
    if (!icon) {
        return false;
    }
    ICONINFO info{};
    if (!::GetIconInfo(icon.Get(), &info)) {
        ClearPieces();
        return false;
    }
    UniqueBitmap mask(info.hbmMask);
    UniqueBitmap colour(info.hbmColor);
    Piece& piece = m_aPieces[index];
    piece.resource = resource;
    piece.icon = std::move(icon);
    piece.width = ExtentFromHotSpot(info.xHotspot);
    piece.height = ExtentFromHotSpot(info.yHotspot);
    return true;
}

PieceSize CXStatic::GetPieceSize(unsigned index) const {
    if (index >= static_cast<unsigned>(kPieceCount)) {
        return PieceSize{};
    }
    const Piece& p = m_aPieces[index];
    return PieceSize{p.icon.IsValid(), p.width, p.height};
}

int CXStatic::GetPieceResource(unsigned index) const {
    return index < static_cast<unsigned>(kPieceCount) ? m_aPieces[index].resource : 0;
}

void CXStatic::ClearPieces() {
    for (Piece& piece : m_aPieces) {
        piece = Piece{};
    }
}

LRESULT CXStatic::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND:
            return TRUE;  // the skin under the control stays
        case WM_PAINT:
            OnPaint();
            return 0;
        default:
            return CallDefault(message, wParam, lParam);
    }
}

void CXStatic::OnPaint() {
    PaintDc paint(m_hWnd);
    DrawTextPart(paint.Get());
    DrawImages(paint.Get());
}

void CXStatic::DrawTextPart(HDC dc) {
    std::string text;
    {
        std::lock_guard<std::mutex> lock(m_textLock);
        if (m_strText.empty()) {
            const int length = ::GetWindowTextLengthW(m_hWnd);
            if (length > 0) {
                std::wstring own(static_cast<size_t>(length) + 1, L'\0');
                own.resize(static_cast<size_t>(::GetWindowTextW(m_hWnd, own.data(), length + 1)));
                m_strText = FromWide(own);
            }
        }
        text = m_strText;
    }
    if (text.empty()) {
        return;
    }
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    if (m_bFill) {
        UniqueBrush fill(::CreateSolidBrush(m_crFill));
        ::FillRect(dc, &client, fill.Get());
    }
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
    SelectGuard keepFont(dc, font);
    ::SetTextColor(dc, m_crText);
    ::SetBkMode(dc, TRANSPARENT);
    const std::wstring wide = ToWide(text);
    ::DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &client, m_nFormat);
}

void CXStatic::DrawImages(HDC dc) {
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    std::array<PieceSize, kPieceCount> sizes{};
    for (int i = 0; i < kPieceCount; ++i) {
        sizes[i] = GetPieceSize(static_cast<unsigned>(i));
    }
    const std::vector<PiecePlacement> placed =
        LayoutPieces(sizes, PixelRect{client.left, client.top, client.right, client.bottom});
    for (const PiecePlacement& p : placed) {
        const PixelRect& r = p.rect;
        ::DrawIconEx(dc, r.left, r.top, m_aPieces[p.index].icon.Get(), r.right - r.left, r.bottom - r.top, 0,
                     nullptr, DI_NORMAL);
    }
}

void LoadFramePieces(CXStatic& frame, int firstIcon, int width, int height) {
    for (unsigned i = 0; i < static_cast<unsigned>(kPieceCount); ++i) {
        const bool wide = i == kPieceTop || i == kPieceCentre || i == kPieceBottom;
        const bool tall = i == kPieceLeft || i == kPieceCentre || i == kPieceRight;
        (void)frame.SetPiece(i, firstIcon + static_cast<int>(i), wide ? width : 0, tall ? height : 0);
    }
}
