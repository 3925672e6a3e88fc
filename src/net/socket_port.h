// The platform's TCP sockets behind a few free functions: Winsock in the
// Windows build, BSD sockets natively. IPv4 only; every call blocks the
// calling thread for at most the time it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class StopToken;

namespace socket_port {

using SocketHandle = intptr_t;
// The value of "no socket" on both sides (INVALID_SOCKET is ~0 on Windows).
constexpr SocketHandle kNoSocket = -1;

// Once per process before the first socket: WSAStartup on Windows; on POSIX
// nothing (sends never raise SIGPIPE). StopNetworking undoes it at the end.
[[nodiscard]] bool StartNetworking();
void StopNetworking();

// An IPv4 stream socket, or kNoSocket.
[[nodiscard]] SocketHandle CreateStreamSocket();
// SO_RCVTIMEO and SO_SNDTIMEO, in milliseconds.
[[nodiscard]] bool SetTimeouts(SocketHandle socket, int receiveMs, int sendMs);

// Connects to an IPv4 address (host byte order). Waits at most timeoutMs and
// gives up early when stop is requested. Result 0 = connected, -1 = failed
// (the value a failed connect call returns).
[[nodiscard]] int ConnectIpv4(SocketHandle socket, uint32_t address, int port, int timeoutMs,
                              const StopToken* stop);

enum class WaitResult { kReady, kTimedOut, kStopped, kFailed };
// Waits until data (or the peer's close) can be read.
[[nodiscard]] WaitResult WaitReadable(SocketHandle socket, int timeoutMs, const StopToken* stop);

// One send or receive call: the count moved, 0 for a closed peer (receive),
// -1 on an error or time-out.
[[nodiscard]] long SendSome(SocketHandle socket, const char* data, size_t size);
[[nodiscard]] long ReceiveSome(SocketHandle socket, char* buffer, size_t capacity);

// Ends both directions without releasing the handle; callable from another
// thread while the owner still holds the socket.
void Shutdown(SocketHandle socket);
void Close(SocketHandle socket);

// First IPv4 address of a host name (or dotted text) as dotted text.
[[nodiscard]] bool LookupIpv4(const std::string& name, std::string* dottedOut);

// The calling thread sleeps.
void SleepMs(int ms);

}  // namespace socket_port
