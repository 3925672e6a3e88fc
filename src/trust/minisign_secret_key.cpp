#include "trust/minisign_secret_key.h"

#include <cstring>
#include <vector>

#include "trust/base64.h"

namespace {

constexpr char kUntrustedPrefix[] = "untrusted comment: ";
constexpr char kScryptAlgorithm[] = "Sc";
constexpr char kNoKdf[] = {'\0', '\0'};
constexpr char kChecksumAlgorithm[] = "B2";
constexpr size_t kSaltBytes = 32;
// Offsets in the decoded key.
constexpr size_t kKdfAt = 2;
constexpr size_t kChecksumAlgorithmAt = 4;
constexpr size_t kSaltAt = 6;
constexpr size_t kOpsLimitAt = kSaltAt + kSaltBytes;
constexpr size_t kMemLimitAt = kOpsLimitAt + 8;
constexpr size_t kKeyIdAt = kMemLimitAt + 8;
constexpr size_t kSecretAt = kKeyIdAt + kMinisignKeyIdBytes;
constexpr size_t kChecksumAt = kSecretAt + kEd25519SeedBytes + kEd25519PublicBytes;
constexpr size_t kBlobBytes = kChecksumAt + kBlake2b256Bytes;
// What a password protects: key id, secret key and checksum.
constexpr size_t kProtectedBytes = kBlobBytes - kKeyIdAt;

std::uint64_t LoadLe64(const std::string& blob, size_t at) {
    std::uint64_t value = 0;
    for (size_t i = 8; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(blob[at + i]);
    return value;
}

void StoreLe64(std::string* blob, size_t at, std::uint64_t value) {
    for (size_t i = 0; i < 8; ++i) (*blob)[at + i] = static_cast<char>(value >> (8 * i));
}

bool DecodeBlob(std::string_view text, std::string* blobOut) {
    std::vector<std::string_view> lines;
    if (!SplitMinisignLines(text, &lines) || lines.size() != 2 ||
        lines[0].substr(0, sizeof kUntrustedPrefix - 1) != kUntrustedPrefix ||
        lines[0].size() > kMaxUntrustedCommentLineBytes) {
        return false;
    }
    return Base64Decode(lines[1], blobOut) && blobOut->size() == kBlobBytes &&
           blobOut->compare(0, 2, "Ed") == 0;
}

bool IsProtected(const std::string& blob) {
    return blob.compare(kKdfAt, 2, kScryptAlgorithm) == 0;
}

std::array<unsigned char, kBlake2b256Bytes> Checksum(const std::string& blob) {
    return Blake2b256(blob.substr(0, 2) + blob.substr(kKeyIdAt, kChecksumAt - kKeyIdAt));
}

// XORs the protected part with scrypt(password, salt) under the key's cost.
SecretKeyLoad ApplyPassword(std::string* blob, std::string_view password) {
    const ScryptCost cost{LoadLe64(*blob, kOpsLimitAt), LoadLe64(*blob, kMemLimitAt)};
    const ScryptParameters parameters = PickScryptParameters(cost);
    const std::uint64_t memory = ScryptMemoryBytes(parameters);
    if (memory > kMaxScryptMemoryBytes || parameters.p > kMaxScryptWorkBytes / memory) {
        return SecretKeyLoad::kTooCostly;
    }
    unsigned char stream[kProtectedBytes];
    const auto* salt = reinterpret_cast<const unsigned char*>(blob->data() + kSaltAt);
    if (!ScryptDerive(password, salt, kSaltBytes, parameters, stream, sizeof stream)) {
        return SecretKeyLoad::kFailed;
    }
    for (size_t i = 0; i < kProtectedBytes; ++i)
        (*blob)[kKeyIdAt + i] ^= static_cast<char>(stream[i]);
    std::memset(stream, 0, sizeof stream);
    return SecretKeyLoad::kOk;
}

}  // namespace

const char* SecretKeyLoadName(SecretKeyLoad load) {
    switch (load) {
        case SecretKeyLoad::kOk:
            return "loaded";
        case SecretKeyLoad::kMalformed:
            return "not a minisign secret key";
        case SecretKeyLoad::kUnsupported:
            return "uses an unknown key derivation or checksum";
        case SecretKeyLoad::kTooCostly:
            return "asks for more scrypt memory or work than allowed";
        case SecretKeyLoad::kWrongPassword:
            return "wrong password, or the key is damaged";
        case SecretKeyLoad::kFailed:
            return "the key could not be derived (out of memory?)";
    }
    return "unknown";
}

bool MinisignSecretKeyNeedsPassword(std::string_view text) {
    std::string blob;
    return DecodeBlob(text, &blob) && IsProtected(blob);
}

SecretKeyLoad ParseMinisignSecretKey(std::string_view text, std::string_view password,
                                     MinisignSecretKey* keyOut) {
    std::string blob;
    if (!DecodeBlob(text, &blob)) return SecretKeyLoad::kMalformed;
    if (blob.compare(kChecksumAlgorithmAt, 2, kChecksumAlgorithm) != 0 ||
        (!IsProtected(blob) && blob.compare(kKdfAt, 2, kNoKdf, 2) != 0)) {
        return SecretKeyLoad::kUnsupported;
    }
    if (IsProtected(blob)) {
        const SecretKeyLoad applied = ApplyPassword(&blob, password);
        if (applied != SecretKeyLoad::kOk) return applied;
    }
    const auto checksum = Checksum(blob);
    // minisign leaves the checksum of an unprotected key zero.
    const std::string zero(kBlake2b256Bytes, '\0');
    const bool unchecked = !IsProtected(blob) && blob.compare(kChecksumAt, zero.size(), zero) == 0;
    if (!unchecked &&
        std::memcmp(checksum.data(), blob.data() + kChecksumAt, checksum.size()) != 0) {
        return IsProtected(blob) ? SecretKeyLoad::kWrongPassword : SecretKeyLoad::kMalformed;
    }
    MinisignSecretKey key;
    std::memcpy(key.keyId.data(), blob.data() + kKeyIdAt, key.keyId.size());
    std::memcpy(key.seed.data(), blob.data() + kSecretAt, key.seed.size());
    std::memcpy(key.publicKey.data(), blob.data() + kSecretAt + key.seed.size(),
                key.publicKey.size());
    // The stored public half must be the seed's own, or signatures would not verify.
    Ed25519Public derived;
    if (!Ed25519PublicOf(key.seed, &derived)) return SecretKeyLoad::kFailed;
    if (derived != key.publicKey) {
        return IsProtected(blob) ? SecretKeyLoad::kWrongPassword : SecretKeyLoad::kMalformed;
    }
    *keyOut = key;
    return SecretKeyLoad::kOk;
}

bool FormatMinisignSecretKey(const MinisignSecretKey& key, const std::string* password,
                             const ScryptCost& cost, std::string* textOut) {
    std::string blob(kBlobBytes, '\0');
    blob.replace(0, 2, "Ed");
    blob.replace(kChecksumAlgorithmAt, 2, kChecksumAlgorithm);
    std::memcpy(&blob[kKeyIdAt], key.keyId.data(), key.keyId.size());
    std::memcpy(&blob[kSecretAt], key.seed.data(), key.seed.size());
    std::memcpy(&blob[kSecretAt + key.seed.size()], key.publicKey.data(), key.publicKey.size());
    const auto checksum = Checksum(blob);
    std::memcpy(&blob[kChecksumAt], checksum.data(), checksum.size());
    if (password) {
        if (password->empty() || password->size() > kMaxPasswordBytes) return false;
        blob.replace(kKdfAt, 2, kScryptAlgorithm);
        RandomBytes(reinterpret_cast<unsigned char*>(&blob[kSaltAt]), kSaltBytes);
        StoreLe64(&blob, kOpsLimitAt, cost.opsLimit);
        StoreLe64(&blob, kMemLimitAt, cost.memLimit);
        if (ApplyPassword(&blob, *password) != SecretKeyLoad::kOk) return false;
    }
    *textOut = std::string(kUntrustedPrefix) +
               (password ? "minisign encrypted secret key" : "minisign secret key") + "\n" +
               Base64Encode(blob) + "\n";
    std::fill(blob.begin(), blob.end(), '\0');
    return true;
}
