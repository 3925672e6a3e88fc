// The launcher's configuration: the operator's web pages and the update
// server, read by line position from config.data (enciphered) or config.ini
// (plain) in the launcher folder. The files are GBK; the fields hold UTF-8.
// Lines from the ninth on are "Key=Value" settings read by key name (ASCII
// case-insensitive): Mirrors and MaxDownloadKiBps; other keys are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What a page setting holds when its line is missing or has no value: the
// bare host name of the operator's web site.
constexpr const char kDefaultSettingsHost[] = "www.vantorel.com";

// Field widths of the configuration block in GBK bytes, the terminating NUL
// included: a page holds at most 254 bytes, the host 49 and the port 9.
constexpr size_t kPageFieldBytes = 255;
constexpr size_t kUpdateIpFieldBytes = 50;
constexpr size_t kUpdatePortFieldBytes = 10;

// TransferMode 1 selects HTTP for the update transfer; nothing in the files
// changes it.
constexpr int32_t kTransferModeHttp = 1;

// Mirrors: more update hosts, ";"-separated, tried in order after UpdateIP.
// Entries past the count, longer than the length or holding anything but
// printable ASCII are left out (and logged).
constexpr size_t kMaxMirrors = 8;
constexpr size_t kMaxMirrorBytes = 200;
// MaxDownloadKiBps: 0 = no limit. A limit under the floor would starve a
// download below the stall watchdog's minimum, so it is raised to the floor;
// a number over the ceiling, or no number, leaves the setting as it was.
constexpr int64_t kMinDownloadKiBps = 8;
constexpr int64_t kMaxDownloadKiBps = 10 * 1024 * 1024;

struct LauncherSettings {
    std::string HomePage;
    std::string Support;
    std::string WeiBo;
    std::string Shop;
    std::string Buy;  // read to keep its line's place; used by nothing
    std::string ShowPage;
    std::string UpdateIP;
    std::string UpdatePort;
    int32_t TransferMode = kTransferModeHttp;
    // Hosts as UpdateIP is written ("host[:port]", for HTTP also with a base
    // path), without a scheme but "https://" for a host served over TLS.
    std::vector<std::string> Mirrors;
    int64_t MaxDownloadKiBps = 0;
};

// Something the reader had to do to a value, for the log.
struct SettingsNote {
    enum Kind { Cut, Undecodable, Refused } kind = Cut;
    const char* field = "";      // the field's name, e.g. "UpdateIP"
    size_t originalBytes = 0;   // GBK length of the value as written
    size_t keptBytes = 0;       // GBK length kept in the field
    std::string detail;         // Refused: what was refused and what holds instead
};

// Fills settings from a GBK file content. The content counts up to its first
// NUL; without any "\n" it has no lines. Pure: opens nothing, logs nothing.
void ParseSettingsContent(std::string_view gbkContent, LauncherSettings* settingsOut,
                          std::vector<SettingsNote>* notesOut);

// Applies one "Key=Value" setting of the lines after the eighth (GBK value,
// spaces trimmed). An unknown key changes nothing; a bad value is noted and
// changes nothing (or, for the mirrors, only the entries that are fine).
// Command-line options reuse it.
void ApplyNamedSetting(const std::string& key, const std::string& gbkValue, LauncherSettings* settingsOut,
                       std::vector<SettingsNote>* notesOut);

// Length of the longest prefix of GBK text not longer than maxBytes that ends
// on a character boundary (a lead byte 0x81..0xFE takes the next byte with it).
size_t GbkPrefixLength(std::string_view gbk, size_t maxBytes);

// Reads the configuration files of a launcher folder into settings: first
// config.data, and only when that cannot be opened config.ini. Logs the
// config.data path, every cut value and every file that opens but cannot be
// read or deciphered. Always succeeds: missing files give the defaults.
void LoadLauncherSettings(const std::string& launcherFolder, LauncherSettings* settingsOut);
// The same from one file: enciphered when the name ends in ".data", else
// plain. False (nothing changed) when it cannot be opened.
[[nodiscard]] bool LoadSettingsFile(const std::string& path, LauncherSettings* settingsOut);
