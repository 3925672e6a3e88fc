#include "package/patch_kit.h"

#include <gcrypt.h>

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "package/crypto_library.h"
#include "platform/file_system.h"
#include "platform/text_format.h"

namespace {

// Large enough that the per-call cost of reading and hashing vanishes, small
// enough to stay out of the way of everything else in the process.
constexpr size_t kDigestBlockBytes = 1u << 20;
// Below this size a file is read on the caller's thread: starting a reader
// thread and handing blocks over costs more than the overlap saves, above
// all on a busy machine.
constexpr size_t kReadAheadMinBytes = 8u << 20;
constexpr size_t kInPlaceBlockBytes = 64u << 10;

struct DigestCloser {
    void operator()(gcry_md_hd_t h) const { gcry_md_close(h); }
};

// Reads a file on a second thread one block ahead of the consumer, so that
// the time spent reading hides behind the time spent hashing.
class ReadAhead {
public:
    // buffers: two blocks of kDigestBlockBytes that outlive this object.
    ReadAhead(std::FILE* file, unsigned char* buffers) : m_file(file) {
        m_buffers[0] = buffers;
        m_buffers[1] = buffers + kDigestBlockBytes;
        m_thread = std::thread([this] { Produce(); });
    }
    ~ReadAhead() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Hands out the next block (size 0 at the end); the previous block is
    // given back for reading. False when the file could not be read.
    bool Next(const unsigned char** dataOut, size_t* sizeOut) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_holding) {
            m_full[m_next] = false;
            m_next ^= 1;
            m_changed.notify_all();
        }
        m_changed.wait(lock, [this] { return m_full[m_next]; });
        m_holding = true;
        *dataOut = m_buffers[m_next];
        *sizeOut = m_sizes[m_next];
        return !m_failed[m_next];
    }

private:
    void Produce() {
        for (int slot = 0;; slot ^= 1) {
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [&] { return m_stop || !m_full[slot]; });
                if (m_stop) return;
            }
            const size_t got = std::fread(m_buffers[slot], 1, kDigestBlockBytes, m_file);
            const bool failed = std::ferror(m_file) != 0;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_sizes[slot] = got;
                m_failed[slot] = failed;
                m_full[slot] = true;
            }
            m_changed.notify_all();
            if (got < kDigestBlockBytes) return;
        }
    }

    std::FILE* m_file;
    unsigned char* m_buffers[2];
    size_t m_sizes[2] = {0, 0};
    bool m_failed[2] = {false, false};
    bool m_full[2] = {false, false};
    int m_next = 0;          // the slot the consumer takes next
    bool m_holding = false;  // the consumer holds slot m_next
    bool m_stop = false;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::thread m_thread;
};

int GcryptAlgorithm(DigestAlgorithm algorithm) {
    return algorithm == DigestAlgorithm::Sha256 ? GCRY_MD_SHA256 : GCRY_MD_MD5;
}

bool Stopped(const std::atomic<bool>* stop) { return stop != nullptr && stop->load(); }

// Hashes the file from its current position to its end, reading ahead on a
// second thread; readOut counts the bytes.
bool HashWithReadAhead(std::FILE* file, unsigned char* buffers, DigestSink& digest,
                       const std::atomic<bool>* stop, uint64_t* readOut) {
    ReadAhead reader(file, buffers);
    for (;;) {
        if (Stopped(stop)) return false;
        const unsigned char* block = nullptr;
        size_t got = 0;
        if (!reader.Next(&block, &got)) return false;
        if (!digest.Write(reinterpret_cast<const char*>(block), got)) return false;
        *readOut += got;
        if (got < kDigestBlockBytes) return true;
    }
}

// The same on the caller's thread, for files too small for a second thread
// to pay for itself.
// Its reads are small enough that each block is still in the processor's
// cache when the digest runs over it.
bool HashInPlace(std::FILE* file, unsigned char* buffer, DigestSink& digest,
                 const std::atomic<bool>* stop, uint64_t* readOut) {
    for (;;) {
        if (Stopped(stop)) return false;
        const size_t got = std::fread(buffer, 1, kInPlaceBlockBytes, file);
        if (std::ferror(file)) return false;
        if (!digest.Write(reinterpret_cast<const char*>(buffer), got)) return false;
        *readOut += got;
        if (got < kInPlaceBlockBytes) return true;
    }
}

// buffers: two blocks of kDigestBlockBytes, reused from file to file so that
// verifying thousands of files does not map and fault in fresh memory for each.
// size picks the way of reading; stop may end it between blocks.
bool DigestOfOpenFile(std::FILE* file, DigestAlgorithm algorithm, int64_t size, unsigned char* buffers,
                      const std::atomic<bool>* stop, std::string* hexOut, uint64_t* sizeOut) {
    // The blocks go straight from the file into our buffer; a second
    // buffer inside stdio would only add a copy.
    std::setvbuf(file, nullptr, _IONBF, 0);
    DigestSink digest(algorithm);
    uint64_t read = 0;
    const bool small = size < static_cast<int64_t>(kReadAheadMinBytes);
    if (!(small ? HashInPlace(file, buffers, digest, stop, &read)
                : HashWithReadAhead(file, buffers, digest, stop, &read))) {
        return false;
    }
    std::string hex = digest.FinishHex();
    if (hex.empty()) return false;
    *hexOut = std::move(hex);
    if (sizeOut) *sizeOut = read;
    return true;
}

bool DigestWithBuffers(const std::string& path, DigestAlgorithm algorithm, unsigned char* buffers,
                       const std::atomic<bool>* stop, std::string* hexOut, uint64_t* sizeOut) {
    // One metadata call both refuses folders and missing files and picks the way of reading.
    const int64_t size = fs_port::FileSize(path);
    if (size < 0) return false;
    std::unique_ptr<std::FILE, FileCloser> file(fs_port::OpenFile(path, "rb"));
    return file && DigestOfOpenFile(file.get(), algorithm, size, buffers, stop, hexOut, sizeOut);
}

}  // namespace

bool ComputeFileDigest(const std::string& path, DigestAlgorithm algorithm, std::string* hexOut, uint64_t* sizeOut,
                       const std::atomic<bool>* stop) {
    std::unique_ptr<unsigned char[]> buffers(new unsigned char[2 * kDigestBlockBytes]);
    return DigestWithBuffers(path, algorithm, buffers.get(), stop, hexOut, sizeOut);
}

bool ComputeFileMd5(const std::string& path, std::string* hexOut) {
    return ComputeFileDigest(path, DigestAlgorithm::Md5, hexOut);
}

std::string DigestOfBytes(DigestAlgorithm algorithm, std::string_view bytes) {
    DigestSink digest(algorithm);
    return digest.Write(bytes.data(), bytes.size()) ? digest.FinishHex() : std::string();
}

std::string Md5OfBytes(std::string_view bytes) { return DigestOfBytes(DigestAlgorithm::Md5, bytes); }

struct DigestSink::Impl {
    int algorithm = GCRY_MD_MD5;
    std::unique_ptr<gcry_md_handle, DigestCloser> digest;
};

DigestSink::DigestSink(DigestAlgorithm algorithm) : m_impl(new Impl) {
    EnsureCryptoLibrary();
    m_impl->algorithm = GcryptAlgorithm(algorithm);
    gcry_md_hd_t raw = nullptr;
    if (gcry_md_open(&raw, m_impl->algorithm, 0) == 0) m_impl->digest.reset(raw);
}

DigestSink::~DigestSink() = default;

bool DigestSink::Write(const char* data, size_t size) {
    if (!m_impl->digest) return false;
    if (size > 0) gcry_md_write(m_impl->digest.get(), data, size);
    return true;
}

std::string DigestSink::FinishHex() {
    if (!m_impl->digest) return std::string();
    const unsigned char* value = gcry_md_read(m_impl->digest.get(), m_impl->algorithm);
    std::string hex = value ? LowerHex(value, gcry_md_get_algo_dlen(m_impl->algorithm)) : std::string();
    m_impl->digest.reset();
    return hex;
}

const char* CPatchKit::ComputeDigest(const char* path) {
    if (!path) return nullptr;
    if (!m_buffers) m_buffers.reset(new unsigned char[2 * kDigestBlockBytes]);
    if (!DigestWithBuffers(path, DigestAlgorithm::Md5, m_buffers.get(), nullptr, &m_lastDigest, nullptr)) {
        return nullptr;
    }
    return m_lastDigest.c_str();
}

DigestRead CPatchKit::ComputeStampedDigest(const std::string& path, const std::atomic<bool>* stop,
                                           StampedDigest* digestOut) {
    if (!m_buffers) m_buffers.reset(new unsigned char[2 * kDigestBlockBytes]);
    std::unique_ptr<std::FILE, FileCloser> file(fs_port::OpenFile(path, "rb"));
    StampedDigest result;
    if (!file || !fs_port::ReadOpenFileStamp(file.get(), &result.stamp)) return DigestRead::Unreadable;
    if (!DigestOfOpenFile(file.get(), DigestAlgorithm::Md5, static_cast<int64_t>(result.stamp.size),
                          m_buffers.get(), stop, &result.hex, nullptr)) {
        return Stopped(stop) ? DigestRead::Stopped : DigestRead::Unreadable;
    }
    fs_port::FileStamp after;
    result.unchangedWhileRead = fs_port::ReadOpenFileStamp(file.get(), &after) && after == result.stamp;
    *digestOut = std::move(result);
    return DigestRead::Done;
}
