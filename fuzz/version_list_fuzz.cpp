// The server's version list as fetched: decoded, parsed, and the next step
// chosen for a few installed versions (none, the oldest listed, the newest).
// The newest version is then pinned in the bytes as the signing tool pins
// it: the list must read back with the same versions, that one carrying the
// pin.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "update/engine/version_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string raw(reinterpret_cast<const char*>(data), size);
    std::string content;
    if (!DecodeVersionList(raw, &content)) return 0;
    std::vector<VersionEntry> entries;
    if (ParseVersionList(content, &entries) != VersionListParse::Ok) return 0;
    VersionEntry target;
    for (const int32_t installed : {int32_t{0}, entries.back().nVersion, entries.front().nVersion})
        (void)ChooseTarget(entries, installed, &target);

    const std::string pin(64, 'a');
    const int32_t newest = entries.front().nVersion;
    std::string pinnedContent;
    std::vector<VersionEntry> pinned;
    if (!DecodeVersionList(PinManifest(raw, newest, pin), &pinnedContent) ||
        ParseVersionList(pinnedContent, &pinned) != VersionListParse::Ok || pinned.size() != entries.size()) {
        std::abort();
    }
    for (size_t i = 0; i < pinned.size(); ++i) {
        if (pinned[i].nVersion != entries[i].nVersion || pinned[i].nMandatory != entries[i].nMandatory ||
            pinned[i].nExtra != entries[i].nExtra ||
            pinned[i].manifestSha256 != (pinned[i].nVersion == newest ? pin : entries[i].manifestSha256)) {
            std::abort();
        }
    }
    return 0;
}
