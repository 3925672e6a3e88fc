// The TLS client of the Windows build: Schannel through SSPI over our own
// socket layer. Schannel does the handshake and the records; the server's
// chain and host name are checked here by the system's chain engine with
// the SSL policy, so that every failure gets its own reason.
#define SECURITY_WIN32
#include <windows.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "net/network_socket.h"
#include "net/tls_port.h"
#include "platform/win32/wide.h"

namespace {

constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR;
// A handshake flight larger than this (certificate chains are a few KiB) is
// refused rather than collected without end.
constexpr size_t kMaxHandshakeBytes = 64 * 1024;
// Encrypted bytes taken from the socket at once: several records, so that
// the receive calls per megabyte stay as few as over plain http.
constexpr size_t kIncomingBytes = 64 * 1024 + 16 * 1024 + 1024;
// The record types a server's first bytes may start with.
constexpr char kAlertRecord = 0x15;
constexpr char kHandshakeRecord = 0x16;

std::string CodeText(const char* what, long code) {
    char text[64];
    std::snprintf(text, sizeof text, "%s 0x%08lX", what, static_cast<unsigned long>(code));
    return text;
}

bool StartsTlsRecord(char first) { return first == kHandshakeRecord || first == kAlertRecord; }

// The description byte of the first fatal alert among the server's whole
// records in bytes, -1 for none: Schannel tells a received alert only as a
// failed handshake, with no word of which alert it was.
int FatalAlertIn(const std::vector<char>& bytes) {
    constexpr unsigned char kFatalLevel = 2;
    for (size_t at = 0; at + 7 <= bytes.size() && StartsTlsRecord(bytes[at]);) {
        const auto* record = reinterpret_cast<const unsigned char*>(bytes.data() + at);
        const size_t length = static_cast<size_t>(record[3]) << 8 | record[4];
        if (bytes[at] == kAlertRecord && length == 2 && record[5] == kFatalLevel) return record[6];
        at += 5 + length;
    }
    return -1;
}

// The alerts a server sends to a client's hello, named as the other builds'
// TLS library names them, so that the logs read alike.
std::string AlertName(int description) {
    static const struct {
        int code;
        const char* name;
    } kNames[] = {{10, "Unexpected message"},
                  {40, "Handshake failed"},
                  {47, "Illegal parameter"},
                  {50, "Decode error"},
                  {70, "Error in protocol version"},
                  {71, "Insufficient security"},
                  {80, "Internal error"},
                  {112, "The server name sent was not recognized"}};
    for (const auto& known : kNames) {
        if (known.code == description) return known.name;
    }
    return "alert " + std::to_string(description);
}

bool IsAddressText(const std::string& host) {
    uint32_t address = 0;
    return ParseDottedIpv4(host, &address);
}

// Why the system does not trust the chain for hostName; kNone when it does.
TlsFault ChainFault(PCCERT_CONTEXT certificate, const std::wstring& hostName, std::string* detailOut) {
    LPSTR serverAuth = const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH);
    CERT_CHAIN_PARA chainPara = {};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = &serverAuth;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara, 0,
                                 nullptr, &chain)) {
        *detailOut = CodeText("CertGetCertificateChain", static_cast<long>(GetLastError()));
        return TlsFault::kUntrusted;
    }
    // A chain that ends at no trusted root fails here already: not every
    // chain policy (Wine's) counts a partial chain against it.
    const DWORD chainErrors = chain->TrustStatus.dwErrorStatus;
    if (chainErrors & (CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_UNTRUSTED_ROOT)) {
        CertFreeCertificateChain(chain);
        *detailOut = CodeText("chain trust status", static_cast<long>(chainErrors));
        return TlsFault::kUnknownIssuer;
    }
    HTTPSPolicyCallbackData ssl = {};
    ssl.cbStruct = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = const_cast<wchar_t*>(hostName.c_str());
    CERT_CHAIN_POLICY_PARA policyPara = {};
    policyPara.cbSize = sizeof policyPara;
    policyPara.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof status;
    const BOOL checked = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policyPara, &status);
    CertFreeCertificateChain(chain);
    if (!checked) {
        *detailOut = CodeText("CertVerifyCertificateChainPolicy", static_cast<long>(GetLastError()));
        return TlsFault::kUntrusted;
    }
    if (status.dwError == 0) return TlsFault::kNone;
    *detailOut = CodeText("chain policy", static_cast<long>(status.dwError));
    switch (static_cast<HRESULT>(status.dwError)) {
        case CERT_E_UNTRUSTEDROOT:
        case CERT_E_CHAINING:
            return TlsFault::kUnknownIssuer;
        case CERT_E_EXPIRED:
            // One code for both ends of the validity period.
            return CertVerifyTimeValidity(nullptr, certificate->pCertInfo) < 0 ? TlsFault::kNotYetValid
                                                                              : TlsFault::kExpired;
        case CERT_E_CN_NO_MATCH:
            return TlsFault::kWrongHost;
        default:
            return TlsFault::kUntrusted;
    }
}

class SchannelSession : public ITlsSession {
public:
    explicit SchannelSession(ITlsTransport* transport) : m_transport(transport), m_incoming(kIncomingBytes) {}
    ~SchannelSession() override {
        if (m_hasContext) DeleteSecurityContext(&m_context);
        if (m_hasCredentials) FreeCredentialsHandle(&m_credentials);
    }
    SchannelSession(const SchannelSession&) = delete;
    SchannelSession& operator=(const SchannelSession&) = delete;

    // TLS 1.2 (SCHANNEL_CRED cannot ask for 1.3 everywhere); the chain is
    // checked by us, after the handshake, not by Schannel on its own terms.
    bool Init() {
        SCHANNEL_CRED schannel = {};
        schannel.dwVersion = SCHANNEL_CRED_VERSION;
        schannel.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        schannel.dwFlags =
            SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
        wchar_t package[] = UNISP_NAME_W;
        m_hasCredentials = AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr,
                                                     &schannel, nullptr, nullptr, &m_credentials,
                                                     nullptr) == SEC_E_OK;
        return m_hasCredentials;
    }

    TlsFault Handshake(const std::string& hostName, std::string* detailOut) override {
        const std::wstring wideHost = ToWide(hostName);
        // RFC 6066: an address is never sent as a server name.
        const std::wstring target = IsAddressText(hostName) ? std::wstring() : wideHost;
        const TlsFault fault = Negotiate(target, detailOut);
        if (fault != TlsFault::kNone) return fault;
        if (QueryContextAttributesW(&m_context, SECPKG_ATTR_STREAM_SIZES, &m_sizes) != SEC_E_OK) {
            *detailOut = "no stream sizes";
            return TlsFault::kRefused;
        }
        PCCERT_CONTEXT certificate = nullptr;
        const SECURITY_STATUS got =
            QueryContextAttributesW(&m_context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate);
        if (got != SEC_E_OK || certificate == nullptr) {
            *detailOut = CodeText("no server certificate", got);
            return TlsFault::kUntrusted;
        }
        const TlsFault chain = ChainFault(certificate, wideHost, detailOut);
        CertFreeCertificateContext(certificate);
        return chain;
    }

    long Read(char* buffer, size_t capacity, std::string* detailOut) override {
        while (m_plainSize == 0) {
            const int step = DecryptNext(detailOut);
            if (step <= 0) return step;
        }
        const size_t take = capacity < m_plainSize ? capacity : m_plainSize;
        std::memcpy(buffer, m_plain, take);
        m_plain += take;
        m_plainSize -= take;
        return static_cast<long>(take);
    }

    bool Write(const char* data, size_t size) override {
        std::vector<char> record(m_sizes.cbHeader + m_sizes.cbMaximumMessage + m_sizes.cbTrailer);
        while (size > 0) {
            const size_t piece = size < m_sizes.cbMaximumMessage ? size : m_sizes.cbMaximumMessage;
            std::memcpy(record.data() + m_sizes.cbHeader, data, piece);
            SecBuffer buffers[4] = {
                {m_sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                {static_cast<unsigned long>(piece), SECBUFFER_DATA, record.data() + m_sizes.cbHeader},
                {m_sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + m_sizes.cbHeader + piece},
                {0, SECBUFFER_EMPTY, nullptr},
            };
            SecBufferDesc description = {SECBUFFER_VERSION, 4, buffers};
            if (EncryptMessage(&m_context, 0, &description, 0) != SEC_E_OK) return false;
            const size_t total = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
            if (!m_transport->RawSend(record.data(), total)) return false;
            data += piece;
            size -= piece;
        }
        return true;
    }

private:
    // The handshake's rounds: each answer of the server goes to Schannel,
    // each token Schannel makes goes to the server.
    TlsFault Negotiate(const std::wstring& target, std::string* detailOut) {
        std::vector<char> received;
        bool first = true;
        for (;;) {
            SecBuffer in[2] = {
                {static_cast<unsigned long>(received.size()), SECBUFFER_TOKEN, received.data()},
                {0, SECBUFFER_EMPTY, nullptr},
            };
            SecBufferDesc inDescription = {SECBUFFER_VERSION, 2, in};
            SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
            SecBufferDesc outDescription = {SECBUFFER_VERSION, 1, out};
            ULONG attributes = 0;
            const SECURITY_STATUS status = InitializeSecurityContextW(
                &m_credentials, first ? nullptr : &m_context,
                target.empty() ? nullptr : const_cast<wchar_t*>(target.c_str()), kContextFlags, 0, 0,
                first ? nullptr : &inDescription, 0, &m_context, &outDescription, &attributes, nullptr);
            if (first) m_hasContext = status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED;
            first = false;
            // A token goes out even with an error: it is the alert that tells
            // the server why.
            const bool sent = SendToken(out[0]);
            if (status == SEC_E_INCOMPLETE_MESSAGE) {
                if (!ReceiveMore(&received)) return Broken(received, detailOut);
                continue;
            }
            if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
                if (Alerted(received, detailOut)) return TlsFault::kAlert;
                *detailOut = CodeText("InitializeSecurityContext", status);
                return TlsFault::kRefused;
            }
            if (!sent) return Broken(received, detailOut);
            // What the server sent past the handshake's end is the first record.
            const size_t extra = in[1].BufferType == SECBUFFER_EXTRA ? in[1].cbBuffer : 0;
            received.erase(received.begin(), received.end() - static_cast<std::ptrdiff_t>(extra));
            if (status == SEC_E_OK) {
                std::memcpy(m_incoming.data(), received.data(), received.size());
                m_inEnd = received.size();
                return TlsFault::kNone;
            }
            if (received.empty() && !ReceiveMore(&received)) return Broken(received, detailOut);
        }
    }

    bool SendToken(SecBuffer& token) {
        if (token.pvBuffer == nullptr) return true;
        const auto* bytes = static_cast<const char*>(token.pvBuffer);
        const bool sent = token.cbBuffer == 0 || m_transport->RawSend(bytes, token.cbBuffer);
        FreeContextBuffer(token.pvBuffer);
        token.pvBuffer = nullptr;
        return sent;
    }

    bool ReceiveMore(std::vector<char>* received) {
        if (received->size() >= kMaxHandshakeBytes) return false;
        if (!received->empty() && !StartsTlsRecord((*received)[0])) return false;
        char piece[4096];
        const long n = m_transport->RawReceive(piece, sizeof piece);
        if (n <= 0) return false;
        received->insert(received->end(), piece, piece + n);
        return true;
    }

    // A fatal alert the server sent is the handshake's end whatever Schannel
    // made of it.
    static bool Alerted(const std::vector<char>& received, std::string* detailOut) {
        const int alert = FatalAlertIn(received);
        if (alert < 0) return false;
        *detailOut = AlertName(alert);
        return true;
    }

    // A server whose first byte starts neither a handshake nor an alert
    // record does not speak TLS (plain http on the https port): that is a
    // refusal, wherever Schannel stopped reading.
    TlsFault Broken(const std::vector<char>& received, std::string* detailOut) {
        if (Alerted(received, detailOut)) return TlsFault::kAlert;
        const bool tls = received.empty() || StartsTlsRecord(received[0]);
        *detailOut = tls ? "the handshake broke off" : "the server does not speak TLS";
        return tls ? TlsFault::kTransport : TlsFault::kRefused;
    }

    // Decrypts the next record into m_plain: 1 when one was taken (it may
    // hold no data), 0 at the server's close, -1 on a failure.
    int DecryptNext(std::string* detailOut) {
        for (;;) {
            if (m_inEnd > m_inStart) {
                SecBuffer buffers[4] = {
                    {static_cast<unsigned long>(m_inEnd - m_inStart), SECBUFFER_DATA,
                     m_incoming.data() + m_inStart},
                    {0, SECBUFFER_EMPTY, nullptr},
                    {0, SECBUFFER_EMPTY, nullptr},
                    {0, SECBUFFER_EMPTY, nullptr},
                };
                SecBufferDesc description = {SECBUFFER_VERSION, 4, buffers};
                const SECURITY_STATUS status = DecryptMessage(&m_context, &description, 0, nullptr);
                if (status == SEC_E_OK) return TakeRecord(buffers);
                if (status == SEC_I_CONTEXT_EXPIRED) return 0;  // the server's close_notify
                if (status != SEC_E_INCOMPLETE_MESSAGE) {
                    *detailOut = CodeText("DecryptMessage", status);
                    return -1;
                }
            }
            const int more = ReceiveRecordBytes(detailOut);
            if (more <= 0) return more;
        }
    }

    int TakeRecord(const SecBuffer* buffers) {
        m_plain = nullptr;
        m_plainSize = 0;
        size_t extra = 0;
        for (int i = 1; i < 4; ++i) {
            if (buffers[i].BufferType == SECBUFFER_DATA) {
                m_plain = static_cast<char*>(buffers[i].pvBuffer);
                m_plainSize = buffers[i].cbBuffer;
            }
            if (buffers[i].BufferType == SECBUFFER_EXTRA) extra = buffers[i].cbBuffer;
        }
        // The plain bytes lie before the next record's, which stay in place
        // until the plain ones have been read.
        m_inStart = m_inEnd - extra;
        return 1;
    }

    // More encrypted bytes after the unread ones, moved to the front first.
    // 0 when the server closed between records (a close without
    // close_notify ends the body as a plain close does).
    int ReceiveRecordBytes(std::string* detailOut) {
        if (m_inStart > 0) {
            std::memmove(m_incoming.data(), m_incoming.data() + m_inStart, m_inEnd - m_inStart);
            m_inEnd -= m_inStart;
            m_inStart = 0;
        }
        if (m_inEnd == m_incoming.size()) {
            *detailOut = "a record larger than the receive buffer";
            return -1;
        }
        const long n = m_transport->RawReceive(m_incoming.data() + m_inEnd, m_incoming.size() - m_inEnd);
        if (n < 0) return -1;
        if (n == 0 && m_inEnd > 0) {
            *detailOut = "closed inside a record";
            return -1;
        }
        m_inEnd += static_cast<size_t>(n);
        return n > 0 ? 1 : 0;
    }

    ITlsTransport* m_transport;
    CredHandle m_credentials = {};
    CtxtHandle m_context = {};
    bool m_hasCredentials = false;
    bool m_hasContext = false;
    SecPkgContext_StreamSizes m_sizes = {};
    std::vector<char> m_incoming;  // encrypted bytes [m_inStart, m_inEnd) not yet decrypted
    size_t m_inStart = 0;
    size_t m_inEnd = 0;
    char* m_plain = nullptr;  // decrypted bytes not yet read, inside m_incoming
    size_t m_plainSize = 0;
};

}  // namespace

std::unique_ptr<ITlsSession> MakeTlsSession(ITlsTransport* transport) {
    auto session = std::make_unique<SchannelSession>(transport);
    if (!session->Init()) return nullptr;
    return session;
}
