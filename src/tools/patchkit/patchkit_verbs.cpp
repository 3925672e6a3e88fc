#include "tools/patchkit/patchkit_verbs.h"

#include <algorithm>
#include <memory>

#include "package/bundle.h"
#include "package/patch_kit.h"
#include "package/sealed_content.h"
#include "platform/file_system.h"
#include "platform/text_format.h"

namespace {

constexpr char kStandardStream[] = "-";

// The whole content of a file, deciphered under key when key is given.
enum class ReadResult { Ok, CannotOpen, CannotRead };

ReadResult ReadContent(const std::string& path, const FileKey* key, std::string* contentOut) {
    CFastFile file(ModeRead);
    if (!fs_port::IsRegularFile(path) || !file.Open(path.c_str(), "r+")) {
        return ReadResult::CannotOpen;
    }
    size_t size = 0;
    std::unique_ptr<char[]> content = file.Read(&size, key, key != nullptr);
    file.Close();
    if (!content) return ReadResult::CannotRead;
    contentOut->assign(content.get(), size);
    return ReadResult::Ok;
}

// A path the operator gives may be a device, a pipe or a link to one
// ("/dev/stdout"); replacing it with a file would break the system for every
// other program. True when the path exists and is not a plain file.
bool IsWrittenThrough(const std::string& path) {
    return fs_port::IsLink(path) || (fs_port::PathExists(path) && !fs_port::IsRegularFile(path) &&
                                     !fs_port::IsDirectory(path));
}

bool WriteAll(std::FILE* file, const std::string& bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fflush(file) == 0;
}

// "-" is standard output. A link or device gets the bytes written through
// it; anything else is written beside the path by CFastFile and renamed at
// the end, so a failed write leaves no half output.
bool WriteContent(const VerbCall& call, const std::string& path, const std::string& content,
                  const FileKey* key) {
    if (path != kStandardStream && !IsWrittenThrough(path)) {
        CFastFile file(ModeWrite);
        if (!file.Open(path.c_str(), "w+")) return false;
        const bool written = file.WriteBytes(content.data(), content.size(), key, key != nullptr);
        file.Close();
        return written;
    }
    std::string sealed;
    if (key && !SealContent(content.data(), content.size(), *key, &sealed)) return false;
    const std::string& bytes = key ? sealed : content;
    if (path == kStandardStream) return WriteAll(call.out, bytes);
    std::FILE* file = fs_port::OpenFile(path, "wb");
    if (!file) return false;
    const bool written = WriteAll(file, bytes);
    return std::fclose(file) == 0 && written;
}

// Paths in messages are shown with the platform's separators.
std::string Shown(const std::string& path) { return fs_port::NativePath(path); }

int Transcribe(const VerbCall& call, bool encipher) {
    const std::string& in = call.operands[0];
    const std::string& out = call.operands[1];
    std::string content;
    switch (ReadContent(in, encipher ? nullptr : &call.key, &content)) {
    case ReadResult::CannotOpen:
        return call.Fail("cannot open " + Shown(in));
    case ReadResult::CannotRead:
        return call.Fail(encipher ? "cannot read " + Shown(in) + " (too large or unreadable)"
                                  : Shown(in) + " cannot be deciphered: wrong key, or not an intact "
                                                "enciphered file");
    case ReadResult::Ok:
        break;
    }
    if (!WriteContent(call, out, content, encipher ? &call.key : nullptr)) {
        return call.Fail("cannot write " + Shown(out));
    }
    return kExitOk;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "\\" + name;
}

// Every regular file below folder, as member names relative to root; other
// entries (links to folders, devices) are reported on err and left out.
void CollectFiles(const VerbCall& call, const std::string& root, const std::string& relative,
                  std::vector<std::string>* namesOut) {
    std::vector<fs_port::DirEntry> entries;
    fs_port::ListDirectory(JoinPath(root, relative), &entries);
    for (const fs_port::DirEntry& entry : entries) {
        const std::string name = JoinPath(relative, entry.name);
        if (entry.isDirectory) {
            CollectFiles(call, root, name, namesOut);
        } else if (fs_port::IsRegularFile(JoinPath(root, name))) {
            namesOut->push_back(name);
        } else {
            std::fprintf(call.err, "patchkit %s: skipping %s (not a regular file)\n",
                         call.verb.c_str(), name.c_str());
        }
    }
}

bool SamePath(const std::string& a, const std::string& b) {
    return fs_port::NativePath(a) == fs_port::NativePath(b);
}

}  // namespace

bool ParseBounded(const std::string& text, std::uint64_t min, std::uint64_t max, std::uint64_t* valueOut) {
    std::uint64_t value = 0;
    if (!ReadDecimal(text, max, &value) || value < min) return false;
    *valueOut = value;
    return true;
}

int VerbEncipher(const VerbCall& call) { return Transcribe(call, true); }

int VerbDecipher(const VerbCall& call) { return Transcribe(call, false); }

int VerbPack(const VerbCall& call) {
    const std::string& out = call.operands[0];
    const std::string& dir = call.operands[1];
    if (!fs_port::IsDirectory(dir)) return call.Fail(Shown(dir) + " is not a folder");
    std::vector<std::string> names;
    CollectFiles(call, dir, "", &names);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (!IsSafeMemberName(name)) return call.Fail("file name not allowed in a package: " + name);
    }
    // The package is built beside OUT and put in place by Release only, so a
    // failure leaves no half package.
    CBundle bundle;
    if (!bundle.Create(out.c_str(), kBundleTag)) {
        return call.Fail("cannot create " + Shown(out) + ": " + bundle.LastError());
    }
    for (const std::string& name : names) {
        const std::string source = JoinPath(dir, name);
        // A package written into the folder it packs must not contain itself.
        if (SamePath(source, out)) continue;
        if (!bundle.AddFile(source.c_str(), name.c_str())) {
            return call.Fail("cannot add " + Shown(source) + ": " + bundle.LastError());
        }
    }
    if (!bundle.Release()) return call.Fail("cannot finish " + Shown(out) + ": " + bundle.LastError());
    return kExitOk;
}

int VerbList(const VerbCall& call) {
    const std::string& pkg = call.operands[0];
    CBundle bundle;
    if (!bundle.Open(pkg.c_str(), kBundleTag)) {
        return call.Fail(Shown(pkg) + " is not a readable package: " + bundle.LastError());
    }
    for (const BundleMember& member : bundle.Members()) {
        std::fprintf(call.out, "%s\t%llu\n", member.name.c_str(),
                     static_cast<unsigned long long>(member.size));
    }
    return kExitOk;
}

namespace {

// The member's path below dir, with the platform's separators.
std::string MemberPath(const std::string& dir, const std::string& name) {
    std::string relative = name;
    std::replace(relative.begin(), relative.end(), '/', '\\');
    while (!relative.empty() && relative.back() == '\\') relative.pop_back();
    return JoinPath(dir, relative);
}

// The first place from dir down to the member's path that is a link, or
// that exists and is neither a folder nor a plain file (a device, a pipe);
// empty when there is none. A member is never written through such a place:
// a link would take it out of dir, and a device is no file to replace.
std::string LinkOnTheWay(const std::string& dir, const std::string& name) {
    std::string relative = name;
    std::replace(relative.begin(), relative.end(), '/', '\\');
    std::string place = dir;
    for (size_t start = 0; start <= relative.size();) {
        size_t end = relative.find('\\', start);
        if (end == std::string::npos) end = relative.size();
        if (end > start) {
            place = JoinPath(place, relative.substr(start, end - start));
            if (IsWrittenThrough(place)) return place;
        }
        start = end + 1;
    }
    return {};
}

std::string ParentOf(const std::string& path) {
    const size_t cut = fs_port::NativePath(path).find_last_of(fs_port::NativeSeparator());
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

}  // namespace

int VerbExtract(const VerbCall& call) {
    const std::string& pkg = call.operands[0];
    const std::string& dir = call.operands[1];
    CBundle bundle;
    if (!bundle.Open(pkg.c_str(), kBundleTag)) {
        return call.Fail(Shown(pkg) + " is not a readable package: " + bundle.LastError());
    }
    // Checked before anything is written: a member may not land on or pass
    // through a link or a device (opening the package refused unsafe names).
    for (const BundleMember& member : bundle.Members()) {
        const std::string link = LinkOnTheWay(dir, member.name);
        if (!link.empty()) {
            return call.Fail("not replaced: " + Shown(link) + " is a link or a device, not a file or folder");
        }
    }
    if (!fs_port::MakeDirectories(dir)) return call.Fail("cannot create folder " + Shown(dir));
    for (const BundleMember& member : bundle.Members()) {
        const std::string dest = MemberPath(dir, member.name);
        const std::string folder = member.isDirectory ? dest : ParentOf(dest);
        if (!folder.empty() && !fs_port::MakeDirectories(folder)) {
            return call.Fail("cannot create folder " + Shown(folder));
        }
        if (!member.isDirectory && !bundle.Extract(member.name.c_str(), dest.c_str())) {
            return call.Fail("cannot extract " + member.name + ": " + bundle.LastError());
        }
    }
    return kExitOk;
}

int VerbDigest(const VerbCall& call) {
    int result = kExitOk;
    for (const std::string& path : call.operands) {
        std::string hex;
        if (fs_port::IsRegularFile(path) && ComputeFileMd5(path, &hex)) {
            std::fprintf(call.out, "%s  %s\n", hex.c_str(), path.c_str());
        } else {
            result = call.Fail("cannot read " + Shown(path));
        }
    }
    return result;
}
