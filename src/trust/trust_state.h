// trust.state: the serial of the last signed version list that this
// installation accepted, so that an older list (a rollback) is refused even
// when it carries a valid signature. One line "serial=N", written atomically.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

constexpr char kTrustStateFileName[] = "trust.state";
// The file is one short line; anything larger is not ours.
constexpr int64_t kMaxTrustStateBytes = 256;

enum class TrustStateRead { kMissing, kOk, kDamaged };

// The text of the file for a serial, and back. Parsing accepts exactly one
// line "serial=N" (a final line end, "\r\n" too) with N a decimal that fits
// 64 bits.
std::string FormatTrustState(std::uint64_t serial);
[[nodiscard]] bool ParseTrustState(std::string_view text, std::uint64_t* serialOut);

// serialOut is 0 unless the file was read whole and parsed.
[[nodiscard]] TrustStateRead ReadTrustState(const std::string& path, std::uint64_t* serialOut);
// A reader finds the old file or the whole new one, never a part.
[[nodiscard]] bool WriteTrustState(const std::string& path, std::uint64_t serial);
