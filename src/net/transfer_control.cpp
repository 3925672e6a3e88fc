#include "net/transfer_control.h"

#include <algorithm>

#include "net/network_socket.h"

void ActiveSockets::Add(CNetworkSocket* socket) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sockets.push_back(socket);
}

void ActiveSockets::Remove(CNetworkSocket* socket) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sockets.erase(std::remove(m_sockets.begin(), m_sockets.end(), socket), m_sockets.end());
}

void ActiveSockets::ShutdownAll() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (CNetworkSocket* socket : m_sockets) socket->Shutdown();
}

void StallWatch::Feed(int64_t bytes, Clock::time_point now) {
    if (!Stalled(now)) m_windowBytes += bytes;
}

bool StallWatch::Stalled(Clock::time_point now) {
    if (m_stalled) return true;
    const int64_t windowMs = m_policy.window.count();
    while (now - m_windowStart >= m_policy.window) {
        // Integer form of bytes / window < rate, without a division.
        if (m_windowBytes * 1000 < m_policy.minBytesPerSecond * windowMs) {
            m_stalled = true;
            return true;
        }
        m_windowStart += m_policy.window;
        m_windowBytes = 0;
    }
    return false;
}
