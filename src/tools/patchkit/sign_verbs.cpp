// The signing verbs: keygen makes a key pair, sign signs a release tree,
// resign renews the version list's signature before it expires.
#include <cstdlib>
#include <ctime>

#include "platform/file_system.h"
#include "tools/patchkit/operator_console.h"
#include "tools/patchkit/patchkit_verbs.h"
#include "tools/patchkit/release_signing.h"
#include "trust/minisign_secret_key.h"
#include "update/install/installer_file_ops.h"

namespace {

constexpr char kPasswordVariable[] = "VANTOREL_SIGN_PASSWORD";

// From the environment when set (automation), else typed on the terminal;
// a new password twice.
bool GetPassword(const std::string& keyPath, bool isNew, std::string* passwordOut,
                 std::string* whyOut) {
    if (ReadEnvironment(kPasswordVariable, passwordOut)) return true;
    const std::string prompt = "Password " + std::string(isNew ? "for " : "of ") + keyPath + ": ";
    std::string again;
    if (!AskHiddenLine(prompt, passwordOut, whyOut) ||
        (isNew && !AskHiddenLine("The same again: ", &again, whyOut))) {
        *whyOut += " (or set " + std::string(kPasswordVariable) + ")";
        return false;
    }
    if (isNew && again != *passwordOut) {
        *whyOut = "the two passwords differ";
        return false;
    }
    return true;
}

bool ParseExpiry(const VerbCall& call, int* daysOut, std::string* whyOut) {
    const std::string* text = call.Option("--expires");
    *daysOut = kDefaultExpiryDays;
    if (!text) return true;
    std::uint64_t days = 0;
    if (!ParseBounded(*text, 1, kMaxExpiryDays, &days)) {
        *whyOut =
            "--expires takes whole days from 1 to " + std::to_string(kMaxExpiryDays) + ": " + *text;
        return false;
    }
    *daysOut = static_cast<int>(days);
    return true;
}

void PrintResult(const VerbCall& call, const SigningResult& result, int days) {
    for (const std::string& version : result.missingFolders) {
        std::fprintf(call.out, "note: %s is listed but has no folder; nothing signed for it\n",
                     version.c_str());
    }
    for (const std::string& version : result.signedVersions) {
        std::fprintf(call.out, "signed %s\\%s\n", version.c_str(), kManifestName);
    }
    std::fprintf(call.out, "signed %s: serial %llu, expires in %d days (%lld)\n", kVersionListName,
                 static_cast<unsigned long long>(result.serial), days,
                 static_cast<long long>(result.expires));
}

int SignOrRenew(const VerbCall& call, const std::string& root, const MinisignSecretKey& key,
                bool renewOnly) {
    int days = 0;
    std::string why;
    SigningResult result;
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    if (!ParseExpiry(call, &days, &why)) return call.Fail(why);
    const bool done = renewOnly ? ResignVersionList(root, key, days, now, &result, &why)
                                : SignReleaseTree(root, key, days, now, &result, &why);
    if (!done) return call.Fail(why);
    PrintResult(call, result, days);
    return kExitOk;
}

// sign and resign: the same options, the same report.
int RunSigning(const VerbCall& call, bool renewOnly) {
    const std::string* root = call.Option("--server-root");
    const std::string* keyPath = call.Option("--secret-key");
    if (!root || !keyPath) return call.Fail("--server-root and --secret-key are required");
    std::string why = ExpiryOptionProblem(call);
    MinisignSecretKey key;
    if (!why.empty() || !LoadSigningKey(*keyPath, &key, &why)) return call.Fail(why);
    return SignOrRenew(call, *root, key, renewOnly);
}

}  // namespace

bool LoadSigningKey(const std::string& path, MinisignSecretKey* keyOut, std::string* whyOut) {
    std::string text, password;
    bool tooLarge = false;
    if (!ReadFileUpTo(path, kMaxMinisignFileBytes, &text, &tooLarge)) {
        *whyOut = "cannot read the secret key " + path;
        return false;
    }
    if (MinisignSecretKeyNeedsPassword(text) && !GetPassword(path, false, &password, whyOut))
        return false;
    const SecretKeyLoad load = ParseMinisignSecretKey(text, password, keyOut);
    if (load != SecretKeyLoad::kOk) {
        *whyOut = path + ": " + SecretKeyLoadName(load);
        return false;
    }
    return true;
}

std::string ExpiryOptionProblem(const VerbCall& call) {
    int days = 0;
    std::string why;
    return ParseExpiry(call, &days, &why) ? std::string() : why;
}

int SignWithOptions(const VerbCall& call, const std::string& root, const MinisignSecretKey& key) {
    return SignOrRenew(call, root, key, false);
}

int VerbKeygen(const VerbCall& call) {
    const std::string* publicPath = call.Option("--public");
    const std::string* secretPath = call.Option("--secret");
    if (!publicPath || !secretPath) return call.Fail("--public and --secret are required");
    if (fs_port::PathExists(*secretPath) && !call.flags.count("--force")) {
        return call.Fail(*secretPath +
                         " exists; --force replaces it (and every launcher built with its public "
                         "key stops trusting new releases)");
    }
    const bool protect = !call.flags.count("--no-password");
    std::string password, why, secretText;
    if (protect && !GetPassword(*secretPath, true, &password, &why)) return call.Fail(why);
    if (protect && (password.empty() || password.size() > kMaxPasswordBytes)) {
        return call.Fail("the password must have 1 to " + std::to_string(kMaxPasswordBytes) +
                         " bytes; --no-password writes an unprotected key");
    }
    MinisignSecretKey key;
    if (!GenerateMinisignKey(&key) ||
        !FormatMinisignSecretKey(key, protect ? &password : nullptr, kSecretKeyCost, &secretText)) {
        return call.Fail("cannot make a key");
    }
    if (!WriteAtomically(*secretPath, secretText, true, &why) ||
        !WriteAtomically(*publicPath, FormatMinisignPublicKey(PublicKeyOf(key)), false, &why)) {
        return call.Fail(why);
    }
    std::fprintf(call.out,
                 "key id %s\npublic key: %s\nsecret key: %s (%s); keep it off the update server\n",
                 MinisignKeyIdText(key.keyId).c_str(), publicPath->c_str(), secretPath->c_str(),
                 protect ? "protected by the password" : "not protected by a password");
    return kExitOk;
}

int VerbSign(const VerbCall& call) {
    return RunSigning(call, false);
}
int VerbResign(const VerbCall& call) {
    return RunSigning(call, true);
}
