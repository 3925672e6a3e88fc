// Undoes the chunked transfer coding (RFC 9112 7.1) piece by piece as the
// bytes arrive: the data of each chunk goes to a sink, the size lines, their
// extensions and the trailer fields are read and dropped. Never buffers more
// than one size or trailer line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/byte_sink.h"

// A size line (with its extensions) or one trailer line longer than this is
// refused; so is a trailer section longer than kMaxHeaderBytes.
constexpr size_t kMaxChunkLineBytes = 4096;
// Hex digits of a chunk size; 15 keep it below 2^60, so it never overflows.
constexpr size_t kMaxChunkSizeDigits = 15;

class ChunkedDecoder {
public:
    enum class Status { kMore, kDone, kInvalid, kSinkRefused };

    // Takes the next received bytes. kMore: the body goes on; kDone: the last
    // chunk and the trailer ended (bytes after that are not looked at);
    // kInvalid: the coding is broken (Error() says how); kSinkRefused: the
    // sink did not take the data. After anything but kMore, Feed does nothing.
    [[nodiscard]] Status Feed(const char* data, size_t size, ByteSink& out);
    [[nodiscard]] const std::string& Error() const { return m_error; }

private:
    enum class State { kSizeLine, kData, kDataEnd, kTrailer, kEnded };

    [[nodiscard]] bool TakeLine(const char** p, const char* end, bool* completeOut);
    [[nodiscard]] bool OnSizeLine();
    [[nodiscard]] bool OnTrailerLine();
    Status Invalid(const std::string& why);

    State m_state = State::kSizeLine;
    Status m_status = Status::kMore;
    std::string m_line;          // the line being collected, without its LF
    int64_t m_chunkLeft = 0;     // data bytes of the current chunk still to come
    size_t m_trailerBytes = 0;
    std::string m_error;
};
