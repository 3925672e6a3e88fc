// The index verb: state.data for version folders released before release
// wrote it, each version's files taken from its own version.data and their
// bytes located in the packages of every listed version folder.
#include <cstdio>
#include <string>
#include <vector>

#include "maintenance/verify_version.h"
#include "package/sealed_content.h"
#include "platform/file_system.h"
#include "platform/text_encoding.h"
#include "tools/patchkit/patchkit_verbs.h"
#include "tools/patchkit/release_plan.h"
#include "tools/patchkit/release_signing.h"
#include "tools/patchkit/state_sources.h"
#include "update/engine/state_index.h"
#include "update/engine/update_lists.h"
#include "update/install/install_paths.h"

namespace {

std::string Join(const std::string& folder, const std::string& name) { return folder + "\\" + name; }

// The files of a version: those its version.data names (which gives no
// sizes), and version.data itself, read from the package that brought it.
bool VersionFiles(CStateSources* sources, const ServedVersion& version, const FileKey& key,
                  std::vector<IndexedFile>* filesOut, std::string* whyOut) {
    const ServedMember* member = sources->FindPlace(version.version, kVersionFileName);
    if (!member) {
        *whyOut = "no package of " + version.version + " holds version.data";
        return false;
    }
    std::string image;
    StringSink sink(&image, kMaxVersionFileBytes + kSealOverheadBytes);
    if (!sources->ReadMember(*member, &sink, whyOut)) return false;
    size_t size = 0;
    ParsedVersionFile parsed;
    if (!UnsealInPlace(reinterpret_cast<unsigned char*>(&image[0]), image.size(), key, &size) ||
        ParseVersionContent(std::string_view(image.data(), size), &parsed) != VersionContentState::Usable ||
        parsed.installedVersion != version.number) {
        *whyOut = "the version.data in " + Join(member->folder, member->package) + " is no version.data of " +
                  version.version;
        return false;
    }
    filesOut->clear();
    for (const FileDigestPair& pair : parsed.allPairs) {
        if (!IsDigestText(pair.digest)) {
            *whyOut = "version.data of " + version.version + " gives " + pair.name + " no MD5";
            return false;
        }
        filesOut->push_back({pair.name, AsciiFolded(pair.digest), 0, false, ""});
    }
    filesOut->push_back({kVersionFileName, member->md5, member->size, true, ""});
    return true;
}

// Writes one version's state.data; false after printing why not.
bool IndexVersion(const VerbCall& call, CStateSources* sources, const ServedVersion& version) {
    std::vector<IndexedFile> files;
    std::vector<std::string> missing;
    StateIndex index;
    std::string why, text;
    if (VersionFiles(sources, version, call.key, &files, &why) &&
        sources->BuildIndex(version.version, files, &index, &missing, &why) && missing.empty() &&
        FormatStateIndex(index, &text, &why)) {
        std::string gbk;
        CFastFile file(ModeWrite);
        const std::string path = Join(version.folder, kStateIndexName);
        if (Utf8ToGbk(text, &gbk) && file.Open(path.c_str(), "w+") &&
            file.WriteBytes(gbk.data(), gbk.size(), &call.key, true)) {
            size_t earlier = 0;
            for (const StateEntry& entry : index.entries) earlier += entry.sourceVersion != version.version;
            std::fprintf(call.out, "%s: state.data written, %zu files, %zu of them from earlier versions\n",
                         version.version.c_str(), index.entries.size(), earlier);
            return true;
        }
        why = "cannot write " + path;
    }
    if (!missing.empty()) {
        why = std::to_string(missing.size()) + " files are in no package of a listed version folder";
    }
    std::fprintf(call.out, "%s: state.data not written: %s\n", version.version.c_str(), why.c_str());
    for (const std::string& place : missing) std::fprintf(call.out, "no source\t%s\n", place.c_str());
    return false;
}

}  // namespace

int VerbIndex(const VerbCall& call) {
    const std::string* root = call.Option("--server-root");
    const std::string* only = call.Option("--version");
    const std::string* keyPath = call.Option("--sign");
    std::string why;
    if (!root) return call.Fail("--server-root is required");
    if (!keyPath && call.Option("--expires")) return call.Fail("--expires needs --sign");
    MinisignSecretKey signingKey;
    if (keyPath) why = ExpiryOptionProblem(call);
    if (keyPath && (!why.empty() || !LoadSigningKey(*keyPath, &signingKey, &why))) return call.Fail(why);
    std::vector<ServedVersion> served;
    if (!ReadServedVersions(*root, &served, &why)) return call.Fail(why);
    bool named = false;
    for (const ServedVersion& version : served) named = named || (only && version.version == *only);
    if (only && !named) return call.Fail(*only + " is not a listed version with a folder in " + *root);

    CStateSources sources(call.key);
    for (const ServedVersion& version : served) {
        if (!sources.AddFolder(version.folder, version.version, &why)) {
            std::fprintf(call.out, "note: the packages of %s are not used: %s\n", version.version.c_str(), why.c_str());
        }
    }
    size_t written = 0;
    std::string failed;
    for (auto version = served.rbegin(); version != served.rend(); ++version) {
        const bool wanted = only ? version->version == *only
                                 : !fs_port::PathExists(Join(version->folder, kStateIndexName));
        if (!wanted) continue;
        if (IndexVersion(call, &sources, *version)) {
            ++written;
        } else {
            failed += (failed.empty() ? "" : " ") + version->version;
        }
    }
    if (written == 0 && failed.empty()) std::fputs("every listed version has its state.data\n", call.out);
    if (written > 0 && !keyPath && fs_port::PathExists(Join(*root, kVersionListSignatureName))) {
        std::fprintf(call.out,
                     "note: the tree is signed; run 'patchkit sign --server-root %s --secret-key FILE' so that "
                     "the manifests list state.data\n",
                     root->c_str());
    }
    const int signedResult = written > 0 && keyPath ? SignWithOptions(call, *root, signingKey) : kExitOk;
    if (!failed.empty()) return call.Fail("no state.data written for " + failed);
    return signedResult;
}
