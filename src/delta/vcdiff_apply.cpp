// Applying a delta: the delta is read in chunks, the old file through a
// small block cache, the new file streamed to a part file beside its place.
#include <memory>

#include <cstring>

#include "delta/bsdiff_delta.h"
#include "delta/vcdiff_delta.h"
#include "delta/vcdiff_stream.h"
#include "platform/file_system.h"

namespace {

// The old file's cache: 32 blocks of 256 KiB.
constexpr uint32_t kApplyBlockBytes = 256u * 1024u;
constexpr size_t kApplyCachedBlocks = 32;
// How much of the delta is handed to xdelta3 at a time. A window whose
// sections span chunks is copied together by xdelta3 (counted below).
constexpr size_t kApplyInputBytes = 2u * 1024u * 1024u;
// xdelta3 decodes no window above 16 MiB; one window's target buffer and its
// copied sections stay well below this cap. A delta that asks for more is
// broken or hostile, and must not exhaust a 32-bit launcher's memory.
constexpr size_t kApplyMemoryLimit = 48u * 1024u * 1024u;

struct ApplyRun {
    VcdiffStream* stream;
    ByteSink* sink;
    const std::atomic<bool>* stop;
    const std::function<void(int64_t, int64_t)>* progress;
    std::string deltaName;
    int64_t written = 0;
};

// Decodes what xdelta3 holds of the delta until it asks for more input.
DeltaResult DecodeAvailable(ApplyRun* run) {
    int code = 0;
    switch (run->stream->Pump(xd3_decode_input, run->sink, &run->written, run->stop, run->progress, &code)) {
    case VcdiffStream::PumpEnd::NeedInput:
        return DeltaResult{true, std::string(), run->written, DeltaFault::None};
    case VcdiffStream::PumpEnd::WriteFailed:
        return DeltaFailure(DeltaFault::WriteFailed, "cannot write the new file (disk full?)");
    case VcdiffStream::PumpEnd::Stopped:
        return DeltaFailure(DeltaFault::Stopped, "stopped");
    case VcdiffStream::PumpEnd::Failed:
        break;
    }
    return run->stream->Failure(code, run->deltaName);
}

// Feeds the whole delta through the decoder, then checks that it ended
// where a window ends: VCDIFF has no end marker, so a delta cut between two
// windows reads as a shorter file, which the caller's MD5 check catches.
DeltaResult DecodeDelta(ApplyRun* run, std::FILE* delta) {
    // Not cleared: every byte handed on is read first.
    const std::unique_ptr<uint8_t[]> input(new uint8_t[kApplyInputBytes]);
    xd3_stream* stream = run->stream->Get();
    for (;;) {
        const size_t got = std::fread(input.get(), 1, kApplyInputBytes, delta);
        if (got < kApplyInputBytes && std::ferror(delta)) {
            return DeltaFailure(DeltaFault::DeltaUnreadable, "cannot read the delta " + run->deltaName);
        }
        if (got == 0) break;
        xd3_avail_input(stream, input.get(), static_cast<usize_t>(got));
        DeltaResult step = DecodeAvailable(run);
        if (!step.ok) return step;
    }
    if (stream->dec_state == DEC_VCHEAD) {
        return DeltaFailure(DeltaFault::NotDelta, run->deltaName + " is not a VCDIFF delta (too short)");
    }
    if (stream->dec_state != DEC_WININD || xd3_close_stream(stream) != 0) {
        return DeltaFailure(DeltaFault::Damaged, "damaged delta " + run->deltaName + " (window " +
                                                     std::to_string(stream->current_window) + "): cut short");
    }
    return DeltaResult{true, std::string(), run->written, DeltaFault::None};
}

}  // namespace

DeltaResult ApplyDeltaStreams(std::FILE* source, int64_t sourceSize, std::FILE* delta,
                              const std::string& deltaName, ByteSink* sink, const std::atomic<bool>* stop,
                              const std::function<void(int64_t done, int64_t total)>& progress) {
    SourceBlocks blocks(source, sourceSize, kApplyBlockBytes, kApplyCachedBlocks, stop);
    VcdiffStream stream(kApplyMemoryLimit);
    if (!stream.Configure(0, XD3_DEFAULT_WINSIZE) || !stream.SetSource(&blocks, sourceSize, sourceSize)) {
        return DeltaFailure(DeltaFault::Damaged, "cannot start xdelta3: " + stream.Message());
    }
    ApplyRun run{&stream, sink, stop, &progress, deltaName};
    return DecodeDelta(&run, delta);
}

namespace {

// A delta is BSDIFF40 when it starts so, and VCDIFF otherwise (whose decoder
// names anything else as no delta at all).
bool IsBsdiffDelta(std::FILE* delta) {
    char magic[kBsdiffMagicBytes];
    const bool bsdiff = std::fread(magic, 1, sizeof magic, delta) == sizeof magic &&
                        std::memcmp(magic, kBsdiffMagic, sizeof magic) == 0;
    std::rewind(delta);
    return bsdiff;
}

}  // namespace

DeltaResult ApplyDeltaFile(const std::string& sourcePath, const std::string& deltaPath,
                           const std::string& outPath, const std::atomic<bool>* stop,
                           const std::function<void(int64_t done, int64_t total)>& progress) {
    int64_t sourceSize = -1;
    int64_t deltaSize = -1;
    UniqueFile source = OpenReadable(sourcePath, &sourceSize);
    if (!source) {
        return DeltaFailure(DeltaFault::SourceUnreadable, "cannot read the old file " + fs_port::NativePath(sourcePath));
    }
    UniqueFile delta = OpenReadable(deltaPath, &deltaSize);
    if (!delta) {
        return DeltaFailure(DeltaFault::DeltaUnreadable, "cannot read the delta " + fs_port::NativePath(deltaPath));
    }
    PartFile out(outPath);
    if (!out.File()) {
        return DeltaFailure(DeltaFault::WriteFailed, "cannot create " + fs_port::NativePath(outPath) + ".part");
    }
    FileSink sink(out.File());
    const std::string deltaName = fs_port::NativePath(deltaPath);
    DeltaResult result =
        IsBsdiffDelta(delta.get())
            ? ApplyBsdiffStreams(source.get(), sourceSize, delta.get(), deltaSize, deltaName, &sink, stop, progress)
            : ApplyDeltaStreams(source.get(), sourceSize, delta.get(), deltaName, &sink, stop, progress);
    if (!result.ok) return result;
    // The old file is closed first: outPath may name it, and Windows renames
    // nothing over an open file.
    source.reset();
    delta.reset();
    if (!out.Commit()) {
        return DeltaFailure(DeltaFault::WriteFailed, "cannot write " + fs_port::NativePath(outPath));
    }
    return result;
}
