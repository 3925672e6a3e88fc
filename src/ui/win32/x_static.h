// The label of the skinned windows. It paints over the skin without erasing
// it and shows, in this order: a text (colour, optional solid fill), one
// image stretched over the whole control, or a frame of nine images.
#pragma once

#include <windows.h>

#include <array>
#include <mutex>
#include <string>

#include "platform/win32/win_handles.h"
#include "ui/nine_piece.h"
#include "ui/win32/subclassed_control.h"

class CXStatic : public CSubclassedControl {
public:
    CXStatic() = default;
    ~CXStatic() override;

    // Replaces the text; safe from any thread. Does not repaint: the caller
    // invalidates the control afterwards.
    void SetText(const std::string& text);
    [[nodiscard]] std::string GetText() const;

    // Loads icon `resource` as piece `index` at the given size (0 for the
    // icon's own). False for an index of 9 or more, or when the icon does not
    // load (the piece stays clear).
    [[nodiscard]] bool SetPiece(unsigned index, int resource, int width, int height);
    [[nodiscard]] PieceSize GetPieceSize(unsigned index) const;
    [[nodiscard]] int GetPieceResource(unsigned index) const;

    // Set by the owning dialog before the first paint.
    COLORREF m_crText = RGB(255, 255, 255);
    UINT m_nFormat = 0;
    bool m_bFill = false;
    COLORREF m_crFill = 0;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    struct Piece {
        int resource = 0;
        UniqueIcon icon;
        int width = 0;
        int height = 0;
    };

    void OnPaint();
    void DrawTextPart(HDC dc);
    void DrawImages(HDC dc);
    void ClearPieces();

    mutable std::mutex m_textLock;
    std::string m_strText;
    std::array<Piece, kPieceCount> m_aPieces{};
};

// Gives a static the nine frame pieces from icons firstIcon to firstIcon + 8:
// top, centre and bottom stretched to `width`, left, centre and right to
// `height`, the corners at their own size.
void LoadFramePieces(CXStatic& frame, int firstIcon, int width, int height);
