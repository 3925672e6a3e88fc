// The server's version list as fetched: decoded, parsed, and the next step
// chosen for a few installed versions (none, the oldest listed, the newest).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "update/version_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string content;
    if (!DecodeVersionList(std::string(reinterpret_cast<const char*>(data), size), &content)) return 0;
    std::vector<VersionEntry> entries;
    if (ParseVersionList(content, &entries) != VersionListParse::Ok) return 0;
    VersionEntry target;
    for (const int32_t installed : {int32_t{0}, entries.back().nVersion, entries.front().nVersion})
        (void)ChooseTarget(entries, installed, &target);
    return 0;
}
