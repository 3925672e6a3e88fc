#include "ui/win32/subclassed_control.h"

namespace {

const wchar_t kControlProperty[] = L"VantorelControlObject";

}  // namespace

CSubclassedControl::~CSubclassedControl() {
    UnsubclassWindow();
}

bool CSubclassedControl::SubclassDlgItem(int id, HWND parent) {
    return SubclassWindow(::GetDlgItem(parent, id));
}

bool CSubclassedControl::SubclassWindow(HWND hwnd) {
    if (hwnd == nullptr || m_hWnd != nullptr || ::GetPropW(hwnd, kControlProperty) != nullptr) {
        return false;
    }
    if (!::SetPropW(hwnd, kControlProperty, this)) {
        return false;
    }
    m_hWnd = hwnd;
    m_pfnOriginal = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&StaticWindowProc)));
    OnAttached();
    return true;
}

void CSubclassedControl::UnsubclassWindow() {
    if (m_hWnd == nullptr) {
        return;
    }
    if (::IsWindow(m_hWnd)) {
        ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnOriginal));
        ::RemovePropW(m_hWnd, kControlProperty);
    }
    m_hWnd = nullptr;
}

bool CSubclassedControl::Reflect(HWND child, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* resultOut) {
    if (child == nullptr || ::GetPropW(child, kControlProperty) == nullptr) {
        return false;
    }
    *resultOut = ::SendMessageW(child, kReflectBase + message, wParam, lParam);
    return true;
}

LRESULT CSubclassedControl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return CallDefault(message, wParam, lParam);
}

LRESULT CSubclassedControl::CallDefault(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= kReflectBase && message < kReflectBase + WM_USER) {
        return 0;  // a reflection the control does not handle
    }
    return ::CallWindowProcW(m_pfnOriginal, m_hWnd, message, wParam, lParam);
}

void CSubclassedControl::Invalidate() const {
    if (m_hWnd != nullptr) {
        ::InvalidateRect(m_hWnd, nullptr, TRUE);
    }
}

LRESULT CALLBACK CSubclassedControl::StaticWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<CSubclassedControl*>(::GetPropW(hwnd, kControlProperty));
    if (self == nullptr) {
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        const WNDPROC original = self->m_pfnOriginal;
        self->UnsubclassWindow();
        return ::CallWindowProcW(original, hwnd, message, wParam, lParam);
    }
    return self->WindowProc(message, wParam, lParam);
}
