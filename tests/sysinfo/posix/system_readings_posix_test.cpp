#include <gtest/gtest.h>

#include <string>

#include "platform/posix/system_readings_posix.h"
#include "sysinfo/report_text.h"
#include "sysinfo/sys_info.h"

namespace {

TEST(PosixReadings, CpuInfoGivesTheFirstProcessorsFacts) {
    const std::string twoProcessors =
        "processor\t: 0\nvendor_id\t: AuthenticAMD\ncpu family\t: 25\nmodel\t\t: 17\n"
        "model name\t: AMD EPYC 9454 48-Core Processor\nstepping\t: 1\ncpu MHz\t\t: 2596.136\n"
        "\n"
        "processor\t: 1\nvendor_id\t: OtherVendor\nmodel name\t: Other\ncpu MHz\t\t: 100.0\n";
    const ProcessorValues first = ParseCpuInfo(twoProcessors, "x86_64");
    EXPECT_EQ(first.name, "AMD EPYC 9454 48-Core Processor");
    EXPECT_EQ(first.vendor, "AuthenticAMD");
    EXPECT_EQ(first.identifier, "x86_64 Family 25 Model 17 Stepping 1");
    EXPECT_EQ(first.clockMHz, 2596u);

    const ProcessorValues arm = ParseCpuInfo("processor\t: 0\nBogoMIPS\t: 48.00\n", "aarch64");
    EXPECT_EQ(arm.name, "");
    EXPECT_EQ(arm.identifier, "");
    EXPECT_EQ(arm.clockMHz, 0u);

    const ProcessorValues tooLong =
        ParseCpuInfo("model name\t: " + std::string(kProcessorValueMaxChars, 'x') + "\n", "x");
    EXPECT_EQ(tooLong.name, "");
}

TEST(PosixReadings, OsReleaseSoundCardsAndKernelReleaseAreCut) {
    EXPECT_EQ(ParseOsReleaseName("NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"),
              "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(ParseOsReleaseName("PRETTY_NAME=Alpine\n"), "Alpine");
    EXPECT_EQ(ParseOsReleaseName("NAME=x\n"), "");

    EXPECT_EQ(ParseFirstSoundCard(" 0 [PCH            ]: HDA-Intel - HDA Intel PCH\n"
                                  "                      HDA Intel PCH at 0xf7f10000 irq 32\n"
                                  " 1 [NVidia         ]: HDA-Intel - HDA NVidia\n"),
              "HDA Intel PCH");
    EXPECT_EQ(ParseFirstSoundCard("--- no soundcards ---\n"), "");
    // 30 ASCII bytes and a three-byte character: the cut never splits it.
    EXPECT_EQ(ParseFirstSoundCard(" 0 [X]: drv - " + std::string(30, 'a') + "声卡"),
              std::string(30, 'a'));

    struct Case {
        const char* release;
        uint32_t major, minor, build;
        const char* version;
        const char* buildText;
    } cases[] = {
        {"6.1.0-18-amd64", 6, 1, 0, "6.1", "0-18-amd64"},
        {"6.18.44-fc-v1300", 6, 18, 44, "6.18", "44-fc-v1300"},
        {"5.4", 5, 4, 0, "5.4", ""},
        {"weird", 0, 0, 0, "weird", ""},
    };
    for (const Case& c : cases) {
        PlatformVersion version;
        std::string versionText, buildText;
        SplitKernelRelease(c.release, &version, &versionText, &buildText);
        EXPECT_EQ(version.major, c.major) << c.release;
        EXPECT_EQ(version.minor, c.minor) << c.release;
        EXPECT_EQ(version.build, c.build) << c.release;
        EXPECT_EQ(versionText, c.version) << c.release;
        EXPECT_EQ(buildText, c.buildText) << c.release;
    }
}

TEST(PosixReadings, CollectOnThisMachineGivesASoundReport) {
    CSysInfo info;
    info.Collect();
    SystemFacts facts;
    info.GetReport(&facts);
    EXPECT_GT(facts.strOS.size(), std::string("Microsoft ").size());
    EXPECT_GT(std::stoul(facts.strCPUCount), 0u);
    EXPECT_GT(std::stoull(facts.strPhysicalMemory), 0u);
    EXPECT_GT(std::stoull(facts.strVirtualMemory), 0u);
    EXPECT_EQ(facts.strIEVersion, "0 ,0 , 0 , 0");
    const std::string report = BuildReport(facts);
    EXPECT_EQ(report.rfind("OS : Microsoft ", 0), 0u) << report;
}

}  // namespace
