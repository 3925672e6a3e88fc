#include "package/sealed_content.h"

#include <gcrypt.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>

#include "package/crypto_library.h"

namespace {

constexpr unsigned char kMagic[4] = {'V', 'T', 'F', '1'};
constexpr unsigned char kFormatVersion = 1;
constexpr size_t kNonceOffset = 20;
constexpr size_t kNonceBytes = 12;
constexpr size_t kKeyBytes = 32;
constexpr char kTagKeyLabel[] = "VTF1 tag";

struct DerivedKeys {
    unsigned char cipher[kKeyBytes];
    unsigned char tag[kKeyBytes];
};

void PutLe(unsigned char* out, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint64_t GetLe(const unsigned char* in, size_t bytes) {
    uint64_t value = 0;
    for (size_t i = bytes; i-- > 0;) value = (value << 8) | in[i];
    return value;
}

DerivedKeys DeriveKeys(const FileKey& key) {
    unsigned char words[20];
    for (size_t i = 0; i < key.size(); ++i) PutLe(words + 4 * i, key[i], 4);
    DerivedKeys keys;
    gcry_md_hash_buffer(GCRY_MD_SHA256, keys.cipher, words, sizeof words);
    unsigned char material[kKeyBytes + sizeof kTagKeyLabel - 1];
    std::memcpy(material, keys.cipher, kKeyBytes);
    std::memcpy(material + kKeyBytes, kTagKeyLabel, sizeof kTagKeyLabel - 1);
    gcry_md_hash_buffer(GCRY_MD_SHA256, keys.tag, material, sizeof material);
    return keys;
}

// XORs the ChaCha20 key stream over data in place (the same call enciphers
// and deciphers).
bool ApplyCipher(const DerivedKeys& keys, const unsigned char* nonce, unsigned char* data,
                 size_t size) {
    gcry_cipher_hd_t cipher = nullptr;
    if (gcry_cipher_open(&cipher, GCRY_CIPHER_CHACHA20, GCRY_CIPHER_MODE_STREAM, 0) != 0) {
        return false;
    }
    bool ok = gcry_cipher_setkey(cipher, keys.cipher, kKeyBytes) == 0 &&
              gcry_cipher_setiv(cipher, nonce, kNonceBytes) == 0 &&
              (size == 0 || gcry_cipher_encrypt(cipher, data, size, nullptr, 0) == 0);
    gcry_cipher_close(cipher);
    return ok;
}

bool ComputeTag(const DerivedKeys& keys, const unsigned char* data, size_t size,
                unsigned char* tagOut) {
    gcry_md_hd_t mac = nullptr;
    if (gcry_md_open(&mac, GCRY_MD_SHA256, GCRY_MD_FLAG_HMAC) != 0) return false;
    bool ok = gcry_md_setkey(mac, keys.tag, kKeyBytes) == 0;
    if (ok) {
        gcry_md_write(mac, data, size);
        const unsigned char* value = gcry_md_read(mac, GCRY_MD_SHA256);
        ok = value != nullptr;
        if (ok) std::memcpy(tagOut, value, kSealTagBytes);
    }
    gcry_md_close(mac);
    return ok;
}

// Compares without an early exit, so the time taken says nothing about
// where the first difference lies.
bool SameBytes(const unsigned char* a, const unsigned char* b, size_t size) {
    unsigned char diff = 0;
    for (size_t i = 0; i < size; ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

uint32_t Crc32Of(const unsigned char* data, size_t size) {
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes the length as uInt; feed it in pieces that always fit.
    while (size > 0) {
        const uInt piece = size > (1u << 30) ? (1u << 30) : static_cast<uInt>(size);
        crc = crc32(crc, data, piece);
        data += piece;
        size -= piece;
    }
    return static_cast<uint32_t>(crc);
}

}  // namespace

bool SealContent(const void* data, size_t size, const FileKey& key, std::string* imageOut) {
    if (size > kMaxWholeFileBytes) return false;
    EnsureCryptoLibrary();
    const DerivedKeys keys = DeriveKeys(key);
    std::string image(kSealOverheadBytes + size, '\0');
    auto* bytes = reinterpret_cast<unsigned char*>(&image[0]);
    std::memcpy(bytes, kMagic, sizeof kMagic);
    bytes[4] = kFormatVersion;
    PutLe(bytes + 8, size, 8);
    if (size > 0) std::memcpy(bytes + kSealHeaderBytes, data, size);
    PutLe(bytes + 16, Crc32Of(bytes + kSealHeaderBytes, size), 4);
    gcry_create_nonce(bytes + kNonceOffset, kNonceBytes);
    if (!ApplyCipher(keys, bytes + kNonceOffset, bytes + kSealHeaderBytes, size)) return false;
    if (!ComputeTag(keys, bytes, kSealHeaderBytes + size, bytes + kSealHeaderBytes + size)) {
        return false;
    }
    imageOut->swap(image);
    return true;
}

bool UnsealInPlace(unsigned char* image, size_t imageSize, const FileKey& key, size_t* sizeOut) {
    if (imageSize < kSealOverheadBytes) return false;
    if (std::memcmp(image, kMagic, sizeof kMagic) != 0 || image[4] != kFormatVersion) return false;
    const uint64_t length = GetLe(image + 8, 8);
    if (length > kMaxWholeFileBytes || length != imageSize - kSealOverheadBytes) return false;
    const size_t size = static_cast<size_t>(length);

    EnsureCryptoLibrary();
    const DerivedKeys keys = DeriveKeys(key);
    unsigned char expected[kSealTagBytes];
    if (!ComputeTag(keys, image, kSealHeaderBytes + size, expected)) return false;
    if (!SameBytes(expected, image + kSealHeaderBytes + size, kSealTagBytes)) return false;

    const uint32_t crc = static_cast<uint32_t>(GetLe(image + 16, 4));
    unsigned char nonce[kNonceBytes];
    std::memcpy(nonce, image + kNonceOffset, kNonceBytes);
    unsigned char* body = image + kSealHeaderBytes;
    if (!ApplyCipher(keys, nonce, body, size)) return false;
    if (Crc32Of(body, size) != crc) return false;
    std::memmove(image, body, size);
    *sizeOut = size;
    return true;
}
