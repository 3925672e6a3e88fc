#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "trust/base64.h"
#include "trust/minisign.h"
#include "trust/minisign_secret_key.h"

namespace {

// Made by the minisign tool (0.11): an unprotected key pair (-G -W) and two
// signatures of kContent, one prehashed (the default) and one legacy (-l).
const char kToolPublicKey[] =
    "untrusted comment: minisign public key 2E9A4C9F9CCF808E\n"
    "RWSOgM+cn0yaLlO7zP7a/e/ZbZYdHlbbnWP0oeGVJ6PQF4e2/x3MnVl6\n";
const char kToolSecretKey[] =
    "untrusted comment: minisign encrypted secret key\n"
    "RWQAAEIyAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAjoDPnJ9Mmi65VMULzC1Q"
    "FOBhssVfAI9gUPoilf4MjtNlWdBLwBN22lO7zP7a/e/ZbZYdHlbbnWP0oeGVJ6PQF4e2/x3MnVl6AAAAAAAAAAAAAA"
    "AAAAAAAAAAAAAAAAAAAAAAAAAAAAA=\n";
const char kContent[] = "signed content\n";
const char kToolComment[] = "vantorel serial=7 expires=1900000000";
const char kToolSignature[] =
    "untrusted comment: signature from minisign secret key\n"
    "RUSOgM+cn0yaLnHKv/7EqhAtWNYUn5+0uPqyei6zTXr02B/KZVzirPhYsZCbRkHuxrx2D043bdCVDEk75onub6h+5b3+1tvdLQY=\n"
    "trusted comment: vantorel serial=7 expires=1900000000\n"
    "4vzSvOTqQDASoZ+b3ry4qK/YTQInk7hYLZEmtJ/9mzXwq49qkYJnDwc8UkMEPOOAIgpaZpfZjBqTLvZh8vQ8CA==\n";
const char kToolLegacySignature[] =
    "untrusted comment: signature from minisign secret key\n"
    "RWSOgM+cn0yaLvgWcaV65eqRHOWQXvb5aKz9PMzGZkBde6ejSUuRGtzdxUEwbVhwgXckrleu3kq8zm6I1VhytyItOmg6dgRGiwk=\n"
    "trusted comment: vantorel serial=7 expires=1900000000\n"
    "B77NLx6/mxIk8nYZzbUw2uMnlSHaq3RW5Tf3WF51kZiBXB0JNKzDCnumJ6OyNFi1vjkPdmhwoQ4egvtcCTWxCQ==\n";

// A cheap scrypt cost, so that the tests of protected keys run fast.
constexpr ScryptCost kTestCost{32768, 16u << 20};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

std::string Join(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

// Flips one bit of the byte at offset of the base64 line's decoded bytes.
std::string FlipDecoded(const std::string& line, size_t offset) {
    std::string bytes;
    EXPECT_TRUE(Base64Decode(line, &bytes));
    bytes[offset] = static_cast<char>(bytes[offset] ^ 0x01);
    return Base64Encode(bytes);
}

MinisignSecretKey NewKey() {
    MinisignSecretKey key;
    EXPECT_TRUE(GenerateMinisignKey(&key));
    return key;
}

}  // namespace

TEST(Minisign, AcceptsSignaturesOfTheMinisignToolAndOurOwn) {
    MinisignPublicKey toolKey;
    ASSERT_TRUE(ParseMinisignPublicKey(kToolPublicKey, &toolKey));
    const MinisignSecretKey ours = NewKey();
    std::string ourSignature;
    ASSERT_TRUE(SignMinisign(kContent, kToolComment, ours, &ourSignature));
    std::string crlf = ourSignature;
    for (size_t at = 0; (at = crlf.find('\n', at)) != std::string::npos; at += 2) crlf.insert(at, "\r");
    const std::string unended = ourSignature.substr(0, ourSignature.size() - 1);
    const std::vector<MinisignPublicKey> keys = {toolKey, PublicKeyOf(ours)};
    for (const std::string& signature :
         {std::string(kToolSignature), std::string(kToolLegacySignature), ourSignature, crlf, unended}) {
        std::string comment;
        EXPECT_EQ(CheckMinisignSignature(kContent, signature, keys, &comment), SignatureCheck::kOk)
            << signature;
        EXPECT_EQ(comment, kToolComment);
    }
}

TEST(Minisign, RefusesAlteredOrMalformedSignatures) {
    const MinisignSecretKey key = NewKey();
    std::string signature;
    ASSERT_TRUE(SignMinisign(kContent, kToolComment, key, &signature));
    const std::vector<std::string> lines = Lines(signature);
    ASSERT_EQ(lines.size(), 4u);
    auto with = [&](size_t index, const std::string& line) {
        std::vector<std::string> changed = lines;
        changed[index] = line;
        return Join(changed);
    };
    const std::string flippedComment = "trusted comment: vantorel serial=8 expires=1900000000";
    const std::string longComment = "untrusted comment: " + std::string(kMaxUntrustedCommentLineBytes, 'x');
    const std::string longTrusted = "trusted comment: " + std::string(kMaxTrustedCommentLineBytes, 'x');
    const struct {
        const char* what;
        std::string content;
        std::string signature;
        std::vector<MinisignPublicKey> keys;
        SignatureCheck expected;
    } cases[] = {
        {"flipped content byte", "signed contenu\n", signature, {PublicKeyOf(key)}, SignatureCheck::kBadSignature},
        {"flipped signature byte", kContent, with(1, FlipDecoded(lines[1], 20)), {PublicKeyOf(key)}, SignatureCheck::kBadSignature},
        {"flipped trusted comment", kContent, with(2, flippedComment), {PublicKeyOf(key)}, SignatureCheck::kBadTrustedComment},
        {"flipped global signature", kContent, with(3, FlipDecoded(lines[3], 5)), {PublicKeyOf(key)}, SignatureCheck::kBadTrustedComment},
        {"another key", kContent, signature, {PublicKeyOf(NewKey())}, SignatureCheck::kUnknownKey},
        {"no keys", kContent, signature, {}, SignatureCheck::kUnknownKey},
        {"other key under the same id", kContent, signature,
         {[&] { MinisignPublicKey k = PublicKeyOf(NewKey()); k.keyId = key.keyId; return k; }()},
         SignatureCheck::kBadSignature},
        {"flipped key id", kContent, with(1, FlipDecoded(lines[1], 3)), {PublicKeyOf(key)}, SignatureCheck::kUnknownKey},
        {"unknown algorithm", kContent, with(1, FlipDecoded(lines[1], 1)), {PublicKeyOf(key)}, SignatureCheck::kMalformed},
        {"truncated base64", kContent, with(1, lines[1].substr(0, lines[1].size() - 4)), {PublicKeyOf(key)}, SignatureCheck::kMalformed},
        {"truncated global base64", kContent, with(3, lines[3].substr(0, 84)), {PublicKeyOf(key)}, SignatureCheck::kMalformed},
        {"cut after three lines", kContent, Join({lines[0], lines[1], lines[2]}), {PublicKeyOf(key)}, SignatureCheck::kMalformed},
        {"extra line", kContent, signature + "more\n", {PublicKeyOf(key)}, SignatureCheck::kMalformed},
        {"extra empty line", kContent, signature + "\n", {PublicKeyOf(key)}, SignatureCheck::kMalformed},
        {"no untrusted prefix", kContent, with(0, "comment: x"), {PublicKeyOf(key)}, SignatureCheck::kMalformed},
        {"no trusted prefix", kContent, with(2, "vantorel serial=7"), {PublicKeyOf(key)}, SignatureCheck::kMalformed},
        {"untrusted comment over the limit", kContent, with(0, longComment), {PublicKeyOf(key)}, SignatureCheck::kMalformed},
        {"trusted comment over the limit", kContent, with(2, longTrusted), {PublicKeyOf(key)}, SignatureCheck::kMalformed},
        {"space inside base64", kContent, with(1, lines[1].substr(0, 10) + " " + lines[1].substr(10)), {PublicKeyOf(key)}, SignatureCheck::kMalformed},
        {"empty file", kContent, "", {PublicKeyOf(key)}, SignatureCheck::kMalformed},
    };
    for (const auto& c : cases) {
        std::string comment = "untouched";
        EXPECT_EQ(CheckMinisignSignature(c.content, c.signature, c.keys, &comment), c.expected) << c.what;
        EXPECT_EQ(comment, "untouched") << c.what;
    }
}

TEST(Minisign, ParsesPublicKeysAndRefusesOthers) {
    const std::string bare = Lines(kToolPublicKey)[1];
    const struct {
        std::string text;
        bool ok;
    } cases[] = {
        {kToolPublicKey, true},
        {bare, true},
        {bare + "\r\n", true},
        {FormatMinisignPublicKey(PublicKeyOf(NewKey())), true},
        {"", false},
        {bare.substr(0, bare.size() - 4), false},
        {"RU" + bare.substr(2), false},  // a signature's algorithm, not a key's
        {"comment\n" + bare, false},
        {std::string(kToolPublicKey) + "extra\n", false},
        {kToolSecretKey, false},
    };
    for (const auto& c : cases) {
        MinisignPublicKey key;
        EXPECT_EQ(ParseMinisignPublicKey(c.text, &key), c.ok) << c.text;
    }
    MinisignPublicKey key;
    ASSERT_TRUE(ParseMinisignPublicKey(kToolPublicKey, &key));
    EXPECT_EQ(MinisignKeyIdText(key.keyId), "2E9A4C9F9CCF808E");
    EXPECT_EQ(FormatMinisignPublicKey(key), kToolPublicKey);
}

TEST(MinisignSecretKey, LoadsWhatItWritesAndRefusesDamage) {
    const MinisignSecretKey key = NewKey();
    const std::string password = "correct horse";
    std::string plain, locked;
    ASSERT_TRUE(FormatMinisignSecretKey(key, nullptr, kTestCost, &plain));
    ASSERT_TRUE(FormatMinisignSecretKey(key, &password, kTestCost, &locked));
    const std::string lockedLine = Lines(locked)[1];
    std::string blob;
    ASSERT_TRUE(Base64Decode(lockedLine, &blob));
    blob[38 + 7] = 0x01;      // ops limit above 2^56
    blob[38 + 8 + 7] = 0x01;  // memory limit above 2^56 bytes
    const std::string costly = Lines(locked)[0] + "\n" + Base64Encode(blob) + "\n";
    const struct {
        const char* what;
        std::string text;
        std::string password;
        bool needsPassword;
        SecretKeyLoad expected;
    } cases[] = {
        {"unprotected", plain, "", false, SecretKeyLoad::kOk},
        {"protected", locked, password, true, SecretKeyLoad::kOk},
        {"wrong password", locked, "correct horsf", true, SecretKeyLoad::kWrongPassword},
        {"flipped protected byte", Lines(locked)[0] + "\n" + FlipDecoded(lockedLine, 100) + "\n", password, true, SecretKeyLoad::kWrongPassword},
        {"flipped unprotected byte", Lines(plain)[0] + "\n" + FlipDecoded(Lines(plain)[1], 100) + "\n", "", false, SecretKeyLoad::kMalformed},
        {"unchecked key of minisign -W with a flipped public byte",
         Lines(kToolSecretKey)[0] + "\n" + FlipDecoded(Lines(kToolSecretKey)[1], 100) + "\n", "", false,
         SecretKeyLoad::kMalformed},
        {"unknown kdf", Lines(plain)[0] + "\n" + FlipDecoded(Lines(plain)[1], 2) + "\n", "", false, SecretKeyLoad::kUnsupported},
        {"unknown checksum", Lines(plain)[0] + "\n" + FlipDecoded(Lines(plain)[1], 4) + "\n", "", false, SecretKeyLoad::kUnsupported},
        {"huge scrypt memory", costly, password, true, SecretKeyLoad::kTooCostly},
        {"public key", kToolPublicKey, "", false, SecretKeyLoad::kMalformed},
        {"truncated", locked.substr(0, 100), password, false, SecretKeyLoad::kMalformed},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MinisignSecretKeyNeedsPassword(c.text), c.needsPassword) << c.what;
        MinisignSecretKey loaded;
        EXPECT_EQ(ParseMinisignSecretKey(c.text, c.password, &loaded), c.expected) << c.what;
        if (c.expected == SecretKeyLoad::kOk) {
            EXPECT_EQ(loaded.keyId, key.keyId) << c.what;
            EXPECT_EQ(loaded.seed, key.seed) << c.what;
        }
    }
}

TEST(MinisignSecretKey, SignsWithAKeyOfTheMinisignTool) {
    MinisignSecretKey key;
    ASSERT_EQ(ParseMinisignSecretKey(kToolSecretKey, "", &key), SecretKeyLoad::kOk);
    MinisignPublicKey toolKey;
    ASSERT_TRUE(ParseMinisignPublicKey(kToolPublicKey, &toolKey));
    std::string signature, comment;
    ASSERT_TRUE(SignMinisign("x", "vantorel serial=1 expires=2", key, &signature));
    EXPECT_EQ(CheckMinisignSignature("x", signature, {toolKey}, &comment), SignatureCheck::kOk);
}

TEST(MinisignSecretKey, PicksScryptParametersAsLibsodiumDoes) {
    const struct {
        ScryptCost cost;
        unsigned nLog2;
        std::uint32_t p;
    } cases[] = {
        {{33554432, 1073741824}, 20, 1},  // minisign's keys
        {kSecretKeyCost, 18, 4},
        {{524288, 16777216}, 14, 1},      // libsodium's "interactive"
        {{1000, 1u << 30}, 10, 1},        // ops below the least count as 32768
        {{1u << 30, 1u << 20}, 10, 32768},
    };
    for (const auto& c : cases) {
        const ScryptParameters picked = PickScryptParameters(c.cost);
        EXPECT_EQ(picked.nLog2, c.nLog2) << c.cost.opsLimit << " " << c.cost.memLimit;
        EXPECT_EQ(picked.r, 8u);
        EXPECT_EQ(picked.p, c.p) << c.cost.opsLimit << " " << c.cost.memLimit;
    }
}
