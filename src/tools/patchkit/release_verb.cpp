// The release verb: turns two game folders into a version's folder on the
// update server and the version's line in the version list.
#include <cstdio>
#include <string>
#include <vector>

#include "app/util/launcher_util.h"
#include "maintenance/verify_version.h"
#include "package/bundle.h"
#include "package/fast_file.h"
#include "package/patch_kit.h"
#include "platform/byte_sink.h"
#include "platform/file_system.h"
#include "platform/text_encoding.h"
#include "tools/patchkit/patchkit_verbs.h"
#include "tools/patchkit/release_deltas.h"
#include "tools/patchkit/release_plan.h"
#include "tools/patchkit/state_sources.h"
#include "trust/file_sha256.h"
#include "update/engine/state_index.h"
#include "update/engine/update_lists.h"

namespace {

constexpr char kStagingSuffix[] = ".part";
constexpr char kRetiredSuffix[] = ".old";
// Beside the staging folder: the deltas before they are packed.
constexpr char kDeltaScratchSuffix[] = ".deltas";

std::string Join(const std::string& folder, const std::string& name) {
    return name.empty() ? folder : folder + "\\" + name;
}

// The file's MD5 and, for the new version's files, its SHA-256 for
// state.data, in one read.
bool DigestFile(const std::string& path, bool withSha256, TreeFile* fileOut) {
    if (!withSha256) return ComputeFileMd5(path, &fileOut->md5);
    UniqueFile file(fs_port::OpenFile(path, "rb"));
    if (!file) return false;
    DigestSink md5(DigestAlgorithm::Md5), sha256(DigestAlgorithm::Sha256);
    std::vector<char> block(256u * 1024u);
    for (size_t got; (got = std::fread(block.data(), 1, block.size(), file.get())) > 0;) {
        if (!md5.Write(block.data(), got) || !sha256.Write(block.data(), got)) return false;
    }
    fileOut->md5 = md5.FinishHex();
    fileOut->sha256 = sha256.FinishHex();
    return !std::ferror(file.get()) && !fileOut->md5.empty() && !fileOut->sha256.empty();
}

// Fills index with every file below root; false with *problemOut set on
// anything that cannot be released as it stands.
bool IndexTree(const std::string& root, const std::string& relative, bool withSha256, TreeIndex* index,
               std::string* problemOut) {
    std::vector<fs_port::DirEntry> entries;
    if (!fs_port::ListDirectory(Join(root, relative), &entries)) {
        *problemOut = "cannot list " + Join(root, relative);
        return false;
    }
    for (const fs_port::DirEntry& entry : entries) {
        const std::string name = relative.empty() ? entry.name : relative + "\\" + entry.name;
        const std::string path = Join(root, name);
        if (entry.isLink) {
            *problemOut = "links are not released: " + path;
            return false;
        }
        if (entry.isDirectory) {
            if (!IndexTree(root, name, withSha256, index, problemOut)) return false;
            continue;
        }
        const std::string why = ReleaseNameProblem(name);
        if (!why.empty()) {
            *problemOut = why + ": " + path;
            return false;
        }
        TreeFile file;
        const int64_t size = fs_port::FileSize(path);
        if (size < 0 || !DigestFile(path, withSha256, &file)) {
            *problemOut = "cannot read " + path;
            return false;
        }
        if (static_cast<uint64_t>(size) > kMaxReleaseFileBytes) {
            *problemOut = "file larger than 2^63 - 1 bytes: " + path;
            return false;
        }
        if (index->size() >= kMaxReleaseFiles) {
            *problemOut = "too many files below " + root;
            return false;
        }
        file.size = static_cast<uint64_t>(size);
        (*index)[name] = file;
    }
    return true;
}

// GBK, enciphered under key.
bool WriteListFile(const std::string& path, const std::string& utf8, const FileKey& key) {
    std::string gbk;
    if (!Utf8ToGbk(utf8, &gbk)) return false;
    CFastFile file(ModeWrite);
    if (!file.Open(path.c_str(), "w+")) return false;
    const bool written = file.WriteBytes(gbk.data(), gbk.size(), &key, true);
    file.Close();
    return written;
}

struct ReleaseArgs {
    std::string from, to, root, versionText;
    int32_t versionNumber = 0;
    bool mandatory = false;
    DeltaOptions deltas;
};

std::string CheckDeltaArgs(const VerbCall& call, DeltaOptions* deltas) {
    deltas->enabled = call.flags.count("--no-delta") == 0;
    if (const std::string* format = call.Option("--delta-format")) {
        if (!deltas->enabled) return "--delta-format and --no-delta exclude each other";
        if (!ParseDeltaFormat(*format, &deltas->format)) {
            return "--delta-format must be vcdiff, bsdiff or best: " + *format;
        }
    }
    const std::string* threshold = call.Option("--delta-threshold");
    if (!threshold) return "";
    if (!deltas->enabled) return "--delta-threshold and --no-delta exclude each other";
    std::uint64_t percent = 0;
    if (!ParseBounded(*threshold, 1, 100, &percent)) {
        return "--delta-threshold must be a whole percentage from 1 to 100: " + *threshold;
    }
    deltas->thresholdPercent = static_cast<int>(percent);
    return "";
}

// The version text must be the one the launcher forms from the number, or
// the server folder would not be found: four parts, the last three single digits.
std::string CheckArgs(const VerbCall& call, ReleaseArgs* args) {
    for (const char* name : {"--from", "--to", "--version", "--server-root"}) {
        if (!call.Option(name)) return std::string(name) + " is required";
    }
    args->from = *call.Option("--from");
    args->to = *call.Option("--to");
    args->root = *call.Option("--server-root");
    args->versionText = *call.Option("--version");
    args->mandatory = call.flags.count("--mandatory") > 0;
    const std::string deltaProblem = CheckDeltaArgs(call, &args->deltas);
    if (!deltaProblem.empty()) return deltaProblem;
    args->versionNumber = VersionTextToNumber(args->versionText.c_str());
    if (args->versionNumber < 1000 ||
        VersionNumberToText(args->versionNumber) != args->versionText) {
        return "version must be a.b.c.d with a >= 1 and b, c, d single digits: " +
               args->versionText;
    }
    if (!fs_port::IsDirectory(args->from)) return args->from + " is not a folder";
    if (!fs_port::IsDirectory(args->to)) return args->to + " is not a folder";
    if (!fs_port::IsDirectory(args->root) && !fs_port::MakeDirectories(args->root)) {
        return "cannot create " + args->root;
    }
    return "";
}

bool WritePackage(const PackagePlan& package, const std::string& newDir,
                  const std::string& versionFile, const std::string& folder, std::string* why) {
    CBundle bundle;
    if (!bundle.Create(Join(folder, package.name).c_str(), kBundleTag)) {
        *why = bundle.LastError();
        return false;
    }
    for (const PackageEntry& member : package.members) {
        const std::string source =
            member.relative == kVersionFileName ? versionFile : Join(newDir, member.relative);
        std::string name = MemberPath(member.relative);
        // Forward slashes inside the archive: every ZIP tool reads them as folders.
        for (char& c : name) c = c == '\\' ? '/' : c;
        if (!bundle.AddFile(source.c_str(), name.c_str())) {
            *why = "cannot add " + source + ": " + bundle.LastError();
            return false;
        }
    }
    if (!bundle.Release()) {
        *why = bundle.LastError();
        return false;
    }
    return true;
}

// Writes packages and lists into the staging folder; gives what the new
// version.data holds, which goes only into a package.
std::string BuildVersionFolder(const VerbCall& call, const ReleaseArgs& args,
                               const TreeIndex& newTree, const DeltaSet& deltas, ReleasePlan* plan,
                               const std::string& staging, TreeFile* writtenOut) {
    const std::string versionFile = Join(staging, kVersionFileName);
    if (!WriteListFile(versionFile, VersionFileText(args.versionNumber, newTree), call.key)) {
        return "cannot write " + versionFile;
    }
    TreeFile& written = *writtenOut;
    const int64_t size = fs_port::FileSize(versionFile);
    if (size < 0 || !DigestFile(versionFile, true, &written)) return "cannot read " + versionFile;
    written.size = static_cast<uint64_t>(size);
    AddVersionFile(written.size, written.md5, plan);
    for (const PackagePlan& package : plan->packages) {
        std::string why;
        if (!WritePackage(package, args.to, versionFile, staging, &why)) {
            return "cannot write " + package.name + ": " + why;
        }
    }
    (void)fs_port::RemoveFile(versionFile);
    if (!WriteListFile(Join(staging, "updatelist.data"), UpdateListText(*plan), call.key) ||
        !WriteListFile(Join(staging, "dellist.data"), DeleteListText(*plan), call.key)) {
        return "cannot write the lists in " + staging;
    }
    if (deltas.kept.empty()) return "";
    std::string patchList;
    const std::string why = WriteDeltaPackages(deltas, staging, &patchList);
    if (!why.empty()) return why;
    if (!WriteListFile(Join(staging, kPatchListName), patchList, call.key)) {
        return "cannot write " + Join(staging, kPatchListName);
    }
    return "";
}

// The files of the new version as state.data lists them: those version.data
// names, and version.data itself, which a launcher catching up needs as much.
std::vector<IndexedFile> ReleasedFiles(const TreeIndex& newTree, const TreeFile& versionFile) {
    std::vector<IndexedFile> files;
    for (const auto& [relative, file] : newTree) {
        if (relative != kVersionFileName) files.push_back({relative, file.md5, file.size, true, file.sha256});
    }
    files.push_back({kVersionFileName, versionFile.md5, versionFile.size, true, versionFile.sha256});
    return files;
}

// Writes state.data into the staging folder, each file located in this
// version's packages or in those of the listed earlier versions. A file that
// no folder on the server holds (the --from version was installed by other
// means, or its folders are gone) leaves the version without state.data and
// the operator with a note; only a failed write fails the release.
std::string WriteReleaseIndex(const VerbCall& call, const ReleaseArgs& args, const TreeIndex& newTree,
                              const TreeFile& versionFile, const std::string& staging,
                              std::vector<std::string>* notesOut) {
    CStateSources sources(call.key);
    std::vector<ServedVersion> served;
    std::vector<std::string> missing;
    StateIndex index;
    std::string why, text;
    if (!sources.AddFolder(staging, args.versionText, &why)) return why;
    if (!ReadServedVersions(args.root, &served, &why)) served.clear();
    for (const ServedVersion& earlier : served) {
        if (earlier.number < args.versionNumber && !sources.AddFolder(earlier.folder, earlier.version, &why)) {
            notesOut->push_back("the packages of " + earlier.version + " are not used for state.data: " + why);
        }
    }
    if (sources.BuildIndex(args.versionText, ReleasedFiles(newTree, versionFile), &index, &missing, &why) &&
        missing.empty() && FormatStateIndex(index, &text, &why)) {
        const std::string path = Join(staging, kStateIndexName);
        return WriteListFile(path, text, call.key) ? "" : "cannot write " + path;
    }
    if (!missing.empty()) {
        why = std::to_string(missing.size()) + " of its files are in no package on the server, such as " +
              missing.front() + " (the versions that brought them have no folder or are not listed)";
    }
    notesOut->push_back("no state.data for " + args.versionText + ": " + why);
    return "";
}

// Puts the finished folder in place of an earlier release of the same version.
bool Publish(const std::string& staging, const std::string& folder) {
    const std::string retired = folder + kRetiredSuffix;
    DeleteFolderTree(retired);
    const bool hadOld = fs_port::PathExists(folder);
    if (hadOld && !fs_port::RenamePath(folder, retired, false)) return false;
    if (!fs_port::RenamePath(staging, folder, false)) {
        if (hadOld) (void)fs_port::RenamePath(retired, folder, false);
        return false;
    }
    DeleteFolderTree(retired);
    return true;
}

// The deltas' scratch folder is gone afterwards, whatever happened.
std::string BuildWithDeltas(const VerbCall& call, const ReleaseArgs& args, const TreeIndex& oldTree,
                            const TreeIndex& newTree, const std::string& folder, ReleasePlan* planOut,
                            DeltaSet* deltasOut, std::vector<std::string>* notesOut) {
    const std::string staging = folder + kStagingSuffix;
    const std::string scratch = folder + kDeltaScratchSuffix;
    DeleteFolderTree(staging);
    DeleteFolderTree(scratch);
    if (!fs_port::MakeDirectory(staging) || !fs_port::MakeDirectory(scratch)) {
        return "cannot create " + staging;
    }
    std::string problem =
        MakeReleaseDeltas(args.from, args.to, oldTree, newTree, args.deltas, scratch, deltasOut);
    *planOut = PlanRelease(oldTree, newTree, deltasOut->Files());
    TreeFile versionFile;
    if (problem.empty()) problem = BuildVersionFolder(call, args, newTree, *deltasOut, planOut, staging, &versionFile);
    if (problem.empty()) problem = WriteReleaseIndex(call, args, newTree, versionFile, staging, notesOut);
    DeleteFolderTree(scratch);
    if (problem.empty() && !Publish(staging, folder)) problem = "cannot put " + folder + " in place";
    if (!problem.empty()) DeleteFolderTree(staging);
    return problem;
}

void PrintDeltaSummary(const VerbCall& call, const DeltaSet& deltas) {
    if (deltas.tried == 0) return;
    const uint64_t full = deltas.FullBytes();
    std::fprintf(call.out,
                 "deltas: %llu of %llu changed files by delta (%llu bsdiff), %llu bytes of deltas for %llu "
                 "bytes of full members as stored (%.1f%%)\n",
                 static_cast<unsigned long long>(deltas.kept.size()), static_cast<unsigned long long>(deltas.tried),
                 static_cast<unsigned long long>(deltas.BsdiffCount()),
                 static_cast<unsigned long long>(deltas.DeltaBytes()), static_cast<unsigned long long>(full),
                 full == 0 ? 0.0 : 100.0 * static_cast<double>(deltas.DeltaBytes()) / static_cast<double>(full));
}

bool WriteVersionList(const std::string& root, const ReleaseArgs& args, std::string* textOut) {
    const std::string path = Join(root, "versionlist.data");
    std::string current;
    if (fs_port::FileSize(path) > 0 && !ReadWholeFile(path, nullptr, false, &current)) return false;
    const std::string text = UpdateVersionList(current, args.versionText, args.mandatory);
    *textOut = text;
    CFastFile file(ModeWrite);
    if (!file.Open(path.c_str(), "w+")) return false;
    const bool written = file.Write(text.c_str(), nullptr, false);
    file.Close();
    return written;
}

// The launcher steps from a listed version to the next one, but sends an
// installation whose version is not listed straight to the newest version,
// whose packages hold only the changes of its own step. An old version that
// the list lacks is therefore worth a word to the operator.
void WarnAboutUnlistedBase(const VerbCall& call, const ReleaseArgs& args,
                           const std::string& versionList) {
    std::string content;
    bool opened = false;
    ParsedVersionFile old;
    if (!ReadVersionFile(args.from, call.key, &content, &opened) ||
        ParseVersionContent(content, &old) != VersionContentState::Usable ||
        old.installedVersion >= args.versionNumber ||
        ListsVersion(versionList, old.installedVersion)) {
        return;
    }
    const std::string oldText = VersionNumberToText(old.installedVersion);
    std::fprintf(call.out,
                 "note: versionlist.data does not list %s (the version of %s); installations "
                 "of it would go straight to the newest version. Add the line \"%s\t0\t0\" "
                 "if they should step through %s.\n",
                 oldText.c_str(), args.from.c_str(), oldText.c_str(), args.versionText.c_str());
}

// A later version's state.data that locates files in this version's
// packages points at bytes this release may have moved.
void AddStaleIndexNotes(const VerbCall& call, const ReleaseArgs& args, std::vector<std::string>* notesOut) {
    std::vector<ServedVersion> served;
    std::string why;
    if (!ReadServedVersions(args.root, &served, &why)) return;
    for (const std::string& later : IndexesPointingInto(served, args.versionText, call.key)) {
        notesOut->push_back("state.data of " + later + " locates files in the packages of " + args.versionText +
                            ", which this release replaced; run 'patchkit index --server-root " + args.root +
                            " --version " + later + "'");
    }
}

}  // namespace

int VerbRelease(const VerbCall& call) {
    ReleaseArgs args;
    std::string bad = CheckArgs(call, &args);
    if (!bad.empty()) return call.Fail(bad);
    // The key is opened first: a wrong password must not leave a published,
    // unsigned release behind.
    MinisignSecretKey signingKey;
    const std::string* keyPath = call.Option("--sign");
    if (!keyPath && call.Option("--expires")) return call.Fail("--expires needs --sign");
    if (keyPath) bad = ExpiryOptionProblem(call);
    if (keyPath && (!bad.empty() || !LoadSigningKey(*keyPath, &signingKey, &bad))) {
        return call.Fail(bad);
    }
    TreeIndex oldTree, newTree;
    std::string problem;
    if (!IndexTree(args.from, "", false, &oldTree, &problem) ||
        !IndexTree(args.to, "", true, &newTree, &problem)) {
        return call.Fail(problem);
    }
    if (newTree.empty() || (newTree.size() == 1 && newTree.count(kVersionFileName))) {
        return call.Fail(args.to + " holds no game files");
    }
    ReleasePlan plan;
    DeltaSet deltas;
    std::vector<std::string> notes;
    const std::string folder = Join(args.root, args.versionText);
    problem = BuildWithDeltas(call, args, oldTree, newTree, folder, &plan, &deltas, &notes);
    if (!problem.empty()) return call.Fail(problem);
    std::string versionList;
    if (!WriteVersionList(args.root, args, &versionList)) {
        return call.Fail("cannot update " + Join(args.root, "versionlist.data"));
    }
    WarnAboutUnlistedBase(call, args, versionList);
    size_t members = 0;
    for (const PackagePlan& package : plan.packages) members += package.members.size();
    std::fprintf(call.out, "release %s%s: %llu files in %llu packages, %llu deletions\n",
                 args.versionText.c_str(), args.mandatory ? " (mandatory)" : "",
                 static_cast<unsigned long long>(members),
                 static_cast<unsigned long long>(plan.packages.size()),
                 static_cast<unsigned long long>(plan.deletions.size()));
    PrintDeltaSummary(call, deltas);
    AddStaleIndexNotes(call, args, &notes);
    for (const std::string& note : notes) std::fprintf(call.out, "note: %s\n", note.c_str());
    return keyPath ? SignWithOptions(call, args.root, signingKey) : kExitOk;
}
