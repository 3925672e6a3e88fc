// The platform's TLS client behind one small interface: GnuTLS natively,
// Schannel (SSPI) in the Windows build. The session never touches a socket:
// it moves its records through the transport it is given, so the socket
// layer's waits, stop requests and rate limit apply to the encrypted bytes.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

// The raw byte connection a session runs over.
class ITlsTransport {
public:
    virtual ~ITlsTransport() = default;
    // The count received, 0 when the peer closed, -1 on a failure (the
    // transport keeps why).
    [[nodiscard]] virtual long RawReceive(char* buffer, size_t capacity) = 0;
    [[nodiscard]] virtual bool RawSend(const char* data, size_t size) = 0;
};

// Why a secure connection could not be made or went on. Each has its own
// reason in the log.
enum class TlsFault {
    kNone,
    kUnknownIssuer,     // the chain ends at no root the system trusts
    kExpired,           // a certificate of the chain has expired
    kNotYetValid,       // a certificate of the chain is not valid yet
    kWrongHost,         // the certificate does not name the host asked for
    kUntrusted,         // the chain failed another check (revoked, bad signature, unusable)
    kRefused,           // the handshake failed: no common version or cipher, or not TLS at all
    kAlert,             // the server sent a fatal alert
    kTransport,         // the connection failed, stalled or closed under the session
};

class ITlsSession {
public:
    virtual ~ITlsSession() = default;
    // Runs the handshake with SNI for hostName (not for an IP address),
    // TLS 1.2 or newer, and checks the chain and that it names hostName.
    // kNone when the session is up; otherwise *detailOut says what failed
    // in the library's words.
    [[nodiscard]] virtual TlsFault Handshake(const std::string& hostName, std::string* detailOut) = 0;
    // Plain bytes of the next records: the count, 0 at the server's close,
    // -1 on a failure (*detailOut says which).
    [[nodiscard]] virtual long Read(char* buffer, size_t capacity, std::string* detailOut) = 0;
    [[nodiscard]] virtual bool Write(const char* data, size_t size) = 0;
};

// A client session over transport, which must outlive it; null when the
// library cannot make one.
[[nodiscard]] std::unique_ptr<ITlsSession> MakeTlsSession(ITlsTransport* transport);

#ifdef VANTOREL_TEST_TRUST_FILE
// Test builds only (the sanitized tree, or VANTOREL_TEST_TRUST_FILE=ON): the
// sessions made from now on trust the CA certificates of this PEM file
// instead of the system's store (empty: the system's again, or the file the
// environment's VANTOREL_TEST_CA_FILE names). Release builds have neither.
void SetTestTrustFile(const std::string& pemPath);
#endif
