// The update hosts of one version step (UpdateIP, then the mirrors), in front
// of the clients' transfers. The engine builds every URL on UpdateIP; each
// fetch goes to the first host not yet left, with the same path, and moves
// on to the next host when that one fails. A download that stalls is resumed
// on the same host after a growing pause, a bounded number of times, before
// its host counts as failed.
//
//   CMirroredTransfer hosts(&NetworkTransfer());
//   hosts.StartStep(settings);                      // when a step begins
//   int result = hosts.FetchToFile(mode, url, local, cap, &stop, &notFound, watch);
//   if (result == 0 && !packageGood) hosts.LeaveHostOf(url);
//
// A host is left (for the rest of the step) when it cannot be reached,
// answers with an error, stalls through every resume, or served a file that
// failed its check; the last host remaining is never left. A 404 is an answer
// only for a file the caller may find missing (it asks with notFoundOut):
// such a file is not looked for elsewhere, so a stale mirror cannot add, say,
// a delete list that the first host does not have. For a file the step
// needs, a 404 fails the host like any other error.
//
// A partial file never mixes bytes of two hosts: before another host is
// asked, whatever the last one left in the local file is deleted, and the
// next host starts from the first byte. Resumes stay on one host.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "update/engine/updater_ports.h"

// Resumes of a stalled download on one host, and the pause before the first
// (it doubles before every further one: 2, 4, 8, 16 s).
constexpr int kMaxStallResumes = 4;
constexpr std::chrono::milliseconds kFirstResumePause{2000};

struct ResumePolicy {
    int maxResumes = kMaxStallResumes;
    std::chrono::milliseconds firstPause = kFirstResumePause;
};

class CMirroredTransfer : public IUpdateTransfer {
public:
    explicit CMirroredTransfer(IUpdateTransfer* inner) : m_inner(inner) {}

    // Begins a step on settings' hosts: none is left, nothing was served.
    void StartStep(const LauncherSettings& settings);
    void SetResumePolicy(const ResumePolicy& policy) { m_policy = policy; }

    [[nodiscard]] int FetchToFile(int32_t transferMode, const std::string& url, const std::string& localPath,
                                  int64_t maxBytes, const std::atomic<bool>* stop, bool* notFoundOut,
                                  const FetchWatch& watch) override;
    [[nodiscard]] int FetchToMemory(int32_t transferMode, const std::string& url, int64_t maxBytes,
                                    std::string* contentOut, const std::atomic<bool>* stop) override;
    // Like FetchToFile; a host that cannot give the span alone
    // (kFetchRangesIgnored) is not left: the caller fetches the whole file.
    [[nodiscard]] int FetchSpanToFile(int32_t transferMode, const std::string& url, const std::string& localPath,
                                      int64_t first, int64_t length, const std::atomic<bool>* stop,
                                      bool* rangesIgnoredOut, const FetchWatch& watch) override;
    bool LeaveHostOf(const std::string& url) override;
    [[nodiscard]] std::string FailureText() const override { return m_failureText; }

private:
    struct Host {
        std::string prefix;  // what a URL on this host starts with, e.g. "http://m1:8080/"
        std::string name;    // for the log
        bool left = false;
    };
    // One fetch of a URL on one host; notFoundOut may be null.
    using Fetch = std::function<int(const std::string& url, bool* notFoundOut)>;

    [[nodiscard]] int Rotate(const std::string& url, const Fetch& fetch, const std::function<void()>& discard,
                             const std::atomic<bool>* stop, bool* notFoundOut);
    [[nodiscard]] int FetchWithResumes(const std::string& url, const Fetch& fetch, const std::atomic<bool>* stop,
                                       bool* notFoundOut);
    // Leaves host i when another host remains; false (host kept) otherwise.
    bool Leave(size_t i, const std::string& reason);
    [[nodiscard]] bool UnderFirstHost(const std::string& url) const;

    IUpdateTransfer* m_inner;
    ResumePolicy m_policy;
    std::vector<Host> m_hosts;
    std::map<std::string, size_t> m_servedBy;  // engine URL -> host that served it
    std::string m_failureText;
};

// What the engine's URLs start with: "http://UpdateIP/" for HTTP (UpdateIP
// + "/" when it holds "https://") and "ftp://UpdateIP:UpdatePort\" for FTP.
[[nodiscard]] std::string ServerUrlPrefix(const LauncherSettings& settings);
