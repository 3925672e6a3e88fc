// The update engine and the installer program run without a window on an
// installation, printing every status text as a line: how operators try a
// release before publishing it (patchkit update).
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "trust/minisign.h"
#include "update/engine/updater_ports.h"

struct HeadlessUpdateOptions {
    std::string server;  // "http://host[:port][/base]" or, with ftp, "[ftp://]host[:port]"
    std::string folder;  // the installation (launcher folder)
    // Settings read as the launcher reads config.data (or a plain config.ini);
    // server, mirrors and limitKiBps override what it says.
    std::string configFile;
    std::vector<std::string> mirrors;  // more hosts, written like server
    std::string limitKiBps;            // MaxDownloadKiBps; empty: as configFile says (else none)
    bool ftp = false;
    bool once = false;   // one version step, then stop
    // Releases are checked against trustKeys (an empty list refuses all).
    bool checkReleases = false;
    std::vector<MinisignPublicKey> trustKeys;
    // Set from any thread (a signal handler included): the running step
    // stops within a second and keeps what it fetched for the next run.
    const std::atomic<bool>* stop = nullptr;
};

// A public key file (minisign .pub) is two short lines.
constexpr int64_t kMaxPublicKeyFileBytes = 4096;

// Most version steps one call takes; a server that never reaches its newest
// version must not keep the tool running for ever.
constexpr int kMaxHeadlessSteps = 1000;

// The installed version number: entry 0 of the deciphered version.data.
[[nodiscard]] bool ReadInstalledVersionNumber(const std::string& launcherFolder, int32_t* versionOut);

// Settings for the engine from the server text; false when it is unusable.
[[nodiscard]] bool SettingsFromServer(const std::string& server, bool ftp, LauncherSettings* settingsOut);

// The engine's settings from the options (settings file, server, mirrors,
// limit); false with the reason when one of them is unusable.
[[nodiscard]] bool HeadlessSettings(const HeadlessUpdateOptions& options, LauncherSettings* settingsOut,
                                    std::string* problemOut);

// A step that options.stop ended: its downloads stay for the next run.
constexpr int kHeadlessStopped = 3;

// 0 when the installation ends up at the server's newest version (or did its
// one step with once), kHeadlessStopped after a stop, 1 otherwise; the
// reason is the last line printed.
// transfer null: the network clients.
int RunHeadlessUpdate(const HeadlessUpdateOptions& options, std::FILE* out,
                      IUpdateTransfer* transfer = nullptr);

// Reads every file of the installation in full and repairs those that
// differ from version.data or are missing, from the installed version's
// folder on the server (its state index says where each file's bytes are);
// 0 when every file then checks out.
int RunHeadlessRepair(const HeadlessUpdateOptions& options, std::FILE* out,
                      IUpdateTransfer* transfer = nullptr);

// The "update" verb's arguments: --server URL --folder DIR [--ftp] [--once]
// [--trust-key FILE]... [--mirror URL]... [--limit KIBPS] [--config FILE]
// (--config may stand in for --server). Releases are checked against the keys of the
// --trust-key files, else against the built-in keys (when the build has any).
// Ctrl-C and SIGTERM stop it within a second, keeping what it fetched.
// Exit status 0 success, 1 failure, 2 wrong usage (one line on err), 3 stopped.
int RunUpdateVerb(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
// The "repair" verb: the same arguments (--once means nothing to it).
int RunRepairVerb(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
