#include "update/engine/headless_update.h"

#include <chrono>
#include <mutex>

#include "app/startup.h"
#include "app/util/launcher_util.h"
#include "journal/journal.h"
#include "maintenance/verify_version.h"
#include "package/fast_file.h"
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
    std::string content;
    if (!ReadWholeFile(launcherFolder + "\\version.data", &LauncherFileKey(), true, &content)) return false;
    *versionOut = LeadingNumber(content.substr(0, content.find('\n')));
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
        std::string host = WithoutScheme(server, "http");
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
};

// 0 when the step handed over and the installer installed it; 1 when it
// failed; kUpToDateStep when there was nothing to do.
constexpr int kUpToDateStep = 2;

int RunOneStep(const HeadlessUpdateOptions& options, const LauncherSettings& settings, std::FILE* out,
               IUpdateTransfer* transfer, StepBytes* bytes) {
    int32_t installed = 0;
    if (!ReadInstalledVersionNumber(options.folder, &installed)) {
        std::fprintf(out, "no readable version.data in %s\n", fs_port::NativePath(options.folder).c_str());
        return 1;
    }
    ConsoleWindow window(out, settings, installed);
    WaitingStarter starter;
    CGameUpdater updater(options.folder, transfer, &starter);
    if (options.checkReleases) updater.UseTrustKeys(options.trustKeys);
    updater.m_bInstall = 1;
    const int outcome = updater.RunUpdate(&window);
    bytes->received += updater.ReceivedBytes();
    bytes->full += updater.FullUpdateBytes();
    if (outcome == update_outcome::kUpToDate) return kUpToDateStep;
    if (outcome != update_outcome::kHandedOver) return 1;
    if (starter.started && fs_port::PathExists(options.folder + "\\" + kHandOffFileName)) {
        window.Print("installer did not install (exit " + std::to_string(starter.exitCode) +
                     "); see " + fs_port::NativePath("Log\\installer.log"));
        return 1;
    }
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
        if (result == kUpToDateStep || options.once) {
            std::fprintf(out, "downloaded %lld bytes (full update %lld bytes)\n",
                         static_cast<long long>(bytes.received), static_cast<long long>(bytes.full));
            return 0;
        }
    }
    return 1;
}

namespace {

// Reads the verb's arguments into options; false after a line on err.
bool ParseUpdateArgs(const std::vector<std::string>& args, HeadlessUpdateOptions* options, std::FILE* err) {
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
                std::fprintf(err, "patchkit update: '%s' is not a minisign public key file\n", args[i].c_str());
                return false;
            }
            options->checkReleases = true;
            options->trustKeys.push_back(key);
        } else {
            std::fprintf(err, "patchkit update: unexpected argument '%s'\n", arg.c_str());
            return false;
        }
    }
    if ((options->server.empty() && options->configFile.empty()) || options->folder.empty()) {
        std::fputs("patchkit update: expects --server URL or --config FILE, --folder DIR [--ftp] [--once]"
                   " [--trust-key FILE]... [--mirror URL]... [--limit KIBPS]\n",
                   err);
        return false;
    }
    return true;
}

}  // namespace

int RunUpdateVerb(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    HeadlessUpdateOptions options;
    if (!ParseUpdateArgs(args, &options, err)) return 2;
    if (!options.checkReleases) options.checkReleases = BuiltInTrustKeys(&options.trustKeys);
    options.folder = FullFolderPath(options.folder);
    const UpdateLog log(options.folder);
    if (!log.Attached()) {
        std::fprintf(err, "patchkit update: the log %s cannot be written\n", fs_port::NativePath(log.Path()).c_str());
    }
    LogTrustKeys(options.trustKeys, options.checkReleases);
    const int rc = RunHeadlessUpdate(options, out, nullptr);
    if (rc != 0) {
        std::fprintf(err, "patchkit update: the update did not complete; see %s\n",
                     fs_port::NativePath(log.Path()).c_str());
    }
    return rc;
}
