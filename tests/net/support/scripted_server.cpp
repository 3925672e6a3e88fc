#include "support/scripted_server.h"

#include <chrono>

#include "support/loopback_listener.h"

namespace test_net {

bool TestConnection::Send(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const long n = socket_port::SendSome(m_socket, bytes.data() + sent, bytes.size() - sent);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool TestConnection::SendInPieces(const std::string& bytes, size_t piece, int pauseMs) {
    for (size_t at = 0; at < bytes.size(); at += piece) {
        if (at > 0) socket_port::SleepMs(pauseMs);
        if (!Send(bytes.substr(at, piece))) return false;
    }
    return true;
}

bool TestConnection::ReceiveMore(int waitMs) {
    if (socket_port::WaitReadable(m_socket, waitMs, nullptr) != socket_port::WaitResult::kReady) {
        return false;
    }
    char buffer[4096];
    const long n = socket_port::ReceiveSome(m_socket, buffer, sizeof buffer);
    if (n <= 0) return false;
    m_received.append(buffer, static_cast<size_t>(n));
    return true;
}

bool TestConnection::ReceiveUntil(const std::string& marker, int waitMs) {
    while (m_received.find(marker) == std::string::npos) {
        if (!ReceiveMore(waitMs)) return false;
    }
    return true;
}

std::string TestConnection::TakeLine(int waitMs) {
    if (!ReceiveUntil("\r\n", waitMs)) return {};
    const size_t end = m_received.find("\r\n") + 2;
    std::string line = m_received.substr(0, end);
    m_received.erase(0, end);
    return line;
}

void TestConnection::DrainUntilClosed(int waitMs) {
    while (ReceiveMore(waitMs)) m_received.clear();
}

void TestConnection::DripUntilClosed(const std::string& bytes, int pauseMs) {
    for (char byte : bytes) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(pauseMs);
        for (auto now = std::chrono::steady_clock::now(); now < end; now = std::chrono::steady_clock::now()) {
            const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count());
            if (socket_port::WaitReadable(m_socket, left, nullptr) != socket_port::WaitResult::kReady) break;
            if (!ReceiveMore(0)) return;
        }
        if (!Send(std::string(1, byte))) return;
    }
}

void TestConnection::Close() {
    if (m_socket != socket_port::kNoSocket) socket_port::Close(m_socket);
    m_socket = socket_port::kNoSocket;
}

ScriptedServer::ScriptedServer(Script script) : m_script(std::move(script)) {
    m_listener = ListenLoopback(&m_port);
    if (m_listener != socket_port::kNoSocket) m_thread = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() { Finish(); }

void ScriptedServer::Finish() {
    m_stop.store(true);
    if (m_thread.joinable()) m_thread.join();
    if (m_listener != socket_port::kNoSocket) socket_port::Close(m_listener);
    m_listener = socket_port::kNoSocket;
}

std::vector<std::string> ScriptedServer::Received() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_received;
}

void ScriptedServer::Run() {
    // Connections already waiting are still served after Finish().
    for (;;) {
        const socket_port::SocketHandle s = AcceptWithin(m_listener, 50);
        if (s == socket_port::kNoSocket) {
            if (m_stop.load()) return;
            continue;
        }
        TestConnection connection(s);
        const int index = m_connections.fetch_add(1);
        m_script(connection, index);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.push_back(connection.Received());
    }
}

}  // namespace test_net
