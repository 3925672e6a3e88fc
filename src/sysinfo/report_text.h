// The system report as the player copies it for customer support: one block
// per fact, blocks parted by an empty line, lines ended by "\r\n". Facts that
// are empty leave their line out.
#pragma once

#include <string>

#include "sysinfo/sys_info.h"

// The report text (UTF-8) for the given facts.
std::string BuildReport(const SystemFacts& facts);
