// The progress bar of the main window: a gold fill over a dark track inside a
// one-pixel frame, in the colours of the skin's text panel, with the figures
// of the phase under way centred on it. It paints every pixel of the control
// itself, through a memory picture, so an update never flickers and never
// shows the skin through.
#pragma once

#include <windows.h>

#include <string>

#include "ui/win32/subclassed_control.h"

class CProgressStrip : public CSubclassedControl {
public:
    CProgressStrip() = default;
    ~CProgressStrip() override;

    // On the window's thread: the fraction (clamped to 0..1) and the text,
    // then a repaint of this control alone.
    void SetProgress(double fraction, const std::string& text);
    [[nodiscard]] double Fraction() const { return m_fraction; }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void OnPaint();
    void Draw(HDC dc, const RECT& client) const;

    double m_fraction = 0.0;
    std::wstring m_text;
};
