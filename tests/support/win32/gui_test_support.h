// Helpers for the tests that drive real windows under Wine: a message pump
// that runs the dialog filter like a dialog loop does, pixel capture, BMP
// screenshots, the count of live GDI objects, and a watcher that answers the
// message boxes a window opens.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace gui_test {

// Dispatches what is queued for this thread for `ms` milliseconds, with the
// message filter that the dialog loops run (it gives our windows their
// pre-translation and the standard dialog keys).
inline void Pump(DWORD ms = 50) {
    const ULONGLONG end = ::GetTickCount64() + ms;
    do {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!::CallMsgFilterW(&msg, MSGF_DIALOGBOX)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
        }
        ::Sleep(5);
    } while (::GetTickCount64() < end);
}

// Repaints a window and its children now.
inline void Repaint(HWND hwnd) {
    ::RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

// A window's pixels (0x00RRGGBB, top-down), as the window shows them.
struct Capture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + x]; }
};

inline Capture CaptureWindow(HWND hwnd) {
    Capture out;
    RECT rc{};
    ::GetWindowRect(hwnd, &rc);
    out.width = rc.right - rc.left;
    out.height = rc.bottom - rc.top;
    if (out.width <= 0 || out.height <= 0) {
        return out;
    }
    HDC windowDc = ::GetWindowDC(hwnd);
    HDC memory = ::CreateCompatibleDC(windowDc);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = out.width;
    bi.bmiHeader.biHeight = -out.height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(windowDc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, out.width, out.height, windowDc, 0, 0, SRCCOPY);
    ::GdiFlush();
    const auto* p = static_cast<const uint32_t*>(bits);
    out.pixels.assign(p, p + static_cast<size_t>(out.width) * static_cast<size_t>(out.height));
    for (uint32_t& px : out.pixels) {
        px &= 0x00FFFFFFu;
    }
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(hwnd, windowDc);
    return out;
}

// Writes a 24-bit BMP, creating the folder; false when it cannot.
inline bool SaveBmp(const Capture& c, const std::wstring& folder, const std::wstring& name) {
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring path = folder + L"\\" + name;
    const size_t stride = (static_cast<size_t>(c.width) * 3 + 3) & ~static_cast<size_t>(3);
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = c.width;
    info.biHeight = c.height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = static_cast<DWORD>(stride * static_cast<size_t>(c.height));
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + info.biSizeImage;
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (out == nullptr) {
        return false;
    }
    std::fwrite(&file, sizeof(file), 1, out);
    std::fwrite(&info, sizeof(info), 1, out);
    std::vector<uint8_t> row(stride, 0);
    for (int y = c.height - 1; y >= 0; --y) {
        for (int x = 0; x < c.width; ++x) {
            const uint32_t px = c.At(x, y);
            row[static_cast<size_t>(x) * 3 + 0] = static_cast<uint8_t>(px);
            row[static_cast<size_t>(x) * 3 + 1] = static_cast<uint8_t>(px >> 8);
            row[static_cast<size_t>(x) * 3 + 2] = static_cast<uint8_t>(px >> 16);
        }
        std::fwrite(row.data(), 1, row.size(), out);
    }
    return std::fclose(out) == 0;
}

// The build tree's screenshot folder as a Windows path.
inline std::wstring ScreenshotFolder() {
    std::wstring path = L"Z:" VANTOREL_BINARY_DIR L"/screenshots";
    for (wchar_t& ch : path) {
        if (ch == L'/') ch = L'\\';
    }
    return path;
}

// Live GDI objects of this process: GetGuiResources where the system counts
// them, otherwise Wine's handle table, checked against objects made on
// purpose. -1 when neither works.
class GdiCounter {
public:
    GdiCounter() {
        if (::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS) != 0) {
            m_mode = Mode::GuiResources;
            return;
        }
        m_table = FindWineHandleTable();
        if (m_table != nullptr && SelfCheck()) {
            m_mode = Mode::WineTable;
        }
    }
    [[nodiscard]] bool Works() const { return m_mode != Mode::None; }
    [[nodiscard]] long Count() const {
        if (m_mode == Mode::GuiResources) {
            return static_cast<long>(::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS));
        }
        return m_mode == Mode::WineTable ? CountTable() : -1;
    }

private:
    enum class Mode { None, GuiResources, WineTable };
    // One entry: object (8), owner (4), unique (2), type (1), flags (1), user pointer (8).
    static constexpr size_t kEntryBytes = 24;
    static constexpr size_t kTypeOffset = 14;
    static constexpr size_t kEntries = 16384;

    // Wine keeps its GDI handle table where Windows keeps the shared one: in
    // the process block, or, for a 32-bit program on 64-bit Wine, in the
    // 64-bit process block that the thread block's batch count points to.
    // Only used when GetGuiResources counts nothing, and checked before use.
    static const uint8_t* FindWineHandleTable() {
#if defined(_WIN64)
        return nullptr;
#else
        using CurrentTeb = void*(WINAPI*)();
        const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
        const auto currentTeb = ntdll == nullptr ? nullptr
                                                 : reinterpret_cast<CurrentTeb>(reinterpret_cast<void*>(
                                                       ::GetProcAddress(ntdll, "NtCurrentTeb")));
        if (currentTeb == nullptr) {
            return nullptr;
        }
        const auto* teb = static_cast<const uint8_t*>(currentTeb());
        const auto* peb = *reinterpret_cast<const uint8_t* const*>(teb + 0x30);
        const auto* table = *reinterpret_cast<const uint8_t* const*>(peb + 0x94);
        if (table != nullptr) {
            return table;
        }
        const uint32_t teb64 = *reinterpret_cast<const uint32_t*>(teb + 0xF70);
        if (teb64 == 0) {
            return nullptr;
        }
        const uint64_t peb64 = *reinterpret_cast<const uint64_t*>(static_cast<uintptr_t>(teb64) + 0x60);
        const uint64_t table64 = *reinterpret_cast<const uint64_t*>(static_cast<uintptr_t>(peb64) + 0xF8);
        return reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(table64));
#endif
    }

    long CountTable() const {
        long live = 0;
        for (size_t i = 0; i < kEntries; ++i) {
            live += m_table[i * kEntryBytes + kTypeOffset] != 0 ? 1 : 0;
        }
        return live;
    }
    bool SelfCheck() const {
        const long before = CountTable();
        std::vector<HBRUSH> made;
        for (int i = 0; i < 10; ++i) {
            made.push_back(::CreateSolidBrush(RGB(i, 2, 3)));
        }
        const long during = CountTable();
        for (HBRUSH b : made) {
            ::DeleteObject(b);
        }
        const long after = CountTable();
        return during - before == 10 && after == before;
    }

    Mode m_mode = Mode::None;
    const uint8_t* m_table = nullptr;
};

// Answers the message boxes that windows of `thread` open: records each
// box's text and presses its OK button.
class MessageBoxWatcher {
public:
    explicit MessageBoxWatcher(DWORD thread) : m_thread(thread), m_worker([this] { Run(); }) {}
    ~MessageBoxWatcher() {
        m_stop = true;
        m_worker.join();
    }
    [[nodiscard]] std::vector<std::wstring> Texts() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_texts;
    }

private:
    struct Search {
        MessageBoxWatcher* self;
        HWND box;
    };
    static BOOL CALLBACK ChildText(HWND child, LPARAM param) {
        wchar_t cls[32] = {};
        ::GetClassNameW(child, cls, 32);
        wchar_t text[256] = {};
        if (::lstrcmpiW(cls, L"Static") == 0 && ::GetWindowTextW(child, text, 256) > 0) {
            reinterpret_cast<std::wstring*>(param)->append(text);
        }
        return TRUE;
    }
    static BOOL CALLBACK TopWindow(HWND hwnd, LPARAM param) {
        auto* search = reinterpret_cast<Search*>(param);
        wchar_t cls[32] = {};
        ::GetClassNameW(hwnd, cls, 32);
        // Our skinned windows are dialogs too, but a message box has an owner.
        if (::lstrcmpW(cls, L"#32770") == 0 && ::IsWindowVisible(hwnd) && ::GetWindow(hwnd, GW_OWNER) != nullptr &&
            ::GetDlgItem(hwnd, IDOK) != nullptr) {
            search->box = hwnd;
            return FALSE;
        }
        return TRUE;
    }
    void Run() {
        while (!m_stop) {
            Search search{this, nullptr};
            ::EnumThreadWindows(m_thread, &TopWindow, reinterpret_cast<LPARAM>(&search));
            if (search.box != nullptr && search.box != m_lastBox) {
                std::wstring text;
                ::EnumChildWindows(search.box, &ChildText, reinterpret_cast<LPARAM>(&text));
                {
                    std::lock_guard<std::mutex> lock(m_lock);
                    m_texts.push_back(text);
                }
                m_lastBox = search.box;
                ::PostMessageW(search.box, WM_COMMAND, IDOK, 0);
            }
            if (search.box == nullptr) {
                m_lastBox = nullptr;
            }
            ::Sleep(20);
        }
    }

    DWORD m_thread;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_lock;
    std::vector<std::wstring> m_texts;
    HWND m_lastBox = nullptr;
    std::thread m_worker;
};

}  // namespace gui_test
