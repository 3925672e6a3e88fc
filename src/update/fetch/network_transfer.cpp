// The engine's transfers through the network clients: a new client for every
// file, HTTP for transfer mode 1 and FTP otherwise, both watching the
// engine's stop flag and the stall policy.
#include "app/launcher_settings.h"
#include "net/ftp_client.h"
#include "net/http_client.h"
#include "update/engine/updater_ports.h"
#include "update/install/program_start.h"

namespace {

// Asks the client after its download whether the file was not there, and
// turns a stall into kFetchStalled (the client has logged its own code).
template <typename Client>
int Finish(const Client& client, int result, bool* notFoundOut) {
    if (notFoundOut) *notFoundOut = result != 0 && client.NotFound();
    return result != 0 && client.Stalled() ? kFetchStalled : result;
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
            http.SetProgress(watch.progress);
            http.SetWriteTap(watch.wrote);
            return Finish(http, http.Download(url, localPath), notFoundOut);
        }
        CNetworkFTP ftp;
        Configure(&ftp, maxBytes, stop, m_policy);
        ftp.SetProgress(watch.progress);
        ftp.SetWriteTap(watch.wrote);
        return Finish(ftp, ftp.Download(url, localPath, false, nullptr), notFoundOut);
    }

    int FetchToMemory(int32_t transferMode, const std::string& url, int64_t maxBytes,
                      std::string* contentOut, const std::atomic<bool>* stop) override {
        if (transferMode == kTransferModeHttp) return http_result::kUnknownHost;
        CNetworkFTP ftp;
        Configure(&ftp, maxBytes, stop, m_policy);
        return Finish(ftp, ftp.Download(url, "", true, contentOut), nullptr);
    }

private:
    const StallPolicy m_policy;
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
