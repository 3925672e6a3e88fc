// A dialog control whose window procedure is replaced by a C++ object, and
// the reflection of the notifications that Windows sends to the parent
// (owner drawing, colour queries, clicks) back to the control that caused
// them, so that each control draws and reacts by itself.
#pragma once

#include <windows.h>

// A reflected message is kReflectBase + the original message number.
constexpr UINT kReflectBase = WM_USER + 0x1C00;

class CSubclassedControl {
public:
    CSubclassedControl() = default;
    virtual ~CSubclassedControl();
    CSubclassedControl(const CSubclassedControl&) = delete;
    CSubclassedControl& operator=(const CSubclassedControl&) = delete;

    // Binds the object to control `id` of `parent`; false when there is no
    // such control or it is bound already.
    [[nodiscard]] bool SubclassDlgItem(int id, HWND parent);
    [[nodiscard]] bool SubclassWindow(HWND hwnd);
    // Gives the window its own procedure back.
    void UnsubclassWindow();

    [[nodiscard]] HWND GetSafeHwnd() const { return m_hWnd; }

    // Sends a notification that the parent received on to the control that it
    // came from, when that control is one of ours. Returns true with the
    // control's answer when it was reflected.
    static bool Reflect(HWND child, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* resultOut);

protected:
    // Runs once the window is bound (the attachment hook).
    virtual void OnAttached() {}
    // The control's messages; the default passes them to the original procedure.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT CallDefault(UINT message, WPARAM wParam, LPARAM lParam);
    void Invalidate() const;

    HWND m_hWnd = nullptr;

private:
    static LRESULT CALLBACK StaticWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    WNDPROC m_pfnOriginal = nullptr;
};
