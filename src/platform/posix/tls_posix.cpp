// The TLS client of the native build: GnuTLS with the system's trust store,
// the chain and the host name checked during the handshake.
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "net/network_socket.h"
#include "net/tls_port.h"

namespace {

// TLS 1.2 and 1.3 only, with GnuTLS's default ciphers for them.
constexpr char kPriorities[] = "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2";

// One credential set for every session of the process: the system store is
// read once, not for every file of a step.
class TrustStore {
public:
    // The credentials with the store loaded, or null when none could be.
    gnutls_certificate_credentials_t Get() {
        std::lock_guard<std::mutex> hold(m_mutex);
        if (m_credentials == nullptr) Load();
        return m_credentials;
    }
    void UseFile(const std::string& pemPath) {
        std::lock_guard<std::mutex> hold(m_mutex);
        Drop();
        m_pemPath = pemPath;
    }

private:
    void Load() {
        if (gnutls_certificate_allocate_credentials(&m_credentials) != GNUTLS_E_SUCCESS) {
            m_credentials = nullptr;
            return;
        }
        const std::string pemPath = TestTrustFile();
        const int loaded = pemPath.empty() ? gnutls_certificate_set_x509_system_trust(m_credentials)
                                           : gnutls_certificate_set_x509_trust_file(
                                                 m_credentials, pemPath.c_str(), GNUTLS_X509_FMT_PEM);
        // With no root at all every chain fails as of an unknown issuer,
        // which is the truth for this machine.
        (void)loaded;
    }
    // The test CA given in the process (SetTestTrustFile) or, for the test
    // programs run by scripts, in VANTOREL_TEST_CA_FILE. Empty in release
    // builds, which never read either.
    std::string TestTrustFile() const {
#ifdef VANTOREL_TEST_TRUST_FILE
        const char* fromEnvironment = std::getenv("VANTOREL_TEST_CA_FILE");
        if (m_pemPath.empty() && fromEnvironment != nullptr) return fromEnvironment;
#endif
        return m_pemPath;
    }
    void Drop() {
        if (m_credentials != nullptr) gnutls_certificate_free_credentials(m_credentials);
        m_credentials = nullptr;
    }

    std::mutex m_mutex;
    gnutls_certificate_credentials_t m_credentials = nullptr;
    std::string m_pemPath;
};

TrustStore& TheTrustStore() {
    static TrustStore store;
    return store;
}

ssize_t Push(gnutls_transport_ptr_t transport, const void* data, size_t size) {
    auto* raw = static_cast<ITlsTransport*>(transport);
    if (raw->RawSend(static_cast<const char*>(data), size)) return static_cast<ssize_t>(size);
    errno = EIO;
    return -1;
}

ssize_t Pull(gnutls_transport_ptr_t transport, void* buffer, size_t capacity) {
    auto* raw = static_cast<ITlsTransport*>(transport);
    const long n = raw->RawReceive(static_cast<char*>(buffer), capacity);
    if (n < 0) errno = EIO;
    return n;
}

// Every receive of ours waits on its own (up to the receive wait, watching
// the stop request): GnuTLS may always go ahead and pull.
int PullReady(gnutls_transport_ptr_t, unsigned int) { return 1; }

TlsFault CertificateFault(unsigned status) {
    if (status & GNUTLS_CERT_UNEXPECTED_OWNER) return TlsFault::kWrongHost;
    if (status & GNUTLS_CERT_EXPIRED) return TlsFault::kExpired;
    if (status & GNUTLS_CERT_NOT_ACTIVATED) return TlsFault::kNotYetValid;
    if (status & GNUTLS_CERT_SIGNER_NOT_FOUND) return TlsFault::kUnknownIssuer;
    return TlsFault::kUntrusted;
}

bool IsAddressText(const std::string& host) {
    uint32_t address = 0;
    return ParseDottedIpv4(host, &address);
}

class GnuTlsSession : public ITlsSession {
public:
    explicit GnuTlsSession(ITlsTransport* transport) : m_transport(transport) {}
    ~GnuTlsSession() override {
        if (m_session != nullptr) gnutls_deinit(m_session);
    }
    GnuTlsSession(const GnuTlsSession&) = delete;
    GnuTlsSession& operator=(const GnuTlsSession&) = delete;

    bool Init() {
        gnutls_certificate_credentials_t credentials = TheTrustStore().Get();
        if (credentials == nullptr) return false;
        if (gnutls_init(&m_session, GNUTLS_CLIENT) != GNUTLS_E_SUCCESS) return false;
        if (gnutls_priority_set_direct(m_session, kPriorities, nullptr) != GNUTLS_E_SUCCESS ||
            gnutls_credentials_set(m_session, GNUTLS_CRD_CERTIFICATE, credentials) != GNUTLS_E_SUCCESS) {
            return false;
        }
        gnutls_transport_set_ptr(m_session, m_transport);
        gnutls_transport_set_push_function(m_session, Push);
        gnutls_transport_set_pull_function(m_session, Pull);
        gnutls_transport_set_pull_timeout_function(m_session, PullReady);
        gnutls_handshake_set_timeout(m_session, 0);
        return true;
    }

    TlsFault Handshake(const std::string& hostName, std::string* detailOut) override {
        // RFC 6066: an address is never sent as a server name.
        if (!IsAddressText(hostName)) {
            gnutls_server_name_set(m_session, GNUTLS_NAME_DNS, hostName.data(), hostName.size());
        }
        gnutls_session_set_verify_cert(m_session, hostName.c_str(), 0);
        int result = GNUTLS_E_AGAIN;
        while (result < 0 && gnutls_error_is_fatal(result) == 0) result = gnutls_handshake(m_session);
        if (result >= 0) return TlsFault::kNone;
        *detailOut = gnutls_strerror(result);
        if (result == GNUTLS_E_CERTIFICATE_VERIFICATION_ERROR) {
            return CertificateFault(gnutls_session_get_verify_cert_status(m_session));
        }
        if (result == GNUTLS_E_FATAL_ALERT_RECEIVED) {
            const char* name = gnutls_alert_get_name(gnutls_alert_get(m_session));
            *detailOut = name != nullptr ? name : "unknown alert";
            return TlsFault::kAlert;
        }
        if (result == GNUTLS_E_PULL_ERROR || result == GNUTLS_E_PUSH_ERROR ||
            result == GNUTLS_E_PREMATURE_TERMINATION) {
            return TlsFault::kTransport;
        }
        return TlsFault::kRefused;
    }

    long Read(char* buffer, size_t capacity, std::string* detailOut) override {
        for (;;) {
            const ssize_t n = gnutls_record_recv(m_session, buffer, capacity);
            if (n >= 0) return static_cast<long>(n);
            // A close without close_notify ends the body like a plain close:
            // a length-framed body then shows the cut, and the files' own
            // checks catch any other.
            if (n == GNUTLS_E_PREMATURE_TERMINATION) return 0;
            if (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED || gnutls_error_is_fatal(n) == 0) continue;
            *detailOut = gnutls_strerror(static_cast<int>(n));
            return -1;
        }
    }

    bool Write(const char* data, size_t size) override {
        while (size > 0) {
            const ssize_t n = gnutls_record_send(m_session, data, size);
            if (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED) continue;
            if (n <= 0) return false;
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }

private:
    ITlsTransport* m_transport;
    gnutls_session_t m_session = nullptr;
};

}  // namespace

std::unique_ptr<ITlsSession> MakeTlsSession(ITlsTransport* transport) {
    auto session = std::make_unique<GnuTlsSession>(transport);
    if (!session->Init()) return nullptr;
    return session;
}

#ifdef VANTOREL_TEST_TRUST_FILE
void SetTestTrustFile(const std::string& pemPath) { TheTrustStore().UseFile(pemPath); }
#endif
