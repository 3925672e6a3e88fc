#include "external/patch_kit.h"

#include <gcrypt.h>

#include <cstdio>
#include <memory>

#include "external/crypto_library.h"
#include "platform/file_system.h"

namespace {

// Large enough that the per-call cost of reading and hashing vanishes, small
// enough to stay out of the way of everything else in the process.
constexpr size_t kDigestBlockBytes = 1u << 20;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
struct DigestCloser {
    void operator()(gcry_md_hd_t h) const { gcry_md_close(h); }
};

std::string HexText(const unsigned char* bytes, size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out(count * 2, '0');
    for (size_t i = 0; i < count; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
    return out;
}

}  // namespace

bool ComputeFileMd5(const std::string& path, std::string* hexOut) {
    EnsureCryptoLibrary();
    if (!fs_port::IsRegularFile(path)) return false;
    std::unique_ptr<std::FILE, FileCloser> file(fs_port::OpenFile(path, "rb"));
    if (!file) return false;
    // The blocks go straight from the file into our buffer; a second
    // buffer inside stdio would only add a copy.
    std::setvbuf(file.get(), nullptr, _IONBF, 0);

    gcry_md_hd_t raw = nullptr;
    if (gcry_md_open(&raw, GCRY_MD_MD5, 0) != 0) return false;
    std::unique_ptr<gcry_md_handle, DigestCloser> digest(raw);

    std::unique_ptr<unsigned char[]> block(new unsigned char[kDigestBlockBytes]);
    for (;;) {
        const size_t got = std::fread(block.get(), 1, kDigestBlockBytes, file.get());
        if (got > 0) gcry_md_write(digest.get(), block.get(), got);
        if (got < kDigestBlockBytes) break;
    }
    if (std::ferror(file.get())) return false;
    const unsigned char* value = gcry_md_read(digest.get(), GCRY_MD_MD5);
    if (!value) return false;
    *hexOut = HexText(value, gcry_md_get_algo_dlen(GCRY_MD_MD5));
    return true;
}

const char* CPatchKit::ComputeDigest(const char* path) {
    if (!path || !ComputeFileMd5(path, &m_lastDigest)) return nullptr;
    return m_lastDigest.c_str();
}
