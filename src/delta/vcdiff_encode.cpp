// Making a delta: the new file is read in windows, the old file through a
// block cache as large as the source window the operator chose.
#include <algorithm>
#include <vector>

#include "delta/vcdiff_delta.h"
#include "delta/vcdiff_stream.h"
#include "platform/file_system.h"

namespace {

// The encoder's target window: xdelta3's own default, which every decoder
// (ours caps its memory) takes.
constexpr usize_t kEncodeWindowBytes = XD3_DEFAULT_WINSIZE;
constexpr uint32_t kEncodeBlockBytes = 1u << 20;

// xdelta3's string matchers by compression level, as its command-line tool
// picks them.
xd3_smatch_cfg MatcherForLevel(int level) {
    if (level <= 1) return XD3_SMATCH_FASTEST;
    if (level == 2) return XD3_SMATCH_FASTER;
    if (level <= 5) return XD3_SMATCH_FAST;
    if (level == 6) return XD3_SMATCH_DEFAULT;
    return XD3_SMATCH_SLOW;
}

struct EncodeRun {
    VcdiffStream* stream;
    ByteSink* sink;
    int64_t written = 0;
};

DeltaResult EncodeFailure(VcdiffStream* stream, int code) {
    DeltaResult failure = stream->Failure(code, "the delta");
    if (failure.fault == DeltaFault::SourceUnreadable || failure.fault == DeltaFault::Stopped) return failure;
    return DeltaFailure(DeltaFault::WriteFailed, "cannot encode: " + stream->Message());
}

// Encodes what xdelta3 holds of the new file until it asks for more input.
DeltaResult EncodeAvailable(EncodeRun* run) {
    int code = 0;
    switch (run->stream->Pump(xd3_encode_input, run->sink, &run->written, nullptr, nullptr, &code)) {
    case VcdiffStream::PumpEnd::NeedInput:
        return DeltaResult{true, std::string(), run->written, DeltaFault::None};
    case VcdiffStream::PumpEnd::WriteFailed:
        return DeltaFailure(DeltaFault::WriteFailed, "cannot write the delta (disk full?)");
    case VcdiffStream::PumpEnd::Stopped:
    case VcdiffStream::PumpEnd::Failed:
        break;
    }
    return EncodeFailure(run->stream, code);
}

DeltaResult EncodeTarget(EncodeRun* run, std::FILE* target, const std::string& targetName) {
    std::vector<uint8_t> input(kEncodeWindowBytes);
    xd3_stream* stream = run->stream->Get();
    for (;;) {
        const size_t got = std::fread(input.data(), 1, input.size(), target);
        if (got < input.size()) {
            if (std::ferror(target)) {
                return DeltaFailure(DeltaFault::TargetUnreadable, "cannot read the new file " + targetName);
            }
            xd3_set_flags(stream, stream->flags | XD3_FLUSH);
        }
        xd3_avail_input(stream, input.data(), static_cast<usize_t>(got));
        DeltaResult step = EncodeAvailable(run);
        if (!step.ok || got < input.size()) return step;
    }
}

}  // namespace

DeltaResult EncodeDeltaFile(const std::string& sourcePath, const std::string& targetPath,
                            const std::string& deltaPath, const DeltaEncodeOptions& options) {
    int64_t sourceSize = -1;
    int64_t targetSize = -1;
    UniqueFile source = OpenReadable(sourcePath, &sourceSize);
    if (!source) {
        return DeltaFailure(DeltaFault::SourceUnreadable, "cannot read the old file " + fs_port::NativePath(sourcePath));
    }
    UniqueFile target = OpenReadable(targetPath, &targetSize);
    if (!target) {
        return DeltaFailure(DeltaFault::TargetUnreadable, "cannot read the new file " + fs_port::NativePath(targetPath));
    }
    PartFile out(deltaPath);
    if (!out.File()) {
        return DeltaFailure(DeltaFault::WriteFailed, "cannot create " + fs_port::NativePath(deltaPath) + ".part");
    }
    const int64_t window = std::clamp(options.sourceWindowBytes, kMinSourceWindowBytes, kMaxSourceWindowBytes);
    const int level = std::clamp(options.level, kMinDeltaLevel, kMaxDeltaLevel);
    SourceBlocks blocks(source.get(), sourceSize, kEncodeBlockBytes, static_cast<size_t>(window / kEncodeBlockBytes),
                        nullptr);
    VcdiffStream stream(0);
    bool started = stream.Configure(XD3_ADLER32, kEncodeWindowBytes, MatcherForLevel(level));
    // An empty old file offers nothing to copy: the delta only compresses.
    if (started && sourceSize > 0) started = stream.SetSource(&blocks, sourceSize, window);
    if (!started) return DeltaFailure(DeltaFault::WriteFailed, "cannot start xdelta3: " + stream.Message());
    FileSink sink(out.File());
    EncodeRun run{&stream, &sink};
    DeltaResult result = EncodeTarget(&run, target.get(), fs_port::NativePath(targetPath));
    if (result.ok && xd3_close_stream(stream.Get()) != 0) result = EncodeFailure(&stream, 0);
    if (!result.ok) return result;
    if (!out.Commit()) {
        return DeltaFailure(DeltaFault::WriteFailed, "cannot write " + fs_port::NativePath(deltaPath));
    }
    return result;
}
