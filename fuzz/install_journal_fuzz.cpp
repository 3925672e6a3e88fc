// The installer's journal as a killed run left it on the disk.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "update/install/install_journal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    JournalContent content;
    std::string error;
    (void)ParseJournal(std::string_view(reinterpret_cast<const char*>(data), size), &content, &error);
    return 0;
}
