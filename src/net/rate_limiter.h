// One bandwidth limit for every download of the process: a token bucket that
// the clients ask before each receive, reading at most the bytes it grants.
//
//   DownloadRateLimiter().SetLimit(2048 * 1024);       // bytes per second, 0 = none
//   const size_t room = DownloadRateLimiter().Acquire(buffer.size(), &stop);
//   const long n = socket.Receive(buffer.data(), room);
//   DownloadRateLimiter().GiveBack(room - n);           // what the receive did not use
//
// The bucket holds a quarter second of the rate, so no pause of the
// transfers (a slow disk, a reconnect) can save up a burst that outruns the
// limit: over any span T at most rate x T + rate / 4 bytes are granted.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>

class StopToken;

// The bucket holds this share of a second of the rate.
constexpr int kRateBucketDivisor = 4;
// A grant never falls below this many bytes, so a low rate does not turn
// into one receive call per byte.
constexpr int64_t kMinRateGrantBytes = 1024;

class RateLimiter {
public:
    using Clock = std::chrono::steady_clock;

    // bytesPerSecond 0 (or less) lifts the limit. A new limit starts with an
    // empty bucket.
    void SetLimit(int64_t bytesPerSecond);
    [[nodiscard]] int64_t Limit() const;
    // Waits until some of wanted bytes may be received and gives how many
    // (1..wanted). Waits in slices of kStopPollMs and gives 0 once stop (may
    // be null) asks for a stop. Without a limit it gives wanted at once.
    [[nodiscard]] size_t Acquire(size_t wanted, const StopToken* stop);
    // Returns granted bytes that the receive did not fill.
    void GiveBack(size_t unused);

private:
    // The grant available now, after the bucket filled up to now; 0 when
    // the caller must wait *waitOut first.
    size_t TakeLocked(size_t wanted, Clock::time_point now, Clock::duration* waitOut);
    [[nodiscard]] double CapacityLocked() const;

    mutable std::mutex m_mutex;
    int64_t m_rate = 0;
    double m_tokens = 0.0;
    Clock::time_point m_filled{};
};

// The process's limiter, shared by every HTTP and FTP download.
RateLimiter& DownloadRateLimiter();
