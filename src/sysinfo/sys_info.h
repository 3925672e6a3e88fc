// The system information collector: gathers the facts about the machine that
// customer support asks for (operating system, processor, memory, sound,
// display and network adapters, browser component version) and hands them
// over as ready-made texts. The readings come through ISystemReadings; the
// order of the readings and the texts made from them are decided here.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sysinfo/system_readings.h"

// The gathered facts as texts (UTF-8), laid out by the report. Copied by value.
struct SystemFacts {
    std::string strOS;
    std::string strCPU;
    std::string strCPUProducer;
    std::string strCPUIdentifier;
    std::string strGHz;
    std::string strCPUCount;
    std::string strPhysicalMemory;  // MiB, no unit
    std::string strVirtualMemory;   // MiB, no unit
    std::vector<std::string> aVideoCards;
    std::string strSoundCard;
    std::vector<std::string> aNetworkCards;
    std::string strIEVersion;
};

using BrowserVersion = std::array<int32_t, 4>;

// One gathering: construct, Collect once, GetReport once, destroy.
class CSysInfo {
public:
    // Reads the machine this program runs on.
    CSysInfo();
    // Reads through the given port, which must outlive the object.
    explicit CSysInfo(ISystemReadings& readings);
    virtual ~CSysInfo();
    CSysInfo(const CSysInfo&) = delete;
    CSysInfo& operator=(const CSysInfo&) = delete;

    // Gathers every fact; a reading that fails leaves its fact at 0 or empty.
    void Collect();
    void GetReport(SystemFacts* factsOut) const;

private:
    MemoryTotals ReadMemoryTotals();
    void ReadNetworkAdapters();

    std::unique_ptr<ISystemReadings> m_pOwnReadings;
    ISystemReadings& m_readings;

    bool m_bNtFamily = false;
    bool m_bAdapterQuery = false;
    bool m_bWow64 = false;
    PlatformVersion m_version;
    std::string m_strOS;
    ProcessorValues m_processor;
    uint32_t m_nProcessorCount = 0;
    MemoryTotals m_memory;
    SoundDeviceNames m_sound;
    BrowserVersion m_aBrowserVersion{};
    std::vector<std::string> m_aVideoCards;
    std::vector<std::string> m_aNetworkCards;
};

// The composition of the texts, on its own so that it can be checked with
// supplied readings.

// "Microsoft " followed by each value read and one blank; "32bit (" or
// "64bit (" goes before the current version, ") " after the current build.
std::string ComposeOsText(const OsTextValues& values, bool wow64);
// The clock in GHz with two decimals: 2394 MHz -> "2.39".
std::string FormatClockGHz(uint32_t clockMHz);
// Whole mebibytes of a byte count, in 64 bits: 16 GiB -> "16384".
std::string FormatMebibytes(uint64_t bytes);
// The 64-bit memory query exists from NT 5 on.
bool UseExtendedMemoryQuery(bool ntFamily, const PlatformVersion& version);
// The adapter query is used when it was found, from NT 5 on (or 9x minor 10 on).
bool UseAdapterQuery(bool queryFound, bool ntFamily, const PlatformVersion& version);
// Up to four decimal numbers separated by "."; missing numbers stay 0.
BrowserVersion ParseBrowserVersion(const std::optional<std::string>& text);
// "%ld ,%ld , %ld , %ld" of the four numbers.
std::string FormatBrowserVersion(const BrowserVersion& version);
