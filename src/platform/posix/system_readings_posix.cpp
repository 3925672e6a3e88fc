// The readings of a Linux machine: /proc and /sys, uname and sysconf. What
// has no counterpart here (the browser component, MIDI devices) stays empty.
#include "platform/posix/system_readings_posix.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

namespace {

// The kernel's text files read here are small; a larger one is cut.
constexpr size_t kMaxProcFileBytes = 256 * 1024;

std::string ReadSmallFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string text(kMaxProcFileBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

std::string Trim(const std::string& text) {
    const char* blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// "key<blanks>: value" lines of the first block (up to the first empty line).
std::string FirstBlockValue(const std::string& text, const std::string& key) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line) && !Trim(line).empty()) {
        const size_t colon = line.find(':');
        if (colon != std::string::npos && Trim(line.substr(0, colon)) == key) {
            return Trim(line.substr(colon + 1));
        }
    }
    return {};
}

// A reading longer than its bound is not taken, as on Windows.
std::string Bounded(const std::string& text, size_t maxChars) {
    return text.size() < maxChars ? text : std::string();
}

std::optional<std::string> Present(const std::string& text) {
    if (text.empty()) return std::nullopt;
    return text;
}

std::string Machine() {
    struct utsname names {};
    return uname(&names) == 0 ? names.machine : "";
}

// The whole virtual address space a process of this build can use.
uint64_t ProcessAddressSpace() {
    struct rlimit limit {};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        return static_cast<uint64_t>(limit.rlim_cur);
    }
#if defined(__aarch64__)
    return uint64_t{1} << 48;
#else
    if (sizeof(void*) == 8) return uint64_t{1} << 47;
    return Machine().find("64") != std::string::npos ? uint64_t{1} << 32 : uint64_t{3} << 30;
#endif
}

// Interface names, sorted, without the loopback interface (which the Windows
// adapter list leaves out too).
std::vector<std::string> NetworkInterfaces() {
    std::vector<std::string> names;
    DIR* dir = opendir("/sys/class/net");
    if (!dir) return names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name == "lo") continue;
        names.push_back(Bounded(name, kAdapterDescriptionMaxChars));
        if (names.size() >= kMaxNetworkAdapters) break;
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// "driver (vendor:device)" of every DRM card, e.g. "i915 (8086:3E92)".
std::vector<std::string> DisplayCards() {
    std::vector<std::string> names;
    DIR* dir = opendir("/sys/class/drm");
    if (!dir) return names;
    std::vector<std::string> cards;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(0, 4, "card") == 0 &&
            name.find_first_not_of("0123456789", 4) == std::string::npos) {
            cards.push_back(name);
        }
    }
    closedir(dir);
    std::sort(cards.begin(), cards.end());
    for (const std::string& card : cards) {
        const std::string path = "/sys/class/drm/" + card + "/device/uevent";
        std::string uevent = ReadSmallFile(path.c_str());
        std::replace(uevent.begin(), uevent.end(), '=', ':');
        const std::string driver = FirstBlockValue(uevent, "DRIVER");
        const std::string pciId = FirstBlockValue(uevent, "PCI_ID");
        if (driver.empty()) continue;
        names.push_back(pciId.empty() ? driver : driver + " (" + pciId + ")");
        if (names.size() >= kMaxDisplayAdapters) break;
    }
    return names;
}

class CSystemReadingsPosix final : public ISystemReadings {
public:
    // The version gates of the collector concern older systems than any Linux.
    bool IsNtFamily() override { return true; }
    bool LoadAdapterQuery() override { return access("/sys/class/net", R_OK) == 0; }
    bool ReadWow64() override {
        return sizeof(void*) == 8 || Machine().find("64") != std::string::npos;
    }
    bool ReadVersion(PlatformVersion* versionOut) override {
        struct utsname names {};
        if (uname(&names) != 0) return false;
        std::string currentVersion, currentBuild;
        SplitKernelRelease(names.release, versionOut, &currentVersion, &currentBuild);
        return true;
    }
    OsTextValues ReadOsTextValues() override;
    uint32_t ReadProcessorCount() override {
        const long count = sysconf(_SC_NPROCESSORS_ONLN);
        return count > 0 ? static_cast<uint32_t>(count) : 0;
    }
    ProcessorValues ReadProcessorValues() override {
        return ParseCpuInfo(ReadSmallFile("/proc/cpuinfo"), Machine());
    }
    bool ReadMemoryExtended(MemoryTotals* totalsOut) override {
        const std::string total = FirstBlockValue(ReadSmallFile("/proc/meminfo"), "MemTotal");
        const unsigned long long kib = std::strtoull(total.c_str(), nullptr, 10);
        if (kib == 0) return false;
        totalsOut->totalPhysicalBytes = static_cast<uint64_t>(kib) * 1024;
        totalsOut->totalVirtualBytes = ProcessAddressSpace();
        return true;
    }
    MemoryTotals ReadMemoryBasic() override {
        // The older query's totals are 32-bit, held at their limit.
        constexpr uint64_t kLimit = std::numeric_limits<uint32_t>::max();
        MemoryTotals totals;
        struct sysinfo info {};
        if (sysinfo(&info) == 0) {
            const uint64_t ram = static_cast<uint64_t>(info.totalram) * info.mem_unit;
            totals.totalPhysicalBytes = std::min(ram, kLimit);
        }
        totals.totalVirtualBytes = std::min(ProcessAddressSpace(), kLimit);
        return totals;
    }
    std::optional<std::string> ReadBrowserVersionText() override { return std::nullopt; }
    bool ReadNetworkAdapters(std::vector<std::string>* descriptionsOut) override {
        *descriptionsOut = NetworkInterfaces();
        return true;
    }
    SoundDeviceNames ReadSoundDeviceNames() override {
        SoundDeviceNames names;
        names.waveOut = ParseFirstSoundCard(ReadSmallFile("/proc/asound/cards"));
        return names;
    }
    std::vector<std::string> ReadDisplayAdapterNames() override { return DisplayCards(); }
};

OsTextValues CSystemReadingsPosix::ReadOsTextValues() {
    OsTextValues values;
    struct utsname names {};
    if (uname(&names) != 0) return values;
    values.keyOpened = true;
    std::string product = ParseOsReleaseName(ReadSmallFile("/etc/os-release"));
    if (product.empty()) product = names.sysname;
    values.productName = Present(Bounded(product, kOsValueMaxChars));
    PlatformVersion version;
    std::string currentVersion, currentBuild;
    SplitKernelRelease(names.release, &version, &currentVersion, &currentBuild);
    values.currentVersion = Present(Bounded(currentVersion, kOsValueMaxChars));
    values.currentBuild = Present(Bounded(currentBuild, kOsValueMaxChars));
    return values;
}

}  // namespace

ProcessorValues ParseCpuInfo(const std::string& text, const std::string& machine) {
    ProcessorValues values;
    values.name = Bounded(FirstBlockValue(text, "model name"), kProcessorValueMaxChars);
    values.vendor = Bounded(FirstBlockValue(text, "vendor_id"), kProcessorValueMaxChars);
    const std::string family = FirstBlockValue(text, "cpu family");
    const std::string model = FirstBlockValue(text, "model");
    const std::string stepping = FirstBlockValue(text, "stepping");
    if (!family.empty() && !model.empty() && !stepping.empty()) {
        values.identifier = Bounded(machine + " Family " + family + " Model " + model +
                                        " Stepping " + stepping,
                                    kProcessorValueMaxChars);
    }
    const double mhz = std::strtod(FirstBlockValue(text, "cpu MHz").c_str(), nullptr);
    if (mhz > 0 && mhz < static_cast<double>(std::numeric_limits<uint32_t>::max())) {
        values.clockMHz = static_cast<uint32_t>(mhz);
    }
    return values;
}

std::string ParseOsReleaseName(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, 12, "PRETTY_NAME=") != 0) continue;
        std::string value = Trim(line.substr(12));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return value;
    }
    return {};
}

std::string ParseFirstSoundCard(const std::string& text) {
    // " 0 [PCH            ]: HDA-Intel - HDA Intel PCH"
    const std::string firstLine = text.substr(0, text.find('\n'));
    const size_t bracket = firstLine.find("]:");
    const size_t dash = firstLine.find(" - ", bracket == std::string::npos ? 0 : bracket);
    if (bracket == std::string::npos || dash == std::string::npos) return {};
    std::string name = Trim(firstLine.substr(dash + 3));
    if (name.size() > kDeviceNameMaxChars) {
        size_t cut = kDeviceNameMaxChars;
        // Step back over UTF-8 continuation bytes so no character is split.
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
        name.resize(cut);
    }
    return name;
}

void SplitKernelRelease(const std::string& release, PlatformVersion* versionOut,
                        std::string* currentVersionOut, std::string* currentBuildOut) {
    const size_t firstDot = release.find('.');
    const size_t secondDot =
        firstDot == std::string::npos ? std::string::npos : release.find('.', firstDot + 1);
    *currentVersionOut = release.substr(0, secondDot);
    *currentBuildOut = secondDot == std::string::npos ? "" : release.substr(secondDot + 1);
    const char* cursor = release.c_str();
    uint32_t* parts[] = {&versionOut->major, &versionOut->minor, &versionOut->build};
    for (uint32_t* part : parts) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(cursor, &end, 10);
        if (end == cursor) break;
        *part = static_cast<uint32_t>(std::min<unsigned long>(value, UINT32_MAX));
        if (*end != '.') break;
        cursor = end + 1;
    }
}

std::unique_ptr<ISystemReadings> CreateSystemReadings() {
    return std::make_unique<CSystemReadingsPosix>();
}
