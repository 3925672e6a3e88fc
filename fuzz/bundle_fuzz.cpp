// A package as it arrives from the update server: opened, listed and every
// member unpacked into a scratch folder, as the update execution does.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "package/bundle.h"
#include "platform/file_system.h"

namespace {

// One scratch folder per process (below TMPDIR), made at the first input.
const std::string& ScratchFolder() {
    static const std::string folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "bundle-XXXXXX").string();
        const char* made = mkdtemp(pattern.data());
        return std::string(made ? made : std::filesystem::temp_directory_path().string());
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string packagePath = ScratchFolder() + "/input.zip";
    std::FILE* file = std::fopen(packagePath.c_str(), "wb");
    if (!file) return 0;
    const bool written = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) return 0;

    CBundle bundle;
    if (!bundle.Open(packagePath.c_str(), kBundleTag)) return 0;
    const std::string unpacked = ScratchFolder() + "/unpacked";
    for (const BundleMember& member : bundle.Members()) {
        if (member.isDirectory) continue;
        (void)bundle.Extract(member.name.c_str(), (unpacked + "/member").c_str());
    }
    (void)fs_port::RemoveFile(unpacked + "/member");
    return 0;
}
