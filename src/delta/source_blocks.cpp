#include "delta/source_blocks.h"

#include "platform/file_system.h"

SourceBlocks::SourceBlocks(std::FILE* file, int64_t fileSize, uint32_t blockSize, size_t maxBlocks,
                           const std::atomic<bool>* stop)
    : m_file(file), m_fileSize(fileSize), m_blockSize(blockSize),
      m_maxBlocks(maxBlocks < 1 ? 1 : maxBlocks), m_stop(stop) {}

bool SourceBlocks::Get(uint64_t blockNo, const uint8_t** dataOut, uint32_t* sizeOut) {
    if (m_stop && m_stop->load()) {
        m_stopped = true;
        return false;
    }
    const auto found = m_index.find(blockNo);
    if (found != m_index.end()) {
        Block& block = m_blocks[found->second];
        block.lastUse = ++m_clock;
        *dataOut = block.bytes.get();
        *sizeOut = block.size;
        return true;
    }
    const size_t slot = TakeSlot();
    Block& block = m_blocks[slot];
    if (!Load(&block, blockNo)) return false;
    m_index[blockNo] = slot;
    *dataOut = block.bytes.get();
    *sizeOut = block.size;
    return true;
}

// A free slot while the cache grows, else the least recently used block's.
size_t SourceBlocks::TakeSlot() {
    if (m_blocks.size() < m_maxBlocks) {
        m_blocks.emplace_back();
        m_blocks.back().bytes.reset(new uint8_t[m_blockSize]);
        return m_blocks.size() - 1;
    }
    size_t oldest = 0;
    for (size_t i = 1; i < m_blocks.size(); ++i) {
        if (m_blocks[i].lastUse < m_blocks[oldest].lastUse) oldest = i;
    }
    m_index.erase(m_blocks[oldest].number);
    return oldest;
}

bool SourceBlocks::Load(Block* block, uint64_t blockNo) {
    block->number = blockNo;
    block->lastUse = ++m_clock;
    block->size = 0;
    // A block past the end (a delta may name any offset) is empty, without a
    // seek whose offset could overflow.
    const uint64_t blockCount = (static_cast<uint64_t>(m_fileSize) + m_blockSize - 1) / m_blockSize;
    if (blockNo >= blockCount) return true;
    const int64_t offset = static_cast<int64_t>(blockNo * m_blockSize);
    const int64_t left = m_fileSize - offset;
    const uint32_t want = left < m_blockSize ? static_cast<uint32_t>(left) : m_blockSize;
    if (!fs_port::SeekFile(m_file, offset, SEEK_SET) ||
        std::fread(block->bytes.get(), 1, want, m_file) != want) {
        // The slot keeps no half-read block under this number.
        block->number = UINT64_MAX;
        m_readFailed = true;
        return false;
    }
    block->size = want;
    return true;
}
