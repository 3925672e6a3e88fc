// patchkit delta and patchkit apply: binary deltas between two versions of a
// file, in the VCDIFF format that the xdelta3 tool reads and writes too, or
// the bsdiff format of the bsdiff and bspatch tools.
#include "delta/vcdiff_delta.h"
#include "platform/file_system.h"
#include "tools/patchkit/delta_formats.h"
#include "tools/patchkit/patchkit_verbs.h"

namespace {

// --level and --source-window into options; empty, or what is wrong.
std::string ReadEncodeOptions(const VerbCall& call, DeltaEncodeOptions* optionsOut) {
    std::uint64_t value = 0;
    if (const std::string* level = call.Option("--level")) {
        if (!ParseBounded(*level, kMinDeltaLevel, kMaxDeltaLevel, &value)) {
            return "--level takes " + std::to_string(kMinDeltaLevel) + " to " + std::to_string(kMaxDeltaLevel);
        }
        optionsOut->level = static_cast<int>(value);
    }
    if (const std::string* window = call.Option("--source-window")) {
        const std::uint64_t minMiB = kMinSourceWindowBytes >> 20;
        const std::uint64_t maxMiB = kMaxSourceWindowBytes >> 20;
        if (!ParseBounded(*window, minMiB, maxMiB, &value)) {
            return "--source-window takes " + std::to_string(minMiB) + " to " + std::to_string(maxMiB) + " (MiB)";
        }
        optionsOut->sourceWindowBytes = static_cast<int64_t>(value) << 20;
    }
    return std::string();
}

}  // namespace

int VerbDelta(const VerbCall& call) {
    DeltaEncodeOptions options;
    const std::string problem = ReadEncodeOptions(call, &options);
    if (!problem.empty()) return call.Usage(problem);
    DeltaFormat format = DeltaFormat::Vcdiff;
    const std::string* formatText = call.Option("--format");
    if (formatText && !ParseDeltaFormat(*formatText, &format)) {
        return call.Usage("--format takes vcdiff, bsdiff or best");
    }
    const std::string& newPath = call.operands[1];
    const std::string& deltaPath = call.operands[2];
    DeltaFormat made = format;
    const DeltaResult result = EncodeDeltaAs(format, call.operands[0], newPath, deltaPath, options, nullptr, &made);
    if (!result.ok) return call.Fail(result.error);
    const int64_t newSize = fs_port::FileSize(newPath);
    std::fprintf(call.out, "%s: %lld bytes (%s) for %lld bytes of %s\n", deltaPath.c_str(),
                 static_cast<long long>(result.written), DeltaFormatName(made), static_cast<long long>(newSize),
                 newPath.c_str());
    return kExitOk;
}

int VerbApply(const VerbCall& call) {
    const std::string& outPath = call.operands[2];
    const DeltaResult result = ApplyDeltaFile(call.operands[0], call.operands[1], outPath, nullptr, nullptr);
    if (!result.ok) return call.Fail(result.error);
    std::fprintf(call.out, "%s: %lld bytes\n", outPath.c_str(), static_cast<long long>(result.written));
    return kExitOk;
}
