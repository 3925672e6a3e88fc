#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/loopback_listener.h"

namespace test_net {

socket_port::SocketHandle ListenLoopback(int* portOut) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return socket_port::kNoSocket;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        ::close(fd);
        return socket_port::kNoSocket;
    }
    *portOut = ntohs(sa.sin_port);
    return fd;
}

socket_port::SocketHandle AcceptWithin(socket_port::SocketHandle listener, int timeoutMs) {
    if (socket_port::WaitReadable(listener, timeoutMs, nullptr) != socket_port::WaitResult::kReady) {
        return socket_port::kNoSocket;
    }
    const int fd = ::accept(static_cast<int>(listener), nullptr, nullptr);
    return fd < 0 ? socket_port::kNoSocket : fd;
}

}  // namespace test_net
