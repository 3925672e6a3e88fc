// The deciphered content of version.data, read as the verification does.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "maintenance/verify_version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ParsedVersionFile parsed;
    (void)ParseVersionContent(std::string_view(reinterpret_cast<const char*>(data), size), &parsed);
    return 0;
}
