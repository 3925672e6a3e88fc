// The engine's transfers through the network clients: a new client for every
// file, HTTP for transfer mode 1 and FTP otherwise, both watching the
// engine's stop flag and the stall policy.
#include <mutex>

#include "app/launcher_settings.h"
#include "net/ftp_client.h"
#include "net/http_client.h"
#include "update/engine/updater_ports.h"
#include "platform/text_format.h"
#include "update/install/program_start.h"
#include "update/report/status_texts.h"

namespace {

// Asks the client after its download whether the file was not there, and
// turns a stall into kFetchStalled (the client has logged its own code).
template <typename Client>
int Finish(const Client& client, int result, bool* notFoundOut) {
    if (notFoundOut) *notFoundOut = result != 0 && client.NotFound();
    return result != 0 && client.Stalled() ? kFetchStalled : result;
}

// A span the server cannot give alone turns into kFetchRangesIgnored.
template <typename Client>
int FinishSpan(const Client& client, int result, bool* rangesIgnoredOut) {
    const bool ignored = result != 0 && client.RangesIgnored();
    if (rangesIgnoredOut) *rangesIgnoredOut = ignored;
    return ignored ? kFetchRangesIgnored : Finish(client, result, nullptr);
}

template <typename Client>
void Watch(Client* client, const FetchWatch& watch) {
    client->SetProgress(watch.progress);
    client->SetWriteTap(watch.wrote);
    client->SetResumeTerms(watch.resume);
    client->SetAnswered(watch.answered);
}

template <typename Client>
void Configure(Client* client, int64_t maxBytes, const std::atomic<bool>* stop, const StallPolicy& policy) {
    client->SetStopFlag(stop);
    client->SetStallPolicy(policy);
    if (maxBytes != kNoByteCap) client->SetByteCap(maxBytes);
}

class ClientTransfer : public IUpdateTransfer {
public:
    explicit ClientTransfer(const StallPolicy& policy) : m_policy(policy) {}

    int FetchToFile(int32_t transferMode, const std::string& url, const std::string& localPath,
                    int64_t maxBytes, const std::atomic<bool>* stop, bool* notFoundOut,
                    const FetchWatch& watch) override {
        if (transferMode == kTransferModeHttp) {
            CNetworkHTTP http;
            Configure(&http, maxBytes, stop, m_policy);
            Watch(&http, watch);
            const int result = http.Download(url, localPath);
            KeepSecureFailure(http);
            return Finish(http, result, notFoundOut);
        }
        CNetworkFTP ftp;
        Configure(&ftp, maxBytes, stop, m_policy);
        Watch(&ftp, watch);
        return Finish(ftp, ftp.Download(url, localPath, false, nullptr), notFoundOut);
    }

    // The span's length is its cap.
    int FetchSpanToFile(int32_t transferMode, const std::string& url, const std::string& localPath, int64_t first,
                        int64_t length, const std::atomic<bool>* stop, bool* rangesIgnoredOut,
                        const FetchWatch& watch) override {
        if (transferMode == kTransferModeHttp) {
            CNetworkHTTP http;
            Configure(&http, kNoByteCap, stop, m_policy);
            Watch(&http, watch);
            const int result = http.DownloadSpan(url, localPath, first, length);
            KeepSecureFailure(http);
            return FinishSpan(http, result, rangesIgnoredOut);
        }
        CNetworkFTP ftp;
        Configure(&ftp, kNoByteCap, stop, m_policy);
        Watch(&ftp, watch);
        return FinishSpan(ftp, ftp.DownloadSpan(url, localPath, first, length), rangesIgnoredOut);
    }

    int FetchToMemory(int32_t transferMode, const std::string& url, int64_t maxBytes,
                      std::string* contentOut, const std::atomic<bool>* stop) override {
        if (transferMode == kTransferModeHttp) return http_result::kUnknownHost;
        CNetworkFTP ftp;
        Configure(&ftp, maxBytes, stop, m_policy);
        return Finish(ftp, ftp.Download(url, "", true, contentOut), nullptr);
    }

    // The last HTTP fetch's failure when it was a secure connection's.
    [[nodiscard]] std::string FailureText() const override {
        std::lock_guard<std::mutex> hold(m_failureMutex);
        return m_failureText;
    }

private:
    void KeepSecureFailure(const CNetworkHTTP& http) {
        std::lock_guard<std::mutex> hold(m_failureMutex);
        m_failureText = http.SecureFailure().empty()
                            ? std::string()
                            : StringPrintf(update_text::kSecureConnectionFailed, http.SecureFailure().c_str());
    }

    const StallPolicy m_policy;
    mutable std::mutex m_failureMutex;
    std::string m_failureText;
};

class DetachedStarter : public IProgramStarter {
public:
    bool Start(const std::string& path, const std::string& parameters, int* codeOut) override {
        return StartProgramDetached(path, parameters, codeOut);
    }
    void StopLeftoverInstaller() override { StopLeftoverInstallerProgram(); }
};

}  // namespace

IUpdateTransfer& NetworkTransfer() {
    static ClientTransfer transfer{StallPolicy{}};
    return transfer;
}

std::unique_ptr<IUpdateTransfer> MakeNetworkTransfer(const StallPolicy& policy) {
    return std::make_unique<ClientTransfer>(policy);
}

IProgramStarter& PlatformProgramStarter() {
    static DetachedStarter starter;
    return starter;
}
