// File digests for verifying installed files.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/byte_sink.h"
#include "platform/file_system.h"

enum class DigestAlgorithm { Md5, Sha256 };

// A file's digest as lower-case hex (32 digits for MD5, 64 for SHA-256),
// streamed in blocks, and the number of bytes read (sizeOut may be null).
// False when the file cannot be read to its end, or once *stop (may be null)
// is set, which is looked at between blocks.
[[nodiscard]] bool ComputeFileDigest(const std::string& path, DigestAlgorithm algorithm, std::string* hexOut,
                                     uint64_t* sizeOut = nullptr, const std::atomic<bool>* stop = nullptr);
// The launcher's digest of a file: ComputeFileDigest with MD5.
bool ComputeFileMd5(const std::string& path, std::string* hexOut);
// The digest of bytes in memory, in the same text form; empty when the hash
// could not be started.
std::string DigestOfBytes(DigestAlgorithm algorithm, std::string_view bytes);
std::string Md5OfBytes(std::string_view bytes);

// Takes bytes only to hash them. Set beside a write (CBundle::Extract's copy
// sink), it gives a file's digest in the pass that writes the file, so
// nothing is read back from the disk.
class DigestSink : public ByteSink {
public:
    explicit DigestSink(DigestAlgorithm algorithm);
    ~DigestSink() override;
    DigestSink(const DigestSink&) = delete;
    DigestSink& operator=(const DigestSink&) = delete;
    [[nodiscard]] bool Write(const char* data, size_t size) override;
    // The digest of every byte written, in ComputeFileDigest's form; ends
    // the hashing. Empty when the hash could not be started.
    [[nodiscard]] std::string FinishHex();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

enum class DigestRead { Done, Unreadable, Stopped };

struct StampedDigest {
    std::string hex;
    fs_port::FileStamp stamp;  // of the file that was read, taken before its first byte
    // The open file had the same stamp after its last byte: nobody wrote to
    // it meanwhile, so the digest belongs to that stamp.
    bool unchangedWhileRead = false;
};

class CPatchKit {
public:
    // The digest of a file with the stamp of the very file that was read (a
    // file replaced under its path meanwhile does not mix the two). stop (may
    // be null) is looked at between blocks, so a large file is left within
    // a block's read once it is set.
    [[nodiscard]] DigestRead ComputeStampedDigest(const std::string& path,
                                                  const std::atomic<bool>* stop,
                                                  StampedDigest* digestOut);

    // The digest text, valid until the next call on this object; null when the
    // file cannot be read.
    const char* ComputeDigest(const char* path);

private:
    std::string m_lastDigest;
    std::unique_ptr<unsigned char[]> m_buffers;  // read blocks, kept for the next file
};
