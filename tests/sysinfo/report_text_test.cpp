#include <gtest/gtest.h>

#include <string>

#include "sysinfo/report_text.h"

namespace {

SystemFacts FullFacts() {
    SystemFacts facts;
    facts.strOS = "Microsoft Windows 7 旗舰版 Service Pack 1 64bit (6.1 7601 ) ";
    facts.strCPU = "Intel(R) Core(TM) i5-4590 CPU @ 3.30GHz";
    facts.strGHz = "3.29";
    facts.strCPUCount = "4";
    facts.strCPUProducer = "GenuineIntel";
    facts.strCPUIdentifier = "x86 Family 6 Model 60 Stepping 3";
    facts.strPhysicalMemory = "8192";
    facts.strVirtualMemory = "4095";
    facts.strSoundCard = "扬声器 (Realtek High DefiniMicrosoft GS 波表合成器";
    facts.strIEVersion = "9 ,11 , 9600 , 19036";
    facts.aVideoCards = {"NVIDIA GeForce GTX 750 Ti"};
    facts.aNetworkCards = {"Realtek PCIe GBE Family Controller", "TAP-Windows Adapter V9"};
    return facts;
}

TEST(ReportText, LaysOutTheFactsByteForByte) {
    SystemFacts noName = FullFacts();
    noName.strCPU.clear();
    noName.strCPUProducer.clear();
    noName.strVirtualMemory.clear();
    noName.aVideoCards.clear();
    noName.aNetworkCards.clear();
    SystemFacts twoVideo;
    twoVideo.strIEVersion = "0 ,0 , 0 , 0";
    twoVideo.aVideoCards = {"A", "B"};

    struct Case {
        const char* name;
        SystemFacts facts;
        std::string expected;
    } cases[] = {
        {"every fact", FullFacts(),
         "OS : Microsoft Windows 7 旗舰版 Service Pack 1 64bit (6.1 7601 ) \r\n"
         "\r\n"
         "CPU : Intel(R) Core(TM) i5-4590 CPU @ 3.30GHz 3.29 GHz\r\n"
         "\r\n"
         "CPU Count : 4\r\n"
         "\r\n"
         "CPU Producer : GenuineIntel \tCPU Identifier : x86 Family 6 Model 60 Stepping 3\r\n"
         "\r\n"
         "Physical Memory : 8192 \tVirtual Memory : 4095\r\n"
         "\r\n"
         "Sound Card : 扬声器 (Realtek High DefiniMicrosoft GS 波表合成器\r\n"
         "\r\n"
         "IE Version : 9 ,11 , 9600 , 19036\r\n"
         "\r\n"
         "Videp Card : NVIDIA GeForce GTX 750 Ti \r\n"
         "\r\n"
         "NetWork Card : Realtek PCIe GBE Family Controller\r\n"
         "\r\n"
         "NetWork Card : TAP-Windows Adapter V9\r\n"},
        {"missing pieces leave their text out, lists add nothing", noName,
         "OS : Microsoft Windows 7 旗舰版 Service Pack 1 64bit (6.1 7601 ) \r\n"
         "\r\n"
         "3.29 GHz\r\n"
         "\r\n"
         "CPU Count : 4\r\n"
         "\r\n"
         "CPU Identifier : x86 Family 6 Model 60 Stepping 3\r\n"
         "\r\n"
         "Physical Memory : 8192 \t"
         "\r\n"
         "Sound Card : 扬声器 (Realtek High DefiniMicrosoft GS 波表合成器\r\n"
         "\r\n"
         "IE Version : 9 ,11 , 9600 , 19036\r\n"},
        {"only separators stay of empty facts", SystemFacts{},
         "\r\n\r\n\r\n\r\n\r\n\r\n"},
        {"each display adapter after an empty line", twoVideo,
         "\r\n\r\n\r\n\r\n\r\n\r\n"
         "IE Version : 0 ,0 , 0 , 0\r\n"
         "\r\nVidep Card : A \r\n"
         "\r\nVidep Card : B \r\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuildReport(c.facts), c.expected) << c.name;
    }
}

}  // namespace
