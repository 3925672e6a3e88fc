#include "trust/file_sha256.h"

#include <gcrypt.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "external/crypto_library.h"
#include "platform/file_system.h"

namespace {

constexpr size_t kBlockBytes = 256 * 1024;
constexpr size_t kSha256Bytes = 32;

std::string HexOf(const unsigned char* value) {
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < kSha256Bytes; ++i) {
        hex += kHex[value[i] >> 4];
        hex += kHex[value[i] & 15];
    }
    return hex;
}

struct DigestCloser {
    void operator()(gcry_md_hd_t handle) const { gcry_md_close(handle); }
};

}  // namespace

bool ComputeFileSha256(const std::string& path, std::string* hexOut, std::uint64_t* sizeOut,
                       const std::atomic<bool>* stop) {
    EnsureCryptoLibrary();
    gcry_md_hd_t raw = nullptr;
    if (gcry_md_open(&raw, GCRY_MD_SHA256, 0) != 0) return false;
    const std::unique_ptr<gcry_md_handle, DigestCloser> digest(raw);
    std::FILE* file = fs_port::OpenFile(path, "rb");
    if (!file) return false;
    std::vector<unsigned char> block(kBlockBytes);
    std::uint64_t size = 0;
    const auto stopped = [stop] { return stop != nullptr && stop->load(); };
    size_t got = 0;
    while (!stopped() && (got = std::fread(block.data(), 1, block.size(), file)) > 0) {
        gcry_md_write(raw, block.data(), got);
        size += got;
    }
    const bool complete = !stopped() && std::ferror(file) == 0;
    std::fclose(file);
    const unsigned char* value = gcry_md_read(raw, GCRY_MD_SHA256);
    if (!complete || !value) return false;
    *hexOut = HexOf(value);
    *sizeOut = size;
    return true;
}

std::string Sha256Hex(std::string_view data) {
    EnsureCryptoLibrary();
    unsigned char value[kSha256Bytes];
    gcry_md_hash_buffer(GCRY_MD_SHA256, value, data.data(), data.size());
    return HexOf(value);
}
