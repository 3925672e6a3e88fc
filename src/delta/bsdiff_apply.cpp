// Applying a bsdiff delta. The BSDIFF40 format: a 32-byte header (the magic,
// the compressed sizes of the control and diff streams, the new file's size)
// and three bzip2 streams. The control stream is a list of triples (x, y, z):
// add x bytes of the diff stream to x bytes of the old file, then copy y
// bytes of the extra stream, then move the old file's position by z. The
// three streams are decoded side by side, each from its own offset of the
// delta, and the old file is read through a small block cache, so memory
// does not grow with either file.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <bzlib.h>

#include "delta/bsdiff_delta.h"
#include "delta/vcdiff_stream.h"
#include "platform/file_system.h"

namespace {

constexpr int64_t kHeaderBytes = 32;
// The old file's cache: 16 blocks of 256 KiB; a delta reads it forwards but
// for its jumps.
constexpr uint32_t kApplyBlockBytes = 256u * 1024u;
constexpr size_t kApplyCachedBlocks = 16;
// What each stream reads of the delta at a time, and what is added or
// copied to the output at a time.
constexpr size_t kInputBytes = 64u * 1024u;
constexpr size_t kChunkBytes = 64u * 1024u;
// A control triple normally writes bytes; a delta of triples that write
// nothing could keep the decoder busy without end. These many are allowed
// beyond one a byte of the new file.
constexpr int64_t kMaxIdleControls = 4096;

// A BSDIFF integer: eight bytes, least significant first, the top bit of
// the last one the sign.
int64_t ReadOffset(const uint8_t* bytes) {
    uint64_t magnitude = bytes[7] & 0x7Fu;
    for (int i = 6; i >= 0; --i) magnitude = (magnitude << 8) | bytes[i];
    const auto value = static_cast<int64_t>(magnitude);
    return (bytes[7] & 0x80u) ? -value : value;
}

// bzip2's allocations, counted against kBsdiffApplyMemoryLimit.
struct MemoryBudget {
    size_t inUse = 0;
    bool exceeded = false;

    static void* Allocate(void* opaque, int items, int size) {
        auto* self = static_cast<MemoryBudget*>(opaque);
        const size_t bytes = static_cast<size_t>(items) * static_cast<size_t>(size);
        if (bytes > kBsdiffApplyMemoryLimit - self->inUse) {
            self->exceeded = true;
            return nullptr;
        }
        auto* block = static_cast<unsigned char*>(std::malloc(bytes + sizeof(std::max_align_t)));
        if (!block) return nullptr;
        std::memcpy(block, &bytes, sizeof bytes);
        self->inUse += bytes;
        return block + sizeof(std::max_align_t);
    }
    static void Release(void* opaque, void* address) {
        if (!address) return;
        unsigned char* block = static_cast<unsigned char*>(address) - sizeof(std::max_align_t);
        size_t bytes = 0;
        std::memcpy(&bytes, block, sizeof bytes);
        static_cast<MemoryBudget*>(opaque)->inUse -= bytes;
        std::free(block);
    }
};

enum class StreamRead { Ok, CutShort, Damaged, Unreadable, OutOfMemory };

// One bzip2 stream of the delta, in [start, end), decoded as it is asked.
class BzipStream {
public:
    BzipStream(std::FILE* file, int64_t start, int64_t end, MemoryBudget* budget)
        : m_file(file), m_next(start), m_end(end), m_input(new uint8_t[kInputBytes]) {
        m_stream.bzalloc = &MemoryBudget::Allocate;
        m_stream.bzfree = &MemoryBudget::Release;
        m_stream.opaque = budget;
        m_started = BZ2_bzDecompressInit(&m_stream, 0, 0) == BZ_OK;
    }
    ~BzipStream() {
        if (m_started) BZ2_bzDecompressEnd(&m_stream);
    }
    BzipStream(const BzipStream&) = delete;
    BzipStream& operator=(const BzipStream&) = delete;

    // Exactly bytes bytes of the stream into out.
    [[nodiscard]] StreamRead Read(uint8_t* out, size_t bytes) {
        if (!m_started) return StreamRead::OutOfMemory;
        m_stream.next_out = reinterpret_cast<char*>(out);
        m_stream.avail_out = static_cast<unsigned>(bytes);
        while (m_stream.avail_out > 0) {
            if (m_ended) return StreamRead::CutShort;
            bool inputLeft = m_stream.avail_in > 0;
            if (!inputLeft && !Refill(&inputLeft)) return StreamRead::Unreadable;
            const unsigned wanted = m_stream.avail_out;
            const int code = BZ2_bzDecompress(&m_stream);
            if (code == BZ_STREAM_END) {
                m_ended = true;
            } else if (code == BZ_MEM_ERROR) {
                return StreamRead::OutOfMemory;
            } else if (code != BZ_OK) {
                return StreamRead::Damaged;
            } else if (!inputLeft && m_stream.avail_out == wanted) {
                return StreamRead::CutShort;
            }
        }
        return StreamRead::Ok;
    }

private:
    // False when the delta cannot be read; *gotOut tells whether any of the
    // stream was left to read.
    bool Refill(bool* gotOut) {
        *gotOut = false;
        if (m_next >= m_end) return true;
        const size_t wanted = static_cast<size_t>(std::min<int64_t>(m_end - m_next, kInputBytes));
        if (!fs_port::SeekFile(m_file, m_next, SEEK_SET)) return false;
        const size_t got = std::fread(m_input.get(), 1, wanted, m_file);
        if (got == 0) return !std::ferror(m_file);
        m_next += static_cast<int64_t>(got);
        m_stream.next_in = reinterpret_cast<char*>(m_input.get());
        m_stream.avail_in = static_cast<unsigned>(got);
        *gotOut = true;
        return true;
    }

    std::FILE* m_file;
    int64_t m_next;
    int64_t m_end;
    std::unique_ptr<uint8_t[]> m_input;
    bz_stream m_stream{};
    bool m_started = false;
    bool m_ended = false;
};

struct Header {
    int64_t deltaSize = 0;
    int64_t controlBytes = 0;
    int64_t diffBytes = 0;
    int64_t newSize = 0;
};

class BsdiffRun {
public:
    BsdiffRun(std::FILE* source, int64_t sourceSize, std::FILE* delta, const Header& header,
              const std::string& deltaName, ByteSink* sink, const std::atomic<bool>* stop,
              const std::function<void(int64_t, int64_t)>& progress)
        : m_blocks(source, sourceSize, kApplyBlockBytes, kApplyCachedBlocks, stop),
          m_sourceSize(sourceSize),
          m_newSize(header.newSize),
          m_control(delta, kHeaderBytes, kHeaderBytes + header.controlBytes, &m_budget),
          m_diff(delta, kHeaderBytes + header.controlBytes,
                 kHeaderBytes + header.controlBytes + header.diffBytes, &m_budget),
          m_extra(delta, kHeaderBytes + header.controlBytes + header.diffBytes,
                  header.deltaSize, &m_budget),
          m_deltaName(deltaName), m_sink(sink), m_stop(stop), m_progress(progress),
          m_chunk(new uint8_t[kChunkBytes]) {}

    DeltaResult Run();

private:
    DeltaResult Damaged(const std::string& why) const {
        return DeltaFailure(DeltaFault::Damaged, "damaged delta " + m_deltaName + ": " + why);
    }
    DeltaResult StreamFailure(StreamRead read, const char* stream) const;
    DeltaResult Step(int64_t add, int64_t copy, int64_t seek);
    DeltaResult AddOld(int64_t bytes);
    DeltaResult CopyExtra(int64_t bytes);
    bool AddOldChunk(int64_t at, uint8_t* bytes, size_t count);
    DeltaResult Emit(size_t count);

    MemoryBudget m_budget;
    SourceBlocks m_blocks;
    int64_t m_sourceSize;
    int64_t m_newSize;
    BzipStream m_control, m_diff, m_extra;
    std::string m_deltaName;
    ByteSink* m_sink;
    const std::atomic<bool>* m_stop;
    const std::function<void(int64_t, int64_t)>& m_progress;
    std::unique_ptr<uint8_t[]> m_chunk;
    int64_t m_written = 0;
    int64_t m_oldPos = 0;
};

DeltaResult BsdiffRun::StreamFailure(StreamRead read, const char* stream) const {
    switch (read) {
    case StreamRead::Unreadable:
        return DeltaFailure(DeltaFault::DeltaUnreadable, "cannot read the delta " + m_deltaName);
    case StreamRead::OutOfMemory:
        return Damaged(std::string("its ") + stream + " stream asks for more than " +
                       std::to_string(kBsdiffApplyMemoryLimit >> 20) + " MiB of working memory");
    case StreamRead::CutShort:
        return Damaged(std::string("its ") + stream + " stream is cut short");
    default:
        return Damaged(std::string("its ") + stream + " stream is not valid bzip2");
    }
}

DeltaResult BsdiffRun::Run() {
    int64_t controls = 0;
    while (m_written < m_newSize) {
        uint8_t triple[24];
        const StreamRead read = m_control.Read(triple, sizeof triple);
        if (read != StreamRead::Ok) return StreamFailure(read, "control");
        if (++controls > m_newSize + kMaxIdleControls) return Damaged("its control stream does not end");
        DeltaResult step = Step(ReadOffset(triple), ReadOffset(triple + 8), ReadOffset(triple + 16));
        if (!step.ok) return step;
    }
    return DeltaResult{true, std::string(), m_written, DeltaFault::None};
}

DeltaResult BsdiffRun::Step(int64_t add, int64_t copy, int64_t seek) {
    if (add < 0 || copy < 0 || add > m_newSize - m_written || copy > m_newSize - m_written - add) {
        return Damaged("it writes past the new file's " + std::to_string(m_newSize) + " bytes");
    }
    if (add > 0 && (m_oldPos < 0 || m_oldPos > m_sourceSize - add)) {
        return Damaged("it reads outside the old file's " + std::to_string(m_sourceSize) + " bytes");
    }
    DeltaResult done = AddOld(add);
    if (done.ok) done = CopyExtra(copy);
    if (!done.ok) return done;
    // Moves beyond any file's size are refused before the sum can overflow:
    // the position stays within kFar, so the sum stays within twice that.
    constexpr int64_t kFar = int64_t{1} << 61;
    if (seek > kFar || seek < -kFar || m_oldPos + seek > kFar || m_oldPos + seek < -kFar) {
        return Damaged("it moves outside the old file");
    }
    m_oldPos += seek;
    return done;
}

DeltaResult BsdiffRun::AddOld(int64_t bytes) {
    while (bytes > 0) {
        const size_t count = static_cast<size_t>(std::min<int64_t>(bytes, kChunkBytes));
        const StreamRead read = m_diff.Read(m_chunk.get(), count);
        if (read != StreamRead::Ok) return StreamFailure(read, "diff");
        if (!AddOldChunk(m_oldPos, m_chunk.get(), count)) {
            if (m_blocks.Stopped()) return DeltaFailure(DeltaFault::Stopped, "stopped");
            return DeltaFailure(DeltaFault::SourceUnreadable, "cannot read the old file");
        }
        m_oldPos += static_cast<int64_t>(count);
        bytes -= static_cast<int64_t>(count);
        DeltaResult emitted = Emit(count);
        if (!emitted.ok) return emitted;
    }
    return DeltaResult{true, std::string(), m_written, DeltaFault::None};
}

// Adds the old file's bytes from at on, block by block from the cache.
bool BsdiffRun::AddOldChunk(int64_t at, uint8_t* bytes, size_t count) {
    const uint32_t blockSize = m_blocks.BlockSize();
    while (count > 0) {
        const uint8_t* block = nullptr;
        uint32_t size = 0;
        const auto offset = static_cast<uint32_t>(static_cast<uint64_t>(at) % blockSize);
        const uint64_t blockNo = static_cast<uint64_t>(at) / blockSize;
        if (!m_blocks.Get(blockNo, &block, &size) || size <= offset) return false;
        const size_t take = std::min<size_t>(count, size - offset);
        for (size_t i = 0; i < take; ++i) bytes[i] = static_cast<uint8_t>(bytes[i] + block[offset + i]);
        bytes += take;
        at += static_cast<int64_t>(take);
        count -= take;
    }
    return true;
}

DeltaResult BsdiffRun::CopyExtra(int64_t bytes) {
    while (bytes > 0) {
        const size_t count = static_cast<size_t>(std::min<int64_t>(bytes, kChunkBytes));
        const StreamRead read = m_extra.Read(m_chunk.get(), count);
        if (read != StreamRead::Ok) return StreamFailure(read, "extra");
        bytes -= static_cast<int64_t>(count);
        DeltaResult emitted = Emit(count);
        if (!emitted.ok) return emitted;
    }
    return DeltaResult{true, std::string(), m_written, DeltaFault::None};
}

DeltaResult BsdiffRun::Emit(size_t count) {
    if (!m_sink->Write(reinterpret_cast<const char*>(m_chunk.get()), count)) {
        return DeltaFailure(DeltaFault::WriteFailed, "cannot write the new file (disk full?)");
    }
    m_written += static_cast<int64_t>(count);
    if (m_progress) m_progress(m_written, -1);
    if (m_stop && m_stop->load()) return DeltaFailure(DeltaFault::Stopped, "stopped");
    return DeltaResult{true, std::string(), m_written, DeltaFault::None};
}

// The header's sizes, when they fit the delta's; else why not.
std::string ReadHeader(std::FILE* delta, int64_t deltaSize, Header* headerOut) {
    uint8_t bytes[kHeaderBytes];
    if (deltaSize < kHeaderBytes || !fs_port::SeekFile(delta, 0, SEEK_SET) ||
        std::fread(bytes, 1, sizeof bytes, delta) != sizeof bytes) {
        return "its header is cut short";
    }
    if (std::memcmp(bytes, kBsdiffMagic, kBsdiffMagicBytes) != 0) return "it does not start with BSDIFF40";
    headerOut->deltaSize = deltaSize;
    headerOut->controlBytes = ReadOffset(bytes + 8);
    headerOut->diffBytes = ReadOffset(bytes + 16);
    headerOut->newSize = ReadOffset(bytes + 24);
    const int64_t streams = deltaSize - kHeaderBytes;
    if (headerOut->controlBytes < 0 || headerOut->diffBytes < 0 || headerOut->newSize < 0 ||
        headerOut->controlBytes > streams || headerOut->diffBytes > streams - headerOut->controlBytes) {
        return "its header gives sizes that do not fit the delta";
    }
    return std::string();
}

}  // namespace

DeltaResult ApplyBsdiffStreams(std::FILE* source, int64_t sourceSize, std::FILE* delta, int64_t deltaSize,
                               const std::string& deltaName, ByteSink* sink, const std::atomic<bool>* stop,
                               const std::function<void(int64_t done, int64_t total)>& progress) {
    Header header;
    const std::string problem = ReadHeader(delta, deltaSize, &header);
    if (!problem.empty()) {
        return DeltaFailure(DeltaFault::Damaged, "damaged delta " + deltaName + ": " + problem);
    }
    if (stop && stop->load()) return DeltaFailure(DeltaFault::Stopped, "stopped");
    auto run =
        std::make_unique<BsdiffRun>(source, sourceSize, delta, header, deltaName, sink, stop, progress);
    return run->Run();
}
