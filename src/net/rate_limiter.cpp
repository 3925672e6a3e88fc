#include "net/rate_limiter.h"

#include <algorithm>
#include <thread>

#include "net/transfer_control.h"

void RateLimiter::SetLimit(int64_t bytesPerSecond) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rate = bytesPerSecond > 0 ? bytesPerSecond : 0;
    m_tokens = 0.0;
    m_filled = Clock::now();
}

int64_t RateLimiter::Limit() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_rate;
}

double RateLimiter::CapacityLocked() const {
    return std::max(static_cast<double>(m_rate) / kRateBucketDivisor, static_cast<double>(kMinRateGrantBytes));
}

size_t RateLimiter::TakeLocked(size_t wanted, Clock::time_point now, Clock::duration* waitOut) {
    const double rate = static_cast<double>(m_rate);
    const double elapsed = std::chrono::duration<double>(now - m_filled).count();
    m_tokens = std::min(CapacityLocked(), m_tokens + elapsed * rate);
    m_filled = now;
    // Wait for a grant worth a receive call: the whole wish or a full grant.
    const double needed = std::min(static_cast<double>(wanted), static_cast<double>(kMinRateGrantBytes));
    if (m_tokens >= needed) {
        const size_t granted = static_cast<size_t>(std::min(m_tokens, static_cast<double>(wanted)));
        m_tokens -= static_cast<double>(granted);
        return granted;
    }
    *waitOut = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>((needed - m_tokens) / rate));
    return 0;
}

size_t RateLimiter::Acquire(size_t wanted, const StopToken* stop) {
    if (wanted == 0) return 0;
    for (;;) {
        if (stop != nullptr && stop->Requested()) return 0;
        Clock::duration wait{};
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_rate <= 0) return wanted;
            const size_t granted = TakeLocked(wanted, Clock::now(), &wait);
            if (granted > 0) return granted;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(wait, std::chrono::milliseconds(kStopPollMs)));
    }
}

void RateLimiter::GiveBack(size_t unused) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_rate <= 0 || unused == 0) return;
    m_tokens = std::min(CapacityLocked(), m_tokens + static_cast<double>(unused));
}

RateLimiter& DownloadRateLimiter() {
    static RateLimiter limiter;
    return limiter;
}
