#include "package/fast_file.h"

#include <cstring>
#include <new>
#include <string>

#include "package/sealed_content.h"
#include "platform/byte_sink.h"
#include "platform/file_system.h"

namespace {

// The launcher's file key. Every enciphered data file of the launcher and of
// the operator's tool is written and read with these five words.
constexpr FileKey kLauncherFileKey = {0x56A1C3E5u, 0x7D2B9F04u, 0x3E8C51A7u, 0xC4F06D29u,
                                      0x9B175E83u};

constexpr char kTempSuffix[] = ".vtpart";

// Size of an open file, or -1 when it cannot be told.
int64_t OpenFileSize(std::FILE* file) {
    if (!fs_port::SeekFile(file, 0, SEEK_END)) return -1;
    const int64_t size = fs_port::TellFile(file);
    if (!fs_port::SeekFile(file, 0, SEEK_SET)) return -1;
    return size;
}

bool ReadExactly(std::FILE* file, char* buffer, size_t size) {
    return size == 0 || std::fread(buffer, 1, size, file) == size;
}

}  // namespace

const FileKey& LauncherFileKey() { return kLauncherFileKey; }

CFastFile::CFastFile(AccessMode mode) : m_mode(mode) {}

CFastFile::~CFastFile() { Close(); }

bool CFastFile::Open(const char* path, const char* modeText) {
    Close();
    if (!path || !*path || !modeText) return false;
    const bool reading = m_mode == ModeRead && std::strcmp(modeText, "r+") == 0;
    const bool writing = m_mode == ModeWrite && std::strcmp(modeText, "w+") == 0;
    if (reading) {
        if (!fs_port::IsRegularFile(path)) return false;
        m_file = fs_port::OpenFile(path, "rb");
    } else if (writing) {
        if (fs_port::IsDirectory(path)) return false;
        m_tempPath = std::string(path) + kTempSuffix;
        m_file = fs_port::OpenFile(m_tempPath, "wb");
        if (!m_file) m_tempPath.clear();
    }
    if (!m_file) return false;
    m_path = path;
    return true;
}

std::unique_ptr<char[]> CFastFile::Read(size_t* sizeOut, const FileKey* key, bool deciphered) {
    if (sizeOut) *sizeOut = 0;
    if (!m_file || m_mode != ModeRead || (deciphered && !key)) return nullptr;
    const int64_t fileSize = OpenFileSize(m_file);
    const uint64_t limit = kMaxWholeFileBytes + (deciphered ? kSealOverheadBytes : 0);
    if (fileSize < 0 || static_cast<uint64_t>(fileSize) > limit) return nullptr;

    const size_t imageSize = static_cast<size_t>(fileSize);
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[imageSize + 1]);
    if (!buffer || !ReadExactly(m_file, buffer.get(), imageSize)) return nullptr;
    // A file that grew while we read it is not the file we measured.
    if (std::fgetc(m_file) != EOF) return nullptr;

    size_t size = imageSize;
    if (deciphered &&
        !UnsealInPlace(reinterpret_cast<unsigned char*>(buffer.get()), imageSize, *key, &size)) {
        return nullptr;
    }
    buffer[size] = '\0';
    if (sizeOut) *sizeOut = size;
    return buffer;
}

bool CFastFile::Write(const char* text, const FileKey* key, bool enciphered) {
    if (!text) return false;
    return WriteBytes(text, std::strlen(text), key, enciphered);
}

bool CFastFile::WriteBytes(const void* data, size_t size, const FileKey* key, bool enciphered) {
    if (!m_file || m_mode != ModeWrite || (size > 0 && !data)) return false;
    bool ok;
    if (enciphered) {
        std::string image;
        ok = key && SealContent(data, size, *key, &image) &&
             std::fwrite(image.data(), 1, image.size(), m_file) == image.size();
    } else {
        ok = size == 0 || std::fwrite(data, 1, size, m_file) == size;
    }
    if (!ok) {
        DiscardWrite();
        return false;
    }
    return CommitWrite();
}

bool CFastFile::CommitWrite() {
    const bool committed = CommitBesideFile(m_file, m_tempPath, m_path);
    m_file = nullptr;
    m_tempPath.clear();
    return committed;
}

void CFastFile::DiscardWrite() {
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
    if (!m_tempPath.empty()) fs_port::RemoveFile(m_tempPath);
    m_tempPath.clear();
}

void CFastFile::Close() {
    // A write that was opened but never finished leaves the old file alone.
    if (!m_tempPath.empty()) {
        DiscardWrite();
    } else if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    m_path.clear();
}

bool ReadWholeFile(const std::string& path, const FileKey* key, bool deciphered,
                   std::string* contentOut) {
    CFastFile file(ModeRead);
    if (!file.Open(path.c_str(), "r+")) return false;
    size_t size = 0;
    std::unique_ptr<char[]> content = file.Read(&size, key, deciphered);
    file.Close();
    if (!content || content[0] == '\0') return false;
    contentOut->assign(content.get(), size);
    return true;
}
