#include "trust/file_sha256.h"

#include "package/patch_kit.h"

bool ComputeFileSha256(const std::string& path, std::string* hexOut, std::uint64_t* sizeOut,
                       const std::atomic<bool>* stop) {
    return ComputeFileDigest(path, DigestAlgorithm::Sha256, hexOut, sizeOut, stop);
}

std::string Sha256Hex(std::string_view data) { return DigestOfBytes(DigestAlgorithm::Sha256, data); }
