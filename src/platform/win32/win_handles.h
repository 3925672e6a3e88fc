// Owners of Win32 handles: one move-only template with a traits type per kind
// of handle, plus guards for device contexts and SelectObject.
//
//   UniqueHandle file(CreateFileW(...));       // CloseHandle
//   UniqueBitmap skin(LoadBitmapW(...));       // DeleteObject
//   MemoryDc memDc(CreateCompatibleDC(dc));    // DeleteDC
//   WindowDc dc(hwnd);                         // GetDC / ReleaseDC
//   SelectGuard keep(memDc.Get(), skin.Get()); // restores the old object
//
// A guard never outlives the objects it selected: declare it after them so
// that it is destroyed first.
#pragma once

#include <windows.h>

#include <utility>

template <typename T, typename Traits>
class Unique {
public:
    Unique() = default;
    explicit Unique(T value) : m_value(value) {}
    ~Unique() { Reset(); }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& other) noexcept : m_value(other.Release()) {}
    Unique& operator=(Unique&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }

    [[nodiscard]] T Get() const { return m_value; }
    [[nodiscard]] bool IsValid() const { return Traits::IsValid(m_value); }
    explicit operator bool() const { return IsValid(); }

    // Gives up ownership without closing.
    [[nodiscard]] T Release() {
        T value = m_value;
        m_value = Traits::Invalid();
        return value;
    }
    void Reset(T value = Traits::Invalid()) {
        if (Traits::IsValid(m_value)) {
            Traits::Close(m_value);
        }
        m_value = value;
    }

private:
    T m_value = Traits::Invalid();
};

struct CloseHandleTraits {
    static HANDLE Invalid() { return nullptr; }
    // Both null and INVALID_HANDLE_VALUE mean "no handle" here.
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};

template <typename T>
struct GdiObjectTraits {
    static T Invalid() { return nullptr; }
    static bool IsValid(T h) { return h != nullptr; }
    static void Close(T h) { ::DeleteObject(h); }
};

struct MemoryDcTraits {
    static HDC Invalid() { return nullptr; }
    static bool IsValid(HDC h) { return h != nullptr; }
    static void Close(HDC h) { ::DeleteDC(h); }
};

struct IconTraits {
    static HICON Invalid() { return nullptr; }
    static bool IsValid(HICON h) { return h != nullptr; }
    static void Close(HICON h) { ::DestroyIcon(h); }
};

struct CursorTraits {
    static HCURSOR Invalid() { return nullptr; }
    static bool IsValid(HCURSOR h) { return h != nullptr; }
    static void Close(HCURSOR h) { ::DestroyCursor(h); }
};

struct GlobalMemoryTraits {
    static HGLOBAL Invalid() { return nullptr; }
    static bool IsValid(HGLOBAL h) { return h != nullptr; }
    static void Close(HGLOBAL h) { ::GlobalFree(h); }
};

using UniqueHandle = Unique<HANDLE, CloseHandleTraits>;
using UniqueBitmap = Unique<HBITMAP, GdiObjectTraits<HBITMAP>>;
using UniqueFont = Unique<HFONT, GdiObjectTraits<HFONT>>;
using UniqueBrush = Unique<HBRUSH, GdiObjectTraits<HBRUSH>>;
using UniqueRegion = Unique<HRGN, GdiObjectTraits<HRGN>>;
using MemoryDc = Unique<HDC, MemoryDcTraits>;
using UniqueIcon = Unique<HICON, IconTraits>;
using UniqueCursor = Unique<HCURSOR, CursorTraits>;
using UniqueGlobal = Unique<HGLOBAL, GlobalMemoryTraits>;

// The client-area drawing context of a window, released with the object.
class WindowDc {
public:
    explicit WindowDc(HWND hwnd) : m_hwnd(hwnd), m_dc(::GetDC(hwnd)) {}
    ~WindowDc() {
        if (m_dc != nullptr) {
            ::ReleaseDC(m_hwnd, m_dc);
        }
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    [[nodiscard]] HDC Get() const { return m_dc; }
    explicit operator bool() const { return m_dc != nullptr; }

private:
    HWND m_hwnd;
    HDC m_dc;
};

// BeginPaint / EndPaint.
class PaintDc {
public:
    explicit PaintDc(HWND hwnd) : m_hwnd(hwnd), m_dc(::BeginPaint(hwnd, &m_ps)) {}
    ~PaintDc() { ::EndPaint(m_hwnd, &m_ps); }
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;

    [[nodiscard]] HDC Get() const { return m_dc; }
    [[nodiscard]] const PAINTSTRUCT& Info() const { return m_ps; }

private:
    HWND m_hwnd;
    PAINTSTRUCT m_ps{};
    HDC m_dc;
};

// Selects an object into a drawing context and puts the previous one back.
class SelectGuard {
public:
    SelectGuard(HDC dc, HGDIOBJ object)
        : m_dc(dc), m_previous(dc != nullptr && object != nullptr ? ::SelectObject(dc, object) : nullptr) {}
    ~SelectGuard() {
        if (m_previous != nullptr && m_previous != HGDI_ERROR) {
            ::SelectObject(m_dc, m_previous);
        }
    }
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

// Locks a global memory block for the lifetime of the object.
class GlobalLockGuard {
public:
    explicit GlobalLockGuard(HGLOBAL block) : m_block(block), m_data(::GlobalLock(block)) {}
    ~GlobalLockGuard() {
        if (m_data != nullptr) {
            ::GlobalUnlock(m_block);
        }
    }
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;

    [[nodiscard]] void* Data() const { return m_data; }

private:
    HGLOBAL m_block;
    void* m_data;
};
