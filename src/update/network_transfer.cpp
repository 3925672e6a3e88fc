// The engine's transfers through the network clients: a new client for every
// file, HTTP for transfer mode 1 and FTP otherwise, both watching the
// engine's stop flag.
#include "app/launcher_settings.h"
#include "net/ftp_client.h"
#include "net/http_client.h"
#include "update/program_start.h"
#include "update/updater_ports.h"

namespace {

// Asks the client after its download whether the file was not there.
template <typename Client>
int Finish(const Client& client, int result, bool* notFoundOut) {
    if (notFoundOut) *notFoundOut = result != 0 && client.NotFound();
    return result;
}

class ClientTransfer : public IUpdateTransfer {
public:
    int FetchToFile(int32_t transferMode, const std::string& url, const std::string& localPath,
                    int64_t maxBytes, const std::atomic<bool>* stop, bool* notFoundOut,
                    const ProgressFn& progress) override {
        if (transferMode == kTransferModeHttp) {
            CNetworkHTTP http;
            http.SetStopFlag(stop);
            http.SetProgress(progress);
            if (maxBytes != kNoByteCap) http.SetByteCap(maxBytes);
            return Finish(http, http.Download(url, localPath), notFoundOut);
        }
        CNetworkFTP ftp;
        ftp.SetStopFlag(stop);
        ftp.SetProgress(progress);
        if (maxBytes != kNoByteCap) ftp.SetByteCap(maxBytes);
        return Finish(ftp, ftp.Download(url, localPath, false, nullptr), notFoundOut);
    }

    int FetchToMemory(int32_t transferMode, const std::string& url, int64_t maxBytes,
                      std::string* contentOut, const std::atomic<bool>* stop) override {
        if (transferMode == kTransferModeHttp) return http_result::kUnknownHost;
        CNetworkFTP ftp;
        ftp.SetStopFlag(stop);
        if (maxBytes != kNoByteCap) ftp.SetByteCap(maxBytes);
        return ftp.Download(url, "", true, contentOut);
    }
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
    static ClientTransfer transfer;
    return transfer;
}

IProgramStarter& PlatformProgramStarter() {
    static DetachedStarter starter;
    return starter;
}
