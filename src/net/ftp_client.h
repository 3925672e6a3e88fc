// Fetches one file from an FTP server in passive mode with image transfers,
// into a local file (resuming a partial one with REST) or into memory.
//
//   CNetworkFTP ftp;
//   std::string list;
//   int result = ftp.Download("ftp://10.0.0.5:2121\\versionlist.data", "", true, &list);
//   result = ftp.Download("ftp://10.0.0.5:2121\\1002\\pack1.zip", "C:\\game\\_temp\\pack1.zip",
//                         false, nullptr);
//
// A file download asks MDTM after SIZE, and continues a partial local file
// only when both still match the resume terms it came with.
//
// The server is addressed by dotted IPv4 and logged in with the fixed
// account. The control connection stays open and logged in between
// downloads from the same server on one client; the completion reply (226)
// of a transfer is left unread and passed over when the next download on
// the same login begins. The data connection reads through the process's
// download limiter.
//
// DownloadSpan fetches bytes [first, first + length) of a file alone: REST
// first, RETR, and the data connection is closed as soon as length bytes are
// in; the server's reply to the cut transfer (426, or 226 when it had sent
// everything already) is passed over like a completion reply.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/ftp_reply.h"
#include "net/network_socket.h"
#include "net/transfer_control.h"
#include "platform/byte_sink.h"

// Results of CNetworkFTP::Download: the step that failed.
namespace ftp_result {
constexpr int kOk = 0;
constexpr int kNoControl = 10;    // no control connection, or an unusable URL
constexpr int kGreeting = 20;     // greeting not 220
constexpr int kUser = 30;         // USER not answered 331
constexpr int kPass = 40;         // PASS not answered 230
constexpr int kType = 50;         // TYPE I not answered 200
constexpr int kCwd = 60;          // CWD not answered 250 (a 226 before it is passed over)
constexpr int kSize = 70;         // SIZE not answered 213 with a usable size (for a span: one that
                                  // holds the whole span), or MDTM not answered
constexpr int kPasv = 80;         // PASV not answered 227
constexpr int kPasvAddress = 90;  // the PASV reply holds no usable (h1,h2,h3,h4,p1,p2)
constexpr int kLocalFile = 100;   // the local file cannot be opened or created
constexpr int kNoData = 1001;     // no data connection
constexpr int kRest = 1002;       // REST not answered 350 (for a span: the server takes no REST)
constexpr int kRetr = 1003;       // RETR answered neither 125 nor 150
constexpr int kTransfer = 1004;   // the data transfer failed or fell short of SIZE
}  // namespace ftp_result

// Fixed receive buffer of a file download (never one of the file's size).
constexpr size_t kFtpFileBufferBytes = 64 * 1024;
// Servers that keep passwords under a slow hash (argon2, scrypt) take seconds
// to check one, so the answer to PASS may come later than any other.
constexpr int kPasswordReplyWaitMs = 20000;
// Largest file fetched into memory (the version list is a few kilobytes).
constexpr int64_t kMaxFtpMemoryBytes = 16 * 1024 * 1024;

class CNetworkFTP {
public:
    CNetworkFTP();
    virtual ~CNetworkFTP();
    CNetworkFTP(const CNetworkFTP&) = delete;
    CNetworkFTP& operator=(const CNetworkFTP&) = delete;

    // toMemory false: writes the file to localPath (UTF-8), resuming when the
    // server accepts REST and the local file is shorter than the remote one;
    // after a full download the file has exactly the remote size.
    // toMemory true: localPath is not used; on success *contentOut holds
    // exactly the remote size in bytes (std::string keeps a terminator after
    // them, so the content can also be read as text).
    [[nodiscard]] int Download(const std::string& url, const std::string& localPath, bool toMemory,
                               std::string* contentOut);
    // Writes bytes [first, first + length) of the file at url into
    // localPath from its start (an old file there is cut). A SIZE short of
    // first + length gives 70, a span longer than the byte cap 1004, an
    // empty span or one past 2^63 - 1 1004 as well; a server without REST
    // gives 1002 at once (see RangesIgnored()).
    [[nodiscard]] int DownloadSpan(const std::string& url, const std::string& localPath, int64_t first,
                                   int64_t length);

    // A flag owned by the caller; once it is true, a running Download gives
    // up within about kStopPollMs with a failure. Every failure writes the
    // step and the server's reply to the journal.
    void SetStopFlag(const std::atomic<bool>* stop) { m_stop.SetExternal(stop); }
    void SetProgress(ProgressFn progress) { m_progress = std::move(progress); }
    // Hears of every piece written to the local file, at its offset.
    void SetWriteTap(WriteTapFn tap) { m_tap = std::move(tap); }
    // What the partial local file came with, for every later file Download:
    // it is continued only when SIZE gives the terms' whole size (if >= 0)
    // and MDTM, when the server answers it, gives the terms' validator (if
    // not empty); otherwise it is cut and fetched from byte 0.
    void SetResumeTerms(const ResumeTerms& terms) { m_terms = terms; }
    // Hears, before the first byte of a file download is written, the MDTM
    // time (empty when the server gives none) and SIZE.
    void SetAnswered(AnsweredFn answered) { m_answered = std::move(answered); }
    // The largest file this download may give: a SIZE answer above it fails
    // the download (1004) before the transfer begins.
    void SetByteCap(int64_t maxBytes) { m_byteCap = maxBytes; }
    // How slow a reply or the data may get before the download counts as
    // stalled (1004 for the data, the step's code for a reply).
    void SetStallPolicy(const StallPolicy& policy) { m_stallPolicy = policy; }
    // Stops a running Download from another thread (the request stays set)
    // and shuts its connections down so that blocked receives return.
    void Cancel();

    // True when the last Download failed because the server answered 550 to
    // SIZE or RETR: the file is not there.
    [[nodiscard]] bool NotFound() const { return m_bNotFound; }
    // True when the last Download failed because the data or a reply
    // stalled (too few bytes over a stall window, or none at all).
    [[nodiscard]] bool Stalled() const { return m_bStalled; }
    // True when the last DownloadSpan failed because the server takes no
    // REST (its answer to "REST 100" at the login): it can only send whole
    // files, so the caller fetches the whole file instead.
    [[nodiscard]] bool RangesIgnored() const { return m_bRangesIgnored; }

    [[nodiscard]] bool IsLoggedIn() const { return m_nConnectedPort != 0 && m_control.IsOpen(); }

private:
    [[nodiscard]] int Fetch(const std::string& what, const std::string& url, const std::string& localPath,
                            bool toMemory, std::string* contentOut);
    [[nodiscard]] int Run(const std::string& url, const std::string& localPath, bool toMemory,
                          std::string* contentOut);
    [[nodiscard]] int CheckSize(bool toMemory);
    [[nodiscard]] bool IsSpan() const { return m_nSpanFirst >= 0; }
    // Keeps why the download failed, for the journal: the command and the
    // reply that refused it (or that none came). Gives step.
    int Refused(int step, const char* command, bool answered, const FtpReply& reply);
    bool Refuse(const std::string& why);
    [[nodiscard]] long ReceiveData(CNetworkSocket& data, char* buffer, size_t capacity, StallWatch* watch,
                                   int64_t have);
    [[nodiscard]] bool ParseUrl(const std::string& url);
    [[nodiscard]] int PrepareTransfer(bool askTime);
    [[nodiscard]] int LogIn();
    [[nodiscard]] int ChangeDirectory();
    [[nodiscard]] int AskSizeAndPassive(bool askTime);
    [[nodiscard]] int OpenLocalFile(const std::string& localPath, const std::string& url);
    [[nodiscard]] std::string TermsFault() const;
    [[nodiscard]] int Retrieve(bool toMemory, std::string* contentOut);
    void Disconnect();
    [[nodiscard]] bool ReceiveToFile(CNetworkSocket& data);
    [[nodiscard]] bool ReceiveToMemory(CNetworkSocket& data, std::string* contentOut);
    [[nodiscard]] bool ReadReply(FtpReply* replyOut);
    [[nodiscard]] bool Command(const std::string& text, FtpReply* replyOut);
    [[nodiscard]] const std::string& DataConnectionHost() const;

    std::string m_strHost;
    int32_t m_nPort = 0;
    std::string m_strDataHost;
    int32_t m_nDataPort = 0;
    bool m_bCanResume = false;
    std::string m_strUser;
    std::string m_strPassword;
    std::string m_strRemoteDir;
    std::string m_strRemoteFile;
    std::string m_strConnectedHost;
    int32_t m_nConnectedPort = 0;
    UniqueFile m_hFile;
    int64_t m_nOffset = 0;
    int64_t m_nRemoteSize = 0;
    int64_t m_nSpanFirst = -1;  // the server file's offset of the local file's first byte; -1: whole file
    int64_t m_nSpanLength = 0;
    std::string m_strRemoteTime;  // MDTM of the running file download; empty: none given
    CNetworkSocket m_control;
    std::string m_pendingReply;  // control bytes received beyond the last whole reply
    bool m_bCompletionDue = false;  // the last transfer's completion reply is still to be read
    std::string m_failure;       // why the running download failed
    std::string m_replyProblem;  // why the last ReadReply gave no whole reply
    int64_t m_byteCap = kMaxFtpFileBytes;
    StallPolicy m_stallPolicy;
    StopToken m_stop;
    ActiveSockets m_active;
    ProgressFn m_progress;
    WriteTapFn m_tap;
    ResumeTerms m_terms;
    AnsweredFn m_answered;
    bool m_bNotFound = false;
    bool m_bStalled = false;
    bool m_bRangesIgnored = false;
};
