// A real server for the tests (nginx or an FTP server), started by
// tests/peers/peer.py on 127.0.0.1 with a free port and stopped when the
// object goes out of scope, or by the script's watcher if the test dies.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <initializer_list>
#include <string>

#include "platform/file_system.h"

#include "support/test_support.h"

namespace test_net {

class PeerServer {
public:
    PeerServer(const std::string& kind, const std::string& root) : m_state(m_dir.File("state")) {
        const std::string command = "/usr/bin/python3 " VANTOREL_PEERS_DIR "/peer.py start " + kind +
                                    " " + m_state + " " + root + " --owner " +
                                    std::to_string(::getpid()) + " >/dev/null";
        if (RunShell(command) == 0) m_port = std::stoi("0" + ReadTextFile(m_state + "/port"));
    }
    ~PeerServer() { RunShell("/usr/bin/python3 " VANTOREL_PEERS_DIR "/peer.py stop " + m_state); }
    PeerServer(const PeerServer&) = delete;
    PeerServer& operator=(const PeerServer&) = delete;

    // 0 when the server did not start.
    int Port() const { return m_port; }
    // A file the server writes into its state folder (access.log, logins).
    std::string ReadStateFile(const std::string& name) const { return ReadTextFile(m_state + "/" + name); }

private:
    TempDir m_dir;
    std::string m_state;
    int m_port = 0;
};

// Deterministic bytes that differ at every position of a period longer than
// any buffer, so a shifted or repeated piece shows.
inline std::string PatternBytes(size_t size, unsigned seed) {
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        out[i] = static_cast<char>(x >> 24);
    }
    return out;
}

// A file of `size` bytes whose only data are `block` at each place; the rest
// is a hole. Files of gigabytes are so made in a moment, and take no disk.
inline bool WriteSparseFile(const std::string& path, int64_t size, const std::string& block,
                            std::initializer_list<int64_t> places) {
    std::FILE* file = fs_port::OpenFile(path, "wb");
    bool ok = file != nullptr && fs_port::TruncateFile(file, size);
    for (int64_t at : places) {
        ok = ok && fs_port::SeekFile(file, at, SEEK_SET) &&
             std::fwrite(block.data(), 1, block.size(), file) == block.size();
    }
    return file != nullptr && std::fclose(file) == 0 && ok;
}

// size bytes of a file from offset on; empty when they cannot be read.
inline std::string ReadFileAt(const std::string& path, int64_t offset, size_t size) {
    std::string out(size, '\0');
    std::FILE* file = fs_port::OpenFile(path, "rb");
    const bool ok = file != nullptr && fs_port::SeekFile(file, offset, SEEK_SET) &&
                    std::fread(&out[0], 1, size, file) == size;
    if (file != nullptr) std::fclose(file);
    return ok ? out : std::string();
}

// A 5 GiB file on the site and the local copy of a download cut at 4.5 GiB,
// both sparse, so that a resume beyond 4 GiB moves only the last half GiB.
struct CutBigDownload {
    static constexpr int64_t kSize = 5LL << 30;
    static constexpr int64_t kCut = kSize - (512LL << 20);
    const std::string mark = PatternBytes(4096, 7);

    bool Make(const std::string& sitePath, const std::string& localPath) const {
        return WriteSparseFile(sitePath, kSize, mark, {0, kCut - 100, kSize - 4096}) &&
               WriteSparseFile(localPath, kCut, mark, {0});
    }
    // The resumed file has the whole size, and the bytes after the cut and at the end.
    bool Completed(const std::string& localPath) const {
        return fs_port::FileSize(localPath) == kSize && ReadFileAt(localPath, kCut, 3996) == mark.substr(100) &&
               ReadFileAt(localPath, kSize - 4096, 4096) == mark;
    }
};

}  // namespace test_net
