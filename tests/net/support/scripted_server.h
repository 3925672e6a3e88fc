// A loopback TCP server of the tests' own, for the faults that real servers
// do not make: it accepts connections one after the other on 127.0.0.1 and
// plays a script for each on its own thread.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/socket_port.h"

namespace test_net {

constexpr int kScriptWaitMs = 10000;

class TestConnection {
public:
    explicit TestConnection(socket_port::SocketHandle socket) : m_socket(socket) {}
    ~TestConnection() { Close(); }
    TestConnection(const TestConnection&) = delete;
    TestConnection& operator=(const TestConnection&) = delete;

    bool Send(const std::string& bytes);
    // Sends the bytes in pieces of `piece` bytes with a pause between them,
    // so that the peer receives them in separate segments.
    bool SendInPieces(const std::string& bytes, size_t piece, int pauseMs);
    // Receives until `marker` is among the received bytes; false when the
    // peer closed or nothing came within waitMs.
    bool ReceiveUntil(const std::string& marker, int waitMs = kScriptWaitMs);
    // Takes the first line (with its "\r\n") off the received bytes,
    // receiving more as needed; empty when none arrives.
    std::string TakeLine(int waitMs = kScriptWaitMs);
    // Everything received so far (TakeLine removes what it took).
    const std::string& Received() const { return m_received; }
    // Receives until the peer closes (or waitMs pass) and drops the bytes.
    void DrainUntilClosed(int waitMs = kScriptWaitMs);
    // Sends the bytes one at a time, pauseMs apart, until the peer closes:
    // a drip feed that ends as soon as the client gives up on it.
    void DripUntilClosed(const std::string& bytes, int pauseMs);
    void Close();

private:
    bool ReceiveMore(int waitMs);

    socket_port::SocketHandle m_socket;
    std::string m_received;
};

class ScriptedServer {
public:
    // Called for each accepted connection with its number (0, 1, ...).
    using Script = std::function<void(TestConnection& connection, int index)>;

    explicit ScriptedServer(Script script);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int Port() const { return m_port; }
    // Stops accepting and waits for the running script; afterwards
    // Received() holds every connection. The destructor does it too.
    void Finish();
    int Connections() const { return m_connections.load(); }
    // The bytes each finished connection received, in order.
    std::vector<std::string> Received() const;

private:
    void Run();

    Script m_script;
    int m_port = 0;
    socket_port::SocketHandle m_listener = socket_port::kNoSocket;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_received;
    std::thread m_thread;
};

}  // namespace test_net
