#include "trust/trust_state.h"

#include <cstdio>

#include "platform/byte_sink.h"
#include "platform/file_system.h"
#include "platform/text_format.h"

namespace {

constexpr std::string_view kSerialKey = "serial=";

}  // namespace

std::string FormatTrustState(std::uint64_t serial) {
    return std::string(kSerialKey) + std::to_string(serial) + "\n";
}

bool ParseTrustState(std::string_view text, std::uint64_t* serialOut) {
    if (text.size() >= 1 && text.back() == '\n') text.remove_suffix(1);
    if (text.size() >= 1 && text.back() == '\r') text.remove_suffix(1);
    if (text.substr(0, kSerialKey.size()) != kSerialKey) return false;
    text.remove_prefix(kSerialKey.size());
    return ReadDecimal(text, UINT64_MAX, serialOut);
}

TrustStateRead ReadTrustState(const std::string& path, std::uint64_t* serialOut) {
    *serialOut = 0;
    if (!fs_port::PathExists(path)) return TrustStateRead::kMissing;
    const int64_t size = fs_port::FileSize(path);
    if (size < 0 || size > kMaxTrustStateBytes) return TrustStateRead::kDamaged;
    UniqueFile file(fs_port::OpenFile(path, "rb"));
    if (!file) return TrustStateRead::kDamaged;
    std::string text(static_cast<size_t>(size), '\0');
    if (std::fread(&text[0], 1, text.size(), file.get()) != text.size()) return TrustStateRead::kDamaged;
    return ParseTrustState(text, serialOut) ? TrustStateRead::kOk : TrustStateRead::kDamaged;
}

bool WriteTrustState(const std::string& path, std::uint64_t serial) {
    return WriteFileBeside(path, FormatTrustState(serial), ".new") == BesideWrite::Done;
}
