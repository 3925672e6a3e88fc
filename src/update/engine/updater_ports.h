// What the update engine needs from the outside, as small interfaces: the
// window it reports to, the transfers of remote files, and the start of the
// installer program. The engine runs on a worker thread; the window's side
// copies what it gets and lets its own thread touch the controls.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "app/launcher_settings.h"
#include "net/transfer_control.h"

class IUpdaterWindow {
public:
    virtual ~IUpdaterWindow() = default;
    // The status line shows text (UTF-8) until the next call.
    virtual void SetStatusText(const std::string& text) = 0;
    virtual void ShowVersionLine(int32_t version) = 0;
    virtual void EnableStartButton(bool enable) = 0;
    // A warning box with an OK button; may block the engine until closed.
    virtual void ShowMessageBox(const std::string& text) = 0;
    // While bytes flow in a version step: the whole step's fraction (0..1)
    // for a progress bar and the figures of the phase under way, at most
    // about ten times a second, possibly from two threads. A window without
    // a better place shows the figures in the status line.
    virtual void ShowProgress(double fraction, const std::string& text) {
        (void)fraction;
        SetStatusText(text);
    }
    // The step has ended (handed over, failed or stopped): no progress shows.
    virtual void EndProgress() {}
    // kInstalledVersionUnknown when version.data is missing or unreadable.
    [[nodiscard]] virtual int32_t InstalledVersion() const = 0;
    [[nodiscard]] virtual LauncherSettings Settings() const = 0;
};

// The installed version of a game folder whose version.data is missing or
// cannot be read: the engine takes it from the files (see CGameUpdater).
constexpr int32_t kInstalledVersionUnknown = -1;

// maxBytes of a fetch that has no cap of its own (the clients' file limits
// still hold).
constexpr int64_t kNoByteCap = -1;

// The result of a fetch that stalled (too few bytes over a stall window, or
// none): no client gives this code itself.
constexpr int kFetchStalled = 6;
// The result of a span fetch that the server answered with the whole file
// (it ignores ranges, or the file changed) or cannot serve by ranges at all
// (an FTP server without REST), or of a transfer without spans: the caller
// fetches the whole file instead. No client gives this code itself.
constexpr int kFetchRangesIgnored = 7;

// One remote file per call, with the clients' result codes (0 success). The
// stop flag is the engine's; an implementation gives up soon after it is set.
// A file larger than maxBytes fails as soon as its announced length or the
// bytes received show it, so a hostile server cannot fill the disk with a
// "list". watch (its parts may be empty) hears of every piece written, on
// the fetching thread.
class IUpdateTransfer {
public:
    virtual ~IUpdateTransfer() = default;
    // notFoundOut (may be null) tells a failure because the server has no
    // such file (HTTP 404, FTP 550) from every other failure.
    [[nodiscard]] virtual int FetchToFile(int32_t transferMode, const std::string& url,
                                          const std::string& localPath, int64_t maxBytes,
                                          const std::atomic<bool>* stop, bool* notFoundOut,
                                          const FetchWatch& watch) = 0;
    // Into memory (the FTP version list); contentOut gets the whole file.
    [[nodiscard]] virtual int FetchToMemory(int32_t transferMode, const std::string& url,
                                            int64_t maxBytes, std::string* contentOut,
                                            const std::atomic<bool>* stop) = 0;
    // Bytes [first, first + length) of the remote file into localPath,
    // written from its start; watch.answered hears the file's whole size.
    // kFetchRangesIgnored with *rangesIgnoredOut (may be null) true when the
    // server cannot give the span alone; that does not count against the
    // host. This default has no spans at all.
    [[nodiscard]] virtual int FetchSpanToFile(int32_t transferMode, const std::string& url,
                                              const std::string& localPath, int64_t first, int64_t length,
                                              const std::atomic<bool>* stop, bool* rangesIgnoredOut,
                                              const FetchWatch& watch) {
        (void)transferMode, (void)url, (void)localPath, (void)first, (void)length, (void)stop, (void)watch;
        if (rangesIgnoredOut) *rangesIgnoredOut = true;
        return kFetchRangesIgnored;
    }
    // After a file from url failed its check: leaves url's host for the rest
    // of the step and gives true when another host remains to fetch from.
    virtual bool LeaveHostOf(const std::string& url) { (void)url; return false; }
    // The status text of the last failed fetch when the failure has one of
    // its own (a stall that its resumes did not end, an https host that
    // cannot be trusted); empty otherwise.
    [[nodiscard]] virtual std::string FailureText() const { return std::string(); }
};

class IProgramStarter {
public:
    virtual ~IProgramStarter() = default;
    // Starts path with the parameter text and does not wait. False with a
    // platform code (never 0) when it did not start.
    [[nodiscard]] virtual bool Start(const std::string& path, const std::string& parameters,
                                     int* codeOut) = 0;
    // Ends an installer program left running by an earlier update.
    virtual void StopLeftoverInstaller() = 0;
};

// The transfers through the network clients (HTTP for transfer mode 1,
// otherwise FTP), one client per file. A stalled download gives kFetchStalled.
IUpdateTransfer& NetworkTransfer();
// The same with a stall policy of its own (tests use short windows).
std::unique_ptr<IUpdateTransfer> MakeNetworkTransfer(const StallPolicy& policy);
// The platform's program start (the shell's "open" on Windows).
IProgramStarter& PlatformProgramStarter();
