// The pace of progress reports: a report goes at most once per interval,
// the first at once, and whenever the caller forces one (a phase that ended
// must be shown at once). Not locked: its owner serialises the calls.
#pragma once

#include <chrono>

class ProgressPacer {
public:
    using Clock = std::chrono::steady_clock;

    explicit ProgressPacer(std::chrono::milliseconds interval) : m_interval(interval) {}

    // True when a report may go at now; the interval then counts from now.
    bool Due(Clock::time_point now, bool force = false) {
        if (m_started && !force && now - m_last < m_interval) return false;
        m_started = true;
        m_last = now;
        return true;
    }
    // When Due turns true without force; the clock's epoch (long past)
    // before the first report.
    [[nodiscard]] Clock::time_point NextDue() const { return m_started ? m_last + m_interval : Clock::time_point{}; }
    // The next report is due at once.
    void Reset() { m_started = false; }

private:
    std::chrono::milliseconds m_interval;
    bool m_started = false;
    Clock::time_point m_last;
};
