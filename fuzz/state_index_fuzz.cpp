// A deciphered state.data, GBK as on the server. An index the reader accepts
// must be what the writer makes of it, byte for byte (so it is sorted, names
// each place once and holds only fields the writer checks), and the lookup
// must find each of its places.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/text_encoding.h"
#include "update/engine/state_index.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text;
    if (!GbkToUtf8(std::string_view(reinterpret_cast<const char*>(data), size), &text)) return 0;
    StateIndex index;
    std::string offending;
    if (!ParseStateIndex(text, &index, &offending)) return 0;
    std::string again;
    if (!FormatStateIndex(index, &again, &offending) || again != text) std::abort();
    for (const StateEntry& entry : index.entries) {
        if (FindStateEntry(index, entry.place) != &entry) std::abort();
    }
    return 0;
}
