#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sysinfo/sys_info.h"

namespace {

// Readings supplied by the test; every call is recorded by name.
struct FakeReadings : ISystemReadings {
    bool ntFamily = true;
    bool adapterQuery = true;
    bool wow64 = false;
    bool versionRead = true;
    PlatformVersion version{6, 1, 7601};
    OsTextValues osValues;
    uint32_t processorCount = 4;
    ProcessorValues processor;
    bool extendedMemory = true;
    MemoryTotals extended{uint64_t{16} << 30, uint64_t{4} << 30};
    MemoryTotals basic{uint64_t{2} << 30, uint64_t{2} << 30};
    std::optional<std::string> browserVersion;
    bool adaptersRead = true;
    std::vector<std::string> adapters;
    SoundDeviceNames sound;
    std::vector<std::string> displays;
    std::vector<std::string> calls;

    bool IsNtFamily() override { return Log("IsNtFamily"), ntFamily; }
    bool LoadAdapterQuery() override { return Log("LoadAdapterQuery"), adapterQuery; }
    bool ReadWow64() override { return Log("ReadWow64"), wow64; }
    bool ReadVersion(PlatformVersion* out) override {
        Log("ReadVersion");
        out->major = 99;  // a failing reading may have written part of its result
        if (versionRead) *out = version;
        return versionRead;
    }
    OsTextValues ReadOsTextValues() override { return Log("ReadOsTextValues"), osValues; }
    uint32_t ReadProcessorCount() override { return Log("ReadProcessorCount"), processorCount; }
    ProcessorValues ReadProcessorValues() override {
        return Log("ReadProcessorValues"), processor;
    }
    bool ReadMemoryExtended(MemoryTotals* out) override {
        Log("ReadMemoryExtended");
        if (extendedMemory) *out = extended;
        return extendedMemory;
    }
    MemoryTotals ReadMemoryBasic() override { return Log("ReadMemoryBasic"), basic; }
    std::optional<std::string> ReadBrowserVersionText() override {
        return Log("ReadBrowserVersionText"), browserVersion;
    }
    bool ReadNetworkAdapters(std::vector<std::string>* out) override {
        Log("ReadNetworkAdapters");
        *out = adapters;
        return adaptersRead;
    }
    SoundDeviceNames ReadSoundDeviceNames() override {
        return Log("ReadSoundDeviceNames"), sound;
    }
    std::vector<std::string> ReadDisplayAdapterNames() override {
        return Log("ReadDisplayAdapterNames"), displays;
    }
    void Log(const char* call) { calls.push_back(call); }
};

SystemFacts Gather(FakeReadings& readings) {
    CSysInfo info(readings);
    info.Collect();
    SystemFacts facts;
    info.GetReport(&facts);
    return facts;
}

OsTextValues AllOsValues(std::optional<std::string> servicePack = "Service Pack 1") {
    OsTextValues values;
    values.keyOpened = true;
    values.productName = "Windows 7 Ultimate";
    values.servicePack = std::move(servicePack);
    values.currentVersion = "6.1";
    values.currentBuild = "7601";
    return values;
}

TEST(SysInfo, CollectReadsInTheOrderWhoseVersionGatesTheLaterQueries) {
    FakeReadings readings;
    Gather(readings);
    const std::vector<std::string> expected = {
        "IsNtFamily",          "LoadAdapterQuery",   "ReadWow64",
        "ReadVersion",         "ReadOsTextValues",   "ReadProcessorCount",
        "ReadProcessorValues", "ReadMemoryExtended", "ReadBrowserVersionText",
        "ReadNetworkAdapters", "ReadSoundDeviceNames", "ReadDisplayAdapterNames"};
    EXPECT_EQ(readings.calls, expected);
}

TEST(SysInfo, OperatingSystemTextMarksBitnessBeforeTheVersionNumbers) {
    OsTextValues noBuild = AllOsValues();
    noBuild.currentBuild.reset();
    OsTextValues noVersion = AllOsValues();
    noVersion.currentVersion.reset();
    OsTextValues emptyProduct = AllOsValues(std::nullopt);
    emptyProduct.productName = "";
    OsTextValues chinese = AllOsValues(std::nullopt);
    chinese.productName = "Windows 10 专业版";
    struct Case {
        const char* name;
        OsTextValues values;
        bool wow64;
        const char* expected;
    } cases[] = {
        {"key missing", OsTextValues{}, true, "Microsoft "},
        {"key without values", OsTextValues{true, {}, {}, {}, {}}, false, "Microsoft "},
        {"wow64", AllOsValues(), true,
         "Microsoft Windows 7 Ultimate Service Pack 1 64bit (6.1 7601 ) "},
        {"32-bit system", AllOsValues(), false,
         "Microsoft Windows 7 Ultimate Service Pack 1 32bit (6.1 7601 ) "},
        {"no service pack", AllOsValues(std::nullopt), false,
         "Microsoft Windows 7 Ultimate 32bit (6.1 7601 ) "},
        {"no build: no closing parenthesis", noBuild, true,
         "Microsoft Windows 7 Ultimate Service Pack 1 64bit (6.1 "},
        {"no version: no bitness and no opening parenthesis", noVersion, true,
         "Microsoft Windows 7 Ultimate Service Pack 1 7601 ) "},
        {"empty value still adds its blank", emptyProduct, false,
         "Microsoft  32bit (6.1 7601 ) "},
        {"chinese product name", chinese, false,
         "Microsoft Windows 10 专业版 32bit (6.1 7601 ) "},
    };
    for (const Case& c : cases) {
        FakeReadings readings;
        readings.osValues = c.values;
        readings.wow64 = c.wow64;
        EXPECT_EQ(Gather(readings).strOS, c.expected) << c.name;
    }
}

TEST(SysInfo, ClockIsShownInGigahertzFromTheUnsignedMegahertz) {
    struct Case {
        uint32_t mhz;
        const char* expected;
    } cases[] = {
        {0, "0.00"},          {2394, "2.39"},       {3700, "3.70"},
        {999, "1.00"},        {12, "0.01"},         {4000000000u, "4000000.00"},
    };
    for (const Case& c : cases) {
        FakeReadings readings;
        readings.processor.clockMHz = c.mhz;
        EXPECT_EQ(Gather(readings).strGHz, c.expected) << c.mhz;
    }
}

TEST(SysInfo, MemoryTotalsAreWholeMebibytesOfTheRightQuery) {
    constexpr uint64_t kGiB = uint64_t{1} << 30;
    struct Case {
        const char* name;
        bool ntFamily;
        uint32_t major;
        bool extendedWorks;
        uint64_t physical;
        const char* expectedPhysical;
        const char* expectedVirtual;
    } cases[] = {
        {"16 GiB is not cut to 32 bits", true, 6, true, 16 * kGiB, "16384", "4096"},
        {"8 GiB", true, 10, true, 8 * kGiB, "8192", "4096"},
        {"partial mebibyte is dropped", true, 5, true, (3 << 20) + (1 << 19), "3", "4096"},
        {"beyond 4 GiB by one mebibyte", true, 5, true, 4 * kGiB + (1 << 20), "4097", "4096"},
        {"extended query fails", true, 6, false, 16 * kGiB, "2048", "2048"},
        {"NT 4 uses the older query", true, 4, true, 16 * kGiB, "2048", "2048"},
        {"9x uses the older query", false, 5, true, 16 * kGiB, "2048", "2048"},
    };
    for (const Case& c : cases) {
        FakeReadings readings;
        readings.ntFamily = c.ntFamily;
        readings.version.major = c.major;
        readings.extendedMemory = c.extendedWorks;
        readings.extended.totalPhysicalBytes = c.physical;
        const SystemFacts facts = Gather(readings);
        EXPECT_EQ(facts.strPhysicalMemory, c.expectedPhysical) << c.name;
        EXPECT_EQ(facts.strVirtualMemory, c.expectedVirtual) << c.name;
    }
}

TEST(SysInfo, NetworkAdaptersAreListedOnlyWhereTheQueryIsUsable) {
    const std::vector<std::string> two = {"Realtek PCIe GbE", "Intel(R) Wi-Fi 6 AX201"};
    struct Case {
        const char* name;
        bool queryFound;
        bool ntFamily;
        uint32_t major, minor;
        bool readWorks;
        size_t expectedCount;
    } cases[] = {
        {"NT 6.1", true, true, 6, 1, true, 2},
        {"NT 5.0", true, true, 5, 0, true, 2},
        {"NT 4.0", true, true, 4, 0, true, 0},
        {"9x minor 10", true, false, 4, 10, true, 2},
        {"9x minor 0", true, false, 4, 0, true, 0},
        {"query not found", false, true, 10, 0, true, 0},
        {"query fails", true, true, 10, 0, false, 0},
    };
    for (const Case& c : cases) {
        FakeReadings readings;
        readings.adapterQuery = c.queryFound;
        readings.ntFamily = c.ntFamily;
        readings.version = {c.major, c.minor, 0};
        readings.adaptersRead = c.readWorks;
        readings.adapters = two;
        const SystemFacts facts = Gather(readings);
        ASSERT_EQ(facts.aNetworkCards.size(), c.expectedCount) << c.name;
        if (c.expectedCount) {
            EXPECT_EQ(facts.aNetworkCards, two) << c.name;
        }
    }
}

TEST(SysInfo, FailedVersionReadingGatesLikeAnUnknownVersion) {
    FakeReadings readings;
    readings.versionRead = false;  // the fake wrote 99 into major before failing
    readings.adapters = {"eth"};
    const SystemFacts facts = Gather(readings);
    EXPECT_TRUE(facts.aNetworkCards.empty());
    EXPECT_EQ(facts.strPhysicalMemory, "2048");
}

TEST(SysInfo, ListsAreCutAtTheirBounds) {
    FakeReadings readings;
    readings.adapters.assign(kMaxNetworkAdapters + 5, "nic");
    readings.displays.assign(kMaxDisplayAdapters + 5, "gpu");
    const SystemFacts facts = Gather(readings);
    EXPECT_EQ(facts.aNetworkCards.size(), kMaxNetworkAdapters);
    EXPECT_EQ(facts.aVideoCards.size(), kMaxDisplayAdapters);
}

TEST(SysInfo, BrowserVersionKeepsFourNumbersAndZeroesTheMissingOnes) {
    struct Case {
        std::optional<std::string> text;
        const char* expected;
    } cases[] = {
        {std::nullopt, "0 ,0 , 0 , 0"},
        {"", "0 ,0 , 0 , 0"},
        {"11.0.9600.19036", "11 ,0 , 9600 , 19036"},
        {"9.11.19041.1202", "9 ,11 , 19041 , 1202"},
        {"8.00.6001.18702", "8 ,0 , 6001 , 18702"},
        {"9.11", "9 ,11 , 0 , 0"},
        {"7.x.1", "7 ,0 , 0 , 0"},
        {"1.2.3.4.5", "1 ,2 , 3 , 4"},
        {"abc", "0 ,0 , 0 , 0"},
        {" 6. 0", "6 ,0 , 0 , 0"},
        {"-1.2", "-1 ,2 , 0 , 0"},
        {"99999999999.1", "2147483647 ,1 , 0 , 0"},
    };
    for (const Case& c : cases) {
        FakeReadings readings;
        readings.browserVersion = c.text;
        EXPECT_EQ(Gather(readings).strIEVersion, c.expected) << c.text.value_or("<absent>");
    }
}

TEST(SysInfo, SoundTextJoinsWaveAndMidiNamesWithNothingBetween) {
    struct Case {
        const char* wave;
        const char* midi;
        const char* expected;
    } cases[] = {
        {"Speakers (Realtek)", "Microsoft GS Wavetable", "Speakers (Realtek)Microsoft GS Wavetable"},
        {"Speakers (Realtek)", "", "Speakers (Realtek)"},
        {"", "Microsoft GS Wavetable", "Microsoft GS Wavetable"},
        {"", "", ""},
        {"扬声器", "", "扬声器"},
    };
    for (const Case& c : cases) {
        FakeReadings readings;
        readings.sound = {c.wave, c.midi};
        EXPECT_EQ(Gather(readings).strSoundCard, c.expected);
    }
}

TEST(SysInfo, ProcessorFactsAndDisplayNamesPassThroughAsRead) {
    FakeReadings readings;
    readings.processor = {"Intel(R) Core(TM) i7-8700K CPU @ 3.70GHz", "GenuineIntel",
                          "x86 Family 6 Model 158 Stepping 10", 3696};
    readings.processorCount = 12;
    readings.displays = {"NVIDIA GeForce GTX 1050 Ti", "Intel(R) UHD Graphics 630"};
    const SystemFacts facts = Gather(readings);
    EXPECT_EQ(facts.strCPU, "Intel(R) Core(TM) i7-8700K CPU @ 3.70GHz");
    EXPECT_EQ(facts.strCPUProducer, "GenuineIntel");
    EXPECT_EQ(facts.strCPUIdentifier, "x86 Family 6 Model 158 Stepping 10");
    EXPECT_EQ(facts.strCPUCount, "12");
    EXPECT_EQ(facts.aVideoCards, readings.displays);
}

}  // namespace
