#include "external/patch_kit.h"

#include <gcrypt.h>

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "external/crypto_library.h"
#include "platform/file_system.h"

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

std::string HexText(const unsigned char* bytes, size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out(count * 2, '0');
    for (size_t i = 0; i < count; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
    return out;
}

// Hashes the file from its current position to its end, reading ahead on a
// second thread.
bool Stopped(const std::atomic<bool>* stop) { return stop != nullptr && stop->load(); }

bool HashWithReadAhead(std::FILE* file, unsigned char* buffers, gcry_md_hd_t digest,
                       const std::atomic<bool>* stop) {
    ReadAhead reader(file, buffers);
    for (;;) {
        if (Stopped(stop)) return false;
        const unsigned char* block = nullptr;
        size_t got = 0;
        if (!reader.Next(&block, &got)) return false;
        if (got > 0) gcry_md_write(digest, block, got);
        if (got < kDigestBlockBytes) return true;
    }
}

// The same on the caller's thread, for files too small for a second thread
// to pay for itself.
// Its reads are small enough that each block is still in the processor's
// cache when the digest runs over it.
bool HashInPlace(std::FILE* file, unsigned char* buffer, gcry_md_hd_t digest,
                 const std::atomic<bool>* stop) {
    for (;;) {
        if (Stopped(stop)) return false;
        const size_t got = std::fread(buffer, 1, kInPlaceBlockBytes, file);
        if (std::ferror(file)) return false;
        if (got > 0) gcry_md_write(digest, buffer, got);
        if (got < kInPlaceBlockBytes) return true;
    }
}

// buffers: two blocks of kDigestBlockBytes, reused from file to file so that
// verifying thousands of files does not map and fault in fresh memory for each.
// size picks the way of reading; stop may end it between blocks.
bool Md5OfOpenFile(std::FILE* file, int64_t size, unsigned char* buffers,
                   const std::atomic<bool>* stop, std::string* hexOut) {
    EnsureCryptoLibrary();
    // The blocks go straight from the file into our buffer; a second
    // buffer inside stdio would only add a copy.
    std::setvbuf(file, nullptr, _IONBF, 0);

    gcry_md_hd_t raw = nullptr;
    if (gcry_md_open(&raw, GCRY_MD_MD5, 0) != 0) return false;
    std::unique_ptr<gcry_md_handle, DigestCloser> digest(raw);

    const bool small = size < static_cast<int64_t>(kReadAheadMinBytes);
    if (!(small ? HashInPlace(file, buffers, digest.get(), stop)
                : HashWithReadAhead(file, buffers, digest.get(), stop))) {
        return false;
    }
    const unsigned char* value = gcry_md_read(digest.get(), GCRY_MD_MD5);
    if (!value) return false;
    *hexOut = HexText(value, gcry_md_get_algo_dlen(GCRY_MD_MD5));
    return true;
}

bool Md5WithBuffers(const std::string& path, unsigned char* buffers, std::string* hexOut) {
    // One metadata call both refuses folders and missing files and picks the way of reading.
    const int64_t size = fs_port::FileSize(path);
    if (size < 0) return false;
    std::unique_ptr<std::FILE, FileCloser> file(fs_port::OpenFile(path, "rb"));
    return file && Md5OfOpenFile(file.get(), size, buffers, nullptr, hexOut);
}

}  // namespace

bool ComputeFileMd5(const std::string& path, std::string* hexOut) {
    std::unique_ptr<unsigned char[]> buffers(new unsigned char[2 * kDigestBlockBytes]);
    return Md5WithBuffers(path, buffers.get(), hexOut);
}

std::string Md5OfBytes(std::string_view bytes) {
    EnsureCryptoLibrary();
    unsigned char value[16];
    gcry_md_hash_buffer(GCRY_MD_MD5, value, bytes.data(), bytes.size());
    return HexText(value, sizeof value);
}

struct Md5Sink::Impl {
    std::unique_ptr<gcry_md_handle, DigestCloser> digest;
};

Md5Sink::Md5Sink() : m_impl(new Impl) {
    EnsureCryptoLibrary();
    gcry_md_hd_t raw = nullptr;
    if (gcry_md_open(&raw, GCRY_MD_MD5, 0) == 0) m_impl->digest.reset(raw);
}

Md5Sink::~Md5Sink() = default;

bool Md5Sink::Write(const char* data, size_t size) {
    if (!m_impl->digest) return false;
    if (size > 0) gcry_md_write(m_impl->digest.get(), data, size);
    return true;
}

std::string Md5Sink::FinishHex() {
    if (!m_impl->digest) return std::string();
    const unsigned char* value = gcry_md_read(m_impl->digest.get(), GCRY_MD_MD5);
    std::string hex = value ? HexText(value, gcry_md_get_algo_dlen(GCRY_MD_MD5)) : std::string();
    m_impl->digest.reset();
    return hex;
}

const char* CPatchKit::ComputeDigest(const char* path) {
    if (!path) return nullptr;
    if (!m_buffers) m_buffers.reset(new unsigned char[2 * kDigestBlockBytes]);
    if (!Md5WithBuffers(path, m_buffers.get(), &m_lastDigest)) return nullptr;
    return m_lastDigest.c_str();
}

DigestRead CPatchKit::ComputeStampedDigest(const std::string& path, const std::atomic<bool>* stop,
                                           StampedDigest* digestOut) {
    if (!m_buffers) m_buffers.reset(new unsigned char[2 * kDigestBlockBytes]);
    std::unique_ptr<std::FILE, FileCloser> file(fs_port::OpenFile(path, "rb"));
    StampedDigest result;
    if (!file || !fs_port::ReadOpenFileStamp(file.get(), &result.stamp)) return DigestRead::Unreadable;
    if (!Md5OfOpenFile(file.get(), static_cast<int64_t>(result.stamp.size), m_buffers.get(), stop,
                       &result.hex)) {
        return Stopped(stop) ? DigestRead::Stopped : DigestRead::Unreadable;
    }
    fs_port::FileStamp after;
    result.unchangedWhileRead = fs_port::ReadOpenFileStamp(file.get(), &after) && after == result.stamp;
    *digestOut = std::move(result);
    return DigestRead::Done;
}
