// BSD sockets side of the socket port.
#include "net/socket_port.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "net/transfer_control.h"

namespace socket_port {

namespace {

int Fd(SocketHandle socket) { return static_cast<int>(socket); }

bool SetMsOption(int fd, int option, int ms) {
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0;
}

bool SetBlocking(int fd, bool blocking) {
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0) return false;
    const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return fcntl(fd, F_SETFL, wanted) == 0;
}

// Polls one descriptor in slices so that a stop request is seen quickly.
WaitResult PollSliced(int fd, short events, int timeoutMs, const StopToken* stop) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (stop != nullptr && stop->Requested()) return WaitResult::kStopped;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return WaitResult::kTimedOut;
        pollfd p{fd, events, 0};
        const int slice = static_cast<int>(left < kStopPollMs ? left : kStopPollMs);
        const int r = ::poll(&p, 1, slice);
        if (r > 0) return WaitResult::kReady;
        if (r < 0 && errno != EINTR) return WaitResult::kFailed;
    }
}

}  // namespace

bool StartNetworking() { return true; }
void StopNetworking() {}

SocketHandle CreateStreamSocket() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    return fd < 0 ? kNoSocket : static_cast<SocketHandle>(fd);
}

bool SetTimeouts(SocketHandle socket, int receiveMs, int sendMs) {
    return SetMsOption(Fd(socket), SO_RCVTIMEO, receiveMs) &&
           SetMsOption(Fd(socket), SO_SNDTIMEO, sendMs);
}

int ConnectIpv4(SocketHandle socket, uint32_t address, int port, int timeoutMs,
                const StopToken* stop) {
    const int fd = Fd(socket);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address);
    sa.sin_port = htons(static_cast<uint16_t>(port));
    if (!SetBlocking(fd, false)) return -1;
    int r = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    if (r != 0 && errno == EINPROGRESS) {
        r = -1;
        if (PollSliced(fd, POLLOUT, timeoutMs, stop) == WaitResult::kReady) {
            int error = 0;
            socklen_t len = sizeof error;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0) r = 0;
        }
    }
    if (!SetBlocking(fd, true)) return -1;
    return r == 0 ? 0 : -1;
}

WaitResult WaitReadable(SocketHandle socket, int timeoutMs, const StopToken* stop) {
    return PollSliced(Fd(socket), POLLIN, timeoutMs, stop);
}

long SendSome(SocketHandle socket, const char* data, size_t size) {
    for (;;) {
        const ssize_t n = ::send(Fd(socket), data, size, MSG_NOSIGNAL);
        if (n >= 0 || errno != EINTR) return n < 0 ? -1 : static_cast<long>(n);
    }
}

long ReceiveSome(SocketHandle socket, char* buffer, size_t capacity) {
    for (;;) {
        const ssize_t n = ::recv(Fd(socket), buffer, capacity, 0);
        if (n >= 0 || errno != EINTR) return n < 0 ? -1 : static_cast<long>(n);
    }
}

void Shutdown(SocketHandle socket) { ::shutdown(Fd(socket), SHUT_RDWR); }

void Close(SocketHandle socket) { ::close(Fd(socket)); }

bool LookupIpv4(const std::string& name, std::string* dottedOut) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
    char text[INET_ADDRSTRLEN] = {};
    const auto* sa = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const bool ok = ::inet_ntop(AF_INET, &sa->sin_addr, text, sizeof text) != nullptr;
    ::freeaddrinfo(found);
    if (ok) *dottedOut = text;
    return ok;
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace socket_port
