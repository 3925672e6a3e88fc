// What encoding and applying share: an xdelta3 stream whose allocations are
// counted and capped, whose old file is read through a SourceBlocks cache,
// and the translation of its failures into a DeltaResult.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>

#include "delta/source_blocks.h"
#include "delta/vcdiff_delta.h"
#include "delta/xdelta3_api.h"
#include "platform/byte_sink.h"

class VcdiffStream {
public:
    // memoryLimit caps what xdelta3 allocates for this stream (0: no cap).
    explicit VcdiffStream(size_t memoryLimit);
    ~VcdiffStream();
    VcdiffStream(const VcdiffStream&) = delete;
    VcdiffStream& operator=(const VcdiffStream&) = delete;

    // False (with Message()) when xdelta3 refuses the configuration.
    [[nodiscard]] bool Configure(int flags, usize_t windowBytes, xd3_smatch_cfg matcher = XD3_SMATCH_DEFAULT);
    // The old file of sourceSize bytes, read through blocks; maxWindow is how
    // much of it the encoder searches at a time.
    [[nodiscard]] bool SetSource(SourceBlocks* blocks, int64_t sourceSize, int64_t maxWindow);

    xd3_stream* Get() { return &m_stream; }

    enum class PumpEnd { NeedInput, Failed, WriteFailed, Stopped };
    // Runs step (xd3_decode_input or xd3_encode_input) until xdelta3 asks
    // for more input, handing every output to sink and adding it to
    // *written (then calling progress, when given). On Failed, *codeOut is
    // the step's code. stop (may be null) is read after every step.
    PumpEnd Pump(int (*step)(xd3_stream*), ByteSink* sink, int64_t* written, const std::atomic<bool>* stop,
                 const std::function<void(int64_t, int64_t)>* progress, int* codeOut);
    std::string Message() const;
    // The result for a failure code of xd3_decode_input/xd3_encode_input,
    // after the source's and the memory cap's own reasons.
    DeltaResult Failure(int code, const std::string& deltaName) const;

private:
    static void* Allocate(void* opaque, size_t items, usize_t size);
    static void Release(void* opaque, void* address);
    static int GetBlock(xd3_stream* stream, xd3_source* source, xoff_t blockNo);

    xd3_stream m_stream;
    xd3_source m_source;
    SourceBlocks* m_blocks = nullptr;
    size_t m_memoryLimit;
    size_t m_memoryInUse = 0;
    bool m_memoryExceeded = false;
};

// A failed result with its kind and text.
DeltaResult DeltaFailure(DeltaFault fault, const std::string& error);

// Opens a regular file for reading; null when it cannot (then *sizeOut is -1).
UniqueFile OpenReadable(const std::string& path, int64_t* sizeOut);

// The output of a run, written beside its final path (path + ".part") and
// renamed over it by Commit, so that a reader finds the old file or the whole
// new one. Dropped (closed and removed) unless committed.
class PartFile {
public:
    explicit PartFile(const std::string& path);
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    std::FILE* File() const { return m_file; }  // null when it could not be created
    [[nodiscard]] bool Commit();

private:
    std::string m_path;
    std::string m_partPath;
    std::FILE* m_file = nullptr;
};
