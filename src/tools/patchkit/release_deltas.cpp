#include "tools/patchkit/release_deltas.h"

#include <zlib.h>

#include <cstdio>
#include <map>
#include <vector>

#include "package/bundle.h"
#include "package/zip_writer.h"
#include "platform/file_system.h"
#include "tools/patchkit/delta_formats.h"
#include "update/engine/update_lists.h"

namespace {

constexpr size_t kReadBlockBytes = 1 << 16;
// A delta copies from the old file; one a quarter the new file's size or
// less leaves most of the new file to be added as it is, and its delta costs
// about what the full member costs. Not worth encoding.
constexpr uint64_t kMinSourceShareDivisor = 4;

std::string Join(const std::string& folder, const std::string& name) { return folder + "\\" + name; }

// What the file costs deflated as the packages deflate it (stored when that
// is not smaller); false when it cannot be read.
bool DeflatedSize(const std::string& path, uint64_t* sizeOut) {
    std::FILE* file = fs_port::OpenFile(path, "rb");
    if (!file) return false;
    z_stream stream{};
    if (deflateInit2(&stream, zip::kDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        std::fclose(file);
        return false;
    }
    std::vector<unsigned char> in(kReadBlockBytes), out(kReadBlockBytes);
    uint64_t packed = 0, plain = 0;
    int flush = Z_NO_FLUSH;
    int state = Z_OK;
    while (state != Z_STREAM_END) {
        if (stream.avail_in == 0 && flush == Z_NO_FLUSH) {
            const size_t got = std::fread(in.data(), 1, in.size(), file);
            if (got < in.size()) flush = std::ferror(file) ? -1 : Z_FINISH;
            if (flush < 0) break;
            stream.next_in = in.data();
            stream.avail_in = static_cast<uInt>(got);
            plain += got;
        }
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        state = deflate(&stream, flush);
        if (state == Z_STREAM_ERROR) break;
        packed += out.size() - stream.avail_out;
    }
    deflateEnd(&stream);
    std::fclose(file);
    if (state != Z_STREAM_END) return false;
    *sizeOut = packed < plain ? packed : plain;
    return true;
}

bool IsDeltaCandidate(const std::string& relative, const TreeIndex& oldTree, const TreeFile& file) {
    const auto old = oldTree.find(relative);
    // The installer program comes from its full package: the launcher puts
    // it in place itself before the hand-off.
    return relative != kVersionFileName && old != oldTree.end() && old->second.md5 != file.md5 &&
           file.size > 0 && old->second.size > file.size / kMinSourceShareDivisor &&
           !IsInstallerMember(MemberPath(relative));
}

std::string ZipName(const std::string& relative) {
    std::string name = MemberPath(relative);
    for (char& c : name) c = c == '\\' ? '/' : c;
    return name;
}

}  // namespace

std::set<std::string> DeltaSet::Files() const {
    std::set<std::string> files;
    for (const ReleaseDelta& delta : kept) files.insert(delta.relative);
    return files;
}

uint64_t DeltaSet::DeltaBytes() const {
    uint64_t total = 0;
    for (const ReleaseDelta& delta : kept) total += delta.storedBytes;
    return total;
}

size_t DeltaSet::BsdiffCount() const {
    size_t count = 0;
    for (const ReleaseDelta& delta : kept) count += delta.bsdiff ? 1 : 0;
    return count;
}

uint64_t DeltaSet::FullBytes() const {
    uint64_t total = 0;
    for (const ReleaseDelta& delta : kept) total += delta.fullBytes;
    return total;
}

std::string MakeReleaseDeltas(const std::string& oldDir, const std::string& newDir, const TreeIndex& oldTree,
                              const TreeIndex& newTree, const DeltaOptions& options, const std::string& scratch,
                              DeltaSet* setOut) {
    *setOut = DeltaSet{};
    if (!options.enabled) return "";
    DeltaEncodeOptions encode;
    for (const auto& [relative, file] : newTree) {
        if (!IsDeltaCandidate(relative, oldTree, file)) continue;
        ReleaseDelta delta{relative, Join(scratch, std::to_string(setOut->tried++) + ".delta"), 0, 0, 0, false,
                           oldTree.at(relative).md5, file.md5};
        const std::string target = Join(newDir, relative);
        DeltaFormat made = DeltaFormat::Vcdiff;
        DeltaResult result = EncodeDeltaAs(options.format, Join(oldDir, relative), target, delta.path, encode,
                                           DeflatedSize, &made);
        if (!result.ok && options.format == DeltaFormat::Bsdiff) {
            // Beyond bsdiff's limit, or out of memory: the file still gets a VCDIFF delta.
            result = EncodeDeltaAs(DeltaFormat::Vcdiff, Join(oldDir, relative), target, delta.path, encode,
                                   DeflatedSize, &made);
        }
        if (!result.ok) return "cannot make the delta of " + relative + ": " + result.error;
        const int64_t size = fs_port::FileSize(delta.path);
        if (size < 0 || !DeflatedSize(delta.path, &delta.storedBytes) ||
            !DeflatedSize(target, &delta.fullBytes)) {
            return "cannot read " + target;
        }
        delta.size = static_cast<uint64_t>(size);
        delta.bsdiff = made == DeltaFormat::Bsdiff;
        if (delta.storedBytes * 100 < delta.fullBytes * static_cast<uint64_t>(options.thresholdPercent)) {
            setOut->kept.push_back(delta);
        } else {
            (void)fs_port::RemoveFile(delta.path);
        }
    }
    return "";
}

std::string WriteDeltaPackages(const DeltaSet& set, const std::string& folder, std::string* patchListOut) {
    // Grouped by the packages' budget, in path order, as the full packages are.
    TreeIndex sized;
    std::map<std::string, const ReleaseDelta*> byFile;
    for (const ReleaseDelta& delta : set.kept) {
        sized[delta.relative] = {delta.size, delta.targetMd5};
        byFile[delta.relative] = &delta;
    }
    const ReleasePlan grouping = PlanRelease({}, sized);
    std::vector<DeltaMember> lines;
    for (size_t i = 0; i < grouping.packages.size(); ++i) {
        const std::string name = PackageName(i, grouping.packages.size(), kDeltaPackagePrefix);
        CBundle bundle;
        if (!bundle.Create(Join(folder, name).c_str(), kBundleTag)) return "cannot write " + name;
        for (const PackageEntry& entry : grouping.packages[i].members) {
            const ReleaseDelta* delta = byFile.at(entry.relative);
            if (!bundle.AddFile(delta->path.c_str(), ZipName(entry.relative).c_str())) {
                return "cannot add the delta of " + entry.relative + " to " + name + ": " + bundle.LastError();
            }
            lines.push_back({name, MemberPath(entry.relative), entry.relative, static_cast<int64_t>(delta->size),
                             delta->sourceMd5, delta->targetMd5});
        }
        if (!bundle.Release()) return "cannot write " + name + ": " + bundle.LastError();
    }
    *patchListOut = FormatPatchList(lines);
    return "";
}
