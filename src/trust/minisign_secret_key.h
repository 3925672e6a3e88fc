// Secret key files in the minisign format: an "untrusted comment:" line and
//   base64("Ed" + kdf ("Sc" scrypt or two NULs for none) + "B2" + salt[32]
//          + scrypt ops limit (u64 LE) + memory limit (u64 LE)
//          + key id[8] + secret key[64] + checksum[32])
// The secret key is the Ed25519 seed followed by the public key; the
// checksum is BLAKE2b-256 of ("Ed" + key id + secret key). Under a password
// the last 104 bytes are XORed with scrypt(password, salt).
#pragma once

#include <string>
#include <string_view>

#include "trust/minisign.h"
#include "trust/signature_primitives.h"

// The cost of the keys we write: the operation count of minisign's own keys
// with a quarter of their memory (256 MiB), so that the 32-bit Windows build
// can still open them. Derivation takes a few seconds, once per run.
constexpr ScryptCost kSecretKeyCost{33554432, 268435456};
// The most memory a key file may ask scrypt for (minisign's own keys need
// just over 1 GiB) and the most work (memory times passes).
constexpr std::uint64_t kMaxScryptMemoryBytes = (std::uint64_t{1} << 30) + (std::uint64_t{1} << 20);
constexpr std::uint64_t kMaxScryptWorkBytes = std::uint64_t{16} << 30;
constexpr size_t kMaxPasswordBytes = 1024;

enum class SecretKeyLoad { kOk, kMalformed, kUnsupported, kTooCostly, kWrongPassword, kFailed };
const char* SecretKeyLoadName(SecretKeyLoad load);

// True when the key file is protected by a password (checked before asking
// for one). False for a file that is not a secret key at all, too.
bool MinisignSecretKeyNeedsPassword(std::string_view text);
// The password is used only for a protected key.
[[nodiscard]] SecretKeyLoad ParseMinisignSecretKey(std::string_view text, std::string_view password,
                                                   MinisignSecretKey* keyOut);
// password null: an unprotected key (minisign -W writes those, too).
[[nodiscard]] bool FormatMinisignSecretKey(const MinisignSecretKey& key, const std::string* password,
                                           const ScryptCost& cost, std::string* textOut);
