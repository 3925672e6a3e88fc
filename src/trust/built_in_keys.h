// The operator's public keys built into the program at build time (see
// cmake/trust_keys.cmake): a resource of the Windows programs, compiled-in
// bytes natively. The text holds one base64 key per line; lines beginning
// with "untrusted comment:" and empty lines are skipped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "trust/minisign.h"

// Keys from the text. False when it names no key at all (a build without
// keys); a key line that does not parse is left out, so a damaged key can
// only refuse releases, never switch the checks off.
[[nodiscard]] bool ParseTrustKeysText(std::string_view text, std::vector<MinisignPublicKey>* keysOut);

// The built-in text: the resource or the compiled-in bytes (platform file).
std::string BuiltInTrustKeysText();

// ParseTrustKeysText of the built-in text.
[[nodiscard]] bool BuiltInTrustKeys(std::vector<MinisignPublicKey>* keysOut);
