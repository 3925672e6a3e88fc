// Keys and signatures in the minisign format, so that an operator may sign a
// release with the minisign tool or with patchkit and the launcher checks
// either. Parsers take text and return data; nothing here opens a file.
//
// Public key: base64("Ed" + key id[8] + Ed25519 public key[32]).
// Signature file, four lines:
//   untrusted comment: <free text>
//   base64("ED" + key id[8] + Ed25519 signature[64] of BLAKE2b-512(file))
//   trusted comment: <text>
//   base64(Ed25519 signature[64] of (the signature above + the text))
// A signature with "Ed" instead of "ED" signs the file itself (older tools).
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "trust/signature_primitives.h"

constexpr size_t kMinisignKeyIdBytes = 8;
// An untrusted comment line, its prefix included; longer lines are refused.
constexpr size_t kMaxUntrustedCommentLineBytes = 1024;
// The trusted comment line, its prefix included.
constexpr size_t kMaxTrustedCommentLineBytes = 8192;
// A whole signature or key file; anything longer is not one.
constexpr size_t kMaxMinisignFileBytes = 16384;

struct MinisignPublicKey {
    std::array<unsigned char, 8> keyId{};
    std::array<unsigned char, 32> key{};   // Ed25519 public key
};
// Accepts the text of a minisign .pub file (an "untrusted comment:" line and the base64 line) or the bare base64 line.
[[nodiscard]] bool ParseMinisignPublicKey(std::string_view text, MinisignPublicKey* keyOut);

enum class SignatureCheck { kOk, kMalformed, kUnknownKey, kBadSignature, kBadTrustedComment };
// content: the signed file's bytes; signatureText: the .minisig file's text. On kOk the trusted comment (without the "trusted comment: " prefix) is stored.
[[nodiscard]] SignatureCheck CheckMinisignSignature(std::string_view content, std::string_view signatureText,
                                                    const std::vector<MinisignPublicKey>& keys, std::string* trustedCommentOut);
// The trusted comment of a well-formed signature file, NOT checked against
// any key: only for choosing the next serial when signing again, never for
// deciding whether to trust anything.
[[nodiscard]] bool ReadUncheckedTrustedComment(std::string_view signatureText, std::string* commentOut);
// A short English name of a result, for log lines.
const char* SignatureCheckName(SignatureCheck check);

// The .pub file text: "untrusted comment: minisign public key <ID>" and the
// base64 line, each ending in "\n".
std::string FormatMinisignPublicKey(const MinisignPublicKey& key);
// The key id as minisign prints it: 16 upper-case hex digits of the id read
// as a little-endian number.
std::string MinisignKeyIdText(const std::array<unsigned char, 8>& keyId);

struct MinisignSecretKey {
    std::array<unsigned char, kMinisignKeyIdBytes> keyId{};
    Ed25519Seed seed{};
    Ed25519Public publicKey{};
};
// Splits a key or signature file into its lines (LF or CRLF, the last line
// with or without its end). False when the text is longer than
// kMaxMinisignFileBytes.
[[nodiscard]] bool SplitMinisignLines(std::string_view text, std::vector<std::string_view>* linesOut);

// A new key pair with a random key id.
[[nodiscard]] bool GenerateMinisignKey(MinisignSecretKey* keyOut);
MinisignPublicKey PublicKeyOf(const MinisignSecretKey& key);

// Signs content; the trusted comment is one line of text (no line break, no
// NUL, at most what fits kMaxTrustedCommentLineBytes).
[[nodiscard]] bool SignMinisign(std::string_view content, std::string_view trustedComment,
                                const MinisignSecretKey& key, std::string* signatureTextOut);
