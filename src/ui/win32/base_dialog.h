// The base of every skinned window: a dialog from a template whose size, face
// and outline come from one bitmap, the skin. Pixels of the key colour are
// cut out of the window (by a window region, or by a layered window's colour
// key); the rest of the skin is painted as the window's background.
//
// The window procedure only dispatches: derived dialogs override DialogProc
// with a switch that forwards to their handlers and hands everything else to
// CBaseDialog::DialogProc.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/win_handles.h"
#include "ui/skin_region.h"

class CXButton;
class CXStatic;

// What the two secondary windows (system information, Weibo binding) set up
// alike when they start: their window buttons, their framed panel and the
// two image tiles, with the places that differ between them.
struct SecondaryWindowParts {
    CXButton& minimise;
    POINT minimiseAt;
    CXButton& close;
    POINT closeAt;
    CXStatic& frame;
    POINT frameAt;
    CXStatic& tile1;
    CXStatic& tile2;
};

class CBaseDialog {
public:
    explicit CBaseDialog(UINT templateId, HWND parent = nullptr);
    virtual ~CBaseDialog();
    CBaseDialog(const CBaseDialog&) = delete;
    CBaseDialog& operator=(const CBaseDialog&) = delete;

    // Runs the window modally; the result given to EndDialog, or -1 when the
    // window could not be created.
    INT_PTR DoModal();
    // Creates the window modeless; it stays hidden until shown.
    [[nodiscard]] bool Create();
    void DestroyWindow();
    // Modal: ends the loop. Modeless: hides the window and keeps it.
    void EndDialog(INT_PTR result);

    [[nodiscard]] HWND GetSafeHwnd() const { return m_hWnd; }
    [[nodiscard]] INT_PTR GetResult() const { return m_nResult; }

    // Keeps the window's top-left corner and gives it the skin's pixel size.
    virtual void FitToSkin();
    // Cuts the key colour out of the window, by region or colour key.
    bool ApplySkinShape();
    // Sets the window found from `dc` to the region of the skin's non-key pixels.
    void BuildKeyRegion(HBITMAP skin, HDC dc);

    // The message filter that the dialog loops run before dispatching a
    // message (installed for the thread while a skinned window exists).
    // Returns true when the message was consumed.
    static bool FilterMessage(MSG* msg);

protected:
    // Base initialisation: binds the controls, then skin, shape, size.
    // False when the skin is missing.
    virtual BOOL OnInitDialog();
    // Binds the template's controls to their objects; the base binds none.
    virtual void DoDataExchange() {}
    virtual INT_PTR DialogProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Runs before a message for this window (or one of its controls) is
    // dispatched; true swallows it. The base lets everything through.
    virtual bool PreTranslateMessage(MSG* msg);

    // Handlers shared by the skinned dialogs.
    INT_PTR OnPaint();
    INT_PTR OnSkinnedPaint(HICON appIcon);  // the minimised paint when iconic
    INT_PTR OnNcHitTest(LPARAM lParam);
    void OnMinimize();
    void OnClose();
    // The common start of a secondary window: the skin (the window takes its
    // size and shape), the application title, the minimise and close buttons,
    // the nine-piece frame and the two tiles, each loaded and put in place.
    void StartSecondaryWindow(const SecondaryWindowParts& parts);
    // The pre-filter of the secondary windows: Escape and the caption
    // double-click do nothing, the system close command ends with 0.
    bool FilterSecondaryWindowMessage(const MSG& msg);
    // The messages every secondary window treats alike: the skinned paint,
    // drag anywhere, and the system close command and WM_CLOSE ending with 0.
    // True with *resultOut set when the message was one of them.
    bool HandleSecondaryWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, HICON appIcon,
                                      INT_PTR* resultOut);
    // Sets the answer of a message whose result is not the procedure's return.
    INT_PTR SetResult(LRESULT result);
    // Moves a child to (x, y) of the client area without resizing it.
    void MoveControl(int id, int x, int y) const;
    static void MoveChild(HWND child, POINT at);

    UINT m_nSkinID;
    BOOL m_bLayered = FALSE;
    UniqueBitmap m_bmpSkin;
    BITMAP m_bmInfo{};
    HWND m_hWnd = nullptr;

private:
    static INT_PTR CALLBACK StaticDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR RouteMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void PaintSkin(HDC dc) const;

    UINT m_nTemplateId;
    HWND m_hParent;
    bool m_bModal = false;
    INT_PTR m_nResult = 0;
};

// The region made of the given rectangles, in one call; empty for none.
[[nodiscard]] UniqueRegion RegionFromRects(const std::vector<PixelRect>& rects);
// The bitmap's pixels as a top-down 24-bit buffer; empty when unreadable.
[[nodiscard]] std::vector<uint8_t> ReadBitmapPixels24(HDC dc, HBITMAP bitmap, int width, int height);
// A string resource of the program, or empty.
[[nodiscard]] std::wstring LoadResourceString(UINT id);
