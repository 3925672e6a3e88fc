// The readings port of the system information collector: every raw value the
// collector needs from the platform, one call per kind of reading. The
// collector (CSysInfo) decides the order of the calls, which calls are made at
// all, and turns the readings into the report's texts; an implementation only
// reads. Texts are UTF-8. A reading that fails leaves its result empty or 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Bounds of the values read. A value longer than its bound is not read at all
// (it is treated as missing), so a runaway value never reaches the report.
// Counted in characters of the platform's text (UTF-16 units on Windows).
constexpr size_t kOsValueMaxChars = 150;         // the four version-key values
constexpr size_t kProcessorValueMaxChars = 100;  // name, vendor, identifier
constexpr size_t kBrowserValueMaxChars = 100;    // browser component version
constexpr size_t kWalkTextMaxChars = 512;        // display adapter walk: names and values
constexpr size_t kDeviceNameMaxChars = 31;       // wave-out / MIDI-out product names
constexpr size_t kMaxDisplayAdapters = 100;
// The platform hands over a linked list; a longer list is cut here.
constexpr size_t kMaxNetworkAdapters = 64;
constexpr size_t kAdapterDescriptionMaxChars = 132;

struct PlatformVersion {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;
};

// The values of the operating system's current-version key. A value is
// present only when it could be read; keyOpened is false when the key itself
// could not be opened (and then no value is present).
struct OsTextValues {
    bool keyOpened = false;
    std::optional<std::string> productName;
    std::optional<std::string> servicePack;     // "CSDVersion"
    std::optional<std::string> currentVersion;  // "CurrentVersion", e.g. "6.1"
    std::optional<std::string> currentBuild;    // "CurrentBuild", e.g. "7601"
};

struct ProcessorValues {
    std::string name;        // empty when not read
    std::string vendor;
    std::string identifier;
    uint32_t clockMHz = 0;
};

struct MemoryTotals {
    uint64_t totalPhysicalBytes = 0;
    uint64_t totalVirtualBytes = 0;  // the process's whole virtual address space
};

struct SoundDeviceNames {
    std::string waveOut;  // product name of wave-out device 0, empty when there is none
    std::string midiOut;  // product name of MIDI-out device 0, empty when there is none
};

class ISystemReadings {
public:
    virtual ~ISystemReadings() = default;

    // True on the NT family of the platform (every current system).
    virtual bool IsNtFamily() = 0;
    // Loads the network adapter query; true when it is available.
    virtual bool LoadAdapterQuery() = 0;
    // True when the system is 64-bit. The Windows program is a 32-bit process,
    // so there this is the WOW64 flag of the process.
    virtual bool ReadWow64() = 0;
    [[nodiscard]] virtual bool ReadVersion(PlatformVersion* versionOut) = 0;
    virtual OsTextValues ReadOsTextValues() = 0;
    virtual uint32_t ReadProcessorCount() = 0;
    virtual ProcessorValues ReadProcessorValues() = 0;
    // The 64-bit memory query; false when it is missing or fails.
    [[nodiscard]] virtual bool ReadMemoryExtended(MemoryTotals* totalsOut) = 0;
    // The older memory query with 32-bit totals (widened); it cannot fail.
    virtual MemoryTotals ReadMemoryBasic() = 0;
    // The browser component's version text ("11.0.9600.19036"), empty when absent.
    virtual std::optional<std::string> ReadBrowserVersionText() = 0;
    // Descriptions of the network adapters in the platform's order; false when
    // the query fails (the list is then empty). Only called after
    // LoadAdapterQuery reported the query as available.
    [[nodiscard]] virtual bool ReadNetworkAdapters(std::vector<std::string>* descriptionsOut) = 0;
    virtual SoundDeviceNames ReadSoundDeviceNames() = 0;
    // Names of the display adapters of the first video service, as listed.
    virtual std::vector<std::string> ReadDisplayAdapterNames() = 0;
};

// The readings of the machine the program runs on (Win32 or POSIX).
std::unique_ptr<ISystemReadings> CreateSystemReadings();
