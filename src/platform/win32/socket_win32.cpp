// Winsock side of the socket port. The process starts Winsock once
// (StartNetworking); nothing here starts or cleans it up on its own.
#include "net/socket_port.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <chrono>
#include <cstdio>

#include "net/transfer_control.h"
#include "platform/win32/wide.h"

namespace socket_port {

namespace {

SOCKET Sock(SocketHandle socket) { return static_cast<SOCKET>(socket); }

bool SetMsOption(SOCKET s, int option, int ms) {
    const DWORD value = static_cast<DWORD>(ms);
    return setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0;
}

bool SetBlocking(SOCKET s, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    return ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
}

// select() in slices so that a stop request is seen quickly. For a connect,
// the "except" set reports a refused connection.
WaitResult SelectSliced(SOCKET s, bool forWrite, int timeoutMs, const StopToken* stop) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (stop != nullptr && stop->Requested()) return WaitResult::kStopped;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return WaitResult::kTimedOut;
        const long slice = static_cast<long>(left < kStopPollMs ? left : kStopPollMs);
        fd_set ready;
        fd_set failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(s, &ready);
        FD_SET(s, &failed);
        timeval tv{slice / 1000, (slice % 1000) * 1000};
        const int r = forWrite ? select(0, nullptr, &ready, &failed, &tv)
                               : select(0, &ready, nullptr, &failed, &tv);
        if (r == SOCKET_ERROR) return WaitResult::kFailed;
        if (r > 0) return FD_ISSET(s, &ready) ? WaitResult::kReady : WaitResult::kFailed;
    }
}

}  // namespace

bool StartNetworking() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void StopNetworking() { WSACleanup(); }

SocketHandle CreateStreamSocket() {
    const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

bool SetTimeouts(SocketHandle socket, int receiveMs, int sendMs) {
    return SetMsOption(Sock(socket), SO_RCVTIMEO, receiveMs) &&
           SetMsOption(Sock(socket), SO_SNDTIMEO, sendMs);
}

int ConnectIpv4(SocketHandle socket, uint32_t address, int port, int timeoutMs,
                const StopToken* stop) {
    const SOCKET s = Sock(socket);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address);
    sa.sin_port = htons(static_cast<u_short>(port));
    if (!SetBlocking(s, false)) return -1;
    int r = connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    if (r != 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
        r = -1;
        if (SelectSliced(s, true, timeoutMs, stop) == WaitResult::kReady) {
            int error = 0;
            int len = sizeof error;
            if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) == 0 &&
                error == 0) {
                r = 0;
            }
        }
    }
    if (!SetBlocking(s, true)) return -1;
    return r == 0 ? 0 : -1;
}

WaitResult WaitReadable(SocketHandle socket, int timeoutMs, const StopToken* stop) {
    return SelectSliced(Sock(socket), false, timeoutMs, stop);
}

long SendSome(SocketHandle socket, const char* data, size_t size) {
    const int chunk = size > 0x40000000u ? 0x40000000 : static_cast<int>(size);
    const int n = send(Sock(socket), data, chunk, 0);
    return n == SOCKET_ERROR ? -1 : static_cast<long>(n);
}

long ReceiveSome(SocketHandle socket, char* buffer, size_t capacity) {
    const int chunk = capacity > 0x40000000u ? 0x40000000 : static_cast<int>(capacity);
    const int n = recv(Sock(socket), buffer, chunk, 0);
    return n == SOCKET_ERROR ? -1 : static_cast<long>(n);
}

void Shutdown(SocketHandle socket) { shutdown(Sock(socket), SD_BOTH); }

void Close(SocketHandle socket) { closesocket(Sock(socket)); }

bool LookupIpv4(const std::string& name, std::string* dottedOut) {
    ADDRINFOW hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* found = nullptr;
    if (GetAddrInfoW(ToWide(name).c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    const auto* sa = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const uint32_t a = ntohl(sa->sin_addr.s_addr);
    FreeAddrInfoW(found);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", (a >> 24) & 255u, (a >> 16) & 255u,
                  (a >> 8) & 255u, a & 255u);
    *dottedOut = text;
    return true;
}

void SleepMs(int ms) { Sleep(static_cast<DWORD>(ms)); }

}  // namespace socket_port
