#include "platform/byte_sink.h"

#include "platform/file_system.h"

bool FileSink::Write(const char* data, size_t size) {
    return size == 0 || std::fwrite(data, 1, size, m_file) == size;
}

bool StringSink::Write(const char* data, size_t size) {
    if (size > m_limit || m_out->size() > m_limit - size) return false;
    m_out->append(data, size);
    return true;
}

UniqueFile OpenOrCreateFile(const std::string& path) {
    UniqueFile file(fs_port::OpenFile(path, "r+b"));
    if (!file && !fs_port::PathExists(path)) {
        // "w+b" only for a missing file: it would cut an existing one.
        file.reset(fs_port::OpenFile(path, "w+b"));
    }
    return file;
}

bool CommitBesideFile(std::FILE* file, const std::string& tempPath, const std::string& path) {
    const bool flushed = fs_port::FlushFileToDisk(file);
    const bool closed = std::fclose(file) == 0;
    if (flushed && closed && fs_port::RenamePath(tempPath, path, true)) return true;
    fs_port::RemoveFile(tempPath);
    return false;
}

BesideWrite WriteFileBeside(const std::string& path, std::string_view content, const char* sideSuffix,
                            const std::function<bool(const std::string& sidePath)>& prepare) {
    const std::string sidePath = path + sideSuffix;
    std::FILE* file = fs_port::OpenFile(sidePath, "wb");
    if (!file) return BesideWrite::CannotCreate;
    if ((prepare && !prepare(sidePath)) ||
        (!content.empty() && std::fwrite(content.data(), 1, content.size(), file) != content.size())) {
        std::fclose(file);
        fs_port::RemoveFile(sidePath);
        return BesideWrite::CannotWrite;
    }
    return CommitBesideFile(file, sidePath, path) ? BesideWrite::Done : BesideWrite::CannotWrite;
}
