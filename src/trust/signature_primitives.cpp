#include "trust/signature_primitives.h"

#include <gcrypt.h>

#include <cstring>

#include "package/crypto_library.h"

namespace {

// Owns one S-expression of libgcrypt.
class Sexp {
public:
    Sexp() = default;
    explicit Sexp(gcry_sexp_t sexp) : m_sexp(sexp) {}
    ~Sexp() { gcry_sexp_release(m_sexp); }
    Sexp(const Sexp&) = delete;
    Sexp& operator=(const Sexp&) = delete;
    gcry_sexp_t* Out() { return &m_sexp; }
    gcry_sexp_t Get() const { return m_sexp; }

private:
    gcry_sexp_t m_sexp = nullptr;
};

// Copies the data of the token "name" somewhere inside sexp, which must be
// exactly size bytes long.
bool CopyToken(gcry_sexp_t sexp, const char* name, unsigned char* out, size_t size) {
    Sexp token(gcry_sexp_find_token(sexp, name, 0));
    if (!token.Get()) return false;
    size_t length = 0;
    const char* data = gcry_sexp_nth_data(token.Get(), 1, &length);
    // A public point may come with the 0x40 prefix of the compact form.
    if (data && length == size + 1 && static_cast<unsigned char>(data[0]) == 0x40) {
        ++data;
        --length;
    }
    if (!data || length != size) return false;
    std::memcpy(out, data, size);
    return true;
}

bool BuildSecretKey(const Ed25519Seed& seed, Sexp* keyOut) {
    return gcry_sexp_build(keyOut->Out(), nullptr,
                           "(private-key (ecc (curve Ed25519) (flags eddsa) (d %b)))",
                           static_cast<int>(seed.size()), seed.data()) == 0;
}

// EdDSA hashes the message itself (SHA-512, as Ed25519 prescribes).
bool BuildMessage(std::string_view message, Sexp* dataOut) {
    return gcry_sexp_build(dataOut->Out(), nullptr,
                           "(data (flags eddsa) (hash-algo sha512) (value %b))",
                           static_cast<int>(message.size()), message.data()) == 0;
}

template <size_t N>
std::array<unsigned char, N> HashOnce(int algorithm, std::string_view data) {
    EnsureCryptoLibrary();
    std::array<unsigned char, N> digest{};
    gcry_md_hash_buffer(algorithm, digest.data(), data.data(), data.size());
    return digest;
}

}  // namespace

bool Ed25519Generate(Ed25519Seed* seedOut, Ed25519Public* publicOut) {
    EnsureCryptoLibrary();
    RandomBytes(seedOut->data(), seedOut->size());
    return Ed25519PublicOf(*seedOut, publicOut);
}

bool Ed25519PublicOf(const Ed25519Seed& seed, Ed25519Public* publicOut) {
    EnsureCryptoLibrary();
    Sexp key;
    if (!BuildSecretKey(seed, &key)) return false;
    gcry_ctx_t context = nullptr;
    if (gcry_mpi_ec_new(&context, key.Get(), nullptr) != 0) return false;
    // "q@eddsa" computes the point from d and gives it in its 32-byte encoding.
    gcry_mpi_t point = gcry_mpi_ec_get_mpi("q@eddsa", context, 1);
    bool ok = false;
    if (point && gcry_mpi_get_flag(point, GCRYMPI_FLAG_OPAQUE)) {
        unsigned int bits = 0;
        const auto* bytes = static_cast<const unsigned char*>(gcry_mpi_get_opaque(point, &bits));
        size_t length = (bits + 7) / 8;
        if (length == publicOut->size() + 1 && bytes[0] == 0x40) {
            ++bytes;
            --length;
        }
        ok = length == publicOut->size();
        if (ok) std::memcpy(publicOut->data(), bytes, length);
    }
    gcry_mpi_release(point);
    gcry_ctx_release(context);
    return ok;
}

bool Ed25519Sign(const Ed25519Seed& seed, std::string_view message,
                 Ed25519Signature* signatureOut) {
    EnsureCryptoLibrary();
    Sexp key, data, signature;
    if (!BuildSecretKey(seed, &key) || !BuildMessage(message, &data)) return false;
    if (gcry_pk_sign(signature.Out(), data.Get(), key.Get()) != 0) return false;
    return CopyToken(signature.Get(), "r", signatureOut->data(), 32) &&
           CopyToken(signature.Get(), "s", signatureOut->data() + 32, 32);
}

bool Ed25519Verify(const Ed25519Public& publicKey, std::string_view message,
                   const unsigned char* signature) {
    EnsureCryptoLibrary();
    Sexp key, data, value;
    if (gcry_sexp_build(key.Out(), nullptr,
                        "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                        static_cast<int>(publicKey.size()), publicKey.data()) != 0 ||
        !BuildMessage(message, &data) ||
        gcry_sexp_build(value.Out(), nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32, signature, 32,
                        signature + 32) != 0) {
        return false;
    }
    return gcry_pk_verify(value.Get(), data.Get(), key.Get()) == 0;
}

std::array<unsigned char, kBlake2b512Bytes> Blake2b512(std::string_view data) {
    return HashOnce<kBlake2b512Bytes>(GCRY_MD_BLAKE2B_512, data);
}

std::array<unsigned char, kBlake2b256Bytes> Blake2b256(std::string_view data) {
    return HashOnce<kBlake2b256Bytes>(GCRY_MD_BLAKE2B_256, data);
}

ScryptParameters PickScryptParameters(const ScryptCost& cost) {
    constexpr std::uint64_t kLeastOps = 32768;
    const std::uint64_t ops = cost.opsLimit < kLeastOps ? kLeastOps : cost.opsLimit;
    ScryptParameters picked;
    picked.r = 8;
    // The largest N whose 2^nLog2 is at most half of maxN.
    auto largestLog2 = [](std::uint64_t maxN) {
        unsigned nLog2 = 1;
        while (nLog2 < 63 && (std::uint64_t{1} << nLog2) <= maxN / 2) ++nLog2;
        return nLog2;
    };
    if (ops < cost.memLimit / 32) {
        picked.p = 1;
        picked.nLog2 = largestLog2(ops / (picked.r * 4));
    } else {
        picked.nLog2 = largestLog2(cost.memLimit / (picked.r * 128));
        std::uint64_t maxRp = (ops / 4) / (std::uint64_t{1} << picked.nLog2);
        if (maxRp > 0x3fffffff) maxRp = 0x3fffffff;
        picked.p = static_cast<std::uint32_t>(maxRp) / picked.r;
    }
    return picked;
}

std::uint64_t ScryptMemoryBytes(const ScryptParameters& parameters) {
    if (parameters.nLog2 >= 40) return UINT64_MAX;
    return std::uint64_t{128} * parameters.r *
           ((std::uint64_t{1} << parameters.nLog2) + parameters.p);
}

bool ScryptDerive(std::string_view password, const unsigned char* salt, size_t saltSize,
                  const ScryptParameters& parameters, unsigned char* out, size_t outSize) {
    EnsureCryptoLibrary();
    // libgcrypt's scrypt fixes r at 8; "subalgo" is N and "iterations" is p.
    if (parameters.r != 8 || parameters.p == 0 || parameters.nLog2 >= 31) return false;
    return gcry_kdf_derive(password.data(), password.size(), GCRY_KDF_SCRYPT, 1 << parameters.nLog2,
                           salt, saltSize, parameters.p, outSize, out) == 0;
}

void RandomBytes(unsigned char* out, size_t size) {
    EnsureCryptoLibrary();
    gcry_randomize(out, size, GCRY_STRONG_RANDOM);
}
