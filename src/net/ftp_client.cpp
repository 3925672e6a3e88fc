#include "net/ftp_client.h"

#include <vector>

#include "net/rate_limiter.h"
#include "net/transfer_log.h"
#include "platform/file_system.h"

namespace {

constexpr int kPrepared = 0;
constexpr int kReplyChunkBytes = 1024;
constexpr size_t kMemoryChunkBytes = 16 * 1024;
// "Requested action not taken: file unavailable" (RFC 959), the answer for a
// file that is not there.
constexpr int kFileUnavailable = 550;
const char kUserName[] = "update";
const char kPassword[] = "stream907";

}  // namespace

CNetworkFTP::CNetworkFTP() {
    m_control.SetStopToken(&m_stop);
    m_active.Add(&m_control);
}

CNetworkFTP::~CNetworkFTP() {
    m_active.Remove(&m_control);
    m_hFile.reset();
    m_control.Close();
}

void CNetworkFTP::Cancel() {
    m_stop.Request();
    m_active.ShutdownAll();
}

int CNetworkFTP::Download(const std::string& url, const std::string& localPath, bool toMemory,
                          std::string* contentOut) {
    m_nSpanFirst = -1;
    return Fetch("FTP RETR " + url, url, localPath, toMemory, contentOut);
}

int CNetworkFTP::DownloadSpan(const std::string& url, const std::string& localPath, int64_t first,
                              int64_t length) {
    m_nSpanFirst = -1;
    if (first < 0 || length <= 0 || length - 1 > kMaxFtpFileBytes - first) {
        m_bNotFound = m_bStalled = m_bRangesIgnored = false;
        LogTransfer(EntryKind::Error, "FTP RETR " + url,
                    "unusable span of " + std::to_string(length) + " bytes from byte " + std::to_string(first));
        return ftp_result::kTransfer;
    }
    m_nSpanFirst = first;
    m_nSpanLength = length;
    const std::string what =
        "FTP RETR " + url + " bytes " + std::to_string(first) + "-" + std::to_string(first + length - 1);
    const int result = Fetch(what, url, localPath, false, nullptr);
    m_nSpanFirst = -1;
    return result;
}

int CNetworkFTP::Fetch(const std::string& what, const std::string& url, const std::string& localPath,
                       bool toMemory, std::string* contentOut) {
    m_failure.clear();
    m_bNotFound = false;
    m_bStalled = false;
    m_bRangesIgnored = false;
    const int result = Run(url, localPath, toMemory, contentOut);
    if (result != ftp_result::kOk) LogTransfer(EntryKind::Error, what, m_failure);
    return result;
}

int CNetworkFTP::Refused(int step, const char* command, bool answered, const FtpReply& reply) {
    m_failure = std::string(command) + (answered ? " answered " + QuoteServerText(reply.text)
                                                 : " got no whole answer: " + m_replyProblem);
    return step;
}

bool CNetworkFTP::Refuse(const std::string& why) {
    m_failure = why;
    return false;
}

int CNetworkFTP::Run(const std::string& url, const std::string& localPath, bool toMemory,
                     std::string* contentOut) {
    if (toMemory && contentOut != nullptr) contentOut->clear();
    if (!ParseUrl(url) || (toMemory && contentOut == nullptr)) {
        Refuse("unusable URL");
        Disconnect();
        return ftp_result::kNoControl;
    }
    const int prepared = PrepareTransfer(!toMemory);
    if (prepared != kPrepared) {
        Disconnect();
        return prepared * 10;
    }
    if (toMemory) {
        // The offset of an earlier file download on this client must not
        // cut the front off the content.
        m_nOffset = 0;
    }
    const int sized = CheckSize(toMemory);
    if (sized != ftp_result::kOk) {
        Disconnect();
        return sized;
    }
    if (!toMemory && OpenLocalFile(localPath, url) != 0) {
        Refuse("the local file " + localPath + " cannot be opened or cut");
        Disconnect();
        return ftp_result::kLocalFile;
    }
    if (!toMemory && m_answered) m_answered(m_strRemoteTime, m_nRemoteSize);
    const int result = Retrieve(toMemory, contentOut);
    if (result != ftp_result::kOk) Disconnect();
    return result;
}

// What SIZE gave must fit the cap, and hold the whole span of a span
// download, which needs REST as well.
int CNetworkFTP::CheckSize(bool toMemory) {
    const int64_t limit = toMemory && kMaxFtpMemoryBytes < m_byteCap ? kMaxFtpMemoryBytes : m_byteCap;
    const int64_t wanted = IsSpan() ? m_nSpanLength : m_nRemoteSize;
    if (wanted > limit) {
        Refuse((IsSpan() ? "the span of " : "SIZE announces ") + std::to_string(wanted) +
               " bytes, more than the cap of " + std::to_string(limit) + " bytes for this file");
        return ftp_result::kTransfer;
    }
    if (!IsSpan()) return ftp_result::kOk;
    if (!m_bCanResume) {
        m_bRangesIgnored = true;
        Refuse("the server takes no REST, so it cannot send a span");
        return ftp_result::kRest;
    }
    if (m_nRemoteSize - m_nSpanFirst < m_nSpanLength) {
        Refuse("SIZE gives " + std::to_string(m_nRemoteSize) + " bytes, too few for the span");
        return ftp_result::kSize;
    }
    return ftp_result::kOk;
}

bool CNetworkFTP::ParseUrl(const std::string& url) {
    FtpUrl parsed;
    if (!ParseFtpUrl(url, &parsed)) return false;
    m_strHost = parsed.host;
    m_nPort = parsed.port;
    m_strUser = kUserName;
    m_strPassword = kPassword;
    m_strRemoteDir = parsed.remoteDir;
    m_strRemoteFile = parsed.remoteFile;
    return true;
}

int CNetworkFTP::PrepareTransfer(bool askTime) {
    if ((m_strConnectedHost != m_strHost || m_nConnectedPort != m_nPort) && m_control.IsOpen()) {
        Disconnect();
    }
    if (!m_control.IsOpen()) {
        const int login = LogIn();
        if (login != kPrepared) return login;
    } else if (m_bCompletionDue) {
        // The last transfer's completion reply (226) is passed over here,
        // before CWD. A server may answer CWD before it sends that reply,
        // which then would stand in for a later answer, so wait for it.
        FtpReply completion;
        if (!ReadReply(&completion)) return Refused(6, "the last transfer's completion", false, completion);
    }
    m_bCompletionDue = false;
    const int cwd = ChangeDirectory();
    return cwd != kPrepared ? cwd : AskSizeAndPassive(askTime);
}

int CNetworkFTP::LogIn() {
    m_pendingReply.clear();
    if (m_control.Open(m_strHost.c_str(), m_nPort) != kSocketOk) {
        Refuse("no control connection to " + m_strHost + ":" + std::to_string(m_nPort));
        return 1;
    }
    FtpReply reply;
    bool answered = ReadReply(&reply);
    if (!answered || reply.code != 220) return Refused(2, "the greeting", answered, reply);
    answered = Command("USER " + m_strUser + "\r\n", &reply);
    if (!answered || reply.code != 331) return Refused(3, "USER", answered, reply);
    m_control.SetReceiveWait(kPasswordReplyWaitMs);
    answered = Command("PASS " + m_strPassword + "\r\n", &reply);
    m_control.SetReceiveWait(kSocketTimeoutMs);
    if (!answered || reply.code != 230) return Refused(4, "PASS", answered, reply);
    answered = Command("TYPE I\r\n", &reply);
    if (!answered || reply.code != 200) return Refused(5, "TYPE I", answered, reply);
    m_bCanResume = Command("REST 100\r\n", &reply) && reply.code == 350;
    m_strConnectedHost = m_strHost;
    m_nConnectedPort = m_nPort;
    return kPrepared;
}

int CNetworkFTP::ChangeDirectory() {
    FtpReply reply;
    const bool answered = Command("CWD " + CwdArgument(m_strRemoteDir) + "\r\n", &reply);
    // A CWD that fails must not leave the download in the previous folder.
    return answered && reply.code == 250 ? kPrepared : Refused(6, "CWD", answered, reply);
}

// askTime: MDTM as well, whose time tells a partial local file's server
// file from a newer one of the same size. A server without MDTM (500, 502,
// 550) or with a time of another shape gives none, and the download goes on.
int CNetworkFTP::AskSizeAndPassive(bool askTime) {
    FtpReply reply;
    bool answered = Command("SIZE " + m_strRemoteFile + "\r\n", &reply);
    if (!answered || reply.code != 213 || !ParseSizeReply(reply.text, &m_nRemoteSize)) {
        m_bNotFound = answered && reply.code == kFileUnavailable;
        return Refused(7, "SIZE", answered, reply);
    }
    m_strRemoteTime.clear();
    if (askTime) {
        answered = Command("MDTM " + m_strRemoteFile + "\r\n", &reply);
        if (!answered) return Refused(7, "MDTM", false, reply);
        if (reply.code != 213 || !ParseTimeReply(reply.text, &m_strRemoteTime)) m_strRemoteTime.clear();
    }
    answered = Command("PASV \r\n", &reply);
    if (!answered || reply.code != 227) return Refused(8, "PASV", answered, reply);
    if (!ParsePasvReply(reply.text, &m_strDataHost, &m_nDataPort)) return Refused(9, "PASV", true, reply);
    return kPrepared;
}

// The data connection always goes to the server the control connection
// talks to: a PASV reply naming another host would let the server steer the
// launcher to other machines (and is wrong behind NAT anyway).
const std::string& CNetworkFTP::DataConnectionHost() const { return m_strHost; }

int CNetworkFTP::OpenLocalFile(const std::string& localPath, const std::string& url) {
    m_hFile.reset();
    m_hFile = OpenOrCreateFile(localPath);
    if (m_hFile && IsSpan()) {
        m_nOffset = m_nSpanFirst;
        return fs_port::TruncateFile(m_hFile.get(), 0) ? 0 : 1;
    }
    if (!m_hFile || !fs_port::SeekFile(m_hFile.get(), 0, SEEK_END)) return 1;
    m_nOffset = fs_port::TellFile(m_hFile.get());
    if (m_nOffset < 0) return 1;
    if (m_bCanResume && m_nOffset < m_nRemoteSize) {
        const std::string fault = m_nOffset == 0 ? std::string() : TermsFault();
        if (fault.empty()) return 0;
        LogTransfer(EntryKind::Notice, "FTP RETR " + url,
                    fault + "; the local file is cut and fetched again from its first byte");
    }
    // A download from the start: cut the old bytes at once, so that a break
    // later leaves only good bytes for the next resume.
    m_nOffset = 0;
    return fs_port::SeekFile(m_hFile.get(), 0, SEEK_SET) && fs_port::TruncateFile(m_hFile.get(), 0)
               ? 0
               : 1;
}

// Why the partial local file must not be continued: the server's file is
// not the one its bytes came with. Empty when the terms hold; a server that
// gives no MDTM time cannot contradict a validator.
std::string CNetworkFTP::TermsFault() const {
    if (m_terms.wholeSize >= 0 && m_terms.wholeSize != m_nRemoteSize) {
        return "SIZE gives " + std::to_string(m_nRemoteSize) + " bytes, not the " +
               std::to_string(m_terms.wholeSize) + " bytes the local file's bytes came with";
    }
    if (!m_terms.validator.empty() && !m_strRemoteTime.empty() && m_terms.validator != m_strRemoteTime) {
        return "MDTM gives " + QuoteServerText(m_strRemoteTime) + ", not " +
               QuoteServerText(m_terms.validator) + ", the time the local file's bytes came with";
    }
    return std::string();
}

int CNetworkFTP::Retrieve(bool toMemory, std::string* contentOut) {
    CNetworkSocket data;
    data.SetStopToken(&m_stop);
    data.SetRateLimiter(&DownloadRateLimiter());
    data.SetReceiveWait(StallReceiveWaitMs(m_stallPolicy, kSocketTimeoutMs));
    ActiveSocketScope listed(&m_active, &data);
    if (data.Open(DataConnectionHost().c_str(), m_nDataPort) != kSocketOk) {
        Refuse("no data connection to " + DataConnectionHost() + ":" + std::to_string(m_nDataPort));
        return ftp_result::kNoData;
    }
    FtpReply reply;
    bool answered = Command("REST " + std::to_string(m_nOffset) + "\r\n", &reply);
    if (!answered || reply.code != 350) return Refused(ftp_result::kRest, "REST", answered, reply);
    answered = Command("RETR " + m_strRemoteFile + "\r\n", &reply);
    if (!answered || (reply.code != 125 && reply.code != 150)) {
        m_bNotFound = answered && reply.code == kFileUnavailable;
        return Refused(ftp_result::kRetr, "RETR", answered, reply);
    }
    const bool received = toMemory ? ReceiveToMemory(data, contentOut) : ReceiveToFile(data);
    if (!received) return ftp_result::kTransfer;
    if (m_hFile) {
        const bool flushed = std::fflush(m_hFile.get()) == 0;
        m_hFile.reset();
        if (!flushed) {
            Refuse(kLocalWriteFailed);
            return ftp_result::kTransfer;
        }
    }
    // After a span the server still sends: it answers the cut with 426 (or
    // 226 when all was sent already), read as the completion reply.
    data.Close();
    m_bCompletionDue = true;
    return ftp_result::kOk;
}

void CNetworkFTP::Disconnect() {
    m_hFile.reset();
    m_control.Close();
    m_nConnectedPort = 0;
    m_pendingReply.clear();
    m_bCompletionDue = false;
}

// One receive on the data connection, watched for stalls. -1 with the reason
// kept when it failed or the transfer has stalled; 0 when the server closed.
long CNetworkFTP::ReceiveData(CNetworkSocket& data, char* buffer, size_t capacity, StallWatch* watch,
                              int64_t have) {
    const long n = data.Receive(buffer, capacity);
    if (n < 0) {
        m_bStalled = data.ReceiveTimedOut();
        Refuse(data.ReceiveFailureText() + ", " + ReceivedText(have, m_nRemoteSize));
        return -1;
    }
    const auto now = StallWatch::Clock::now();
    watch->Feed(n, now);
    if (watch->Stalled(now)) {
        m_bStalled = true;
        Refuse(StallText(*watch) + ", " + ReceivedText(have, m_nRemoteSize));
        return -1;
    }
    return n;
}

// Counts in the server file's offsets: the local file starts at base, and
// the bytes wanted end at end. A span stops reading at its end, and the
// caller closes the data connection with the rest of the file unread.
bool CNetworkFTP::ReceiveToFile(CNetworkSocket& data) {
    std::vector<char> buffer(kFtpFileBufferBytes);
    FileSink sink(m_hFile.get());
    StallWatch watch(m_stallPolicy, StallWatch::Clock::now());
    const int64_t base = IsSpan() ? m_nSpanFirst : 0;
    const int64_t end = IsSpan() ? m_nSpanFirst + m_nSpanLength : m_nRemoteSize;
    int64_t have = m_nOffset;
    while (!IsSpan() || have < end) {
        const long n = ReceiveData(data, buffer.data(), buffer.size(), &watch, have);
        if (n < 0) return false;
        if (n == 0) break;
        // Bytes beyond the announced size (or the span) are not part of the file.
        const int64_t room = end - have;
        const size_t take = n > room ? static_cast<size_t>(room < 0 ? 0 : room) : static_cast<size_t>(n);
        if (!sink.Write(buffer.data(), take)) return Refuse(kLocalWriteFailed);
        if (m_tap) m_tap(have - base, buffer.data(), take);
        have += static_cast<int64_t>(take);
        if (m_progress) m_progress(have - base, end - base);
    }
    // A close before SIZE bytes arrived is a broken transfer, not a file.
    if (have < end) return Refuse("closed early, " + ReceivedText(have - base, end - base));
    return IsSpan() || fs_port::TruncateFile(m_hFile.get(), m_nRemoteSize) ||
           Refuse("the local file could not be cut");
}

bool CNetworkFTP::ReceiveToMemory(CNetworkSocket& data, std::string* contentOut) {
    if (m_nRemoteSize <= 0) return Refuse("SIZE announces an empty file, and nothing goes to memory");
    std::string content;
    content.reserve(static_cast<size_t>(m_nRemoteSize));
    StringSink sink(&content, static_cast<size_t>(m_nRemoteSize));
    StallWatch watch(m_stallPolicy, StallWatch::Clock::now());
    char buffer[kMemoryChunkBytes];
    while (static_cast<int64_t>(content.size()) < m_nRemoteSize) {
        const size_t want = static_cast<size_t>(m_nRemoteSize) - content.size();
        const int64_t have = static_cast<int64_t>(content.size());
        const long n = ReceiveData(data, buffer, want < sizeof buffer ? want : sizeof buffer, &watch, have);
        if (n < 0) return false;
        if (n == 0) return Refuse("closed early, " + ReceivedText(have, m_nRemoteSize));
        if (!sink.Write(buffer, static_cast<size_t>(n))) return false;
        if (m_progress) m_progress(static_cast<int64_t>(content.size()), m_nRemoteSize);
    }
    *contentOut = std::move(content);
    return true;
}

// A reply dribbled a byte at a time would restart the receive time-out
// with every byte; the stall watch ends that like a data transfer.
bool CNetworkFTP::ReadReply(FtpReply* replyOut) {
    char chunk[kReplyChunkBytes];
    StallWatch watch(m_stallPolicy, StallWatch::Clock::now());
    for (;;) {
        const ReplyScan scan = TakeReply(&m_pendingReply, replyOut);
        if (scan == ReplyScan::kComplete) return true;
        if (scan == ReplyScan::kTooLong) {
            m_replyProblem = "a reply over " + std::to_string(kMaxFtpReplyBytes) + " bytes";
            return false;
        }
        const long n = m_control.Receive(chunk, sizeof chunk);
        if (n <= 0) {
            m_bStalled = n < 0 && m_control.ReceiveTimedOut();
            m_replyProblem = n == 0 ? "closed" : m_control.ReceiveFailureText();
            return false;
        }
        const auto now = StallWatch::Clock::now();
        watch.Feed(n, now);
        if (watch.Stalled(now)) {
            m_bStalled = true;
            m_replyProblem = StallText(watch);
            return false;
        }
        m_pendingReply.append(chunk, static_cast<size_t>(n));
    }
}

bool CNetworkFTP::Command(const std::string& text, FtpReply* replyOut) {
    m_control.SendText(text);
    return ReadReply(replyOut);
}
