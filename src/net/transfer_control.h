// What a caller on another thread can do to a running download: ask it to
// stop, and watch how far it got.
//
// Stopping is cooperative. Every wait of the socket layer (connect, the pause
// between connect attempts, each receive) runs in short slices and looks at
// the stop request between them, so a download returns a failure within about
// kStopPollMs after the request, without any socket call from the other
// thread. A client's Cancel() also shuts its open connections down at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class CNetworkSocket;

// How often a blocking wait looks at the stop request.
constexpr int kStopPollMs = 100;

// Called on the downloading thread after each piece written: bytes of the
// file so far (a resumed file counts its old bytes) and the size the file will
// have, or -1 while that is not known yet.
using ProgressFn = std::function<void(int64_t bytesSoFar, int64_t totalBytes)>;

// Called on the downloading thread after each piece written, at the file
// offset where it landed (a download that starts over writes at 0 again), so
// the bytes can be checked as they pass instead of read back.
using WriteTapFn = std::function<void(int64_t offset, const char* data, size_t size)>;

// What the server said of the file, before the first byte of an answer is
// written: its validator (HTTP: a strong ETag, else Last-Modified; FTP: the
// MDTM time; empty when it gave none) and the file's whole size (-1 while
// unknown). A caller that keeps a partial file across runs records both, so
// that a later run resumes only the same file.
using AnsweredFn = std::function<void(const std::string& validator, int64_t wholeSize)>;

// What must still hold on the server for a partial local file to be
// continued instead of fetched again from its first byte.
struct ResumeTerms {
    // The validator the partial bytes came with: HTTP sends it as If-Range
    // (a changed file is then sent whole), FTP compares it with MDTM.
    std::string validator;
    // The file's whole size when the partial bytes came; a server that now
    // gives another size sends the file from its first byte. -1: no size.
    int64_t wholeSize = -1;
};

// A download's terms and watchers, all optional: the terms a partial local
// file resumes under, progress and wrote as above, and answered.
struct FetchWatch {
    FetchWatch() = default;
    // A watch of the progress alone, where a ProgressFn was passed before.
    FetchWatch(ProgressFn progressFn) : progress(std::move(progressFn)) {}  // NOLINT(google-explicit-constructor)
    ResumeTerms resume;
    ProgressFn progress;
    WriteTapFn wrote;
    AnsweredFn answered;
};

// How slow a transfer may get before it counts as stalled: over every window
// of this length at least window x minimum rate bytes must arrive. A link that
// sends a byte a second would otherwise keep a download alive for ever, since
// each byte restarts the socket's receive time-out; a steady link at the
// minimum rate or above is never cut.
constexpr std::chrono::milliseconds kStallWindow{30000};
constexpr int64_t kMinBytesPerSecond = 1024;

struct StallPolicy {
    std::chrono::milliseconds window = kStallWindow;
    int64_t minBytesPerSecond = kMinBytesPerSecond;
};

// How long one receive of a watched transfer may wait: a silence as long as
// the window is a stall as well, so no receive waits longer than the window.
[[nodiscard]] inline int StallReceiveWaitMs(const StallPolicy& policy, int ordinaryWaitMs) {
    const auto windowMs = policy.window.count();
    return windowMs < ordinaryWaitMs ? static_cast<int>(windowMs) : ordinaryWaitMs;
}

// Fed with the bytes a transfer receives and the time, says when it has
// stalled: a whole window passed with fewer bytes than the policy asks for.
// It only judges; what happens then (fail the attempt, retry, switch to a
// mirror) is the caller's.
class StallWatch {
public:
    using Clock = std::chrono::steady_clock;

    StallWatch(StallPolicy policy, Clock::time_point start)
        : m_policy(policy), m_windowStart(start) {}
    // Bytes that arrived at now; they count for the window running then.
    void Feed(int64_t bytes, Clock::time_point now);
    // Closes every window that has ended by now; true once one of them fell
    // short (and from then on).
    [[nodiscard]] bool Stalled(Clock::time_point now);
    // Bytes of the window that fell short, or of the running one.
    [[nodiscard]] int64_t WindowBytes() const { return m_windowBytes; }
    [[nodiscard]] const StallPolicy& Policy() const { return m_policy; }

private:
    StallPolicy m_policy;
    Clock::time_point m_windowStart;
    int64_t m_windowBytes = 0;
    bool m_stalled = false;
};

// A stop request made of the client's own flag (Cancel) and, optionally, a
// flag the caller owns and sets from any thread.
class StopToken {
public:
    void SetExternal(const std::atomic<bool>* external) { m_external = external; }
    void Request() { m_local.store(true); }
    [[nodiscard]] bool Requested() const {
        return m_local.load() || (m_external != nullptr && m_external->load());
    }

private:
    std::atomic<bool> m_local{false};
    const std::atomic<bool>* m_external = nullptr;
};

// The connections a client has open right now, so that Cancel() on another
// thread can shut them down. A socket is listed only while its owner keeps it
// alive (see ActiveSocketScope).
class ActiveSockets {
public:
    void Add(CNetworkSocket* socket);
    void Remove(CNetworkSocket* socket);
    // Shuts every listed socket down (both directions); their owners then see
    // the connection end and close them.
    void ShutdownAll();

private:
    std::mutex m_mutex;
    std::vector<CNetworkSocket*> m_sockets;
};

// Lists a socket for the lifetime of the scope. Declare it after the socket
// so that it is removed before the socket is destroyed.
class ActiveSocketScope {
public:
    ActiveSocketScope(ActiveSockets* list, CNetworkSocket* socket) : m_list(list), m_socket(socket) {
        m_list->Add(m_socket);
    }
    ~ActiveSocketScope() { m_list->Remove(m_socket); }
    ActiveSocketScope(const ActiveSocketScope&) = delete;
    ActiveSocketScope& operator=(const ActiveSocketScope&) = delete;

private:
    ActiveSockets* m_list;
    CNetworkSocket* m_socket;
};
