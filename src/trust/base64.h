// Base64 with the standard alphabet and "=" padding (RFC 4648), as the
// minisign key and signature lines use it.
#pragma once

#include <string>
#include <string_view>

std::string Base64Encode(std::string_view bytes);
// Strict: no white space, no missing or misplaced padding, and unused bits of
// the last character must be zero, so that one text has one meaning.
[[nodiscard]] bool Base64Decode(std::string_view text, std::string* bytesOut);
