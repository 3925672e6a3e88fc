#include "tools/patchkit/patchkit_cli.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "tools/patchkit/patchkit_verbs.h"
#include "update/engine/headless_update.h"

namespace {

constexpr int kAnyCount = -1;

// Runs the launcher's own engine and installer on an installation; the verb
// reads its options itself.
int VerbUpdate(const VerbCall& call) { return RunUpdateVerb(call.operands, call.out, call.err); }
int VerbRepair(const VerbCall& call) { return RunRepairVerb(call.operands, call.out, call.err); }

// One option of a verb, as its help lists it.
struct VerbOption {
    const char* name;   // "--to"
    const char* value;  // what follows it, e.g. "DIR"; null for an option that stands alone
    const char* help;   // after the option in the verb's help; "\n" starts a further line
};

struct Verb {
    const char* name;
    const char* operands;  // as shown in the usage line
    const char* summary;   // one line for the tool's help
    const char* details;   // the verb's help, after its usage line
    int minOperands;
    int maxOperands;       // kAnyCount: no upper limit
    int (*run)(const VerbCall& call);
    // Every option the verb accepts: the parser refuses any other, and the
    // help lists these, so the two cannot differ.
    std::vector<VerbOption> options;
};

const VerbOption kKeyOption = {"--key", "K1,K2,K3,K4,K5",
                               "the five key words (decimal or 0x hex) instead of\nthe launcher's own key"};

// One row per verb; a new verb is one more row and one more function.
const Verb kVerbs[] = {
    {"encipher", "IN OUT", "encipher a data file (config.data, lists, version.data)",
     "Writes OUT as the enciphered form of IN, under the launcher's file key\n"
     "or the one given with --key. OUT \"-\" is standard output; a link or device\n"
     "at OUT is written through, never replaced.\n",
     2, 2, VerbEncipher, {kKeyOption}},
    {"decipher", "IN OUT", "decipher a data file",
     "Writes OUT as the plain content of the enciphered file IN. Fails when IN\n"
     "was enciphered under another key or is damaged or cut short. OUT \"-\" is\n"
     "standard output; a link or device at OUT is written through, never replaced.\n",
     2, 2, VerbDecipher, {kKeyOption}},
    {"pack", "OUT.pak DIR", "pack every file under DIR into a package",
     "Writes the package OUT.pak with every file below DIR. Members are named\n"
     "by their paths under DIR with back-slashes, e.g. \"data\\maps\\a.map\".\n",
     2, 2, VerbPack, {}},
    {"list", "PKG", "list the members of a package",
     "Prints one line per member: its name, a tab and its size in bytes.\n", 1, 1, VerbList, {}},
    {"extract", "PKG DIR", "unpack every member of a package below DIR",
     "Unpacks each member to DIR\\<member name>, creating folders as needed.\n"
     "A package with a member name that would leave DIR, or whose place below DIR\n"
     "is a link or a device, is refused as a whole.\n",
     2, 2, VerbExtract, {}},
    {"digest", "FILE...", "print the MD5 digest of files",
     "Prints \"<32 lower-case hex digits>  FILE\" for each file, as in version.data.\n", 1,
     kAnyCount, VerbDigest, {}},
    {"release",
     "--from OLD --to NEW --version a.b.c.d --server-root ROOT [--mandatory] "
     "[--delta-threshold PERCENT] [--delta-format FORMAT | --no-delta] [--sign SECRETKEY [--expires DAYS]]",
     "build a version's release tree for the update server",
     "Compares the game folders OLD and NEW by MD5 and writes into ROOT the\n"
     "version's folder (named by the version, e.g. ROOT/1.0.0.2): ZIP packages\n"
     "data1.pak... with the new and changed files and the new version.data, the\n"
     "enciphered updatelist.data and dellist.data; then adds or replaces the\n"
     "version's line in ROOT/versionlist.data. The folder appears only when\n"
     "complete. For each file present in both folders with other content, a\n"
     "delta from the old file to the new one goes into delta packages\n"
     "delta1.pak... and patchlist.data, when it is small enough: both a VCDIFF\n"
     "and a bsdiff delta are made (bsdiff only for files up to 512 MiB, 128 MiB\n"
     "for the 32-bit Windows patchkit, as it takes about 9 times the old file's\n"
     "size in memory) and the smaller as stored is kept; the files with\n"
     "deltas get full packages of their own. A launcher whose installed file is\n"
     "the old one downloads the delta; any other still has the full packages.\n"
     "It also writes state.data: for every file of the version, the package of\n"
     "this or an earlier listed version that holds its content, and where.\n"
     "A launcher uses it to catch up from any version and to repair files.\n",
     0, 0, VerbRelease,
     {{"--from", "OLD", "the previous version's game folder (an empty\none for the first version)"},
      {"--to", "NEW", "the new version's game folder"},
      {"--version", "a.b.c.d", "the new version"},
      {"--server-root", "ROOT", "the update server's release tree"},
      {"--mandatory", nullptr, "installed by the launcher without asking"},
      {"--delta-threshold", "PERCENT", "keep a delta only when smaller than PERCENT of\n"
                                       "the file's full member, both as stored in their\n"
                                       "packages (1 to 100, default 50)"},
      {"--delta-format", "FORMAT", "best (default): both kinds, the smaller kept;\n"
                                   "vcdiff: spares large files bsdiff's time and\n"
                                   "memory; bsdiff: bsdiff where the limit allows"},
      {"--no-delta", nullptr, "make no deltas"},
      {"--sign", "SECRETKEY", "sign the whole tree afterwards as 'patchkit\n"
                              "sign' does; the key is opened before any work"},
      {"--expires", "DAYS", "with --sign: the version list's signature\nexpires after DAYS (default 30)"},
      kKeyOption}},
    {"index", "--server-root ROOT [--version a.b.c.d] [--sign SECRETKEY [--expires DAYS]]",
     "write state.data for versions released without it",
     "For every version in ROOT/versionlist.data whose folder lacks state.data,\n"
     "or only for the version given, writes the state.data that release would\n"
     "have written: each file that the version's version.data names, with the\n"
     "newest listed version folder, not newer than the version, whose package\n"
     "holds its content. A version with files that no package holds (folders\n"
     "removed from the server, a version installed by other means) is listed\n"
     "with those files and gets no state.data; the exit status is then 1. The\n"
     "manifests of a signed tree do not list the new files: sign it again.\n",
     0, 0, VerbIndex,
     {{"--server-root", "ROOT", "the update server's release tree"},
      {"--version", "a.b.c.d", "only this version, whether it has state.data or not"},
      {"--sign", "SECRETKEY", "sign the whole tree afterwards as 'patchkit sign' does"},
      {"--expires", "DAYS", "with --sign: the version list's signature\nexpires after DAYS (default 30)"},
      kKeyOption}},
    {"keygen", "--public FILE --secret FILE [--no-password] [--force]",
     "make a key pair for signing releases",
     "Writes a new minisign key pair: the public key, to build into the\n"
     "launcher, and the secret key, to keep off the update server. The\n"
     "secret key is protected by a password typed twice on the terminal, or\n"
     "taken from VANTOREL_SIGN_PASSWORD.\n",
     0, 0, VerbKeygen,
     {{"--public", "FILE", "where the public key is written"},
      {"--secret", "FILE", "where the secret key is written"},
      {"--no-password", nullptr, "leave the secret key unprotected"},
      {"--force", nullptr, "replace an existing secret key"}}},
    {"sign", "--server-root ROOT --secret-key FILE [--expires DAYS]",
     "sign every listed version and the version list",
     "For every version in ROOT/versionlist.data that has a folder, writes\n"
     "release.manifest (SHA-256, size and name of each file of the folder) and\n"
     "release.manifest.minisig; then versionlist.data.minisig. Each signature\n"
     "carries a serial above every earlier one. The password of a protected key\n"
     "is asked once, or taken from VANTOREL_SIGN_PASSWORD. Keys of the minisign\n"
     "tool work as well.\n",
     0, 0, VerbSign,
     {{"--server-root", "ROOT", "the release tree"},
      {"--secret-key", "FILE", "the secret key (patchkit keygen's or minisign's)"},
      {"--expires", "DAYS", "the version list's signature expires after DAYS\n(default 30, at most 3650)"}}},
    {"resign", "--server-root ROOT --secret-key FILE [--expires DAYS]",
     "renew the version list's signature before it expires",
     "Writes only a new versionlist.data.minisig with a new serial and expiry;\n"
     "packages, lists and manifests stay as they are. Refused when a listed\n"
     "version folder has no signed manifest or holds files that differ from it:\n"
     "such a tree needs 'patchkit sign'.\n",
     0, 0, VerbResign,
     {{"--server-root", "ROOT", "the release tree"},
      {"--secret-key", "FILE", "the secret key"},
      {"--expires", "DAYS", "the new signature expires after DAYS (default 30, at\nmost 3650)"}}},
    {"delta", "[--format vcdiff|bsdiff|best] [--level N] [--source-window MIB] OLD NEW OUT",
     "write a binary delta from one version of a file to the next",
     "Writes OUT as a delta that turns the file OLD into NEW; OUT appears only\n"
     "when complete. A VCDIFF delta (RFC 3284) has a checksum of every window,\n"
     "so applying it to another OLD fails; 'xdelta3 -d' reads it. A bsdiff delta\n"
     "is far smaller for programs, whose code moves between builds; 'bspatch'\n"
     "reads it. Making one takes about 9 times OLD's size in memory, so bsdiff\n"
     "takes files up to 512 MiB (128 MiB for the 32-bit Windows patchkit);\n"
     "'best' then makes the VCDIFF delta alone.\n",
     3, 3, VerbDelta,
     {{"--format", "FORMAT", "vcdiff (default), bsdiff, or best: the smaller of the two"},
      {"--level", "N", "VCDIFF: 1 (fastest) to 9 (smallest delta), default 6"},
      {"--source-window", "MIB", "VCDIFF: how many MiB of OLD around the place being\n"
                                 "encoded are searched for matches (default 64, up to\n"
                                 "1024; more finds blocks that moved far, and takes\n"
                                 "about as much memory)"}}},
    {"apply", "OLD DELTA OUT", "rebuild a file from its old version and a delta",
     "Writes OUT from the file OLD and the delta DELTA: VCDIFF (made by\n"
     "'patchkit delta' or by 'xdelta3 -e -S none') or bsdiff (made by 'patchkit\n"
     "delta' or by 'bsdiff'), as its first bytes say. Fails when\n"
     "DELTA is damaged or cut short, or was made from another OLD; OUT then stays\n"
     "as it was. OUT may name OLD, which is replaced only by the complete new file.\n",
     3, 3, VerbApply, {}},
    {"verify", "[--full] DIR", "check an installation against its version.data",
     "Reads DIR/version.data and compares every listed file's MD5 with it.\n"
     "Prints one line per file that differs or is missing; the exit status is\n"
     "1 on any mismatch or when version.data cannot be read. As the launcher,\n"
     "it trusts DIR/verify.cache for files whose size, last-write time and file\n"
     "id are unchanged since their last check, and renews it.\n",
     1, 1, VerbVerify,
     {{"--full", nullptr, "read every file, whatever verify.cache says"}, kKeyOption}},
    {"update",
     "(--server URL | --config FILE) --folder DIR [--ftp] [--once] [--mirror URL]... "
     "[--limit KIBPS] [--trust-key FILE]...",
     "update an installation from a server",
     "Runs the launcher's update engine and installer on DIR, one version step\n"
     "after the other up to the server's newest version, printing every status\n"
     "text as a line. DIR must hold version.data and the installer program. The\n"
     "launcher's log, with the reason of every failed download, is appended to\n"
     "DIR\\Log\\launcher.log. Signed releases are checked against the public\n"
     "keys built into patchkit, or against those given with --trust-key; the\n"
     "last accepted serial is kept in DIR\\trust.state as the launcher keeps it.\n",
     4, kAnyCount, VerbUpdate,
     {{"--server", "URL", "the update server: http[s]://host[:port][/folder], or\nwith --ftp host[:port] of an FTP server"},
      {"--config", "FILE", "settings read as the launcher reads config.data (a name\n"
                           "ending in .data is deciphered, any other is plain GBK):\n"
                           "line 7 (and 8 with --ftp), Mirrors, MaxDownloadKiBps;\n"
                           "--server, --mirror and --limit override it"},
      {"--folder", "DIR", "the installation"},
      {"--ftp", nullptr, "the server and mirrors are FTP servers"},
      {"--once", nullptr, "one version step only"},
      {"--mirror", "URL", "a further host, written like --server, tried in order\nafter it (repeatable)"},
      {"--limit", "KIBPS", "the download limit in KiB/s, as MaxDownloadKiBps (0: none)"},
      {"--trust-key", "FILE", "check releases against this minisign public key instead\n"
                              "of the built-in ones, to try a release before a launcher\n"
                              "with its key is built (repeatable)"}}},
    {"repair",
     "(--server URL | --config FILE) --folder DIR [--ftp] [--mirror URL]... [--limit KIBPS] [--trust-key FILE]...",
     "repair damaged or missing files of an installation",
     "Reads every file DIR/version.data lists in full and fetches those that\n"
     "differ or are missing again from the installed version's folder on the\n"
     "server, each alone by byte range where its state.data says its bytes are\n"
     "(the whole package from a server without ranges), checked against the\n"
     "index before the installer program puts it in place. The server needs\n"
     "state.data in that folder ('patchkit index' writes it for older releases).\n",
     4, kAnyCount, VerbRepair,
     {{"--server", "URL", "the update server, as for update"},
      {"--config", "FILE", "settings read as the launcher reads config.data, as for update"},
      {"--folder", "DIR", "the installation"},
      {"--ftp", nullptr, "the server and mirrors are FTP servers"},
      {"--mirror", "URL", "a further host (repeatable)"},
      {"--limit", "KIBPS", "the download limit in KiB/s"},
      {"--trust-key", "FILE", "check releases against this minisign public key (repeatable)"}}},
};

const Verb* FindVerb(const std::string& name) {
    for (const Verb& verb : kVerbs) {
        if (name == verb.name) return &verb;
    }
    return nullptr;
}

const VerbOption* FindOption(const Verb& verb, const std::string& name) {
    for (const VerbOption& option : verb.options) {
        if (name == option.name) return &option;
    }
    return nullptr;
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

// The usage line and details, then one line (or more) per option with the
// help texts in a column.
void PrintVerbHelp(const Verb& verb, std::FILE* out) {
    const bool takesKey = FindOption(verb, "--key") != nullptr;
    std::fprintf(out, "Usage: patchkit %s%s %s\n%s", verb.name, takesKey ? " [--key K]" : "", verb.operands,
                 verb.details);
    if (verb.options.empty()) return;
    std::vector<std::string> shown;
    size_t width = 0;
    for (const VerbOption& option : verb.options) {
        shown.push_back(option.value ? std::string(option.name) + " " + option.value : option.name);
        width = std::max(width, shown.back().size());
    }
    std::fputs("Options:\n", out);
    for (size_t i = 0; i < shown.size(); ++i) {
        const std::string help = verb.options[i].help;
        size_t begin = 0;
        for (size_t line = 0; begin <= help.size(); ++line) {
            size_t end = help.find('\n', begin);
            if (end == std::string::npos) end = help.size();
            std::fprintf(out, "  %-*s  %s\n", static_cast<int>(width), line == 0 ? shown[i].c_str() : "",
                         help.substr(begin, end - begin).c_str());
            begin = end + 1;
        }
    }
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
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const VerbOption* option = FindOption(verb, arg);
        if (!option) return call->Usage("unknown option " + arg);
        if (option->value && i + 1 >= args.size()) return call->Usage(arg + " needs a value");
        if (verb.run == VerbUpdate || verb.run == VerbRepair) {
            // The verb reads its options itself: a repeated one keeps every value.
            call->operands.push_back(arg);
            if (option->value) call->operands.push_back(args[++i]);
        } else if (arg == "--key") {
            if (!ParseKey(args[++i], &call->key)) {
                return call->Usage("--key needs five 32-bit words separated by commas");
            }
        } else if (option->value) {
            call->options[arg] = args[++i];
        } else {
            call->flags.insert(arg);
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
