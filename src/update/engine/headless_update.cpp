#include "update/engine/headless_update.h"

#include "net/http_header.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <mutex>
#include <thread>

#include "app/startup.h"
#include "app/util/launcher_util.h"
#include "journal/journal.h"
#include "maintenance/verify_version.h"
#include "net/http_header.h"
#include "package/fast_file.h"
#include "package/patch_kit.h"
#include "platform/file_system.h"
#include "platform/progress_pacer.h"
#include "trust/built_in_keys.h"
#include "update/engine/game_updater.h"
#include "update/install/install_paths.h"
#include "update/install/installer.h"
#include "update/install/program_start.h"

namespace {

// A log or a pipe gets a progress line at most this often; a terminal
// rewrites one line at the engine's pace.
constexpr std::chrono::milliseconds kPipedProgressInterval{1000};

class ConsoleWindow : public IUpdaterWindow {
public:
    ConsoleWindow(std::FILE* out, LauncherSettings settings, int32_t installed)
        : m_out(out), m_settings(std::move(settings)), m_installed(installed),
          m_terminal(fs_port::IsTerminal(out)) {}
    void SetStatusText(const std::string& text) override { Print(text); }
    void ShowVersionLine(int32_t) override {}
    void EnableStartButton(bool) override {}
    void ShowMessageBox(const std::string& text) override { Print(text); }
    void ShowProgress(double, const std::string& text) override;
    void EndProgress() override {
        std::lock_guard<std::mutex> hold(m_lock);
        EndRewrittenLine();
    }
    int32_t InstalledVersion() const override { return m_installed; }
    LauncherSettings Settings() const override { return m_settings; }
    void Print(const std::string& text) {
        std::lock_guard<std::mutex> hold(m_lock);
        EndRewrittenLine();
        std::fprintf(m_out, "%s\n", text.c_str());
        std::fflush(m_out);
    }

private:
    // A text after the rewritten line starts on a line of its own.
    void EndRewrittenLine() {
        if (m_rewrittenBytes == 0) return;
        std::fputc('\n', m_out);
        m_rewrittenBytes = 0;
    }

    std::FILE* m_out;
    LauncherSettings m_settings;
    int32_t m_installed;
    const bool m_terminal;
    std::mutex m_lock;  // the download and the unpacking may report at once
    size_t m_rewrittenBytes = 0;
    ProgressPacer m_pipedPacer{kPipedProgressInterval};
};

void ConsoleWindow::ShowProgress(double, const std::string& text) {
    std::lock_guard<std::mutex> hold(m_lock);
    if (!m_terminal) {
        if (!m_pipedPacer.Due(std::chrono::steady_clock::now())) return;
        std::fprintf(m_out, "%s\n", text.c_str());
    } else {
        // Blanks over what a longer previous text left at the line's end.
        const size_t blanks = m_rewrittenBytes > text.size() ? m_rewrittenBytes - text.size() : 0;
        std::fprintf(m_out, "\r%s%s", text.c_str(), std::string(blanks, ' ').c_str());
        m_rewrittenBytes = text.size() + blanks;
    }
    std::fflush(m_out);
}

// Runs the installer program to its end, so that the next step sees the
// installed result.
class WaitingStarter : public IProgramStarter {
public:
    bool Start(const std::string& path, const std::string& parameters, int* codeOut) override {
        started = true;
        if (RunProgramAndWait(path, parameters, &exitCode)) return true;
        *codeOut = -1;
        return false;
    }
    void StopLeftoverInstaller() override {}
    bool started = false;
    int exitCode = -1;
};

// False, with a line saying so, when the installer ran and left the hand-off
// file: it did not install.
bool InstallerTookIt(const HeadlessUpdateOptions& options, const WaitingStarter& starter, ConsoleWindow& window) {
    if (!starter.started || !fs_port::PathExists(options.folder + "\\" + kHandOffFileName)) return true;
    window.Print("installer did not install (exit " + std::to_string(starter.exitCode) + "); see " +
                 fs_port::NativePath("Log\\installer.log"));
    return false;
}

// The engine's and the clients' journal entries go where the launcher writes
// them when it runs from the installation's folder, DIR\Log\launcher.log, for
// the operator to read why a step failed. The journal attached before comes
// back at the end.
class UpdateLog {
public:
    explicit UpdateLog(const std::string& folder)
        : m_previous(TheJournal().AttachedPath()), m_path(LogFilePath(LogFolderPath(folder))) {
        const std::string logFolder = LogFolderPath(folder);
        if (!fs_port::IsDirectory(logFolder)) fs_port::MakeDirectories(logFolder);
        TheJournal().SetThreshold(Threshold::All);
        m_attached = TheJournal().AttachFile(m_path.c_str()) == 0;
    }
    ~UpdateLog() {
        TheJournal().Detach();
        if (!m_previous.empty()) TheJournal().AttachFile(m_previous.c_str());
    }
    UpdateLog(const UpdateLog&) = delete;
    UpdateLog& operator=(const UpdateLog&) = delete;

    bool Attached() const { return m_attached; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_previous;
    std::string m_path;
    bool m_attached = false;
};

std::string WithoutScheme(const std::string& text, const char* scheme) {
    const std::string prefix = std::string(scheme) + "://";
    return text.compare(0, prefix.size(), prefix) == 0 ? text.substr(prefix.size()) : text;
}

// The folder as a full path without "." or ".." parts. The installer program
// knows the folder by its own full path and refuses a hand-off whose paths do
// not lie in it, so a folder typed relative to the current one must become
// the same full path.
std::string FullFolderPath(const std::string& folder) {
    const bool rooted = !folder.empty() && (folder[0] == '/' || folder[0] == '\\');
    const bool drive = folder.size() >= 2 && folder[1] == ':';
    const std::string joined = rooted || drive ? folder : fs_port::CurrentDirectory() + "\\" + folder;
    std::string full = joined.substr(0, joined.find_first_not_of("/\\"));
    for (char& c : full) c = '\\';
    std::vector<std::string> parts;
    for (const std::string& piece : SplitPathComponents(joined)) {
        if (piece.empty() || piece == ".") continue;
        if (piece != "..") {
            parts.push_back(piece);
        } else if (!parts.empty()) {
            parts.pop_back();
        }
    }
    for (size_t i = 0; i < parts.size(); ++i) full += (i == 0 ? "" : "\\") + parts[i];
    return full;
}

bool ReadPublicKeyFile(const std::string& path, MinisignPublicKey* keyOut) {
    const int64_t size = fs_port::FileSize(path);
    if (size < 0 || size > kMaxPublicKeyFileBytes) return false;
    std::string text;
    return ReadWholeFile(path, nullptr, false, &text) && ParseMinisignPublicKey(text, keyOut);
}

}  // namespace

bool ReadInstalledVersionNumber(const std::string& launcherFolder, int32_t* versionOut) {
    ParsedVersionFile parsed;
    if (!ReadUsableVersionFile(launcherFolder, LauncherFileKey(), &parsed)) return false;
    *versionOut = parsed.installedVersion;
    return true;
}

bool SettingsFromServer(const std::string& server, bool ftp, LauncherSettings* settingsOut) {
    *settingsOut = LauncherSettings{};
    if (ftp) {
        std::string host = WithoutScheme(server, "ftp");
        while (!host.empty() && (host.back() == '/' || host.back() == '\\')) host.pop_back();
        const size_t colon = host.rfind(':');
        settingsOut->UpdatePort = colon == std::string::npos ? "21" : host.substr(colon + 1);
        settingsOut->UpdateIP = host.substr(0, colon);
        settingsOut->TransferMode = 0;
    } else {
        // "https://" stays in UpdateIP: it is what makes the fetches use TLS.
        std::string host = IsHttpsUrl(server) ? "https://" + server.substr(kHttpsSchemeLength)
                                              : WithoutScheme(server, "http");
        while (!host.empty() && host.back() == '/') host.pop_back();
        settingsOut->UpdateIP = host;
        settingsOut->TransferMode = kTransferModeHttp;
    }
    return !settingsOut->UpdateIP.empty() &&
           settingsOut->UpdateIP.find_first_of(" \t\r\n") == std::string::npos;
}

namespace {

// A named setting from the command line: any note is a refusal.
bool ApplyOption(const char* key, const std::string& value, LauncherSettings* settingsOut, std::string* problemOut) {
    std::vector<SettingsNote> notes;
    ApplyNamedSetting(key, value, settingsOut, &notes);
    if (notes.empty()) return true;
    *problemOut = std::string("unusable ") + key + ": " + notes.front().detail;
    return false;
}

// What one run of the engine cost and would have cost without deltas.
struct StepBytes {
    int64_t received = 0;
    int64_t full = 0;
    int64_t reused = 0;  // taken from the downloads an earlier run kept
};

// Passes a stop asked for from outside (a signal) on to the running step:
// the flag is looked at every few tens of milliseconds, well within the
// second a stop may take.
class StopRelay {
public:
    StopRelay(const std::atomic<bool>* stop, CGameUpdater* updater) {
        if (stop == nullptr) return;
        m_thread = std::thread([this, stop, updater] {
            std::unique_lock<std::mutex> hold(m_mutex);
            while (!m_done) {
                if (stop->load()) updater->RequestStop();
                m_wake.wait_for(hold, std::chrono::milliseconds(50));
            }
        });
    }
    ~StopRelay() {
        if (!m_thread.joinable()) return;
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    StopRelay(const StopRelay&) = delete;
    StopRelay& operator=(const StopRelay&) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::thread m_thread;
};

// One run of the engine for a verb: checked against the keys asked for,
// with the verb's stop relayed to it while it runs; the run's outcome.
int RunRelayed(const HeadlessUpdateOptions& options, CGameUpdater* updater, const std::function<int()>& run) {
    if (options.checkReleases) updater->UseTrustKeys(options.trustKeys);
    const StopRelay relay(options.stop, updater);
    return run();
}

// 0 when the step handed over and the installer installed it; 1 when it
// failed; kUpToDateStep when there was nothing to do; kStoppedStep when a
// stop ended it.
constexpr int kUpToDateStep = 2;
constexpr int kStoppedStep = 3;

void PrintBytes(std::FILE* out, const StepBytes& bytes) {
    std::fprintf(out, "downloaded %lld bytes (full update %lld bytes), reused %lld bytes\n",
                 static_cast<long long>(bytes.received), static_cast<long long>(bytes.full),
                 static_cast<long long>(bytes.reused));
}

int RunOneStep(const HeadlessUpdateOptions& options, const LauncherSettings& settings, std::FILE* out,
               IUpdateTransfer* transfer, StepBytes* bytes) {
    // Without a readable version.data the engine takes the version from the
    // files, in a folder that holds an installation: one with the installer
    // program or a version.data, never one that an operator mistyped.
    int32_t installed = kInstalledVersionUnknown;
    if (!ReadInstalledVersionNumber(options.folder, &installed)) {
        installed = kInstalledVersionUnknown;
        if (!fs_port::PathExists(options.folder + "\\version.data") &&
            !fs_port::PathExists(options.folder + "\\" + kInstallerFileName)) {
            std::fprintf(out, "no readable version.data in %s\n", fs_port::NativePath(options.folder).c_str());
            return 1;
        }
    }
    ConsoleWindow window(out, settings, installed);
    WaitingStarter starter;
    CGameUpdater updater(options.folder, transfer, &starter);
    updater.m_bInstall = 1;
    const int outcome = RunRelayed(options, &updater, [&] { return updater.RunUpdate(&window); });
    bytes->received += updater.ReceivedBytes();
    bytes->full += updater.FullUpdateBytes();
    bytes->reused += updater.ReusedBytes();
    if (outcome == update_outcome::kUpToDate) return kUpToDateStep;
    if (updater.StopRequested()) return kStoppedStep;
    if (outcome != update_outcome::kHandedOver) return 1;
    if (!InstallerTookIt(options, starter, window)) return 1;
    int32_t now = 0;
    if (!ReadInstalledVersionNumber(options.folder, &now) || now == installed) {
        window.Print("the step did not change the installed version");
        return 1;
    }
    // What the launcher's cleanup does when the installer reports back.
    DeleteFolderTree(options.folder + "\\" + kWorkFolderName);
    return 0;
}

}  // namespace

bool HeadlessSettings(const HeadlessUpdateOptions& options, LauncherSettings* settingsOut, std::string* problemOut) {
    LauncherSettings settings;
    if (!options.configFile.empty() && !LoadSettingsFile(options.configFile, &settings)) {
        *problemOut = "the settings file " + options.configFile + " cannot be read";
        return false;
    }
    LauncherSettings server;
    const std::string serverText = !options.server.empty()  ? options.server
                                   : options.ftp            ? settings.UpdateIP + ":" + settings.UpdatePort
                                                            : settings.UpdateIP;
    if (!SettingsFromServer(serverText, options.ftp, &server)) {
        *problemOut = "unusable server: " + serverText;
        return false;
    }
    settings.UpdateIP = server.UpdateIP;
    settings.UpdatePort = server.UpdatePort;
    settings.TransferMode = server.TransferMode;
    std::string mirrors;
    for (const std::string& mirror : options.mirrors) mirrors += mirror + ";";
    if (!options.mirrors.empty() && !ApplyOption("Mirrors", mirrors, &settings, problemOut)) return false;
    if (!options.limitKiBps.empty() && !ApplyOption("MaxDownloadKiBps", options.limitKiBps, &settings, problemOut)) {
        return false;
    }
    *settingsOut = settings;
    return true;
}

int RunHeadlessUpdate(const HeadlessUpdateOptions& options, std::FILE* out, IUpdateTransfer* transfer) {
    LauncherSettings settings;
    std::string problem;
    if (!HeadlessSettings(options, &settings, &problem)) {
        std::fprintf(out, "%s\n", problem.c_str());
        return 1;
    }
    StepBytes bytes;
    for (int step = 0; step < kMaxHeadlessSteps; ++step) {
        const int result = RunOneStep(options, settings, out, transfer, &bytes);
        if (result == 1) return 1;
        if (result == kStoppedStep) {
            PrintBytes(out, bytes);
            std::fputs("stopped; what was fetched stays for the next run\n", out);
            return kHeadlessStopped;
        }
        if (result == kUpToDateStep || options.once) {
            PrintBytes(out, bytes);
            return 0;
        }
    }
    return 1;
}

namespace {

// Every listed file read in full: the places whose MD5 differs or that are missing.
std::vector<std::string> DamagedFiles(const std::string& folder, bool* readOut) {
    CPatchKit patchKit;
    const VerifyReport report = VerifyGameVersion(folder, patchKit, TheJournal());
    *readOut = report.verified;
    return report.mismatches;
}

}  // namespace

int RunHeadlessRepair(const HeadlessUpdateOptions& options, std::FILE* out, IUpdateTransfer* transfer) {
    LauncherSettings settings;
    std::string problem;
    if (!HeadlessSettings(options, &settings, &problem)) {
        std::fprintf(out, "%s\n", problem.c_str());
        return 1;
    }
    int32_t installed = 0;
    bool read = false;
    const std::vector<std::string> damaged = DamagedFiles(options.folder, &read);
    if (!read || !ReadInstalledVersionNumber(options.folder, &installed)) {
        std::fprintf(out, "no readable version.data in %s\n", fs_port::NativePath(options.folder).c_str());
        return 1;
    }
    ConsoleWindow window(out, settings, installed);
    WaitingStarter starter;
    CGameUpdater updater(options.folder, transfer, &starter);
    const int outcome = RunRelayed(options, &updater, [&] { return updater.RunRepair(&window, damaged); });
    if (updater.StopRequested()) return kHeadlessStopped;
    if (outcome != update_outcome::kHandedOver) return 1;
    if (!InstallerTookIt(options, starter, window)) return 1;
    const std::vector<std::string> left = DamagedFiles(options.folder, &read);
    DeleteFolderTree(options.folder + "\\" + kWorkFolderName);
    std::fprintf(out, "repaired %d of %d files, downloaded %lld bytes\n",
                 static_cast<int>(damaged.size() - std::min(left.size(), damaged.size())),
                 static_cast<int>(damaged.size()), static_cast<long long>(updater.ReceivedBytes()));
    return left.empty() ? 0 : 1;
}

namespace {

// Reads the verb's arguments into options; false after a line on err.
bool ParseUpdateArgs(const char* verb, const std::vector<std::string>& args, HeadlessUpdateOptions* options,
                     std::FILE* err) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--server" && hasValue) {
            options->server = args[++i];
        } else if (arg == "--folder" && hasValue) {
            options->folder = args[++i];
        } else if (arg == "--mirror" && hasValue) {
            options->mirrors.push_back(args[++i]);
        } else if (arg == "--limit" && hasValue) {
            options->limitKiBps = args[++i];
        } else if (arg == "--config" && hasValue) {
            options->configFile = args[++i];
        } else if (arg == "--ftp") {
            options->ftp = true;
        } else if (arg == "--once") {
            options->once = true;
        } else if (arg == "--trust-key" && hasValue) {
            MinisignPublicKey key;
            if (!ReadPublicKeyFile(args[++i], &key)) {
                std::fprintf(err, "patchkit %s: '%s' is not a minisign public key file\n", verb, args[i].c_str());
                return false;
            }
            options->checkReleases = true;
            options->trustKeys.push_back(key);
        } else {
            std::fprintf(err, "patchkit %s: unexpected argument '%s'\n", verb, arg.c_str());
            return false;
        }
    }
    if ((options->server.empty() && options->configFile.empty()) || options->folder.empty()) {
        std::fprintf(err,
                     "patchkit %s: expects --server URL or --config FILE, --folder DIR [--ftp] [--once]"
                     " [--trust-key FILE]... [--mirror URL]... [--limit KIBPS]\n",
                     verb);
        return false;
    }
    return true;
}

// Ctrl-C and SIGTERM: the step stops and keeps its downloads. A lock-free
// atomic is all a handler may touch.
std::atomic<bool> g_stopSignalled{false};
static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler sets the flag");

extern "C" void OnStopSignal(int) { g_stopSignalled.store(true); }

}  // namespace

namespace {

// The update and repair verbs: arguments, keys, the log, the signals.
int RunEngineVerb(const char* verb, const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                  int (*run)(const HeadlessUpdateOptions&, std::FILE*, IUpdateTransfer*)) {
    HeadlessUpdateOptions options;
    if (!ParseUpdateArgs(verb, args, &options, err)) return 2;
    if (!options.checkReleases) options.checkReleases = BuiltInTrustKeys(&options.trustKeys);
    options.folder = FullFolderPath(options.folder);
    const UpdateLog log(options.folder);
    if (!log.Attached()) {
        std::fprintf(err, "patchkit %s: the log %s cannot be written\n", verb, fs_port::NativePath(log.Path()).c_str());
    }
    LogTrustKeys(options.trustKeys, options.checkReleases);
    options.stop = &g_stopSignalled;
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    const int rc = run(options, out, nullptr);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    if (rc == kHeadlessStopped) {
        std::fprintf(err, "patchkit %s: stopped\n", verb);
    } else if (rc != 0) {
        std::fprintf(err, "patchkit %s: the %s did not complete; see %s\n", verb, verb,
                     fs_port::NativePath(log.Path()).c_str());
    }
    return rc;
}

}  // namespace

int RunUpdateVerb(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    return RunEngineVerb("update", args, out, err, [](const HeadlessUpdateOptions& options, std::FILE* printed,
                                                      IUpdateTransfer* transfer) {
        return RunHeadlessUpdate(options, printed, transfer);
    });
}

int RunRepairVerb(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    return RunEngineVerb("repair", args, out, err, [](const HeadlessUpdateOptions& options, std::FILE* printed,
                                                      IUpdateTransfer* transfer) {
        return RunHeadlessRepair(options, printed, transfer);
    });
}
