#include "update/fetch/byte_counting_transfer.h"

#include "platform/file_system.h"

namespace {

int64_t SizeOrZero(const std::string& path) {
    const int64_t size = fs_port::FileSize(path);
    return size < 0 ? 0 : size;
}

}  // namespace

int ByteCountingTransfer::FetchToFile(int32_t transferMode, const std::string& url, const std::string& localPath,
                                      int64_t maxBytes, const std::atomic<bool>* stop, bool* notFoundOut,
                                      const FetchWatch& watch) {
    const int64_t before = SizeOrZero(localPath);
    const int result = m_inner->FetchToFile(transferMode, url, localPath, maxBytes, stop, notFoundOut, watch);
    const int64_t after = SizeOrZero(localPath);
    if (after > before) m_received += after - before;
    return result;
}

int ByteCountingTransfer::FetchSpanToFile(int32_t transferMode, const std::string& url, const std::string& localPath,
                                          int64_t first, int64_t length, const std::atomic<bool>* stop,
                                          bool* rangesIgnoredOut, const FetchWatch& watch) {
    FetchWatch counted = watch;
    counted.wrote = [this, &watch](int64_t offset, const char* data, size_t size) {
        m_received += static_cast<int64_t>(size);
        if (watch.wrote) watch.wrote(offset, data, size);
    };
    return m_inner->FetchSpanToFile(transferMode, url, localPath, first, length, stop, rangesIgnoredOut, counted);
}

int ByteCountingTransfer::FetchToMemory(int32_t transferMode, const std::string& url, int64_t maxBytes,
                                        std::string* contentOut, const std::atomic<bool>* stop) {
    const int result = m_inner->FetchToMemory(transferMode, url, maxBytes, contentOut, stop);
    m_received += static_cast<int64_t>(contentOut->size());
    return result;
}
