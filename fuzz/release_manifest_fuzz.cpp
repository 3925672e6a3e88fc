// A version folder's release.manifest and the trusted comments of the
// release signatures, as a hostile server could serve them. What parses must
// format back to a manifest that parses to the same entries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "trust/release_manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    ListComment list;
    ManifestComment manifest;
    if (ParseListComment(input, &list)) (void)ParseListComment(FormatListComment(list), &list);
    if (ParseManifestComment(input, &manifest) &&
        FormatManifestComment(manifest).size() > input.size()) {
        std::abort();  // the canonical form is never longer than what was read
    }
    std::vector<ManifestEntry> entries, again;
    if (!ParseReleaseManifest(input, &entries)) return 0;
    const std::string text = FormatReleaseManifest(entries);
    if (!ParseReleaseManifest(text, &again) || again.size() != entries.size()) std::abort();
    return 0;
}
