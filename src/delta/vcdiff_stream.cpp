#include "delta/vcdiff_stream.h"

#include <cstring>
#include <new>

#include "platform/file_system.h"

namespace {

// Every allocation carries its size in front, so that Release can count it
// back; the prefix keeps the block aligned for any type.
constexpr size_t kSizePrefix = alignof(std::max_align_t) > sizeof(size_t) ? alignof(std::max_align_t)
                                                                           : sizeof(size_t);

// Returned by GetBlock when SourceBlocks failed or was stopped; Failure
// then reads the reason from SourceBlocks.
constexpr int kSourceBlockFailed = -17800;

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

}  // namespace

DeltaResult DeltaFailure(DeltaFault fault, const std::string& error) {
    DeltaResult result;
    result.fault = fault;
    result.error = error;
    return result;
}

VcdiffStream::VcdiffStream(size_t memoryLimit) : m_memoryLimit(memoryLimit) {
    std::memset(&m_stream, 0, sizeof m_stream);
    std::memset(&m_source, 0, sizeof m_source);
}

VcdiffStream::~VcdiffStream() { xd3_free_stream(&m_stream); }

bool VcdiffStream::Configure(int flags, usize_t windowBytes, xd3_smatch_cfg matcher) {
    xd3_config config;
    xd3_init_config(&config, flags);
    config.winsize = windowBytes;
    config.smatch_cfg = matcher;
    config.alloc = &VcdiffStream::Allocate;
    config.freef = &VcdiffStream::Release;
    config.opaque = this;
    config.getblk = &VcdiffStream::GetBlock;
    return xd3_config_stream(&m_stream, &config) == 0;
}

bool VcdiffStream::SetSource(SourceBlocks* blocks, int64_t sourceSize, int64_t maxWindow) {
    m_blocks = blocks;
    m_source.blksize = blocks->BlockSize();
    m_source.name = "source";
    m_source.ioh = this;
    m_source.max_winsize = static_cast<xoff_t>(maxWindow);
    return xd3_set_source_and_size(&m_stream, &m_source, static_cast<xoff_t>(sourceSize)) == 0;
}

VcdiffStream::PumpEnd VcdiffStream::Pump(int (*step)(xd3_stream*), ByteSink* sink, int64_t* written,
                                         const std::atomic<bool>* stop,
                                         const std::function<void(int64_t, int64_t)>* progress, int* codeOut) {
    for (;;) {
        const int code = step(&m_stream);
        switch (code) {
        case XD3_INPUT:
            return PumpEnd::NeedInput;
        case XD3_OUTPUT:
            if (!sink->Write(reinterpret_cast<const char*>(m_stream.next_out), m_stream.avail_out)) {
                return PumpEnd::WriteFailed;
            }
            *written += m_stream.avail_out;
            xd3_consume_output(&m_stream);
            if (progress && *progress) (*progress)(*written, -1);
            break;
        case XD3_GOTHEADER:
        case XD3_WINSTART:
        case XD3_WINFINISH:
            break;
        default:
            *codeOut = code;
            return PumpEnd::Failed;
        }
        if (stop && stop->load()) return PumpEnd::Stopped;
    }
}

std::string VcdiffStream::Message() const {
    return m_stream.msg ? std::string(m_stream.msg) : std::string("unknown xdelta3 failure");
}

void* VcdiffStream::Allocate(void* opaque, size_t items, usize_t size) {
    auto* self = static_cast<VcdiffStream*>(opaque);
    if (size != 0 && items > (SIZE_MAX - kSizePrefix) / size) return nullptr;
    const size_t bytes = items * size;
    if (self->m_memoryLimit != 0 &&
        (bytes > self->m_memoryLimit || self->m_memoryInUse > self->m_memoryLimit - bytes)) {
        self->m_memoryExceeded = true;
        return nullptr;
    }
    auto* block = static_cast<unsigned char*>(std::malloc(bytes + kSizePrefix));
    if (!block) return nullptr;
    std::memcpy(block, &bytes, sizeof bytes);
    self->m_memoryInUse += bytes;
    return block + kSizePrefix;
}

void VcdiffStream::Release(void* opaque, void* address) {
    if (!address) return;
    auto* self = static_cast<VcdiffStream*>(opaque);
    unsigned char* block = static_cast<unsigned char*>(address) - kSizePrefix;
    size_t bytes = 0;
    std::memcpy(&bytes, block, sizeof bytes);
    self->m_memoryInUse -= bytes;
    std::free(block);
}

int VcdiffStream::GetBlock(xd3_stream* /*stream*/, xd3_source* source, xoff_t blockNo) {
    auto* self = static_cast<VcdiffStream*>(source->ioh);
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    if (!self->m_blocks->Get(blockNo, &data, &size)) return kSourceBlockFailed;
    source->curblkno = blockNo;
    source->curblk = data;
    source->onblk = size;
    return 0;
}

DeltaResult VcdiffStream::Failure(int code, const std::string& deltaName) const {
    if (m_blocks && m_blocks->Stopped()) return DeltaFailure(DeltaFault::Stopped, "stopped");
    if (m_blocks && m_blocks->ReadFailed()) {
        return DeltaFailure(DeltaFault::SourceUnreadable, "cannot read the old file");
    }
    const std::string window = "window " + std::to_string(m_stream.current_window) + " of " + deltaName;
    const std::string damaged = "damaged delta " + deltaName + " (window " +
                                std::to_string(m_stream.current_window) + "): ";
    if (m_memoryExceeded) {
        return DeltaFailure(DeltaFault::Damaged, damaged + "it asks for more than " +
                                                     std::to_string(m_memoryLimit >> 20) + " MiB of working memory");
    }
    const std::string message = Message();
    if (Contains(message, "not a VCDIFF") || Contains(message, "version > 0")) {
        return DeltaFailure(DeltaFault::NotDelta, deltaName + " is not a VCDIFF delta");
    }
    if (Contains(message, "secondary compressor") || Contains(message, "not implemented") ||
        Contains(message, "CODETABLE") || Contains(message, "unsupported")) {
        return DeltaFailure(DeltaFault::Unsupported,
                            deltaName + " uses a VCDIFF feature this program does not read (" + message +
                                "); make it with 'patchkit delta' or 'xdelta3 -e -S none'");
    }
    if (Contains(message, "checksum mismatch")) {
        return DeltaFailure(DeltaFault::WrongSource, "checksum mismatch in " + window +
                                                         ": the old file is not the one the delta "
                                                         "was made from, or the delta is damaged");
    }
    if (Contains(message, "source file too short") || Contains(message, "source input required")) {
        return DeltaFailure(DeltaFault::WrongSource,
                            "the old file is shorter than " + window + " needs: it is not the one the "
                            "delta was made from");
    }
    return DeltaFailure(DeltaFault::Damaged, damaged + message + " (code " + std::to_string(code) + ")");
}

UniqueFile OpenReadable(const std::string& path, int64_t* sizeOut) {
    *sizeOut = fs_port::FileSize(path);
    if (*sizeOut < 0) return nullptr;
    UniqueFile file(fs_port::OpenFile(path, "rb"));
    if (!file) *sizeOut = -1;
    return file;
}

PartFile::PartFile(const std::string& path)
    : m_path(path), m_partPath(path + ".part"), m_file(fs_port::OpenFile(m_partPath, "wb")) {}

PartFile::~PartFile() {
    if (!m_file) return;
    std::fclose(m_file);
    fs_port::RemoveFile(m_partPath);
}

bool PartFile::Commit() {
    std::FILE* file = m_file;
    m_file = nullptr;
    return file && CommitBesideFile(file, m_partPath, m_path);
}
