#include "net/network_socket.h"

#include <algorithm>
#include <cstring>

#include "journal/journal.h"
#include "net/rate_limiter.h"
#include "net/text_scan.h"
#include "net/transfer_control.h"

namespace sp = socket_port;

CNetworkSocket::~CNetworkSocket() { Close(); }

bool CNetworkSocket::StopRequested() const { return m_stop != nullptr && m_stop->Requested(); }

bool CNetworkSocket::IsOpen() const {
    std::lock_guard<std::mutex> lock(m_handleMutex);
    return m_hSocket != sp::kNoSocket;
}

void CNetworkSocket::Close() {
    std::lock_guard<std::mutex> lock(m_handleMutex);
    if (m_hSocket != sp::kNoSocket) sp::Close(m_hSocket);
    m_hSocket = sp::kNoSocket;
}

void CNetworkSocket::Shutdown() {
    std::lock_guard<std::mutex> lock(m_handleMutex);
    if (m_hSocket != sp::kNoSocket) sp::Shutdown(m_hSocket);
}

bool CNetworkSocket::CreateConfigured() {
    Close();
    const sp::SocketHandle s = sp::CreateStreamSocket();
    if (s == sp::kNoSocket) return false;
    if (!sp::SetTimeouts(s, kSocketTimeoutMs, kSocketTimeoutMs)) {
        sp::Close(s);
        return false;
    }
    std::lock_guard<std::mutex> lock(m_handleMutex);
    m_hSocket = s;
    return true;
}

int CNetworkSocket::Open(const char* host, int port) {
    m_nPort = port;
    const size_t length = host == nullptr ? kHostTextSize : std::strlen(host);
    if (length >= kHostTextSize) return kSocketFailed;
    std::memcpy(m_szHost, host, length + 1);
    uint32_t address = 0;
    if (!ParseDottedIpv4(m_szHost, &address) || port < 1 || port > 65535) return kSocketFailed;
    if (!CreateConfigured()) return kSocketFailed;
    return Connect() ? kSocketOk : kSocketFailed;
}

// Sleeps the pause after a failed connect in slices; false when a stop was
// requested meanwhile.
bool CNetworkSocket::PauseAfterFailedConnect() const {
    for (int waited = 0; waited < kConnectPauseMs; waited += kStopPollMs) {
        if (StopRequested()) return false;
        sp::SleepMs(std::min(kStopPollMs, kConnectPauseMs - waited));
    }
    return !StopRequested();
}

bool CNetworkSocket::Connect() {
    uint32_t address = 0;
    if (!ParseDottedIpv4(m_szHost, &address)) return false;
    for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
        // A socket whose connect failed or timed out cannot be connected
        // again everywhere, so each retry starts with a fresh one.
        if (attempt > 0 && !CreateConfigured()) return false;
        const int result = sp::ConnectIpv4(m_hSocket, address, m_nPort, kConnectTimeoutMs, m_stop);
        if (result == 0) return true;
        if (StopRequested()) return false;
        TheJournal().AddEntryF(EntryKind::Error, "connect error ! code : %d", result);
        TheJournal().TrapFaults(false);
        if (!PauseAfterFailedConnect()) return false;
    }
    return false;
}

int CNetworkSocket::SendAll(const char* data, int length) {
    int sent = 0;
    while (sent < length) {
        if (StopRequested()) return kSocketFailed;
        const long n = sp::SendSome(m_hSocket, data + sent, static_cast<size_t>(length - sent));
        if (n < 0) return kSocketFailed;
        sent += static_cast<int>(n);
    }
    return kSocketOk;
}

int CNetworkSocket::SendText(const std::string& text) {
    return SendAll(text.data(), static_cast<int>(text.size()));
}

long CNetworkSocket::Receive(char* buffer, size_t capacity) {
    m_lastWait = sp::WaitResult::kFailed;
    if (m_hSocket == sp::kNoSocket) return -1;
    // A stop takes effect before the next piece, however fast the pieces
    // come: a paused download writes nothing more.
    if (StopRequested()) {
        m_lastWait = sp::WaitResult::kStopped;
        return -1;
    }
    // The limiter's wait comes before the receive wait, so that a low limit
    // never looks like a silent server.
    const size_t room = m_limiter != nullptr ? m_limiter->Acquire(capacity, m_stop) : capacity;
    if (room == 0 && capacity > 0) {
        m_lastWait = sp::WaitResult::kStopped;
        return -1;
    }
    m_lastWait = sp::WaitReadable(m_hSocket, m_receiveWaitMs, m_stop);
    long n = -1;
    if (m_lastWait == sp::WaitResult::kReady) {
        n = sp::ReceiveSome(m_hSocket, buffer, room);
        if (n < 0) m_lastWait = sp::WaitResult::kFailed;
    }
    if (m_limiter != nullptr) m_limiter->GiveBack(n > 0 ? room - static_cast<size_t>(n) : room);
    return n;
}

std::string CNetworkSocket::ReceiveFailureText() const {
    switch (m_lastWait) {
        case sp::WaitResult::kTimedOut:
            return "no data for " + std::to_string(m_receiveWaitMs) + " ms";
        case sp::WaitResult::kStopped:
            return "stopped";
        default:
            return "receive error";
    }
}

int CNetworkSocket::ReceiveReply(ReplyBuffer& buffer) {
    size_t received = 0;
    for (;;) {
        const long n = Receive(buffer + received, kReplyRoom - received);
        if (n <= 0) return kSocketFailed;
        received += static_cast<size_t>(n);
        if (received >= kReplyRoom) return kSocketOk;
        if (std::memchr(buffer, '\n', received) != nullptr) return kSocketOk;
    }
}

int CNetworkSocket::ExpectReply(ReplyBuffer& buffer, int code) {
    std::memset(buffer, 0, kReplyBufferSize);
    if (ReceiveReply(buffer) != kSocketOk) return kSocketFailed;
    return ParseReplyCode(buffer, kReplyRoom) == code ? kSocketOk : kSocketFailed;
}

int ParseReplyCode(const char* text, size_t size) {
    const char* cursor = text;
    const char* end = static_cast<const char*>(std::memchr(text, '\0', size));
    if (end == nullptr) end = text + size;
    int64_t value = 0;
    if (!net_text::ScanInt(&cursor, end, &value) || value < -2147483647 || value > 2147483647) {
        return -1;
    }
    return static_cast<int>(value);
}

bool ParseDottedIpv4(const std::string& text, uint32_t* addressOut) {
    uint32_t address = 0;
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') return false;
            ++pos;
        }
        const size_t start = pos;
        uint32_t value = 0;
        while (pos < text.size() && net_text::IsDigit(text[pos]) && pos - start < 3) {
            value = value * 10 + static_cast<uint32_t>(text[pos] - '0');
            ++pos;
        }
        if (pos == start || value > 255) return false;
        address = (address << 8) | value;
    }
    if (pos != text.size()) return false;
    *addressOut = address;
    return true;
}

bool SplitHostPort(const std::string& text, std::string* nameOut, int* portOut, int defaultPort) {
    *portOut = defaultPort;
    const size_t colon = text.find(':');
    const std::string name = text.substr(0, colon);
    if (name.empty() || name.size() >= kHostNameSize) return false;
    for (char c : name) {
        if (net_text::IsBlank(c) || static_cast<unsigned char>(c) < 0x20) return false;
    }
    if (colon != std::string::npos) {
        const char* cursor = text.c_str() + colon + 1;
        int64_t port = 0;
        if (net_text::ScanInt(&cursor, text.c_str() + text.size(), &port)) {
            if (port < 1 || port > 65535) return false;
            *portOut = static_cast<int>(port);
        }
    }
    *nameOut = name;
    return true;
}

int ResolveHost(const std::string& name, int* portOut, std::string* addressOut, int defaultPort) {
    std::string host;
    if (!SplitHostPort(name, &host, portOut, defaultPort)) return 1;
    return sp::LookupIpv4(host, addressOut) ? 0 : 1;
}
