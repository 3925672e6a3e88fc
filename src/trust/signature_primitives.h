// The signature primitives of signed releases, all computed by libgcrypt:
// Ed25519 (EdDSA over the SHA-512 of the message, as RFC 8032 defines it),
// BLAKE2b, scrypt and random bytes. Nothing here knows a file format.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

constexpr size_t kEd25519SeedBytes = 32;
constexpr size_t kEd25519PublicBytes = 32;
constexpr size_t kEd25519SignatureBytes = 64;
constexpr size_t kBlake2b512Bytes = 64;
constexpr size_t kBlake2b256Bytes = 32;

using Ed25519Seed = std::array<unsigned char, kEd25519SeedBytes>;
using Ed25519Public = std::array<unsigned char, kEd25519PublicBytes>;
using Ed25519Signature = std::array<unsigned char, kEd25519SignatureBytes>;

// A fresh key pair from the library's strong random source.
[[nodiscard]] bool Ed25519Generate(Ed25519Seed* seedOut, Ed25519Public* publicOut);
// The public key that belongs to a secret seed.
[[nodiscard]] bool Ed25519PublicOf(const Ed25519Seed& seed, Ed25519Public* publicOut);
[[nodiscard]] bool Ed25519Sign(const Ed25519Seed& seed, std::string_view message,
                               Ed25519Signature* signatureOut);
// False for a wrong signature and for a public key that is not a curve point.
[[nodiscard]] bool Ed25519Verify(const Ed25519Public& publicKey, std::string_view message,
                                 const unsigned char* signature);

// BLAKE2b without a key, with 64 or 32 bytes of output (two distinct
// functions, not one truncated to the other).
std::array<unsigned char, kBlake2b512Bytes> Blake2b512(std::string_view data);
std::array<unsigned char, kBlake2b256Bytes> Blake2b256(std::string_view data);

// scrypt cost in the form a secret key file stores it: an operation count and
// a memory size in bytes, turned into N, r = 8 and p the way libsodium's
// scryptsalsa208sha256 picks them, so that keys made by other minisign tools
// derive the same stream.
struct ScryptCost {
    std::uint64_t opsLimit = 0;
    std::uint64_t memLimit = 0;
};
struct ScryptParameters {
    unsigned nLog2 = 0;
    std::uint32_t r = 0;
    std::uint32_t p = 0;
};
ScryptParameters PickScryptParameters(const ScryptCost& cost);
// Memory the derivation takes, in bytes (128 * r * N, plus 128 * r * p).
std::uint64_t ScryptMemoryBytes(const ScryptParameters& parameters);
[[nodiscard]] bool ScryptDerive(std::string_view password, const unsigned char* salt,
                                size_t saltSize, const ScryptParameters& parameters,
                                unsigned char* out, size_t outSize);

void RandomBytes(unsigned char* out, size_t size);
