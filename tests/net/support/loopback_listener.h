// Listening sockets on 127.0.0.1 for the tests' own servers. The rest of the
// socket work (send, receive, close) goes through the product's socket port.
#pragma once

#include "net/socket_port.h"

namespace test_net {

// Listens on 127.0.0.1 with a port the system picks; kNoSocket on failure.
socket_port::SocketHandle ListenLoopback(int* portOut);
// One accepted connection within timeoutMs, or kNoSocket.
socket_port::SocketHandle AcceptWithin(socket_port::SocketHandle listener, int timeoutMs);
// A port on 127.0.0.1 that nobody listens on (bound, then released).
inline int UnusedLoopbackPort() {
    int port = 0;
    const socket_port::SocketHandle s = ListenLoopback(&port);
    if (s != socket_port::kNoSocket) socket_port::Close(s);
    return port;
}

}  // namespace test_net
