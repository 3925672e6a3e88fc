// The readings of a Windows machine: registry values, version and memory
// queries, multimedia device capabilities and the IP Helper adapter list.
// Every call is the wide form; texts leave here as UTF-8.
#include "sysinfo/system_readings.h"

#include <windows.h>

#include <iphlpapi.h>
#include <mmsystem.h>

#include <cstring>
#include <vector>

#include "platform/win32/registry_view_win32.h"
#include "platform/win32/wide.h"
#include "sysinfo/display_adapter_walk.h"

namespace {

const char kCurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const char kProcessorKey[] = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
const char kBrowserKey[] = "SOFTWARE\\Microsoft\\Internet Explorer";
// The adapter list of a machine with many virtual adapters stays far below this.
constexpr ULONG kMaxAdapterBufferBytes = 4 * 1024 * 1024;

using GetAdaptersInfoFn = ULONG(WINAPI*)(PIP_ADAPTER_INFO, PULONG);
using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
using GlobalMemoryStatusExFn = BOOL(WINAPI*)(LPMEMORYSTATUSEX);

// A function looked up by name; through void* so the cast says what it means.
template <typename Fn>
Fn LookUp(HMODULE module, const char* name) {
    if (!module) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// A loaded library, released when the object goes.
class CLoadedLibrary {
public:
    explicit CLoadedLibrary(const wchar_t* name) : m_hModule(LoadLibraryW(name)) {}
    ~CLoadedLibrary() {
        if (m_hModule) FreeLibrary(m_hModule);
    }
    CLoadedLibrary(const CLoadedLibrary&) = delete;
    CLoadedLibrary& operator=(const CLoadedLibrary&) = delete;
    HMODULE Get() const { return m_hModule; }

private:
    HMODULE m_hModule;
};

// A text of the ANSI code page (the adapter list has no wide form).
std::string AnsiToUtf8(const char* text, size_t maxBytes) {
    const int length = static_cast<int>(strnlen(text, maxBytes));
    if (length == 0) return {};
    const int units = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
    if (units <= 0) return {};
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, length, wide.data(), units);
    return FromWide(wide);
}

// A fixed-size product name of the multimedia capabilities, up to its zero.
std::string DeviceName(const wchar_t* name, size_t maxUnits) {
    return FromWide(std::wstring_view(name, wcsnlen(name, maxUnits)));
}

std::optional<std::string> ReadOptionalText(HKEY key, const char* name, size_t maxChars) {
    std::string text;
    if (!ReadRegistryText(key, name, maxChars, &text)) return std::nullopt;
    return text;
}

class CSystemReadingsWin32 final : public ISystemReadings {
public:
    CSystemReadingsWin32() = default;
    ~CSystemReadingsWin32() override {
        if (m_hIpHelper) FreeLibrary(m_hIpHelper);
    }
    CSystemReadingsWin32(const CSystemReadingsWin32&) = delete;
    CSystemReadingsWin32& operator=(const CSystemReadingsWin32&) = delete;

    bool IsNtFamily() override { return (GetVersion() & 0x80000000u) == 0; }

    bool LoadAdapterQuery() override {
        if (!m_hIpHelper) m_hIpHelper = LoadLibraryW(L"iphlpapi.dll");
        m_pGetAdaptersInfo = LookUp<GetAdaptersInfoFn>(m_hIpHelper, "GetAdaptersInfo");
        return m_pGetAdaptersInfo != nullptr;
    }

    bool ReadWow64() override {
        const auto isWow64Process =
            LookUp<IsWow64ProcessFn>(GetModuleHandleW(L"kernel32"), "IsWow64Process");
        BOOL wow64 = FALSE;
        if (!isWow64Process || !isWow64Process(GetCurrentProcess(), &wow64)) return false;
        return wow64 != FALSE;
    }

    bool ReadVersion(PlatformVersion* versionOut) override {
        OSVERSIONINFOW info{};
        info.dwOSVersionInfoSize = sizeof info;
        if (!GetVersionExW(&info)) return false;
        versionOut->major = info.dwMajorVersion;
        versionOut->minor = info.dwMinorVersion;
        versionOut->build = info.dwBuildNumber;
        return true;
    }

    OsTextValues ReadOsTextValues() override {
        OsTextValues values;
        CRegistryKey key;
        if (!key.Open(HKEY_LOCAL_MACHINE, kCurrentVersionKey)) return values;
        values.keyOpened = true;
        values.productName = ReadOptionalText(key.Get(), "ProductName", kOsValueMaxChars);
        values.servicePack = ReadOptionalText(key.Get(), "CSDVersion", kOsValueMaxChars);
        values.currentVersion = ReadOptionalText(key.Get(), "CurrentVersion", kOsValueMaxChars);
        values.currentBuild = ReadOptionalText(key.Get(), "CurrentBuild", kOsValueMaxChars);
        return values;
    }

    uint32_t ReadProcessorCount() override {
        SYSTEM_INFO info{};
        GetSystemInfo(&info);
        return info.dwNumberOfProcessors;
    }

    ProcessorValues ReadProcessorValues() override {
        ProcessorValues values;
        CRegistryKey key;
        if (!key.Open(HKEY_LOCAL_MACHINE, kProcessorKey)) return values;
        (void)ReadRegistryText(key.Get(), "Identifier", kProcessorValueMaxChars,
                               &values.identifier);
        (void)ReadRegistryText(key.Get(), "VendorIdentifier", kProcessorValueMaxChars,
                               &values.vendor);
        (void)ReadRegistryText(key.Get(), "ProcessorNameString", kProcessorValueMaxChars,
                               &values.name);
        (void)ReadRegistryNumber(key.Get(), "~MHz", &values.clockMHz);
        return values;
    }

    bool ReadMemoryExtended(MemoryTotals* totalsOut) override {
        CLoadedLibrary kernel(L"kernel32.dll");
        const auto globalMemoryStatusEx =
            LookUp<GlobalMemoryStatusExFn>(kernel.Get(), "GlobalMemoryStatusEx");
        MEMORYSTATUSEX status{};
        status.dwLength = sizeof status;
        if (!globalMemoryStatusEx || !globalMemoryStatusEx(&status)) return false;
        totalsOut->totalPhysicalBytes = status.ullTotalPhys;
        totalsOut->totalVirtualBytes = status.ullTotalVirtual;
        return true;
    }

    MemoryTotals ReadMemoryBasic() override {
        MEMORYSTATUS status{};
        status.dwLength = sizeof status;
        GlobalMemoryStatus(&status);
        MemoryTotals totals;
        totals.totalPhysicalBytes = status.dwTotalPhys;
        totals.totalVirtualBytes = status.dwTotalVirtual;
        return totals;
    }

    std::optional<std::string> ReadBrowserVersionText() override {
        CRegistryKey key;
        if (!key.Open(HKEY_LOCAL_MACHINE, kBrowserKey)) return std::nullopt;
        return ReadOptionalText(key.Get(), "Version", kBrowserValueMaxChars);
    }

    bool ReadNetworkAdapters(std::vector<std::string>* descriptionsOut) override;

    SoundDeviceNames ReadSoundDeviceNames() override {
        SoundDeviceNames names;
        if (waveOutGetNumDevs() >= 1) {
            WAVEOUTCAPSW caps{};
            if (waveOutGetDevCapsW(0, &caps, sizeof caps) == MMSYSERR_NOERROR) {
                names.waveOut = DeviceName(caps.szPname, MAXPNAMELEN);
            }
        }
        if (midiOutGetNumDevs() >= 1) {
            MIDIOUTCAPSW caps{};
            if (midiOutGetDevCapsW(0, &caps, sizeof caps) == MMSYSERR_NOERROR) {
                names.midiOut = DeviceName(caps.szPname, MAXPNAMELEN);
            }
        }
        return names;
    }

    std::vector<std::string> ReadDisplayAdapterNames() override {
        CRegistryViewWin32 registry(HKEY_LOCAL_MACHINE);
        return WalkDisplayAdapters(registry, [](uint32_t milliseconds) { Sleep(milliseconds); });
    }

private:
    HMODULE m_hIpHelper = nullptr;
    GetAdaptersInfoFn m_pGetAdaptersInfo = nullptr;
};

bool CSystemReadingsWin32::ReadNetworkAdapters(std::vector<std::string>* descriptionsOut) {
    descriptionsOut->clear();
    if (!m_pGetAdaptersInfo) return false;
    ULONG size = 0;
    const ULONG first = m_pGetAdaptersInfo(nullptr, &size);
    if (first == ERROR_NO_DATA) return true;
    if (first != ERROR_BUFFER_OVERFLOW || size == 0 || size > kMaxAdapterBufferBytes) return false;
    // One byte more than asked for, zeroed; held as records for their alignment.
    std::vector<IP_ADAPTER_INFO> buffer((size + 1 + sizeof(IP_ADAPTER_INFO) - 1) /
                                        sizeof(IP_ADAPTER_INFO));
    ULONG offered = size + 1;
    if (m_pGetAdaptersInfo(buffer.data(), &offered) != ERROR_SUCCESS) return false;
    for (const IP_ADAPTER_INFO* adapter = buffer.data();
         adapter && descriptionsOut->size() < kMaxNetworkAdapters; adapter = adapter->Next) {
        descriptionsOut->push_back(AnsiToUtf8(adapter->Description, sizeof adapter->Description));
    }
    return true;
}

}  // namespace

std::unique_ptr<ISystemReadings> CreateSystemReadings() {
    return std::make_unique<CSystemReadingsWin32>();
}
