// The launcher's dialog templates and skin, linked into this test program, as
// the windows load them.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "resource.h"
#include "resource_reading.h"

namespace {

const wchar_t kBrowserClass[] = L"" VANTOREL_BROWSER_CLASS;
constexpr int kSkinWidth = 820;
constexpr int kSkinHeight = 670;
constexpr COLORREF kKey = RGB(255, 0, 255);
constexpr COLORREF kTextLineFill = RGB(18, 7, 5);

// ---------------------------------------------------------------- dialog templates

struct DialogItem {
    uint32_t id = 0;
    uint32_t style = 0;
    uint16_t classOrdinal = 0;  // 0x80 button, 0x82 static; 0 when named
    std::wstring className;
    std::wstring title;
};

struct DialogTemplate {
    uint32_t style = 0;
    int16_t cx = 0, cy = 0;
    std::vector<DialogItem> items;
};

// Reads the extended template layout; every read is bounded by the resource size.
class TemplateReader {
public:
    explicit TemplateReader(Bytes bytes) : m_bytes(bytes) {}
    bool ok() const { return m_ok; }

    template <typename T>
    T Get() {
        T value{};
        if (m_pos + sizeof(T) > m_bytes.size) {
            m_ok = false;
            return value;
        }
        std::memcpy(&value, m_bytes.data + m_pos, sizeof(T));
        m_pos += sizeof(T);
        return value;
    }
    void Skip(size_t n) { m_pos + n > m_bytes.size ? void(m_ok = false) : void(m_pos += n); }
    void AlignToDword() { m_pos = (m_pos + 3) & ~size_t{3}; }
    std::wstring Text() {
        std::wstring text;
        for (wchar_t c = Get<wchar_t>(); m_ok && c != 0; c = Get<wchar_t>()) text += c;
        return text;
    }
    // A name that is empty (0), an ordinal (0xFFFF, n) or a text.
    void NameOrOrdinal(std::wstring* textOut, uint16_t* ordinalOut) {
        const uint16_t first = Get<uint16_t>();
        *ordinalOut = 0;
        if (first == 0xFFFF) {
            *ordinalOut = Get<uint16_t>();
        } else if (first != 0) {
            m_pos -= sizeof(uint16_t);
            *textOut = Text();
        }
    }

private:
    Bytes m_bytes;
    size_t m_pos = 0;
    bool m_ok = true;
};

bool ParseDialog(Bytes bytes, DialogTemplate* out) {
    TemplateReader r(bytes);
    if (r.Get<uint16_t>() != 1 || r.Get<uint16_t>() != 0xFFFF) return false;
    r.Skip(8);  // help id, extended style
    out->style = r.Get<uint32_t>();
    const uint16_t count = r.Get<uint16_t>();
    r.Skip(4);  // x, y
    out->cx = r.Get<int16_t>();
    out->cy = r.Get<int16_t>();
    std::wstring text;
    uint16_t ordinal = 0;
    r.NameOrOrdinal(&text, &ordinal);  // menu
    r.NameOrOrdinal(&text, &ordinal);  // window class
    r.Text();                          // caption
    if (out->style & DS_SETFONT) {
        r.Skip(6);  // point size, weight, italic, character set
        r.Text();
    }
    for (uint16_t i = 0; i < count && r.ok(); ++i) {
        DialogItem item;
        r.AlignToDword();
        r.Skip(8);  // help id, extended style
        item.style = r.Get<uint32_t>();
        r.Skip(8);  // x, y, cx, cy
        item.id = r.Get<uint32_t>();
        r.NameOrOrdinal(&item.className, &item.classOrdinal);
        uint16_t titleOrdinal = 0;
        r.NameOrOrdinal(&item.title, &titleOrdinal);
        r.Skip(r.Get<uint16_t>());
        out->items.push_back(item);
    }
    return r.ok();
}

enum class Kind { Button, Static, Browser };
struct ControlSpec {
    int id;
    Kind kind;
};
struct DialogSpec {
    int id;
    int16_t cx, cy;
    std::vector<ControlSpec> controls;
};

const std::vector<DialogSpec>& Dialogs() {
    static const std::vector<DialogSpec> dialogs = {
        {IDD_LAUNCHER, 848, 702,
         {{IDC_BTN_HOME, Kind::Button}, {IDC_BTN_SUPPORT, Kind::Button}, {IDC_BTN_WEIBO, Kind::Button},
          {IDC_BTN_SHOP, Kind::Button}, {IDC_BTN_START, Kind::Button}, {IDC_BTN_SETTINGS, Kind::Button},
          {IDC_BTN_SYSINFO, Kind::Button}, {IDC_BTN_UPDATE, Kind::Button}, {IDC_BTN_MINIMISE, Kind::Button},
          {IDC_BTN_CLOSE, Kind::Button}, {IDC_BROWSER, Kind::Browser}, {IDC_IMAGE1, Kind::Static},
          {IDC_IMAGE2, Kind::Static}, {IDC_VERSION_LINE, Kind::Static}, {IDC_STATUS_LINE, Kind::Static},
          {IDC_BROWSER_FRAME, Kind::Static}, {IDC_PROGRESS_BAR, Kind::Static}}},
        {IDD_SYSTEM_INFO, 802, 650,
         {{IDC_SYSINFO_MINIMISE, Kind::Button}, {IDC_SYSINFO_CLOSE, Kind::Button},
          {IDC_SYSINFO_COPY, Kind::Button}, {IDC_SYSINFO_HIDE, Kind::Button}, {IDC_SYSINFO_PANEL, Kind::Static},
          {IDC_SYSINFO_IMAGE1, Kind::Static}, {IDC_SYSINFO_IMAGE2, Kind::Static},
          {IDC_SYSINFO_TITLE, Kind::Static}, {IDC_SYSINFO_REPORT, Kind::Static}}},
        {IDD_BIND_WEIBO, 802, 650,
         {{IDC_WEIBO_MINIMISE, Kind::Button}, {IDC_WEIBO_CLOSE, Kind::Button},
          {IDC_WEIBO_BROWSER, Kind::Browser}, {IDC_WEIBO_FRAME, Kind::Static},
          {IDC_WEIBO_IMAGE1, Kind::Static}, {IDC_WEIBO_IMAGE2, Kind::Static}}},
    };
    return dialogs;
}

const DialogItem* FindItem(const DialogTemplate& dialog, int id) {
    for (const auto& item : dialog.items)
        if (static_cast<int>(item.id) == id) return &item;
    return nullptr;
}

TEST(Resources, DialogTemplatesHaveTheirSizesAndEveryControl) {
    for (const auto& expected : Dialogs()) {
        SCOPED_TRACE(expected.id);
        DialogTemplate dialog;
        ASSERT_TRUE(ParseDialog(ResourceBytes(expected.id, MAKEINTRESOURCEW(5)), &dialog));
        EXPECT_EQ(dialog.cx, expected.cx);
        EXPECT_EQ(dialog.cy, expected.cy);
        EXPECT_TRUE(dialog.style & WS_POPUP);
        EXPECT_FALSE(dialog.style & (WS_CAPTION | WS_THICKFRAME | WS_CHILD | WS_VISIBLE));
        EXPECT_EQ(dialog.items.size(), expected.controls.size());
        std::set<uint32_t> ids;
        for (const auto& item : dialog.items) EXPECT_TRUE(ids.insert(item.id).second) << item.id;
        for (const auto& control : expected.controls) {
            SCOPED_TRACE(control.id);
            const DialogItem* item = FindItem(dialog, control.id);
            ASSERT_NE(item, nullptr);
            EXPECT_TRUE(item->style & WS_VISIBLE);
            switch (control.kind) {
            case Kind::Button:
                EXPECT_EQ(item->classOrdinal, 0x80);
                EXPECT_EQ(item->style & BS_TYPEMASK, static_cast<uint32_t>(BS_PUSHBUTTON));
                // a caption would be drawn over the button's picture
                EXPECT_TRUE(item->title.empty());
                break;
            case Kind::Static:
                EXPECT_EQ(item->classOrdinal, 0x82);
                // a static that takes clicks would stop the drag of the window
                EXPECT_FALSE(item->style & SS_NOTIFY);
                break;
            case Kind::Browser:
                EXPECT_EQ(item->className, kBrowserClass);
                break;
            }
        }
    }
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

LRESULT CALLBACK BrowserHostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

struct PixelSize {
    int id;
    int minWidth, minHeight, maxWidth, maxHeight;
};

void ExpectPixelSize(HWND dialog, const PixelSize& want) {
    HWND item = GetDlgItem(dialog, want.id);
    if (item == nullptr) return;
    RECT r{};
    GetWindowRect(item, &r);
    EXPECT_GE(r.right - r.left, want.minWidth) << want.id;
    EXPECT_GE(r.bottom - r.top, want.minHeight) << want.id;
    EXPECT_LE(r.right - r.left, want.maxWidth) << want.id;
    EXPECT_LE(r.bottom - r.top, want.maxHeight) << want.id;
}

TEST(Resources, DialogsCreateOnceTheBrowserHostIsRegistered) {
    WNDCLASSEXW host{};
    host.cbSize = sizeof(host);
    host.lpfnWndProc = BrowserHostProc;
    host.hInstance = Self();
    host.lpszClassName = kBrowserClass;
    // The windows' own host class may be registered already by another test.
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof(existing);
    const bool registeredHere = !GetClassInfoExW(Self(), kBrowserClass, &existing);
    if (registeredHere) {
        ASSERT_NE(RegisterClassExW(&host), 0);
    }
    // Frames must hold their nine pieces: corners of 20 plus the stretched edges.
    // The text lines fill their rectangles, which must stay on the skin's panel
    // of the same colour (from x 340 to 622, 24 pixels apart).
    const PixelSize sizes[] = {{IDC_BROWSER_FRAME, 718, 410, 900, 600}, {IDC_SYSINFO_PANEL, 728, 410, 900, 600},
                               {IDC_WEIBO_FRAME, 728, 410, 900, 600},   {IDC_STATUS_LINE, 200, 16, 282, 24},
                               {IDC_VERSION_LINE, 200, 16, 282, 24}};
    for (const auto& expected : Dialogs()) {
        SCOPED_TRACE(expected.id);
        HWND dialog = CreateDialogParamW(Self(), MAKEINTRESOURCEW(expected.id), nullptr, QuietDialogProc, 0);
        ASSERT_NE(dialog, nullptr) << "error " << GetLastError();
        for (const auto& control : expected.controls) EXPECT_NE(GetDlgItem(dialog, control.id), nullptr) << control.id;
        for (const auto& size : sizes) ExpectPixelSize(dialog, size);
        DestroyWindow(dialog);
    }
    if (registeredHere) UnregisterClassW(kBrowserClass, Self());
}

// ---------------------------------------------------------------- skin

class Skin {
public:
    Skin() {
        m_bitmap = static_cast<HBITMAP>(
            LoadImageW(Self(), MAKEINTRESOURCEW(IDB_SKIN), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        if (m_bitmap != nullptr) GetObjectW(m_bitmap, sizeof(m_info), &m_info);
    }
    ~Skin() {
        if (m_bitmap != nullptr) DeleteObject(m_bitmap);
    }
    Skin(const Skin&) = delete;
    Skin& operator=(const Skin&) = delete;

    const DIBSECTION& Info() const { return m_info; }
    COLORREF Pixel(int x, int y) const {
        const int row = m_info.dsBmih.biHeight > 0 ? m_info.dsBm.bmHeight - 1 - y : y;
        const uint8_t* p = static_cast<const uint8_t*>(m_info.dsBm.bmBits) + row * m_info.dsBm.bmWidthBytes + x * 3;
        return RGB(p[2], p[1], p[0]);
    }
    bool IsKey(int x, int y) const { return Pixel(x, y) == kKey; }

private:
    HBITMAP m_bitmap = nullptr;
    DIBSECTION m_info{};
};

// Key pixels that no path of key pixels links to the picture's edge.
int CountHoles(const Skin& skin) {
    std::vector<uint8_t> reached(kSkinWidth * kSkinHeight, 0);
    std::deque<std::pair<int, int>> todo;
    auto visit = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= kSkinWidth || y >= kSkinHeight) return;
        if (reached[y * kSkinWidth + x] || !skin.IsKey(x, y)) return;
        reached[y * kSkinWidth + x] = 1;
        todo.emplace_back(x, y);
    };
    for (int x = 0; x < kSkinWidth; ++x) visit(x, 0), visit(x, kSkinHeight - 1);
    for (int y = 0; y < kSkinHeight; ++y) visit(0, y), visit(kSkinWidth - 1, y);
    while (!todo.empty()) {
        const auto [x, y] = todo.front();
        todo.pop_front();
        visit(x + 1, y), visit(x - 1, y), visit(x, y + 1), visit(x, y - 1);
    }
    int holes = 0;
    for (int y = 0; y < kSkinHeight; ++y)
        for (int x = 0; x < kSkinWidth; ++x) holes += skin.IsKey(x, y) && !reached[y * kSkinWidth + x];
    return holes;
}

TEST(Resources, SkinIsA24BitPictureWithAShapedOutlineAndAHole) {
    HBITMAP plain = LoadBitmapW(Self(), MAKEINTRESOURCEW(IDB_SKIN));
    ASSERT_NE(plain, nullptr);
    DeleteObject(plain);
    Skin skin;
    ASSERT_NE(skin.Info().dsBm.bmBits, nullptr);
    EXPECT_EQ(skin.Info().dsBm.bmWidth, kSkinWidth);
    EXPECT_EQ(skin.Info().dsBm.bmHeight, kSkinHeight);
    EXPECT_EQ(skin.Info().dsBm.bmBitsPixel, 24);
    for (auto corner : {POINT{0, 0}, POINT{kSkinWidth - 1, 0}, POINT{0, kSkinHeight - 1},
                        POINT{kSkinWidth - 1, kSkinHeight - 1}})
        EXPECT_TRUE(skin.IsKey(corner.x, corner.y)) << corner.x << "," << corner.y;
    EXPECT_GT(CountHoles(skin), 0);
}

// Everything the windows lay over the skin, in pixels: a control partly over a
// cut-out would be clipped by the window's outline.
struct Area {
    const char* what;
    RECT rect;
};
const Area kAreas[] = {
    {"settings/weibo", {140, 38, 262, 74}}, {"sysinfo", {267, 38, 389, 74}}, {"support", {398, 38, 520, 74}},
    {"home", {528, 38, 650, 74}},           {"minimise", {679, 35, 721, 71}}, {"close", {720, 35, 762, 71}},
    {"shop", {47, 521, 243, 569}},          {"update", {272, 521, 468, 569}}, {"start", {624, 507, 796, 637}},
    {"main frame", {51, 81, 769, 491}},     {"report panel", {47, 81, 775, 491}},
    {"copy", {328, 540, 464, 584}},         {"hide", {554, 540, 690, 584}},   {"title", {23, 40, 263, 76}},
    {"weibo minimise", {699, 25, 741, 61}}, {"weibo close", {740, 25, 782, 61}},
    {"weibo frame", {33, 91, 761, 501}},    {"tiles", {23, 591, 310, 651}},
    {"text lines", {340, 604, 622, 652}},   {"progress bar", {47, 572, 624, 588}},
};

TEST(Resources, EverythingTheWindowsPlaceLiesOnTheSkin) {
    Skin skin;
    ASSERT_NE(skin.Info().dsBm.bmBits, nullptr);
    for (const auto& area : kAreas) {
        int cut = 0;
        for (LONG y = area.rect.top; y < area.rect.bottom; ++y)
            for (LONG x = area.rect.left; x < area.rect.right; ++x) cut += skin.IsKey(x, y);
        EXPECT_EQ(cut, 0) << area.what;
    }
    // the text lines fill their rectangles with this colour: the skin under them matches
    int off = 0;
    for (int y = 596; y < 654; ++y)
        for (int x = 330; x < 622; ++x) off += skin.Pixel(x, y) != kTextLineFill;
    EXPECT_EQ(off, 0);
}

}  // namespace
