#include "update/fetch/mirrored_transfer.h"

#include <thread>

#include "journal/journal.h"
#include "net/http_header.h"
#include "platform/file_system.h"
#include "platform/text_format.h"
#include "update/report/status_texts.h"

namespace {

// A host for HTTP holds "https://" when it is served over TLS.
std::string HttpUrlPrefix(const std::string& host) {
    return (IsHttpsUrl(host) ? "" : "http://") + host + "/";
}

// A mirror for FTP may name its own port; without one it listens where
// UpdateIP does.
std::string MirrorUrlPrefix(const LauncherSettings& settings, const std::string& host) {
    if (settings.TransferMode == kTransferModeHttp) return HttpUrlPrefix(host);
    if (host.find(':') != std::string::npos) return "ftp://" + host + "\\";
    return "ftp://" + host + ":" + settings.UpdatePort + "\\";
}

std::string HostName(const std::string& prefix) {
    const size_t start = prefix.find("://") + 3;
    return prefix.substr(start, prefix.size() - 1 - start);
}

// Waits, looking at the stop flag every kStopPollMs; false when it was set.
bool PauseUnlessStopped(std::chrono::milliseconds pause, const std::atomic<bool>* stop) {
    const auto end = std::chrono::steady_clock::now() + pause;
    for (;;) {
        if (stop != nullptr && stop->load()) return false;
        const auto left = end - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            left, std::chrono::milliseconds(kStopPollMs)));
    }
}

bool Stopped(const std::atomic<bool>* stop) { return stop != nullptr && stop->load(); }

std::string FileOfUrl(const std::string& url) { return url.substr(url.find_last_of("/\\") + 1); }

}  // namespace

std::string ServerUrlPrefix(const LauncherSettings& settings) {
    if (settings.TransferMode == kTransferModeHttp) return HttpUrlPrefix(settings.UpdateIP);
    return StringPrintf("ftp://%s:%s\\", settings.UpdateIP.c_str(), settings.UpdatePort.c_str());
}

void CMirroredTransfer::StartStep(const LauncherSettings& settings) {
    m_hosts.clear();
    m_servedBy.clear();
    m_failureText.clear();
    const std::string first = ServerUrlPrefix(settings);
    m_hosts.push_back({first, HostName(first), false});
    for (const std::string& mirror : settings.Mirrors) {
        const std::string prefix = MirrorUrlPrefix(settings, mirror);
        if (prefix != first) m_hosts.push_back({prefix, HostName(prefix), false});
    }
}

bool CMirroredTransfer::UnderFirstHost(const std::string& url) const {
    return !m_hosts.empty() && url.compare(0, m_hosts[0].prefix.size(), m_hosts[0].prefix) == 0;
}

int CMirroredTransfer::FetchToFile(int32_t transferMode, const std::string& url, const std::string& localPath,
                                   int64_t maxBytes, const std::atomic<bool>* stop, bool* notFoundOut,
                                   const FetchWatch& watch) {
    const Fetch fetch = [&](const std::string& hostUrl, bool* notFound) {
        return m_inner->FetchToFile(transferMode, hostUrl, localPath, maxBytes, stop, notFound, watch);
    };
    return Rotate(url, fetch, [&] { (void)fs_port::RemoveFile(localPath); }, stop, notFoundOut);
}

int CMirroredTransfer::FetchSpanToFile(int32_t transferMode, const std::string& url, const std::string& localPath,
                                       int64_t first, int64_t length, const std::atomic<bool>* stop,
                                       bool* rangesIgnoredOut, const FetchWatch& watch) {
    if (rangesIgnoredOut) *rangesIgnoredOut = false;
    const Fetch fetch = [&](const std::string& hostUrl, bool*) {
        return m_inner->FetchSpanToFile(transferMode, hostUrl, localPath, first, length, stop, rangesIgnoredOut,
                                        watch);
    };
    return Rotate(url, fetch, [&] { (void)fs_port::RemoveFile(localPath); }, stop, nullptr);
}

int CMirroredTransfer::FetchToMemory(int32_t transferMode, const std::string& url, int64_t maxBytes,
                                     std::string* contentOut, const std::atomic<bool>* stop) {
    const Fetch fetch = [&](const std::string& hostUrl, bool*) {
        return m_inner->FetchToMemory(transferMode, hostUrl, maxBytes, contentOut, stop);
    };
    return Rotate(url, fetch, [&] { contentOut->clear(); }, stop, nullptr);
}

int CMirroredTransfer::Rotate(const std::string& url, const Fetch& fetch, const std::function<void()>& discard,
                              const std::atomic<bool>* stop, bool* notFoundOut) {
    m_failureText.clear();
    if (!UnderFirstHost(url)) return FetchWithResumes(url, fetch, stop, notFoundOut);
    const std::string path = url.substr(m_hosts[0].prefix.size());
    // A file fetched again after its host was left (it failed its check)
    // holds that host's bytes: they go before any host is asked.
    const auto served = m_servedBy.find(url);
    bool foreignBytes = served != m_servedBy.end() && m_hosts[served->second].left;
    int result = 0;
    for (size_t i = 0; i < m_hosts.size(); ++i) {
        if (m_hosts[i].left) continue;
        if (foreignBytes) discard();
        foreignBytes = true;
        const std::string hostUrl = m_hosts[i].prefix + path;
        bool notFound = false;
        result = FetchWithResumes(hostUrl, fetch, stop, &notFound);
        if (notFoundOut) *notFoundOut = notFound;
        if (result == 0) {
            m_servedBy[url] = i;
            if (m_hosts.size() > 1) TheJournal().AddEntryF(EntryKind::Info, update_text::kServedByLog,
                                                           m_hosts[i].name.c_str(), hostUrl.c_str());
            return 0;
        }
        // A host that sends whole files for spans is fine for whole files.
        if (Stopped(stop) || result == kFetchRangesIgnored || (notFound && notFoundOut != nullptr)) return result;
        // The client's own words (an https host that cannot be trusted) say
        // more than the error number.
        if (m_failureText.empty()) m_failureText = m_inner->FailureText();
        const std::string reason = m_failureText.empty() ? "error " + std::to_string(result) + " on " + path
                                                         : m_failureText;
        if (!Leave(i, reason)) break;
    }
    return result;
}

int CMirroredTransfer::FetchWithResumes(const std::string& url, const Fetch& fetch, const std::atomic<bool>* stop,
                                        bool* notFoundOut) {
    m_failureText.clear();
    const auto start = std::chrono::steady_clock::now();
    for (int resume = 0;; ++resume) {
        const int result = fetch(url, notFoundOut);
        if (result != kFetchStalled || Stopped(stop)) return result;
        if (resume >= m_policy.maxResumes) {
            const auto seconds =
                std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
            m_failureText = StringPrintf(update_text::kDownloadStalled, FileOfUrl(url).c_str(), resume,
                                         static_cast<int>(seconds.count()));
            TheJournal().AddEntry(EntryKind::Notice, (m_failureText + " : " + url).c_str());
            return result;
        }
        // Resumes of a server that is only busy must not come in a burst.
        const std::chrono::milliseconds pause = m_policy.firstPause * (1LL << (resume < 20 ? resume : 20));
        TheJournal().AddEntryF(EntryKind::Notice, update_text::kStallResumeLog,
                               static_cast<int>((pause.count() + 999) / 1000), resume + 1, m_policy.maxResumes,
                               url.c_str());
        if (!PauseUnlessStopped(pause, stop)) return result;
    }
}

bool CMirroredTransfer::Leave(size_t i, const std::string& reason) {
    bool another = false;
    for (size_t j = 0; j < m_hosts.size(); ++j) another = another || (j != i && !m_hosts[j].left);
    if (!another) return false;
    m_hosts[i].left = true;
    TheJournal().AddEntryF(EntryKind::Notice, update_text::kHostLeftLog, m_hosts[i].name.c_str(), reason.c_str());
    return true;
}

bool CMirroredTransfer::LeaveHostOf(const std::string& url) {
    const auto served = m_servedBy.find(url);
    const size_t host = served != m_servedBy.end() ? served->second : 0;
    if (host < m_hosts.size() && !m_hosts[host].left) {
        if (Leave(host, FileOfUrl(url) + " failed its check")) return true;
    } else {
        for (const Host& other : m_hosts) {
            if (!other.left) return true;
        }
    }
    // No other host of ours: the transfer behind may still have one.
    return m_inner->LeaveHostOf(url);
}
