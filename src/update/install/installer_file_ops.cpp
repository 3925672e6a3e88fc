#include "update/install/installer_file_ops.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/file_system.h"

namespace {

StepResult Result(bool ok) { return ok ? StepResult::Done : StepResult::Failed; }

bool CopyFileData(std::FILE* in, std::FILE* out) {
    std::vector<char> buffer(1 << 16);
    size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
        if (std::fwrite(buffer.data(), 1, n, out) != n) return false;
    }
    return std::ferror(in) == 0;
}

// The move of a file to another volume: a full copy that reaches the disk
// under a side name and is then renamed to its place, then the source goes.
// The destination name so only ever holds a whole file: the undo of a run
// killed during the copy finds either no copy or a complete one, never a
// partial one that it could take for the file. When anything fails the copy
// goes again, so the file is in exactly one of the two places.
bool CopyThenRemove(const std::string& from, const std::string& to) {
    const std::string part = to + ".vtcopy";
    (void)fs_port::RemoveFile(part);  // left by a run killed while copying
    std::FILE* in = fs_port::OpenFile(from, "rb");
    if (!in) return false;
    std::FILE* out = fs_port::OpenFile(part, "wb");
    if (!out) {
        std::fclose(in);
        return false;
    }
    bool ok = CopyFileData(in, out) && fs_port::FlushFileToDisk(out);
    std::fclose(in);
    ok = std::fclose(out) == 0 && ok;
    if (!ok || !fs_port::RenameOnVolume(part, to)) {
        (void)fs_port::RemoveFile(part);
        return false;
    }
    if (fs_port::RemoveFile(from)) return true;
    (void)fs_port::RemoveFile(to);
    return false;
}

}  // namespace

StepResult SystemFileOps::MovePath(const std::string& from, const std::string& to) {
    if (!fs_port::PathExists(from) || fs_port::PathExists(to)) return StepResult::Failed;
    errno = 0;
    if (fs_port::RenameOnVolume(from, to)) return StepResult::Done;
    if (errno == EXDEV && fs_port::IsRegularFile(from)) return Result(CopyThenRemove(from, to));
    return StepResult::Failed;
}

StepResult SystemFileOps::MakeFolder(const std::string& path) {
    return Result(fs_port::MakeDirectory(path) || fs_port::IsDirectory(path));
}

StepResult SystemFileOps::RemoveFile(const std::string& path) {
    if (fs_port::RemoveFile(path)) return StepResult::Done;
    fs_port::SetNormalAttributes(path);
    return Result(fs_port::RemoveFile(path));
}

StepResult SystemFileOps::RemoveEmptyFolder(const std::string& path) {
    return Result(fs_port::RemoveEmptyDirectory(path));
}

StepResult SystemFileOps::RemoveTree(const std::string& path) {
    // A link or junction goes itself; the folder it points at may lie outside
    // the game folder and is never entered.
    if (fs_port::IsLink(path)) {
        return Result(fs_port::RemoveFile(path) || fs_port::RemoveEmptyDirectory(path));
    }
    if (!fs_port::IsDirectory(path)) {
        if (!fs_port::PathExists(path)) return StepResult::Done;
        return RemoveFile(path);
    }
    std::vector<fs_port::DirEntry> entries;
    fs_port::SetNormalAttributes(path);
    if (fs_port::ListDirectory(path, &entries)) {
        for (const fs_port::DirEntry& entry : entries) {
            (void)RemoveTree(path + "\\" + entry.name);
        }
    }
    return Result(fs_port::RemoveEmptyDirectory(path));
}

StepResult SystemFileOps::WriteDurably(const std::string& path, const std::string& text,
                                       bool append) {
    std::FILE* file = fs_port::OpenFile(path, append ? "ab" : "wb");
    if (!file) return StepResult::Failed;
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = ok && (m_durable ? fs_port::FlushFileToDisk(file) : std::fflush(file) == 0);
    ok = std::fclose(file) == 0 && ok;
    return Result(ok);
}

bool ReadFileUpTo(const std::string& path, size_t maxBytes, std::string* bytesOut,
                  bool* tooLargeOut) {
    bytesOut->clear();
    *tooLargeOut = false;
    std::FILE* file = fs_port::OpenFile(path, "rb");
    if (!file) return false;
    std::vector<char> buffer(1 << 16);
    size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
        if (bytesOut->size() + n > maxBytes) {
            *tooLargeOut = true;
            break;
        }
        bytesOut->append(buffer.data(), n);
    }
    const bool ok = std::ferror(file) == 0 && !*tooLargeOut;
    std::fclose(file);
    return ok;
}
