#include "sysinfo/report_text.h"

namespace {

const char kLineEnd[] = "\r\n";

// Appends prefix, value and suffix when the value is not empty.
void AppendIfPresent(std::string* report, const char* prefix, const std::string& value,
                     const char* suffix) {
    if (value.empty()) return;
    *report += prefix;
    *report += value;
    *report += suffix;
}

}  // namespace

// The labels are read by support staff and their tools as they stand,
// misspellings ("Videp Card", "NetWork Card") and tabs included.
std::string BuildReport(const SystemFacts& facts) {
    std::string report;
    AppendIfPresent(&report, "OS : ", facts.strOS, "\r\n");
    report += kLineEnd;
    AppendIfPresent(&report, "CPU : ", facts.strCPU, " ");
    AppendIfPresent(&report, "", facts.strGHz, " GHz\r\n");
    report += kLineEnd;
    AppendIfPresent(&report, "CPU Count : ", facts.strCPUCount, "\r\n");
    report += kLineEnd;
    AppendIfPresent(&report, "CPU Producer : ", facts.strCPUProducer, " \t");
    AppendIfPresent(&report, "CPU Identifier : ", facts.strCPUIdentifier, "\r\n");
    report += kLineEnd;
    AppendIfPresent(&report, "Physical Memory : ", facts.strPhysicalMemory, " \t");
    AppendIfPresent(&report, "Virtual Memory : ", facts.strVirtualMemory, "\r\n");
    report += kLineEnd;
    AppendIfPresent(&report, "Sound Card : ", facts.strSoundCard, "\r\n");
    report += kLineEnd;
    AppendIfPresent(&report, "IE Version : ", facts.strIEVersion, "\r\n");
    for (const std::string& name : facts.aVideoCards) {
        report += kLineEnd;
        report += "Videp Card : " + name + " \r\n";
    }
    for (const std::string& description : facts.aNetworkCards) {
        report += kLineEnd;
        report += "NetWork Card : " + description + "\r\n";
    }
    return report;
}
