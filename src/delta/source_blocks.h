// The old file of a delta, read in fixed-size blocks at 64-bit offsets and
// kept in a small cache, so that memory stays bounded whatever the file's
// size (the file is never mapped or read whole).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <unordered_map>
#include <vector>

class SourceBlocks {
public:
    // file stays the caller's; blockSize is a power of two; at most maxBlocks
    // blocks are held, the least recently used one going first.
    SourceBlocks(std::FILE* file, int64_t fileSize, uint32_t blockSize, size_t maxBlocks,
                 const std::atomic<bool>* stop);

    // The bytes of block number blockNo, valid until the next call: a whole
    // block, fewer on the file's last block, none beyond the file's end.
    // False when the read fails (ReadFailed) or the stop flag is up (Stopped).
    [[nodiscard]] bool Get(uint64_t blockNo, const uint8_t** dataOut, uint32_t* sizeOut);

    bool ReadFailed() const { return m_readFailed; }
    bool Stopped() const { return m_stopped; }
    uint32_t BlockSize() const { return m_blockSize; }

private:
    struct Block {
        uint64_t number = 0;
        uint64_t lastUse = 0;
        uint32_t size = 0;
        std::unique_ptr<uint8_t[]> bytes;
    };
    size_t TakeSlot();
    [[nodiscard]] bool Load(Block* block, uint64_t blockNo);

    std::FILE* m_file;
    int64_t m_fileSize;
    uint32_t m_blockSize;
    size_t m_maxBlocks;
    const std::atomic<bool>* m_stop;
    uint64_t m_clock = 0;
    std::vector<Block> m_blocks;
    std::unordered_map<uint64_t, size_t> m_index;  // block number -> slot
    bool m_readFailed = false;
    bool m_stopped = false;
};
