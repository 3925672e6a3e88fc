// The launcher's icons, cursor, texts, version and manifest, read both from
// their raw resource data and through the calls the windows make.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "resource.h"
#include "resource_reading.h"

namespace {

struct GroupEntry {
    int width = 0, height = 0, bits = 0, id = 0;
};

// Entries of an icon or cursor group (the directory the resource compiler wrote).
std::vector<GroupEntry> ReadGroup(int id, bool cursor) {
    const Bytes group = ResourceBytes(id, cursor ? RT_GROUP_CURSOR : RT_GROUP_ICON);
    std::vector<GroupEntry> entries;
    if (group.size < 6) return entries;
    uint16_t count = 0;
    std::memcpy(&count, group.data + 4, 2);
    for (size_t i = 0; i < count && 6 + (i + 1) * 14 <= group.size; ++i) {
        const uint8_t* e = group.data + 6 + i * 14;
        GroupEntry entry;
        uint16_t word = 0;
        if (cursor) {
            std::memcpy(&word, e, 2), entry.width = word;
            std::memcpy(&word, e + 2, 2), entry.height = word / 2;  // colour and mask
        } else {
            entry.width = e[0] == 0 ? 256 : e[0];
            entry.height = e[1] == 0 ? 256 : e[1];
        }
        std::memcpy(&word, e + 6, 2), entry.bits = word;
        std::memcpy(&word, e + 12, 2), entry.id = word;
        entries.push_back(entry);
    }
    return entries;
}

struct Picture {
    int width = 0, height = 0, bits = 0;
    int hotX = 0, hotY = 0;
    std::vector<uint8_t> bgra;  // top row first
    uint8_t Alpha(int x, int y) const { return bgra[(y * width + x) * 4 + 3]; }
};

// One 32-bit image of an icon or cursor; a cursor's data starts with its hot spot.
bool ReadPicture(int id, bool cursor, Picture* out) {
    const Bytes raw = ResourceBytes(id, cursor ? RT_CURSOR : RT_ICON);
    const size_t prefix = cursor ? 4 : 0;
    if (raw.size < prefix + sizeof(BITMAPINFOHEADER)) return false;
    if (cursor) {
        uint16_t hot[2];
        std::memcpy(hot, raw.data, 4);
        out->hotX = hot[0], out->hotY = hot[1];
    }
    BITMAPINFOHEADER header;
    std::memcpy(&header, raw.data + prefix, sizeof(header));
    out->width = header.biWidth, out->height = header.biHeight / 2, out->bits = header.biBitCount;
    const size_t pixels = static_cast<size_t>(out->width) * out->height * 4;
    if (out->bits != 32 || out->width <= 0 || out->height <= 0 ||
        raw.size < prefix + header.biSize + pixels)
        return false;
    const uint8_t* rows = raw.data + prefix + header.biSize;
    out->bgra.resize(pixels);
    for (int y = 0; y < out->height; ++y)
        std::memcpy(&out->bgra[y * out->width * 4], rows + (out->height - 1 - y) * out->width * 4, out->width * 4);
    return true;
}

// The loaded icon's size as the windows count it: twice its hot spot.
SIZE LoadedIconSize(int id, int cx, int cy) {
    HICON icon = static_cast<HICON>(LoadImageW(Self(), MAKEINTRESOURCEW(id), IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR));
    if (icon == nullptr) return {0, 0};
    ICONINFO info{};
    SIZE size{0, 0};
    if (GetIconInfo(icon, &info)) {
        size = {static_cast<LONG>(info.xHotspot * 2), static_cast<LONG>(info.yHotspot * 2)};
        if (info.hbmColor) DeleteObject(info.hbmColor);
        if (info.hbmMask) DeleteObject(info.hbmMask);
    }
    DestroyIcon(icon);
    return size;
}

double MeanDifference(const Picture& a, const Picture& b) {
    if (a.bgra.size() != b.bgra.size() || a.bgra.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.bgra.size(); ++i) sum += std::abs(int(a.bgra[i]) - int(b.bgra[i]));
    return sum / (a.bgra.size() / 4);
}

struct ButtonSpec {
    const char* name;
    int firstId;
    int width, height;
};

const ButtonSpec kButtons[] = {
    {"home", IDI_HOME_NORMAL, 123, 37},         {"support", IDI_SUPPORT_NORMAL, 123, 37},
    {"weibo", IDI_WEIBO_NORMAL, 123, 37},       {"settings", IDI_SETTINGS_NORMAL, 123, 37},
    {"sysinfo", IDI_SYSINFO_NORMAL, 123, 37},   {"shop", IDI_SHOP_NORMAL, 196, 48},
    {"update", IDI_UPDATE_NORMAL, 196, 48},     {"start", IDI_START_NORMAL, 172, 131},
    {"minimise", IDI_MINIMISE_NORMAL, 43, 37},  {"close", IDI_CLOSE_NORMAL, 43, 37},
    {"copy", IDI_COPY_NORMAL, 136, 44},         {"dismiss", IDI_DISMISS_NORMAL, 136, 44},
    {"pause", IDI_PAUSE_NORMAL, 196, 48},       {"continue", IDI_CONTINUE_NORMAL, 196, 48},
};

TEST(ResourcePictures, ButtonsHaveFourDistinct32BitLooksAtTheirSizes) {
    for (const auto& button : kButtons) {
        SCOPED_TRACE(button.name);
        Picture looks[4];
        for (int state = 0; state < 4; ++state) {
            const int id = button.firstId + state;
            const auto group = ReadGroup(id, false);
            ASSERT_EQ(group.size(), 1u) << id;
            EXPECT_EQ(group[0].bits, 32);
            ASSERT_TRUE(ReadPicture(group[0].id, false, &looks[state])) << id;
            EXPECT_EQ(looks[state].width, button.width);
            EXPECT_EQ(looks[state].height, button.height);
            int clear = 0, soft = 0;
            for (int y = 0; y < looks[state].height; ++y)
                for (int x = 0; x < looks[state].width; ++x) {
                    const int a = looks[state].Alpha(x, y);
                    clear += a == 0;
                    soft += a > 0 && a < 255;
                }
            // a real alpha channel: a clear surround and soft edges, not a 1-bit mask
            EXPECT_GT(clear, 0) << "look " << state;
            EXPECT_GT(soft, 0) << "look " << state;
            const SIZE loaded = LoadedIconSize(id, 0, 0);
            EXPECT_EQ(loaded.cx, button.width / 2 * 2);
            EXPECT_EQ(loaded.cy, button.height / 2 * 2);
        }
        for (int i = 0; i < 4; ++i)
            for (int j = i + 1; j < 4; ++j) EXPECT_GT(MeanDifference(looks[i], looks[j]), 6.0) << i << " vs " << j;
    }
}

struct StaticSpec {
    int id;
    int width, height;
    bool opaque;       // pieces that the frames stretch must stay whole when stretched
    int loadW, loadH;  // a size the frames ask for, 0 for natural
};

const StaticSpec kStatics[] = {
    {IDI_TILE_HEALTH, 140, 60, false, 0, 0},    {IDI_TILE_MODERATE, 140, 60, false, 0, 0},
    {IDI_FRAME_TOP_LEFT, 20, 20, false, 0, 0},  {IDI_FRAME_TOP, 20, 20, true, 678, 0},
    {IDI_FRAME_TOP_RIGHT, 20, 20, false, 0, 0}, {IDI_FRAME_LEFT, 20, 20, true, 0, 370},
    {IDI_FRAME_CENTRE, 20, 20, true, 688, 370}, {IDI_FRAME_RIGHT, 20, 20, true, 0, 370},
    {IDI_FRAME_BOTTOM_LEFT, 20, 20, false, 0, 0}, {IDI_FRAME_BOTTOM, 20, 20, true, 688, 0},
    {IDI_FRAME_BOTTOM_RIGHT, 20, 20, false, 0, 0}, {IDI_TITLE_SYSINFO, 240, 36, false, 0, 0},
};

TEST(ResourcePictures, StaticPicturesLoadAtTheSizesTheFramesAsk) {
    for (const auto& expected : kStatics) {
        SCOPED_TRACE(expected.id);
        const auto group = ReadGroup(expected.id, false);
        ASSERT_EQ(group.size(), 1u);
        Picture picture;
        ASSERT_TRUE(ReadPicture(group[0].id, false, &picture));
        EXPECT_EQ(picture.width, expected.width);
        EXPECT_EQ(picture.height, expected.height);
        if (expected.opaque) {
            int clear = 0;
            for (int y = 0; y < picture.height; ++y)
                for (int x = 0; x < picture.width; ++x) clear += picture.Alpha(x, y) != 255;
            EXPECT_EQ(clear, 0);
        }
        const SIZE loaded = LoadedIconSize(expected.id, expected.loadW, expected.loadH);
        EXPECT_EQ(loaded.cx, expected.loadW ? expected.loadW : expected.width);
        EXPECT_EQ(loaded.cy, expected.loadH ? expected.loadH : expected.height);
    }
}

TEST(ResourcePictures, AppIconOffersTheUsualSizes) {
    std::set<int> sizes;
    for (const auto& entry : ReadGroup(IDI_APP, false)) {
        EXPECT_EQ(entry.bits, 32);
        EXPECT_EQ(entry.width, entry.height);
        sizes.insert(entry.width);
    }
    for (int px : {16, 32, 48, 256}) EXPECT_TRUE(sizes.count(px)) << px;
    for (int px : {16, 32, 48}) EXPECT_EQ(LoadedIconSize(IDI_APP, px, px).cx, px);
}

TEST(ResourcePictures, HandCursorHasItsHotSpotOnTheFingerTip) {
    HCURSOR hand = LoadCursorW(Self(), MAKEINTRESOURCEW(IDCUR_HAND));
    ASSERT_NE(hand, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(hand, &info));
    EXPECT_FALSE(info.fIcon);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    const auto group = ReadGroup(IDCUR_HAND, true);
    ASSERT_FALSE(group.empty());
    for (const auto& entry : group) {
        SCOPED_TRACE(entry.width);
        Picture picture;
        ASSERT_TRUE(ReadPicture(entry.id, true, &picture));
        ASSERT_LT(picture.hotX, picture.width);
        ASSERT_LT(picture.hotY, picture.height);
        EXPECT_GE(picture.Alpha(picture.hotX, picture.hotY), 128);  // on the finger, not beside it
        EXPECT_LE(picture.hotY, picture.height / 8);                // at its tip
    }
}

TEST(ResourcePictures, StringsHoldTheirExactTexts) {
    const struct {
        int id;
        const wchar_t* text;
    } strings[] = {{IDS_QUIT_QUESTION, L"确定要退出游戏吗?"}, {IDS_APP_TITLE, L"Vantorel"}};
    for (const auto& s : strings) {
        wchar_t buffer[128] = {};
        const int length = LoadStringW(Self(), s.id, buffer, 128);
        EXPECT_EQ(length, static_cast<int>(wcslen(s.text))) << s.id;
        EXPECT_STREQ(buffer, s.text);
    }
}

std::wstring VersionValue(const std::vector<uint8_t>& block, const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\080404B0\\") + name;
    if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || length == 0) return L"";
    return static_cast<const wchar_t*>(value);
}

TEST(ResourcePictures, VersionAndManifestDescribeTheLauncher) {
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<uint8_t> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, block.data()));
    EXPECT_EQ(VersionValue(block, L"CompanyName"), L"Vantorel");
    EXPECT_EQ(VersionValue(block, L"ProductName"), L"Vantorel");
    EXPECT_EQ(VersionValue(block, L"FileDescription"), L"Vantorel Launcher");

    const Bytes manifest = ResourceBytes(1, RT_MANIFEST);
    ASSERT_NE(manifest.data, nullptr);
    const std::string text(reinterpret_cast<const char*>(manifest.data), manifest.size);
    for (const char* needle : {"level=\"requireAdministrator\"", "Microsoft.Windows.Common-Controls",
                               "version=\"6.0.0.0\"", "<dpiAware"})
        EXPECT_NE(text.find(needle), std::string::npos) << needle;
}

}  // namespace
