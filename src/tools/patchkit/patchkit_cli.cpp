#include "tools/patchkit/patchkit_cli.h"

#include <cstdlib>
#include <cstring>

#include "tools/patchkit/patchkit_verbs.h"
#include "update/headless_update.h"

namespace {

constexpr int kAnyCount = -1;

// Runs the launcher's own engine and installer on an installation; the verb
// reads its options itself.
int VerbUpdate(const VerbCall& call) { return RunUpdateVerb(call.operands, call.out, call.err); }

struct Verb {
    const char* name;
    const char* operands;  // as shown in the usage line
    const char* summary;   // one line for the tool's help
    const char* details;   // the verb's help, after its usage line
    int minOperands;
    int maxOperands;       // kAnyCount: no upper limit
    bool takesKey;         // accepts --key
    int (*run)(const VerbCall& call);
    // Further options, space-separated: those that take a value ("--to DIR")
    // and those that stand alone. Null when there are none.
    const char* valueOptions;
    const char* flagOptions;
};

// One row per verb; a new verb is one more row and one more function.
constexpr Verb kVerbs[] = {
    {"encipher", "IN OUT", "encipher a data file (config.data, lists, version.data)",
     "Writes OUT as the enciphered form of IN, under the launcher's file key\n"
     "or the one given with --key. OUT \"-\" is standard output; a link or device\n"
     "at OUT is written through, never replaced.\n",
     2, 2, true, VerbEncipher, nullptr, nullptr},
    {"decipher", "IN OUT", "decipher a data file",
     "Writes OUT as the plain content of the enciphered file IN. Fails when IN\n"
     "was enciphered under another key or is damaged or cut short. OUT \"-\" is\n"
     "standard output; a link or device at OUT is written through, never replaced.\n",
     2, 2, true, VerbDecipher, nullptr, nullptr},
    {"pack", "OUT.pak DIR", "pack every file under DIR into a package",
     "Writes the package OUT.pak with every file below DIR. Members are named\n"
     "by their paths under DIR with back-slashes, e.g. \"data\\maps\\a.map\".\n",
     2, 2, false, VerbPack, nullptr, nullptr},
    {"list", "PKG", "list the members of a package",
     "Prints one line per member: its name, a tab and its size in bytes.\n", 1, 1, false,
     VerbList, nullptr, nullptr},
    {"extract", "PKG DIR", "unpack every member of a package below DIR",
     "Unpacks each member to DIR\\<member name>, creating folders as needed.\n"
     "A package with a member name that would leave DIR, or whose place below DIR\n"
     "is a link or a device, is refused as a whole.\n",
     2, 2, false, VerbExtract, nullptr, nullptr},
    {"digest", "FILE...", "print the MD5 digest of files",
     "Prints \"<32 lower-case hex digits>  FILE\" for each file, as in version.data.\n", 1,
     kAnyCount, false, VerbDigest, nullptr, nullptr},
    {"release",
     "--from OLD --to NEW --version a.b.c.d --server-root ROOT [--mandatory] [--sign SECRETKEY "
     "[--expires DAYS]]",
     "build a version's release tree for the update server",
     "Compares the game folders OLD and NEW by MD5 and writes into ROOT the\n"
     "version's folder (named by the version, e.g. ROOT/1.0.0.2): ZIP packages\n"
     "data1.pak... with the new and changed files and the new version.data, the\n"
     "enciphered updatelist.data and dellist.data; then adds or replaces the\n"
     "version's line in ROOT/versionlist.data (--mandatory: installed without\n"
     "asking). The folder appears only when complete. --sign then signs the\n"
     "whole tree as 'patchkit sign' does; the key is opened before any work.\n",
     0, 0, true, VerbRelease, "--from --to --version --server-root --sign --expires",
     "--mandatory"},
    {"keygen", "--public FILE --secret FILE [--no-password] [--force]",
     "make a key pair for signing releases",
     "Writes a new minisign key pair: the public key FILE, to build into the\n"
     "launcher, and the secret key FILE, to keep off the update server. The\n"
     "secret key is protected by a password typed twice on the terminal, or\n"
     "taken from VANTOREL_SIGN_PASSWORD; --no-password leaves it unprotected.\n"
     "An existing secret key is replaced only with --force.\n",
     0, 0, false, VerbKeygen, "--public --secret", "--no-password --force"},
    {"sign", "--server-root ROOT --secret-key FILE [--expires DAYS]",
     "sign every listed version and the version list",
     "For every version in ROOT/versionlist.data that has a folder, writes\n"
     "release.manifest (SHA-256, size and name of each file of the folder) and\n"
     "release.manifest.minisig; then versionlist.data.minisig, which expires\n"
     "after DAYS (default 30). Each signature carries a serial above every\n"
     "earlier one. The password of a protected key is asked once, or taken\n"
     "from VANTOREL_SIGN_PASSWORD. Keys of the minisign tool work as well.\n",
     0, 0, false, VerbSign, "--server-root --secret-key --expires", nullptr},
    {"resign", "--server-root ROOT --secret-key FILE [--expires DAYS]",
     "renew the version list's signature before it expires",
     "Writes only a new versionlist.data.minisig with a new serial and expiry\n"
     "(default 30 days); packages, lists and manifests stay as they are. Refused\n"
     "when a listed version folder has no signed manifest or holds files that\n"
     "differ from it: such a tree needs 'patchkit sign'.\n",
     0, 0, false, VerbResign, "--server-root --secret-key --expires", nullptr},
    {"delta", "[--level N] [--source-window MIB] OLD NEW OUT",
     "write a binary delta from one version of a file to the next",
     "Writes OUT as a VCDIFF delta (RFC 3284) that turns the file OLD into NEW,\n"
     "with a checksum of every window, so applying it to another OLD fails.\n"
     "--level 1 (fastest) to 9 (smallest delta), default 6; --source-window is\n"
     "how many MiB of OLD around the place being encoded are searched for\n"
     "matches (default 64; more finds blocks that moved far, and takes about\n"
     "as much memory). OUT appears only when complete. 'xdelta3 -d' reads it.\n",
     3, 3, false, VerbDelta, "--level --source-window", nullptr},
    {"apply", "OLD DELTA OUT", "rebuild a file from its old version and a delta",
     "Writes OUT from the file OLD and the VCDIFF delta DELTA (made by\n"
     "'patchkit delta' or by 'xdelta3 -e -S none'). Fails when DELTA is damaged\n"
     "or cut short, or was made from another OLD; OUT then stays as it was.\n"
     "OUT may name OLD, which is replaced only by the complete new file.\n",
     3, 3, false, VerbApply, nullptr, nullptr},
    {"verify", "[--full] DIR", "check an installation against its version.data",
     "Reads DIR/version.data and compares every listed file's MD5 with it.\n"
     "Prints one line per file that differs or is missing; the exit status is\n"
     "1 on any mismatch or when version.data cannot be read. As the launcher,\n"
     "it trusts DIR/verify.cache for files whose size, last-write time and file\n"
     "id are unchanged since their last check, and renews it; --full reads\n"
     "every file all the same.\n",
     1, 1, true, VerbVerify, nullptr, "--full"},
    {"update", "--server URL --folder DIR [--ftp] [--once] [--trust-key FILE]...",
     "update an installation from a server",
     "Runs the launcher's update engine and installer on DIR, one version step\n"
     "after the other up to the server's newest version (only one with --once),\n"
     "printing every status text as a line. URL is http://host[:port]; with --ftp\n"
     "it is host[:port] of an FTP server. DIR must hold version.data and the\n"
     "installer program. The launcher's log, with the reason of every failed\n"
     "download, is appended to DIR\\Log\\launcher.log. Signed releases are checked\n"
     "against the public keys built into patchkit, or against the minisign .pub\n"
     "files given with --trust-key (repeatable) to try a release before a\n"
     "launcher with its key is built; the last accepted serial is kept in\n"
     "DIR\\trust.state as the launcher keeps it.\n",
     4, kAnyCount, false, VerbUpdate, nullptr, nullptr},
};

const char kKeyHelp[] =
    "Options:\n"
    "  --key K1,K2,K3,K4,K5   the five key words (decimal or 0x hex) instead of\n"
    "                         the launcher's own key\n";

const Verb* FindVerb(const std::string& name) {
    for (const Verb& verb : kVerbs) {
        if (name == verb.name) return &verb;
    }
    return nullptr;
}

// True when name is one of the space-separated words of list.
bool InWordList(const char* list, const std::string& name) {
    if (!list) return false;
    const std::string words = std::string(" ") + list + " ";
    return words.find(" " + name + " ") != std::string::npos;
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

void PrintToolHelp(std::FILE* out) {
    std::fputs("Usage: patchkit VERB [OPTIONS] OPERANDS...\n"
               "The operator's tool for the launcher's data files and packages.\n\nVerbs:\n",
               out);
    for (const Verb& verb : kVerbs) {
        std::fprintf(out, "  %-9s %s\n", verb.name, verb.summary);
    }
    std::fputs("\n'patchkit VERB --help' describes one verb. Exit status: 0 success,\n"
               "1 failure, 2 wrong usage; a failure prints one line on stderr.\n",
               out);
}

void PrintVerbHelp(const Verb& verb, std::FILE* out) {
    std::fprintf(out, "Usage: patchkit %s%s %s\n%s", verb.name, verb.takesKey ? " [--key K]" : "",
                 verb.operands, verb.details);
    if (verb.takesKey) std::fputs(kKeyHelp, out);
}

// "K1,K2,K3,K4,K5": five words, each decimal or 0x hex, each fitting 32 bits.
bool ParseKey(const std::string& text, FileKey* keyOut) {
    size_t start = 0;
    for (size_t i = 0; i < keyOut->size(); ++i) {
        const size_t comma = text.find(',', start);
        const bool last = i + 1 == keyOut->size();
        if (last != (comma == std::string::npos)) return false;
        const std::string word = text.substr(start, last ? std::string::npos : comma - start);
        char* end = nullptr;
        const unsigned long long value = std::strtoull(word.c_str(), &end, 0);
        if (word.empty() || word[0] == '-' || *end != '\0' || value > 0xFFFFFFFFull) return false;
        (*keyOut)[i] = static_cast<uint32_t>(value);
        start = comma + 1;
    }
    return true;
}

// Separates options from operands; "--" ends the options.
int ParseVerbArgs(const Verb& verb, const std::vector<std::string>& args, VerbCall* call) {
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            call->operands.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (verb.run == VerbUpdate) {
            call->operands.push_back(arg);
        } else if (arg == "--key" && verb.takesKey) {
            if (i + 1 >= args.size() || !ParseKey(args[++i], &call->key)) {
                return call->Usage("--key needs five 32-bit words separated by commas");
            }
        } else if (InWordList(verb.valueOptions, arg)) {
            if (i + 1 >= args.size()) return call->Usage(arg + " needs a value");
            call->options[arg] = args[++i];
        } else if (InWordList(verb.flagOptions, arg)) {
            call->flags.insert(arg);
        } else {
            return call->Usage("unknown option " + arg);
        }
    }
    const int count = static_cast<int>(call->operands.size());
    if (count < verb.minOperands || (verb.maxOperands != kAnyCount && count > verb.maxOperands)) {
        return call->Usage(std::string("expects ") + verb.operands);
    }
    return kExitOk;
}

}  // namespace

int VerbCall::Fail(const std::string& message) const {
    std::fprintf(err, "patchkit %s: %s\n", verb.c_str(), message.c_str());
    return kExitFailed;
}

int VerbCall::Usage(const std::string& message) const {
    std::fprintf(err, "patchkit %s: %s; see 'patchkit %s --help'\n", verb.c_str(), message.c_str(),
                 verb.c_str());
    return kExitUsage;
}

const std::string* VerbCall::Option(const std::string& name) const {
    const auto found = options.find(name);
    return found == options.end() ? nullptr : &found->second;
}

int RunPatchkit(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    if (args.empty()) {
        std::fputs("patchkit: no verb given; see 'patchkit --help'\n", err);
        return kExitUsage;
    }
    if (IsHelp(args[0]) || args[0] == "help") {
        PrintToolHelp(out);
        return kExitOk;
    }
    const Verb* verb = FindVerb(args[0]);
    if (!verb) {
        std::fprintf(err, "patchkit: unknown verb '%s'; see 'patchkit --help'\n", args[0].c_str());
        return kExitUsage;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    for (const std::string& arg : rest) {
        if (arg == "--") break;
        if (IsHelp(arg)) {
            PrintVerbHelp(*verb, out);
            return kExitOk;
        }
    }
    VerbCall call;
    call.verb = verb->name;
    call.key = LauncherFileKey();
    call.out = out;
    call.err = err;
    const int parsed = ParseVerbArgs(*verb, rest, &call);
    if (parsed != kExitOk) return parsed;
    const int result = verb->run(call);
    std::fflush(out);
    return result;
}
