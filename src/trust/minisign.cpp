#include "trust/minisign.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>

#include "platform/text_format.h"
#include "trust/base64.h"

namespace {

constexpr char kUntrustedPrefix[] = "untrusted comment: ";
constexpr char kTrustedPrefix[] = "trusted comment: ";
constexpr char kKeyAlgorithm[] = "Ed";
constexpr char kHashedAlgorithm[] = "ED";
constexpr size_t kAlgorithmBytes = 2;
constexpr size_t kPublicKeyBlobBytes = kAlgorithmBytes + kMinisignKeyIdBytes + kEd25519PublicBytes;
constexpr size_t kSignatureBlobBytes =
    kAlgorithmBytes + kMinisignKeyIdBytes + kEd25519SignatureBytes;

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool IsTrustedCommentText(std::string_view comment) {
    return comment.size() + sizeof kTrustedPrefix - 1 <= kMaxTrustedCommentLineBytes &&
           comment.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool DecodePublicKeyLine(std::string_view line, MinisignPublicKey* keyOut) {
    std::string blob;
    if (!Base64Decode(line, &blob) || blob.size() != kPublicKeyBlobBytes ||
        blob.compare(0, kAlgorithmBytes, kKeyAlgorithm) != 0) {
        return false;
    }
    std::memcpy(keyOut->keyId.data(), blob.data() + kAlgorithmBytes, kMinisignKeyIdBytes);
    std::memcpy(keyOut->key.data(), blob.data() + kAlgorithmBytes + kMinisignKeyIdBytes,
                kEd25519PublicBytes);
    return true;
}

// The four lines of a signature file, decoded.
struct SignatureFile {
    bool hashed = false;
    std::array<unsigned char, kMinisignKeyIdBytes> keyId{};
    Ed25519Signature signature{};
    std::string_view trustedComment;
    Ed25519Signature globalSignature{};
};

bool ParseSignatureFile(std::string_view text, SignatureFile* fileOut) {
    std::vector<std::string_view> lines;
    if (!SplitMinisignLines(text, &lines) || lines.size() != 4) return false;
    if (!StartsWith(lines[0], kUntrustedPrefix) ||
        lines[0].size() > kMaxUntrustedCommentLineBytes || !StartsWith(lines[2], kTrustedPrefix)) {
        return false;
    }
    std::string blob, global;
    if (!Base64Decode(lines[1], &blob) || blob.size() != kSignatureBlobBytes ||
        !Base64Decode(lines[3], &global) || global.size() != kEd25519SignatureBytes) {
        return false;
    }
    const std::string_view algorithm(blob.data(), kAlgorithmBytes);
    if (algorithm != kHashedAlgorithm && algorithm != kKeyAlgorithm) return false;
    fileOut->hashed = algorithm == kHashedAlgorithm;
    fileOut->trustedComment = lines[2].substr(sizeof kTrustedPrefix - 1);
    if (!IsTrustedCommentText(fileOut->trustedComment)) return false;
    std::memcpy(fileOut->keyId.data(), blob.data() + kAlgorithmBytes, kMinisignKeyIdBytes);
    std::memcpy(fileOut->signature.data(), blob.data() + kAlgorithmBytes + kMinisignKeyIdBytes,
                kEd25519SignatureBytes);
    std::memcpy(fileOut->globalSignature.data(), global.data(), kEd25519SignatureBytes);
    return true;
}

std::string_view DigestView(const std::array<unsigned char, kBlake2b512Bytes>& digest) {
    return std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size());
}

std::string SignedCommentMessage(const Ed25519Signature& signature, std::string_view comment) {
    std::string message(reinterpret_cast<const char*>(signature.data()), signature.size());
    message.append(comment.data(), comment.size());
    return message;
}

}  // namespace

bool SplitMinisignLines(std::string_view text, std::vector<std::string_view>* linesOut) {
    linesOut->clear();
    if (text.size() > kMaxMinisignFileBytes) return false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        linesOut->push_back(line);
        start = end + 1;
    }
    return true;
}

bool ParseMinisignPublicKey(std::string_view text, MinisignPublicKey* keyOut) {
    std::vector<std::string_view> lines;
    if (!SplitMinisignLines(text, &lines)) return false;
    if (lines.size() == 2) {
        if (!StartsWith(lines[0], kUntrustedPrefix) ||
            lines[0].size() > kMaxUntrustedCommentLineBytes) {
            return false;
        }
        return DecodePublicKeyLine(lines[1], keyOut);
    }
    return lines.size() == 1 && DecodePublicKeyLine(lines[0], keyOut);
}

SignatureCheck CheckMinisignSignature(std::string_view content, std::string_view signatureText,
                                      const std::vector<MinisignPublicKey>& keys,
                                      std::string* trustedCommentOut) {
    SignatureFile file;
    if (!ParseSignatureFile(signatureText, &file)) return SignatureCheck::kMalformed;
    const MinisignPublicKey* key = nullptr;
    for (const MinisignPublicKey& candidate : keys) {
        if (candidate.keyId == file.keyId) key = &candidate;
    }
    if (!key) return SignatureCheck::kUnknownKey;
    const auto digest = file.hashed ? Blake2b512(content) : decltype(Blake2b512(content)){};
    const std::string_view message = file.hashed ? DigestView(digest) : content;
    if (!Ed25519Verify(key->key, message, file.signature.data())) {
        return SignatureCheck::kBadSignature;
    }
    if (!Ed25519Verify(key->key, SignedCommentMessage(file.signature, file.trustedComment),
                       file.globalSignature.data())) {
        return SignatureCheck::kBadTrustedComment;
    }
    trustedCommentOut->assign(file.trustedComment.data(), file.trustedComment.size());
    return SignatureCheck::kOk;
}

bool ReadUncheckedTrustedComment(std::string_view signatureText, std::string* commentOut) {
    SignatureFile file;
    if (!ParseSignatureFile(signatureText, &file)) return false;
    commentOut->assign(file.trustedComment.data(), file.trustedComment.size());
    return true;
}

const char* SignatureCheckName(SignatureCheck check) {
    switch (check) {
        case SignatureCheck::kOk:
            return "valid";
        case SignatureCheck::kMalformed:
            return "not a signature file";
        case SignatureCheck::kUnknownKey:
            return "made with an unknown key";
        case SignatureCheck::kBadSignature:
            return "does not match the file";
        case SignatureCheck::kBadTrustedComment:
            return "trusted comment was altered";
    }
    return "unknown";
}

std::string MinisignKeyIdText(const std::array<unsigned char, 8>& keyId) {
    std::array<unsigned char, 8> mostSignificantFirst{};
    std::reverse_copy(keyId.begin(), keyId.end(), mostSignificantFirst.begin());
    std::string text = LowerHex(mostSignificantFirst.data(), mostSignificantFirst.size());
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string FormatMinisignPublicKey(const MinisignPublicKey& key) {
    std::string blob(kKeyAlgorithm);
    blob.append(reinterpret_cast<const char*>(key.keyId.data()), key.keyId.size());
    blob.append(reinterpret_cast<const char*>(key.key.data()), key.key.size());
    return std::string(kUntrustedPrefix) + "minisign public key " + MinisignKeyIdText(key.keyId) +
           "\n" + Base64Encode(blob) + "\n";
}

bool GenerateMinisignKey(MinisignSecretKey* keyOut) {
    RandomBytes(keyOut->keyId.data(), keyOut->keyId.size());
    return Ed25519Generate(&keyOut->seed, &keyOut->publicKey);
}

MinisignPublicKey PublicKeyOf(const MinisignSecretKey& key) {
    MinisignPublicKey publicKey;
    publicKey.keyId = key.keyId;
    publicKey.key = key.publicKey;
    return publicKey;
}

bool SignMinisign(std::string_view content, std::string_view trustedComment,
                  const MinisignSecretKey& key, std::string* signatureTextOut) {
    if (!IsTrustedCommentText(trustedComment)) return false;
    const auto digest = Blake2b512(content);
    Ed25519Signature signature, global;
    if (!Ed25519Sign(key.seed, DigestView(digest), &signature) ||
        !Ed25519Sign(key.seed, SignedCommentMessage(signature, trustedComment), &global)) {
        return false;
    }
    std::string blob(kHashedAlgorithm);
    blob.append(reinterpret_cast<const char*>(key.keyId.data()), key.keyId.size());
    blob.append(reinterpret_cast<const char*>(signature.data()), signature.size());
    const std::string_view globalView(reinterpret_cast<const char*>(global.data()), global.size());
    *signatureTextOut = std::string(kUntrustedPrefix) + "signature from minisign secret key\n" +
                        Base64Encode(blob) + "\n" + kTrustedPrefix + std::string(trustedComment) +
                        "\n" + Base64Encode(globalView) + "\n";
    return true;
}
