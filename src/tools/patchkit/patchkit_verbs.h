// The verbs of the patchkit tool. Each verb gets its operands and options,
// writes its results to out and, on failure, exactly one line to err.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "package/fast_file.h"
#include "trust/minisign.h"

// Exit codes of the tool.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct VerbCall {
    std::string verb;
    std::vector<std::string> operands;
    FileKey key{};                 // the launcher's key unless --key gave another
    std::map<std::string, std::string> options;  // "--to" -> its value
    std::set<std::string> flags;                 // options without a value
    std::FILE* out = stdout;
    std::FILE* err = stderr;

    // Writes "patchkit VERB: message" to err and returns kExitFailed.
    int Fail(const std::string& message) const;
    // Writes "patchkit VERB: message; see 'patchkit VERB --help'" to err and
    // returns kExitUsage.
    int Usage(const std::string& message) const;
    // The value of a value option; null when it was not given.
    const std::string* Option(const std::string& name) const;
};

// An option's number: plain decimal digits (no sign, no blank) from min to
// max; false for anything else.
[[nodiscard]] bool ParseBounded(const std::string& text, std::uint64_t min, std::uint64_t max,
                                std::uint64_t* valueOut);

int VerbEncipher(const VerbCall& call);
int VerbDecipher(const VerbCall& call);
int VerbPack(const VerbCall& call);
int VerbList(const VerbCall& call);
int VerbExtract(const VerbCall& call);
int VerbDigest(const VerbCall& call);
int VerbRelease(const VerbCall& call);
int VerbIndex(const VerbCall& call);
int VerbVerify(const VerbCall& call);
int VerbKeygen(const VerbCall& call);
int VerbSign(const VerbCall& call);
int VerbResign(const VerbCall& call);
int VerbDelta(const VerbCall& call);
int VerbApply(const VerbCall& call);

// The secret key at path; its password, when it has one, comes from
// VANTOREL_SIGN_PASSWORD or is asked for once on the terminal.
[[nodiscard]] bool LoadSigningKey(const std::string& path, MinisignSecretKey* keyOut,
                                  std::string* whyOut);
// Empty when --expires is absent or a valid number of days; else the problem.
std::string ExpiryOptionProblem(const VerbCall& call);
// Signs the release tree at root with key, --expires taken from call;
// prints what was signed. For verbs that sign after their own work.
int SignWithOptions(const VerbCall& call, const std::string& root, const MinisignSecretKey& key);
