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
