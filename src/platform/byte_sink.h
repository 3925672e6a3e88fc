// Where downloaded bytes go: a file on disk or a buffer in memory, behind one
// small interface so the receive loops serve both.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Takes all size bytes or fails (a full disk, a limit reached).
    [[nodiscard]] virtual bool Write(const char* data, size_t size) = 0;
};

// Writes at the file's current position. The file stays the caller's.
class FileSink : public ByteSink {
public:
    explicit FileSink(std::FILE* file) : m_file(file) {}
    [[nodiscard]] bool Write(const char* data, size_t size) override;

private:
    std::FILE* m_file;
};

// Appends to a string, refusing to grow it past a limit.
class StringSink : public ByteSink {
public:
    StringSink(std::string* out, size_t limit) : m_out(out), m_limit(limit) {}
    [[nodiscard]] bool Write(const char* data, size_t size) override;

private:
    std::string* m_out;
    size_t m_limit;
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens a file for reading and writing at its start, creating it empty when
// it is missing (an existing file keeps its bytes). Null when neither works.
[[nodiscard]] UniqueFile OpenOrCreateFile(const std::string& path);

// Ends a write made into tempPath beside path: flushes the bytes to the disk,
// closes the file and renames it over path, so a reader finds either the old
// file or the whole new one. On any failure the side file goes and path stays
// as it was. The file is closed in every case.
[[nodiscard]] bool CommitBesideFile(std::FILE* file, const std::string& tempPath, const std::string& path);

enum class BesideWrite { Done, CannotCreate, CannotWrite };
// Writes the whole content into path + sideSuffix and commits it over path
// with CommitBesideFile, with the same promise: the old file or the whole new
// one, and no side file left on failure. prepare (may be empty) runs on the
// side file's path once it exists, before the content goes in (a secret
// made readable by its owner alone from the start); false from it fails the
// write.
[[nodiscard]] BesideWrite WriteFileBeside(const std::string& path, std::string_view content, const char* sideSuffix,
                                          const std::function<bool(const std::string& sidePath)>& prepare = {});
