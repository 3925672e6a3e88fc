// The deciphered content of config.data (or config.ini as it stands).
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "app/launcher_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LauncherSettings settings;
    std::vector<SettingsNote> notes;
    ParseSettingsContent(std::string_view(reinterpret_cast<const char*>(data), size), &settings, &notes);
    return 0;
}
