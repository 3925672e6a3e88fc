#include "package/bundle.h"

#include <atomic>
#include <cstring>

#include "package/zip_reader.h"
#include "package/zip_writer.h"
#include "platform/byte_sink.h"
#include "platform/file_system.h"

namespace {

constexpr char kPartSuffix[] = ".vtpart";

// Device names that Win32 opens as devices in any folder and with any
// extension ("NUL.txt" is the null device).
const char* const kDeviceNames[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3",
                                    "COM4", "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1",
                                    "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8",
                                    "LPT9", "CONIN$", "CONOUT$"};

bool IsDeviceName(const std::string& component) {
    std::string stem = component.substr(0, component.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (char& c : stem) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    for (const char* device : kDeviceNames) {
        if (stem == device) return true;
    }
    return false;
}

// A component is refused when Win32 would read it as something else: "."
// and "..", names it trims (trailing dots and spaces make "..\" out of
// ".. \"), and device names.
bool IsSafeComponent(const std::string& component) {
    if (component.empty()) return false;
    const char last = component.back();
    if (last == '.' || last == ' ') return false;
    return !IsDeviceName(component);
}

// Writes a member to an open file and to an optional copy sink, and tells of
// each block written; refuses the next block once *stop is set, and remembers
// that it refused.
class MemberSink : public ByteSink {
public:
    MemberSink(std::FILE* file, const std::atomic<bool>* stop, ByteSink* copy,
               const std::function<void(uint64_t)>& written)
        : m_file(file), m_stop(stop), m_copy(copy), m_written(written) {}
    bool Write(const char* data, size_t size) override {
        const bool taken = !(m_stop && m_stop->load()) && m_file.Write(data, size) &&
                           (m_copy == nullptr || m_copy->Write(data, size));
        m_refused = m_refused || !taken;
        if (taken && m_written) m_written(size);
        return taken;
    }
    bool Refused() const { return m_refused; }

private:
    FileSink m_file;
    const std::atomic<bool>* m_stop;
    ByteSink* m_copy;
    const std::function<void(uint64_t)>& m_written;
    bool m_refused = false;
};

std::string ParentFolder(const std::string& path) {
    const size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

}  // namespace

bool IsSafeMemberName(const std::string& name) {
    if (name.empty() || name[0] == '/' || name[0] == '\\') return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F || c == ':') return false;
    }
    // A single trailing separator marks a folder member; any other empty
    // component ("a//b") is refused.
    const bool folder = name.back() == '/' || name.back() == '\\';
    const std::string body = folder ? name.substr(0, name.size() - 1) : name;
    size_t start = 0;
    for (;;) {
        const size_t cut = body.find_first_of("\\/", start);
        const std::string component =
            body.substr(start, cut == std::string::npos ? std::string::npos : cut - start);
        if (!IsSafeComponent(component)) return false;
        if (cut == std::string::npos) return true;
        start = cut + 1;
    }
}

struct CBundle::Impl {
    zip::ZipReader reader;
    zip::ZipWriter writer;
    std::string error;
    std::string tag;
    const std::atomic<bool>* stop = nullptr;
    bool failureInPackage = false;
    std::function<void(uint64_t)> onWritten;  // told the bytes of each block written

    [[nodiscard]] bool Locate(const char* memberName, const char* destPath, size_t* indexOut);
    [[nodiscard]] bool Stream(size_t index, const std::string& dest, ByteSink* copy, ExtractedFile* fileOut);
};

CBundle::CBundle() : m_impl(new Impl) {}

CBundle::~CBundle() = default;

bool CBundle::Open(const char* path, const char* tag) {
    m_impl->error.clear();
    m_impl->failureInPackage = false;
    m_impl->writer.Abandon();
    if (!path || !*path) {
        m_impl->error = "no package path";
        return false;
    }
    // The tag is kept for the callers' information; it never stops a package
    // from opening, so packages made by other tools open too.
    m_impl->tag = tag ? tag : "";
    m_impl->failureInPackage = !m_impl->reader.Open(path, &m_impl->error);
    return !m_impl->failureInPackage;
}

bool CBundle::Impl::Locate(const char* memberName, const char* destPath, size_t* indexOut) {
    if (!memberName || !destPath || !*destPath) {
        error = "no member name or destination";
        return false;
    }
    if (!reader.IsOpen()) {
        error = "no package is open";
        return false;
    }
    if (!IsSafeMemberName(memberName)) {
        error = std::string("unsafe member name ") + memberName;
        return false;
    }
    if (!reader.FindMember(memberName, indexOut, &error)) {
        failureInPackage = true;
        return false;
    }
    if (reader.Members()[*indexOut].isDirectory) {
        error = std::string("member ") + memberName + " is a folder";
        return false;
    }
    const std::string parent = ParentFolder(destPath);
    if (!parent.empty() && !fs_port::IsDirectory(parent) && !fs_port::MakeDirectories(parent)) {
        error = "cannot create folder " + fs_port::NativePath(parent);
        return false;
    }
    return true;
}

// The member goes to a file beside the destination first; only a whole,
// checked member replaces what is there.
bool CBundle::Impl::Stream(size_t index, const std::string& dest, ByteSink* copy, ExtractedFile* fileOut) {
    const std::string temp = dest + kPartSuffix;
    std::FILE* out = fs_port::OpenFile(temp, "wb");
    if (!out) {
        error = "cannot create " + fs_port::NativePath(temp);
        return false;
    }
    MemberSink sink(out, stop, copy, onWritten);
    bool ok = reader.StreamMember(index, &sink, &error);
    if (!ok && stop && stop->load()) {
        error = "stopped";
    } else if (!ok && !sink.Refused()) {
        failureInPackage = true;
    }
    fs_port::FileStamp written;
    const bool stamped = ok && std::fflush(out) == 0 && fs_port::ReadOpenFileStamp(out, &written);
    const bool closed = std::fclose(out) == 0;
    if (ok && !closed) error = "cannot write " + fs_port::NativePath(temp);
    ok = ok && closed;
    if (ok && fs_port::PathExists(dest)) fs_port::SetNormalAttributes(dest);
    if (ok && !fs_port::RenamePath(temp, dest, true)) {
        error = "cannot replace " + fs_port::NativePath(dest);
        ok = false;
    }
    if (!ok) fs_port::RemoveFile(temp);
    if (ok && fileOut) {
        fileOut->stamped = stamped && fs_port::ReadFileStamp(dest, &fileOut->stamp) && fileOut->stamp == written;
    }
    return ok;
}

bool CBundle::Extract(const char* memberName, const char* destPath) {
    return Extract(memberName, destPath, nullptr, nullptr);
}

bool CBundle::Extract(const char* memberName, const char* destPath, ByteSink* copy, ExtractedFile* fileOut) {
    Impl& impl = *m_impl;
    impl.error.clear();
    impl.failureInPackage = false;
    if (fileOut) *fileOut = ExtractedFile{};
    size_t index = 0;
    return impl.Locate(memberName, destPath, &index) && impl.Stream(index, destPath, copy, fileOut);
}

bool CBundle::LastFailureInPackage() const { return m_impl->failureInPackage; }

void CBundle::SetStopFlag(const std::atomic<bool>* stop) { m_impl->stop = stop; }

void CBundle::SetProgress(std::function<void(uint64_t bytes)> written) { m_impl->onWritten = std::move(written); }

const std::vector<BundleMember>& CBundle::Members() const { return m_impl->reader.Members(); }

bool CBundle::Create(const char* path, const char* tag) {
    m_impl->error.clear();
    m_impl->reader.Close();
    if (!path || !*path) {
        m_impl->error = "no package path";
        return false;
    }
    m_impl->tag = tag ? tag : kBundleTag;
    return m_impl->writer.Create(path, &m_impl->error);
}

bool CBundle::AddFile(const char* sourcePath, const char* memberName) {
    m_impl->error.clear();
    if (!sourcePath || !memberName) {
        m_impl->error = "no source path or member name";
        return false;
    }
    return m_impl->writer.AddFile(sourcePath, memberName, &m_impl->error);
}

bool CBundle::Release() {
    m_impl->error.clear();
    return m_impl->writer.Finish(m_impl->tag, &m_impl->error);
}

const std::string& CBundle::LastError() const { return m_impl->error; }
