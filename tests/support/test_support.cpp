#include "support/test_support.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/file_system.h"

namespace {

std::string TempRoot() {
#if defined(_WIN32)
    const char* tmp = std::getenv("TEMP");
    return tmp ? tmp : "C:\\windows\\temp";
#else
    const char* tmp = std::getenv("TMPDIR");
    return tmp ? tmp : "/tmp";
#endif
}

}  // namespace

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    const std::string root = TempRoot();
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        std::string candidate = root + fs_port::NativeSeparator() + "vtest_" +
                                std::to_string(std::rand()) + "_" + std::to_string(counter++);
        if (fs_port::MakeDirectory(candidate)) {
            m_path = candidate;
            return;
        }
    }
    std::abort();
}

TempDir::~TempDir() { RemoveTree(m_path); }

std::string TempDir::File(const std::string& name) const {
    return m_path + fs_port::NativeSeparator() + name;
}

void WriteTextFile(const std::string& path, const std::string& content) {
    std::FILE* f = fs_port::OpenFile(path, "wb");
    if (!f) return;
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
}

std::string ReadTextFile(const std::string& path) {
    std::FILE* f = fs_port::OpenFile(path, "rb");
    if (!f) return {};
    std::string out;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

void RemoveTree(const std::string& path) {
    std::vector<fs_port::DirEntry> entries;
    if (fs_port::ListDirectory(path, &entries)) {
        for (const auto& e : entries) {
            std::string child = path + fs_port::NativeSeparator() + e.name;
            fs_port::SetNormalAttributes(child);
            if (e.isDirectory) {
                RemoveTree(child);
            } else {
                fs_port::RemoveFile(child);
            }
        }
    }
    fs_port::RemoveEmptyDirectory(path);
}

int RunShell(const std::string& command) {
    return std::system(command.c_str());
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}
