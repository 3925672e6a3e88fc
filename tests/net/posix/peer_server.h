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
    // slow: "URI[@RATE[/BURST]]", a file nginx sends at a limited rate;
    // certs: a folder made by MakeTestCertificates, for https ports as well.
    PeerServer(const std::string& kind, const std::string& root, const std::string& slow = "",
               const std::string& certs = "")
        : m_state(m_dir.File("state")) {
        const std::string command = "/usr/bin/python3 " VANTOREL_PEERS_DIR "/peer.py start " + kind +
                                    " " + m_state + " " + root + " --owner " +
                                    std::to_string(::getpid()) + (slow.empty() ? "" : " --slow " + slow) +
                                    (certs.empty() ? "" : " --tls " + certs) + " >/dev/null";
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

// A test CA (folder/ca.pem) and the server certificates peer.py serves
// with --tls; false when openssl failed.
inline bool MakeTestCertificates(const std::string& folder) {
    return RunShell("/usr/bin/python3 " VANTOREL_PEERS_DIR "/peer.py certs " + folder + " >/dev/null") == 0;
}

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

// A 5 GiB file on the site and the local copy of a download cut at 4.5 GiB,
// both sparse (made in a moment, no disk taken): a resume beyond 4 GiB then
// moves only the last half GiB. Marks at both ends of the cut and at the end.
struct CutBigDownload {
    static constexpr int64_t kSize = 5LL << 30, kCut = kSize - (512LL << 20);
    const std::string mark = PatternBytes(4096, 7);

    bool Write(const std::string& path, int64_t size, std::initializer_list<int64_t> places) const {
        std::FILE* file = fs_port::OpenFile(path, "wb");
        bool ok = file != nullptr && fs_port::TruncateFile(file, size);
        for (int64_t at : places) {
            ok = ok && fs_port::SeekFile(file, at, SEEK_SET) && std::fwrite(mark.data(), 1, 4096, file) == 4096;
        }
        return file != nullptr && std::fclose(file) == 0 && ok;
    }
    bool Make(const std::string& sitePath, const std::string& localPath) const {
        return Write(sitePath, kSize, {0, kCut - 100, kSize - 4096}) && Write(localPath, kCut, {0});
    }
    bool Completed(const std::string& localPath) const {
        std::string tail(8192, '\0');
        std::FILE* file = fs_port::OpenFile(localPath, "rb");
        const bool read = file != nullptr && fs_port::SeekFile(file, kCut - 100, SEEK_SET) &&
                          std::fread(&tail[0], 1, 4096, file) == 4096 &&
                          fs_port::SeekFile(file, kSize - 4096, SEEK_SET) && std::fread(&tail[4096], 1, 4096, file) == 4096;
        if (file != nullptr) std::fclose(file);
        return read && fs_port::FileSize(localPath) == kSize && tail == std::string(100, '\0') + mark.substr(100) + mark;
    }
};

}  // namespace test_net
