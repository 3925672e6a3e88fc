#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "platform/win32/registry_view_win32.h"
#include "platform/win32/wide.h"
#include "sysinfo/display_adapter_walk.h"
#include "sysinfo/report_text.h"
#include "sysinfo/sys_info.h"

namespace {

TEST(Collector, GathersASoundReportOnThisMachine) {
    CSysInfo info;
    info.Collect();
    SystemFacts facts;
    info.GetReport(&facts);
    // The version key is there on every Windows (and under Wine).
    EXPECT_GT(facts.strOS.size(), std::string("Microsoft ").size()) << facts.strOS;
    EXPECT_NE(facts.strOS.find("bit ("), std::string::npos) << facts.strOS;
    EXPECT_GT(std::stoul(facts.strCPUCount), 0u);
    EXPECT_GT(std::stoull(facts.strPhysicalMemory), 0u);
    // A 32-bit process has 2 GiB to 4 GiB of address space.
    const unsigned long long virtualMiB = std::stoull(facts.strVirtualMemory);
    EXPECT_GE(virtualMiB, 1024u);
    EXPECT_LE(virtualMiB, 4096u);
    EXPECT_FALSE(facts.strCPUProducer.empty());
    const std::string report = BuildReport(facts);
    EXPECT_EQ(report.rfind("OS : Microsoft ", 0), 0u) << report;
    EXPECT_NE(report.find("CPU Count : "), std::string::npos) << report;
}

// A private tree under HKEY_CURRENT_USER, removed with the object.
class TestRegistryTree {
public:
    TestRegistryTree()
        : m_path(L"Software\\VantorelTest\\SysInfo" + std::to_wstring(GetCurrentProcessId())) {
        RegCreateKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &m_hRoot, nullptr);
    }
    ~TestRegistryTree() {
        RegCloseKey(m_hRoot);
        RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
    }
    HKEY Root() const { return m_hRoot; }

    void SetText(const std::string& key, const std::string& name, const std::wstring& value,
                 DWORD type = REG_SZ) {
        HKEY sub = Create(key);
        RegSetValueExW(sub, ToWide(name).c_str(), 0, type,
                       reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(sub);
    }
    void SetNumber(const std::string& key, const std::string& name, DWORD value) {
        HKEY sub = Create(key);
        RegSetValueExW(sub, ToWide(name).c_str(), 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&value), sizeof value);
        RegCloseKey(sub);
    }

private:
    HKEY Create(const std::string& key) {
        HKEY sub = nullptr;
        RegCreateKeyExW(m_hRoot, ToWide(key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub,
                        nullptr);
        return sub;
    }

    std::wstring m_path;
    HKEY m_hRoot = nullptr;
};

TEST(RegistryView, TextValuesAreReadWithinTheirBoundAsUtf8) {
    TestRegistryTree tree;
    tree.SetText("k", "fits", std::wstring(149, L'x'));
    tree.SetText("k", "long", std::wstring(150, L'x'));
    tree.SetText("k", "chinese", L"\u6807\u51c6 VGA");
    tree.SetText("k", "expand", L"%SystemRoot%\\x", REG_EXPAND_SZ);
    tree.SetNumber("k", "number", 2394);
    CRegistryKey key;
    ASSERT_TRUE(key.Open(tree.Root(), "k"));
    struct Case {
        const char* name;
        bool read;
        std::string expected;
    } cases[] = {
        {"fits", true, std::string(149, 'x')},
        {"long", false, ""},
        {"chinese", true, "标准 VGA"},
        {"expand", true, "%SystemRoot%\\x"},
        {"number", false, ""},
        {"missing", false, ""},
    };
    for (const Case& c : cases) {
        std::string text;
        EXPECT_EQ(ReadRegistryText(key.Get(), c.name, kOsValueMaxChars, &text), c.read) << c.name;
        if (c.read) {
            EXPECT_EQ(text, c.expected) << c.name;
        }
    }
    uint32_t number = 0;
    EXPECT_TRUE(ReadRegistryNumber(key.Get(), "number", &number));
    EXPECT_EQ(number, 2394u);
    EXPECT_FALSE(ReadRegistryNumber(key.Get(), "chinese", &number));
}

TEST(RegistryView, DisplayWalkReadsTheRealRegistry) {
    TestRegistryTree tree;
    const std::string services = "SYSTEM\\CurrentControlSet\\Services\\";
    const std::string devices = "SYSTEM\\CurrentControlSet\\Enum\\";
    tree.SetText(services + "AFD", "Group", L"TDI");
    tree.SetText(services + "BasicDisplay", "Group", L"Video");
    tree.SetNumber(services + "BasicDisplay\\Enum", "Count", 3);
    tree.SetText(services + "BasicDisplay\\Enum", "0", L"PCI\\VEN_1234&DEV_1111\\3&1");
    tree.SetText(services + "BasicDisplay\\Enum", "1", L"ROOT\\BasicDisplay\\0000");
    tree.SetText(services + "BasicDisplay\\Enum", "2", L"PCI\\VEN_1234&DEV_2222\\3&2");
    tree.SetText(devices + "PCI\\VEN_1234&DEV_1111\\3&1", "DeviceDesc",
                 L"@display.inf,%desc%;\u6807\u51c6 VGA \u56fe\u5f62\u9002\u914d\u5668");
    tree.SetText(devices + "ROOT\\BasicDisplay\\0000", "FriendlyName", L"Basic Display");
    tree.SetText(devices + "PCI\\VEN_1234&DEV_2222\\3&2", "DeviceDesc",
                 std::wstring(kWalkTextMaxChars, L'y'));  // too long: not read
    tree.SetText(services + "nvlddmkm", "Group", L"Video");

    CRegistryViewWin32 registry(tree.Root());
    int pauses = 0;
    const auto names = WalkDisplayAdapters(registry, [&](uint32_t) { ++pauses; });
    EXPECT_EQ(names, (std::vector<std::string>{"标准 VGA 图形适配器", "Basic Display"}));
    EXPECT_EQ(pauses, 2);
}

}  // namespace
