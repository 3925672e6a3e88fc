// The downloads of one version step, kept in the work folder across runs: a
// launcher closed, a link lost or a step paused at 90 % continues from there
// instead of from nothing. Beside the files sits a small state file, written
// beside and renamed in, that says which target version and server they are
// for and, per file, what it must become and what the server said of it.
//
//   CKeptDownloads kept;
//   if (!kept.Open(workFolder) || !kept.IsFor("1.0.0.2", "http://host/1.0.0.2/")) empty the folder;
//   KeptFile file;
//   if (kept.Find("pack1.zip", &file) && file.complete) ... check it, use it
//
// The rules: a complete file is used only after it checks out again; a
// partial one continues only under its validator (or, with neither a
// validator nor a signature, an unchanged size); any doubt about the state
// file means starting over, never a trusted byte.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

constexpr char kKeptDownloadsFileName[] = "downloads.state";
// A few lines per package, and one per member a catch-up made: about 200
// bytes each, so a catch-up of 100,000 files stays well within.
constexpr int64_t kMaxKeptStateBytes = 64 * 1024 * 1024;

struct KeptFile {
    std::string name;        // in the version folder, as the lists name it
    std::string localPath;   // under the work folder, '\\'-separated
    int64_t wholeSize = -1;  // the size it must reach; -1 while unknown
    std::string sha256;      // the signed manifest's digest; empty when unsigned
    std::string validator;   // what the server said of the file; empty for none
    bool complete = false;   // fetched whole and, when signed, checked
};

struct KeptDownloads {
    std::string targetVersion;  // a.b.c.d
    std::string serverBase;     // the version folder's URL on the first host
    int64_t stepBytes = -1;     // what the whole step downloads; -1 unknown
    std::vector<KeptFile> files;
};

[[nodiscard]] std::string FormatKeptDownloads(const KeptDownloads& kept);
// False, with *keptOut untouched, for anything but a whole state file of ours.
[[nodiscard]] bool ParseKeptDownloads(std::string_view text, KeptDownloads* keptOut);

// What a launcher folder's work folder keeps, for the window: the target
// version, the bytes of its downloads on the disk, and the step's size.
struct KeptDownloadsSummary {
    bool present = false;  // a readable state with at least one byte kept
    int32_t targetVersion = 0;
    int64_t keptBytes = 0;
    int64_t stepBytes = -1;
};
[[nodiscard]] KeptDownloadsSummary SummarizeKeptDownloads(const std::string& launcherFolder);

// The state of one step's work folder, safe to use from the download and the
// unpacking thread at once. Every change is written to the disk at once.
class CKeptDownloads {
public:
    // Reads the work folder's state file; false (and closed) for none, or a
    // foreign or torn one: the folder's files then count for nothing.
    bool Open(const std::string& workFolder);
    // Whether the open state keeps downloads toward targetVersion from
    // serverBase; those of another target or server count for nothing.
    [[nodiscard]] bool IsFor(const std::string& targetVersion, const std::string& serverBase) const;
    // Removes everything in the work folder but the state file and the kept
    // files (unpacked members are made again from the packages).
    void KeepOnlyItsFiles() const;
    // Begins a new state for the target (after the folder was emptied).
    void Start(const std::string& workFolder, const std::string& targetVersion, const std::string& serverBase);
    void SetStepBytes(int64_t bytes);
    [[nodiscard]] bool Find(const std::string& name, KeptFile* fileOut) const;
    // Adds or replaces the file's entry (by name), written at once.
    void Record(const KeptFile& file);
    // The same for one of many small files made in a row (a catch-up's
    // members): written at most about once a second, and by Flush. A record
    // lost with the process only means that file is made again.
    void RecordSoon(const KeptFile& file);
    // Writes what RecordSoon left unwritten.
    void Flush();
    // The file's entry and its local file go.
    void Forget(const std::string& name);
    // The step was handed over: its downloads are kept no longer, and the
    // cleanup after the installation may remove them.
    void Close();
    [[nodiscard]] bool IsOpen() const;

private:
    using Clock = std::chrono::steady_clock;

    // False, with nothing changed, for a record the state file could not read back.
    bool PutLocked(const KeptFile& file);
    void IndexLocked();
    void WriteLocked();

    mutable std::mutex m_mutex;
    std::string m_workFolder;  // with its trailing separator; empty while closed
    KeptDownloads m_state;
    // Positions in m_state.files by name and by local path with '\\' separators.
    std::unordered_map<std::string, size_t> m_byName;
    std::unordered_map<std::string, size_t> m_byPath;
    bool m_unwritten = false;
    Clock::time_point m_written;
};
