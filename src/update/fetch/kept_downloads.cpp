#include "update/fetch/kept_downloads.h"

#include <set>

#include "app/util/launcher_util.h"
#include "platform/byte_sink.h"
#include "platform/file_system.h"
#include "platform/text_format.h"
#include "update/install/installer.h"
#include "update/install/installer_file_ops.h"

// The state file, one record per line, fields split by tabs:
//   vantorel-kept-downloads 1
//   target  a.b.c.d
//   base    URL
//   step    bytes of the whole step, or -1
//   file    complete(0|1) whole-size(-1 or bytes) sha256 validator local-path name
//   end     number of file lines
// The end line makes a cut file show as cut even where a rename cannot tear it.
namespace {

constexpr std::string_view kMagic = "vantorel-kept-downloads\t1";
constexpr char kSideSuffix[] = ".new";
constexpr size_t kMaxFieldBytes = 1024;

std::vector<std::string_view> SplitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const size_t tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) return fields;
        line.remove_prefix(tab + 1);
    }
}

// A field the state can carry: no control character (the format's tabs and
// line ends among them) and not too long.
bool IsPlainField(std::string_view text) {
    if (text.size() > kMaxFieldBytes) return false;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    }
    return true;
}

// Only a path inside the work folder: relative, without a drive or a step up.
bool IsInsidePath(std::string_view path) {
    if (path.empty() || path.front() == '\\' || path.front() == '/' || path.find(':') != std::string_view::npos) {
        return false;
    }
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '\\' && path[i] != '/') continue;
        const std::string_view part = path.substr(start, i - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = i + 1;
    }
    return true;
}

bool IsVersionText(std::string_view text) {
    int dots = 0;
    for (const char c : text) {
        if (c == '.') {
            ++dots;
        } else if (c < '0' || c > '9') {
            return false;
        }
    }
    return dots == 3 && !text.empty() && text.size() <= 23;
}

bool IsSha256Text(std::string_view text) {
    if (text.size() != 64) return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// -1 or a decimal size.
bool ReadSize(std::string_view text, int64_t* sizeOut) {
    if (text == "-1") {
        *sizeOut = -1;
        return true;
    }
    uint64_t value = 0;
    if (!ReadDecimal(text, static_cast<uint64_t>(INT64_MAX), &value)) return false;
    *sizeOut = static_cast<int64_t>(value);
    return true;
}

bool ParseFileLine(const std::vector<std::string_view>& fields, KeptFile* fileOut) {
    if (fields.size() != 7 || (fields[1] != "0" && fields[1] != "1")) return false;
    KeptFile file;
    file.complete = fields[1] == "1";
    if (!ReadSize(fields[2], &file.wholeSize)) return false;
    if (!fields[3].empty() && !IsSha256Text(fields[3])) return false;
    if (!IsPlainField(fields[4]) || !IsInsidePath(fields[5]) || !IsPlainField(fields[5]) || fields[6].empty() ||
        !IsPlainField(fields[6])) {
        return false;
    }
    file.sha256 = std::string(fields[3]);
    file.validator = std::string(fields[4]);
    file.localPath = std::string(fields[5]);
    file.name = std::string(fields[6]);
    *fileOut = std::move(file);
    return true;
}

std::string StatePath(const std::string& workFolder) { return workFolder + kKeptDownloadsFileName; }

bool ReadState(const std::string& workFolder, KeptDownloads* keptOut) {
    std::string text;
    bool tooLarge = false;
    return ReadFileUpTo(StatePath(workFolder), static_cast<size_t>(kMaxKeptStateBytes), &text, &tooLarge) &&
           ParseKeptDownloads(text, keptOut);
}

std::string WithSeparator(const std::string& folder) {
    return !folder.empty() && (folder.back() == '\\' || folder.back() == '/') ? folder : folder + "\\";
}

// Walks folder (relative path prefix) and removes what keep does not name.
void RemoveAllBut(const std::string& folder, const std::string& prefix, const std::set<std::string>& keep) {
    std::vector<fs_port::DirEntry> entries;
    if (!fs_port::ListDirectory(folder, &entries)) return;
    for (const fs_port::DirEntry& entry : entries) {
        const std::string relative = prefix + entry.name;
        const std::string path = folder + "\\" + entry.name;
        if (entry.isDirectory && !entry.isLink) {
            RemoveAllBut(path, relative + "\\", keep);
            (void)fs_port::RemoveEmptyDirectory(path);
        } else if (keep.count(relative) == 0) {
            // Unpacked members may be read-only, as their packages made them.
            (void)fs_port::SetNormalAttributes(path);
            (void)fs_port::RemoveFile(path);
        }
    }
}

std::string FoldedSeparators(std::string path) {
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

}  // namespace

std::string FormatKeptDownloads(const KeptDownloads& kept) {
    std::string text = std::string(kMagic) + "\n";
    text += "target\t" + kept.targetVersion + "\n";
    text += "base\t" + kept.serverBase + "\n";
    text += "step\t" + std::to_string(kept.stepBytes < 0 ? -1 : kept.stepBytes) + "\n";
    for (const KeptFile& file : kept.files) {
        text += std::string("file\t") + (file.complete ? "1" : "0") + "\t" +
                std::to_string(file.wholeSize < 0 ? -1 : file.wholeSize) + "\t" + file.sha256 + "\t" +
                file.validator + "\t" + file.localPath + "\t" + file.name + "\n";
    }
    text += "end\t" + std::to_string(kept.files.size()) + "\n";
    return text;
}

bool ParseKeptDownloads(std::string_view text, KeptDownloads* keptOut) {
    if (text.size() > static_cast<size_t>(kMaxKeptStateBytes) || text.empty() || text.back() != '\n') return false;
    text.remove_suffix(1);
    std::vector<std::string_view> lines;
    for (;;) {
        const size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    if (lines.size() < 5 || lines[0] != kMagic) return false;
    KeptDownloads kept;
    const std::vector<std::string_view> target = SplitTabs(lines[1]);
    const std::vector<std::string_view> base = SplitTabs(lines[2]);
    const std::vector<std::string_view> step = SplitTabs(lines[3]);
    if (target.size() != 2 || target[0] != "target" || !IsVersionText(target[1]) || base.size() != 2 ||
        base[0] != "base" || base[1].empty() || !IsPlainField(base[1]) || step.size() != 2 || step[0] != "step" ||
        !ReadSize(step[1], &kept.stepBytes)) {
        return false;
    }
    kept.targetVersion = std::string(target[1]);
    kept.serverBase = std::string(base[1]);
    std::set<std::string> names;
    std::set<std::string> paths;
    for (size_t i = 4; i + 1 < lines.size(); ++i) {
        const std::vector<std::string_view> fields = SplitTabs(lines[i]);
        KeptFile file;
        if (fields[0] != "file" || !ParseFileLine(fields, &file)) return false;
        // Two entries for one name or one local file could not both be true.
        if (!names.insert(file.name).second || !paths.insert(FoldedSeparators(file.localPath)).second) return false;
        kept.files.push_back(std::move(file));
    }
    const std::vector<std::string_view> end = SplitTabs(lines.back());
    uint64_t count = 0;
    if (end.size() != 2 || end[0] != "end" || !ReadDecimal(end[1], UINT32_MAX, &count) ||
        count != kept.files.size()) {
        return false;
    }
    *keptOut = std::move(kept);
    return true;
}

KeptDownloadsSummary SummarizeKeptDownloads(const std::string& launcherFolder) {
    KeptDownloadsSummary summary;
    const std::string workFolder = WithSeparator(launcherFolder) + kWorkFolderName + "\\";
    KeptDownloads kept;
    if (!ReadState(workFolder, &kept)) return summary;
    for (const KeptFile& file : kept.files) {
        int64_t size = fs_port::FileSize(workFolder + file.localPath);
        if (size <= 0) continue;
        if (file.wholeSize >= 0 && size > file.wholeSize) size = file.wholeSize;
        summary.keptBytes += size;
    }
    summary.present = summary.keptBytes > 0;
    summary.targetVersion = VersionTextToNumber(kept.targetVersion.c_str());
    summary.stepBytes = kept.stepBytes;
    return summary;
}

bool CKeptDownloads::Open(const std::string& workFolder) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_workFolder.clear();
    m_state = KeptDownloads{};
    IndexLocked();
    m_unwritten = false;
    KeptDownloads kept;
    if (!ReadState(WithSeparator(workFolder), &kept)) return false;
    m_workFolder = WithSeparator(workFolder);
    m_state = std::move(kept);
    IndexLocked();
    return true;
}

bool CKeptDownloads::IsFor(const std::string& targetVersion, const std::string& serverBase) const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return !m_workFolder.empty() && m_state.targetVersion == targetVersion && m_state.serverBase == serverBase;
}

void CKeptDownloads::KeepOnlyItsFiles() const {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (m_workFolder.empty()) return;
    std::set<std::string> keep{kKeptDownloadsFileName};
    for (const KeptFile& file : m_state.files) keep.insert(FoldedSeparators(file.localPath));
    RemoveAllBut(m_workFolder.substr(0, m_workFolder.size() - 1), "", keep);
}

void CKeptDownloads::Start(const std::string& workFolder, const std::string& targetVersion,
                           const std::string& serverBase) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_workFolder = WithSeparator(workFolder);
    m_state = KeptDownloads{};
    m_state.targetVersion = targetVersion;
    m_state.serverBase = serverBase;
    IndexLocked();
    WriteLocked();
}

void CKeptDownloads::SetStepBytes(int64_t bytes) {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (m_workFolder.empty() || m_state.stepBytes == bytes) return;
    m_state.stepBytes = bytes;
    WriteLocked();
}

bool CKeptDownloads::Find(const std::string& name, KeptFile* fileOut) const {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (m_workFolder.empty()) return false;
    const auto found = m_byName.find(name);
    if (found == m_byName.end()) return false;
    *fileOut = m_state.files[found->second];
    return true;
}

void CKeptDownloads::Record(const KeptFile& file) {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (PutLocked(file)) WriteLocked();
}

void CKeptDownloads::RecordSoon(const KeptFile& file) {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (!PutLocked(file)) return;
    m_unwritten = true;
    if (Clock::now() - m_written >= std::chrono::seconds(1)) WriteLocked();
}

void CKeptDownloads::Flush() {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (m_unwritten && !m_workFolder.empty()) WriteLocked();
}

bool CKeptDownloads::PutLocked(const KeptFile& file) {
    // A record the state file could not read back is not kept at all: the
    // file then simply is not kept.
    if (m_workFolder.empty() || !IsInsidePath(file.localPath) || !IsPlainField(file.localPath) ||
        file.name.empty() || !IsPlainField(file.name) || !IsPlainField(file.validator) ||
        (!file.sha256.empty() && !IsSha256Text(file.sha256))) {
        return false;
    }
    const std::string path = FoldedSeparators(file.localPath);
    const auto byName = m_byName.find(file.name);
    const auto byPath = m_byPath.find(path);
    if (byName != m_byName.end() && byPath != m_byPath.end() && byName->second != byPath->second) {
        // The name of one entry and the local file of another: one entry
        // stays, the other goes with its file, which the new record replaces.
        m_state.files.erase(m_state.files.begin() + static_cast<std::ptrdiff_t>(byPath->second));
        IndexLocked();
        return PutLocked(file);
    }
    if (byName != m_byName.end() || byPath != m_byPath.end()) {
        const size_t at = byName != m_byName.end() ? byName->second : byPath->second;
        KeptFile& kept = m_state.files[at];
        m_byName.erase(kept.name);
        m_byPath.erase(FoldedSeparators(kept.localPath));
        m_byName[file.name] = at;
        m_byPath[path] = at;
        kept = file;
        return true;
    }
    m_byName[file.name] = m_state.files.size();
    m_byPath[path] = m_state.files.size();
    m_state.files.push_back(file);
    return true;
}

void CKeptDownloads::IndexLocked() {
    m_byName.clear();
    m_byPath.clear();
    for (size_t i = 0; i < m_state.files.size(); ++i) {
        m_byName[m_state.files[i].name] = i;
        m_byPath[FoldedSeparators(m_state.files[i].localPath)] = i;
    }
}

void CKeptDownloads::Forget(const std::string& name) {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (m_workFolder.empty()) return;
    const auto found = m_byName.find(name);
    if (found == m_byName.end()) return;
    const auto entry = m_state.files.begin() + static_cast<std::ptrdiff_t>(found->second);
    const std::string path = m_workFolder + entry->localPath;
    m_state.files.erase(entry);
    IndexLocked();
    // The entry goes before the file: a state that names a file is never
    // left behind without it being safe to resume.
    WriteLocked();
    (void)fs_port::RemoveFile(path);
}

void CKeptDownloads::Close() {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (!m_workFolder.empty()) (void)fs_port::RemoveFile(StatePath(m_workFolder));
    m_workFolder.clear();
    m_state = KeptDownloads{};
    IndexLocked();
    m_unwritten = false;
}

bool CKeptDownloads::IsOpen() const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return !m_workFolder.empty();
}

void CKeptDownloads::WriteLocked() {
    // A state that cannot be written leaves the old one, which at worst
    // names fewer files or an older validator: those files start over.
    (void)WriteFileBeside(StatePath(m_workFolder), FormatKeptDownloads(m_state), kSideSuffix);
    m_unwritten = false;
    m_written = Clock::now();
}
