#include "net/tls_stream.h"

#include <cstring>

#include "net/network_socket.h"
#include "net/transfer_log.h"

namespace {

constexpr size_t kReceiveAheadBytes = 64 * 1024;

}  // namespace

CTlsStream::CTlsStream(CNetworkSocket* socket, const StallPolicy& policy)
    : m_socket(socket), m_watch(policy, StallWatch::Clock::now()), m_ahead(kReceiveAheadBytes) {}

CTlsStream::~CTlsStream() = default;

std::string TlsFaultText(TlsFault fault) {
    switch (fault) {
        case TlsFault::kNone:
            return "no fault";
        case TlsFault::kUnknownIssuer:
            return "the certificate's issuer is unknown";
        case TlsFault::kExpired:
            return "the certificate has expired";
        case TlsFault::kNotYetValid:
            return "the certificate is not valid yet";
        case TlsFault::kWrongHost:
            return "the certificate is for another host name";
        case TlsFault::kUntrusted:
            return "the certificate is not trusted";
        case TlsFault::kRefused:
            return "the TLS handshake was refused";
        case TlsFault::kAlert:
            return "the server sent a TLS alert";
        default:
            return "the connection failed during the TLS handshake";
    }
}

std::string CTlsStream::FailureText() const {
    return m_detail.empty() ? TlsFaultText(m_fault) : TlsFaultText(m_fault) + " (" + m_detail + ")";
}

bool CTlsStream::Handshake(const std::string& hostName) {
    m_session = MakeTlsSession(this);
    if (!m_session) {
        m_fault = TlsFault::kRefused;
        m_detail = "no TLS session could be made";
        return false;
    }
    m_rawFailed = false;
    std::string detail;
    m_fault = m_session->Handshake(hostName, &detail);
    if (m_fault == TlsFault::kNone) return true;
    // A connection that failed under the session is told in the socket's
    // words, whatever the library made of it; a certificate or an alert the
    // library judged stays its fault even if the connection ended after it.
    const bool judged = m_fault != TlsFault::kRefused && m_fault != TlsFault::kTransport;
    if (judged || !m_rawFailed) {
        m_detail = detail;
    } else {
        m_fault = TlsFault::kTransport;
    }
    return false;
}

int CTlsStream::SendAll(const char* data, int length) {
    if (length <= 0) return kSocketOk;
    return m_session && m_session->Write(data, static_cast<size_t>(length)) ? kSocketOk : kSocketFailed;
}

long CTlsStream::Receive(char* buffer, size_t capacity) {
    m_rawFailed = m_timedOut = m_stalled = false;
    if (!m_session) return -1;
    std::string detail;
    long n = m_session->Read(buffer, capacity, &detail);
    if (n < 0 && !m_rawFailed) m_detail = "TLS: " + detail;
    // A record yields at most 16 KiB: the caller gets those of every whole
    // record already received too, never a wait for more with bytes in hand.
    for (long more = n; more > 0 && static_cast<size_t>(n) < capacity && WholeRecordAhead(); n += more) {
        more = m_session->Read(buffer + n, capacity - static_cast<size_t>(n), &detail);
        if (more <= 0) break;
    }
    return n;
}

// A TLS record is a 5-byte header whose last two bytes give the length of
// what follows.
bool CTlsStream::WholeRecordAhead() const {
    const size_t have = m_aheadEnd - m_aheadStart;
    if (have < 5) return false;
    const auto* header = reinterpret_cast<const unsigned char*>(m_ahead.data() + m_aheadStart);
    return have >= 5 + (static_cast<size_t>(header[3]) << 8 | header[4]);
}

long CTlsStream::RawReceive(char* buffer, size_t capacity) {
    if (m_aheadStart == m_aheadEnd) {
        const long n = ReceiveAhead();
        if (n <= 0) return n;
        m_aheadStart = 0;
        m_aheadEnd = static_cast<size_t>(n);
    }
    const size_t take = capacity < m_aheadEnd - m_aheadStart ? capacity : m_aheadEnd - m_aheadStart;
    std::memcpy(buffer, m_ahead.data() + m_aheadStart, take);
    m_aheadStart += take;
    return static_cast<long>(take);
}

long CTlsStream::ReceiveAhead() {
    const long n = m_socket->Receive(m_ahead.data(), m_ahead.size());
    if (n < 0) {
        m_rawFailed = true;
        m_timedOut = m_socket->ReceiveTimedOut();
        m_detail = m_socket->ReceiveFailureText();
        return n;
    }
    const auto now = StallWatch::Clock::now();
    m_watch.Feed(n, now);
    if (m_watch.Stalled(now)) {
        m_rawFailed = m_stalled = true;
        m_detail = StallText(m_watch);
        return -1;
    }
    if (n == 0) {
        m_detail = "closed by the server";
        m_rawFailed = true;
    }
    return n;
}

bool CTlsStream::RawSend(const char* data, size_t size) {
    if (m_socket->SendAll(data, static_cast<int>(size)) == kSocketOk) return true;
    m_rawFailed = true;
    m_detail = "send error";
    return false;
}
