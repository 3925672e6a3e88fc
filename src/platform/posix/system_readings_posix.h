// The parts of the POSIX readings that turn the kernel's text files into
// readings, on their own so they can be checked with given texts.
#pragma once

#include <string>

#include "sysinfo/system_readings.h"

// The first processor's block of /proc/cpuinfo: "model name", "vendor_id",
// "<machine> Family F Model M Stepping S" and the whole MHz of "cpu MHz".
ProcessorValues ParseCpuInfo(const std::string& text, const std::string& machine);
// PRETTY_NAME of /etc/os-release without its quotes; empty when absent.
std::string ParseOsReleaseName(const std::string& text);
// The long name of the first card of /proc/asound/cards, cut to the device
// name bound at a character boundary; empty when there is no card.
std::string ParseFirstSoundCard(const std::string& text);
// Kernel release "6.1.0-18-amd64" -> version 6.1 build 0 and the texts
// "6.1" (current version) and "0-18-amd64" (current build).
void SplitKernelRelease(const std::string& release, PlatformVersion* versionOut,
                        std::string* currentVersionOut, std::string* currentBuildOut);
