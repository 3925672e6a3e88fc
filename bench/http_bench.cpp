// Download speed of the HTTP client against curl, from the same nginx on
// 127.0.0.1 in the same run. Prints the ratio of the throughputs.
//   http_bench [size in MiB, default 500] [rounds, default 3]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "net/http_client.h"
#include "platform/file_system.h"

namespace {

const std::string kPeer = "/usr/bin/python3 " VANTOREL_SOURCE_DIR "/tests/peers/peer.py";

bool WritePatternFile(const std::string& path, size_t mebibytes) {
    std::FILE* f = fs_port::OpenFile(path, "wb");
    if (f == nullptr) return false;
    std::vector<char> block(1 << 20);
    uint32_t x = 12345;
    bool ok = true;
    for (size_t i = 0; i < mebibytes && ok; ++i) {
        for (char& c : block) {
            x = x * 1664525u + 1013904223u;
            c = static_cast<char>(x >> 24);
        }
        ok = std::fwrite(block.data(), 1, block.size(), f) == block.size();
    }
    return std::fclose(f) == 0 && ok;
}

// Best wall time of `rounds` runs, in seconds; negative when a run failed.
double BestSeconds(int rounds, const std::function<bool()>& run) {
    double best = 1e9;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (!run()) return -1;
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (s < best) best = s;
    }
    return best;
}

int Measure(const std::string& work, size_t mebibytes, int rounds) {
    const std::string site = work + "/site";
    const std::string state = work + "/nginx";
    if (!fs_port::MakeDirectory(site) || !WritePatternFile(site + "/big.bin", mebibytes)) return 1;
    if (std::system((kPeer + " start nginx " + state + " " + site + " --owner " +
                     std::to_string(getpid()) + " >/dev/null").c_str()) != 0) {
        return 1;
    }
    std::FILE* portFile = std::fopen((state + "/port").c_str(), "r");
    int port = 0;
    if (portFile == nullptr || std::fscanf(portFile, "%d", &port) != 1) port = 0;
    if (portFile != nullptr) std::fclose(portFile);
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/big.bin";
    const std::string target = work + "/out.bin";
    const int64_t expected = static_cast<int64_t>(mebibytes) << 20;
    const double curl = BestSeconds(rounds, [&] {
        fs_port::RemoveFile(target);
        return std::system(("curl -s -o " + target + " " + url).c_str()) == 0 &&
               fs_port::FileSize(target) == expected;
    });
    const double ours = BestSeconds(rounds, [&] {
        fs_port::RemoveFile(target);
        CNetworkHTTP http;
        return http.Download(url, target) == http_result::kOk && fs_port::FileSize(target) == expected;
    });
    std::system((kPeer + " stop " + state).c_str());
    if (port == 0 || curl <= 0 || ours <= 0) {
        std::printf("bench http: failed (port %d, curl %.3f s, ours %.3f s)\n", port, curl, ours);
        return 1;
    }
    std::printf("bench http: %zu MiB, ours %.0f MiB/s, curl %.0f MiB/s (best of %d)\n", mebibytes,
                mebibytes / ours, mebibytes / curl, rounds);
    std::printf("bench http: ratio %.2f (goal >= 0.9)\n", curl / ours);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t mebibytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 500;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    char pattern[] = "/tmp/vbench_http_XXXXXX";
    const char* work = mkdtemp(pattern);
    if (work == nullptr || mebibytes == 0 || rounds <= 0) return 2;
    const int result = Measure(work, mebibytes, rounds);
    std::system(("rm -rf " + std::string(work)).c_str());
    return result;
}
