// Fetches one URL with the launcher's clients and prints "result N":
//   net_fetch http URL LOCAL_PATH
//   net_fetch ftp URL LOCAL_PATH
//   net_fetch ftp-memory URL OUTPUT_PATH   (writes the memory content there)
//   net_fetch ftp-twice URL1 URL2 PATH1 PATH2  (one client, two downloads)
#include <cstdio>
#include <cstring>
#include <string>

#include "net/ftp_client.h"
#include "net/http_client.h"
#include "net/socket_port.h"
#include "platform/file_system.h"

namespace {

int WriteWhole(const std::string& path, const std::string& content) {
    std::FILE* f = fs_port::OpenFile(path, "wb");
    if (f == nullptr) return 1;
    const bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    return std::fclose(f) == 0 && ok ? 0 : 1;
}

int Fetch(int argc, char** argv) {
    const std::string mode = argv[1];
    if (mode == "http" && argc == 4) {
        CNetworkHTTP http;
        return http.Download(argv[2], argv[3]);
    }
    if (mode == "ftp" && argc == 4) {
        CNetworkFTP ftp;
        return ftp.Download(argv[2], argv[3], false, nullptr);
    }
    if (mode == "ftp-memory" && argc == 4) {
        CNetworkFTP ftp;
        std::string content;
        const int result = ftp.Download(argv[2], "", true, &content);
        return result != 0 ? result : WriteWhole(argv[3], content);
    }
    if (mode == "ftp-twice" && argc == 6) {
        CNetworkFTP ftp;
        const int first = ftp.Download(argv[2], argv[4], false, nullptr);
        return first != 0 ? first : ftp.Download(argv[3], argv[5], false, nullptr);
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || !socket_port::StartNetworking()) {
        std::fprintf(stderr, "usage: net_fetch http|ftp|ftp-memory URL PATH\n");
        return 2;
    }
    const int result = Fetch(argc, argv);
    socket_port::StopNetworking();
    if (result < 0) {
        std::fprintf(stderr, "usage: net_fetch http|ftp|ftp-memory URL PATH\n");
        return 2;
    }
    std::printf("result %d\n", result);
    return 0;
}
