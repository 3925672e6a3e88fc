// An enciphered data file's bytes (a list, config.data, version.data) checked
// and deciphered under the launcher's key, as CFastFile::Read does after
// reading the file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "external/fast_file.h"
#include "external/sealed_content.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<unsigned char> image(data, data + size);
    size_t contentSize = 0;
    if (UnsealInPlace(image.data(), image.size(), LauncherFileKey(), &contentSize) &&
        contentSize > image.size())
        __builtin_trap();
    return 0;
}
