// One download with our HTTP or FTP client, for bench/run_bench.py to time
// and to measure (peak memory) against curl on the same file and server.
//   download_bench http://HOST:PORT/PATH FILE
//   download_bench https://HOST:PORT/PATH FILE  (a test CA: VANTOREL_TEST_CA_FILE)
//   download_bench ftp://HOST:PORT/PATH FILE
//   download_bench URL FILE KIBPS        under the process's download limit
// The FTP client takes "\" after the host, as the update lists give it; "/"
// in an ftp URL is turned into "\" here so that both tools share one URL.
#include <cstdio>
#include <string>

#include "net/ftp_client.h"
#include "net/http_client.h"
#include "net/rate_limiter.h"

namespace {

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

int Download(const std::string& url, const std::string& target) {
    if (StartsWith(url, "http://") || StartsWith(url, "https://")) {
        CNetworkHTTP http;
        return http.Download(url, target);
    }
    const char kFtpScheme[] = "ftp://";
    if (StartsWith(url, kFtpScheme)) {
        std::string launcherUrl = url;
        for (size_t i = launcherUrl.find('/', sizeof kFtpScheme - 1); i != std::string::npos;
             i = launcherUrl.find('/', i + 1)) {
            launcherUrl[i] = '\\';
        }
        CNetworkFTP ftp;
        return ftp.Download(launcherUrl, target, false, nullptr);
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: download_bench URL FILE [KIBPS]\n");
        return 2;
    }
    if (argc == 4) DownloadRateLimiter().SetLimit(std::stoll(argv[3]) * 1024);
    const int result = Download(argv[1], argv[2]);
    if (result != 0) {
        std::fprintf(stderr, "download_bench: %s failed with %d\n", argv[1], result);
        return 1;
    }
    return 0;
}
