// Counts the bytes that fetches put into local files (what grew, also of a
// fetch that failed half-way) and into memory: the network cost of a step.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "update/engine/updater_ports.h"

class ByteCountingTransfer : public IUpdateTransfer {
public:
    explicit ByteCountingTransfer(IUpdateTransfer* inner) : m_inner(inner) {}
    int FetchToFile(int32_t transferMode, const std::string& url, const std::string& localPath, int64_t maxBytes,
                    const std::atomic<bool>* stop, bool* notFoundOut, const FetchWatch& watch) override;
    // Counts every byte written, also those that a span that starts over
    // writes again: each came over the network.
    int FetchSpanToFile(int32_t transferMode, const std::string& url, const std::string& localPath, int64_t first,
                        int64_t length, const std::atomic<bool>* stop, bool* rangesIgnoredOut,
                        const FetchWatch& watch) override;
    int FetchToMemory(int32_t transferMode, const std::string& url, int64_t maxBytes, std::string* contentOut,
                      const std::atomic<bool>* stop) override;
    bool LeaveHostOf(const std::string& url) override { return m_inner->LeaveHostOf(url); }
    [[nodiscard]] std::string FailureText() const override { return m_inner->FailureText(); }
    [[nodiscard]] int64_t Received() const { return m_received.load(); }

private:
    IUpdateTransfer* m_inner;
    std::atomic<int64_t> m_received{0};
};
