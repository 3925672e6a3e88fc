#include <winsock2.h>

#include "support/loopback_listener.h"

namespace test_net {

socket_port::SocketHandle ListenLoopback(int* portOut) {
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return socket_port::kNoSocket;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof sa;
    if (::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(s, 8) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        ::closesocket(s);
        return socket_port::kNoSocket;
    }
    *portOut = ntohs(sa.sin_port);
    return static_cast<socket_port::SocketHandle>(s);
}

socket_port::SocketHandle AcceptWithin(socket_port::SocketHandle listener, int timeoutMs) {
    if (socket_port::WaitReadable(listener, timeoutMs, nullptr) != socket_port::WaitResult::kReady) {
        return socket_port::kNoSocket;
    }
    const SOCKET s = ::accept(static_cast<SOCKET>(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? socket_port::kNoSocket : static_cast<socket_port::SocketHandle>(s);
}

}  // namespace test_net
