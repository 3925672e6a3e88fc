// What the HTTP client reads a connection through: the plain socket, or a
// TLS session over it. Both wait, stop and obey the rate limit the same way.
#pragma once

#include <cstddef>
#include <string>

class IByteStream {
public:
    virtual ~IByteStream() = default;
    // 0 = all sent, 1 = a send failed.
    [[nodiscard]] virtual int SendAll(const char* data, int length) = 0;
    // The count received, 0 when the peer closed, -1 on an error, a time-out,
    // a stall or a stop request.
    [[nodiscard]] virtual long Receive(char* buffer, size_t capacity) = 0;
    // Why the last Receive gave -1, for the log.
    [[nodiscard]] virtual std::string ReceiveFailureText() const = 0;
    // True when the last Receive gave -1 because no data came in the wait.
    [[nodiscard]] virtual bool ReceiveTimedOut() const = 0;
    // True when the last Receive gave -1 because the bytes came too slowly
    // for the stall policy, below what the caller itself could see.
    [[nodiscard]] virtual bool ReceiveStalled() const { return false; }
};
