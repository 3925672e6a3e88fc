// The installer program's hand-off file (udo.temp) as read from the disk.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "update/install/hand_off.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    HandOffPlan plan;
    std::string error;
    (void)DecodeHandOff(std::string_view(reinterpret_cast<const char*>(data), size), &plan, &error);
    return 0;
}
