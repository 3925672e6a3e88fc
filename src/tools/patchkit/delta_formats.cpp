#include "tools/patchkit/delta_formats.h"

#include "delta/bsdiff_delta.h"
#include "platform/file_system.h"

namespace {

constexpr char kBsdiffSideSuffix[] = ".bsdiff";

bool FileCost(const std::string& path, uint64_t* costOut) {
    const int64_t size = fs_port::FileSize(path);
    if (size < 0) return false;
    *costOut = static_cast<uint64_t>(size);
    return true;
}

bool WithinBsdiffLimit(const std::string& oldPath, const std::string& newPath) {
    return fs_port::FileSize(oldPath) <= kBsdiffMaxFileBytes &&
           fs_port::FileSize(newPath) <= kBsdiffMaxFileBytes;
}

// The VCDIFF delta is at deltaPath; the bsdiff one replaces it when it costs less.
DeltaResult KeepSmaller(const DeltaResult& vcdiff, const std::string& oldPath, const std::string& newPath,
                        const std::string& deltaPath, const DeltaCost& cost, DeltaFormat* madeOut) {
    *madeOut = DeltaFormat::Vcdiff;
    if (!WithinBsdiffLimit(oldPath, newPath)) return vcdiff;
    const std::string side = deltaPath + kBsdiffSideSuffix;
    const DeltaResult bsdiff = EncodeBsdiffFile(oldPath, newPath, side);
    uint64_t vcdiffCost = 0, bsdiffCost = 0;
    const DeltaCost& measure = cost ? cost : DeltaCost(FileCost);
    if (bsdiff.ok && measure(deltaPath, &vcdiffCost) && measure(side, &bsdiffCost) &&
        bsdiffCost < vcdiffCost && fs_port::RenamePath(side, deltaPath, true)) {
        *madeOut = DeltaFormat::Bsdiff;
        return bsdiff;
    }
    (void)fs_port::RemoveFile(side);
    return vcdiff;
}

}  // namespace

bool ParseDeltaFormat(const std::string& text, DeltaFormat* formatOut) {
    for (const DeltaFormat format : {DeltaFormat::Vcdiff, DeltaFormat::Bsdiff, DeltaFormat::Best}) {
        if (text == DeltaFormatName(format)) {
            *formatOut = format;
            return true;
        }
    }
    return false;
}

const char* DeltaFormatName(DeltaFormat format) {
    switch (format) {
    case DeltaFormat::Vcdiff:
        return "vcdiff";
    case DeltaFormat::Bsdiff:
        return "bsdiff";
    case DeltaFormat::Best:
        break;
    }
    return "best";
}

DeltaResult EncodeDeltaAs(DeltaFormat format, const std::string& oldPath, const std::string& newPath,
                          const std::string& deltaPath, const DeltaEncodeOptions& options, const DeltaCost& cost,
                          DeltaFormat* madeOut) {
    DeltaFormat made = format;
    DeltaResult result;
    if (format == DeltaFormat::Bsdiff) {
        result = EncodeBsdiffFile(oldPath, newPath, deltaPath);
    } else {
        result = EncodeDeltaFile(oldPath, newPath, deltaPath, options);
        if (result.ok && format == DeltaFormat::Best) {
            result = KeepSmaller(result, oldPath, newPath, deltaPath, cost, &made);
        }
    }
    if (madeOut) *madeOut = made;
    return result;
}
