// The HTTP client against a real nginx.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "net/ftp_client.h"
#include "net/http_client.h"
#include "net/rate_limiter.h"
#include "net/tls_port.h"
#include "platform/file_system.h"
#include "posix/peer_server.h"
#include "support/journal_capture.h"

namespace {

using test_net::PatternBytes;
using test_net::PeerServer;

class NginxDownload : public ::testing::Test {
protected:
    void SetUp() override {
        WriteTextFile(m_site.File("small.bin"), m_small);
        ASSERT_TRUE(fs_port::MakeDirectory(m_site.File("v1002")));
        WriteTextFile(m_site.File("v1002/pack.zip"), m_small);
        m_server = std::make_unique<PeerServer>("nginx", m_site.Path());
        ASSERT_NE(m_server->Port(), 0);
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_server->Port()) + path;
    }
    int StatusCount(const std::string& status) const {
        const std::string log = m_server->ReadStateFile("access.log");
        int count = 0;
        const std::string needle = "\" " + status + " ";
        for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1)) ++count;
        return count;
    }
    // nginx writes its access log line after the answer has gone out, so the
    // client can be done before the line is there: wait a little for it.
    int StatusCountReaching(const std::string& status, int expected) const {
        int count = StatusCount(status);
        for (int i = 0; i < 100 && count < expected; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            count = StatusCount(status);
        }
        return count;
    }

    TempDir m_site;
    TempDir m_local;
    const std::string m_small = PatternBytes(300 * 1024 + 17, 1);
    std::unique_ptr<PeerServer> m_server;
};

TEST_F(NginxDownload, FetchesWholeResumesAndRestartsAsTheServerAnswers) {
    std::string etag;
    CNetworkHTTP first;
    first.SetAnswered([&](const std::string& validator, int64_t) { etag = validator; });
    ASSERT_EQ(first.Download(Url("/small.bin"), m_local.File("first.bin")), http_result::kOk);
    ASSERT_EQ(etag.front(), '"');
    const int64_t size = static_cast<int64_t>(m_small.size());
    struct Case {
        const char* name;
        std::string before;  // "-" for no local file
        std::string status;  // what nginx answered last
        int refusals;        // 416 answers
        ResumeTerms terms = {};
        int wholeAnswers = 0;  // 200 answers
    };
    const Case cases[] = {
        {"new file", "-", "206", 0},
        {"partial file resumes with 206", m_small.substr(0, 100000), "206", 0},
        {"complete file: 416 deletes it, then from the start", m_small, "206", 1},
        {"longer file: 416 deletes it, then from the start", m_small + "tail", "206", 1},
        {"partial file with nginx's ETag goes on", m_small.substr(0, 100000), "206", 0, {etag, size}, 0},
        {"partial file with a stale ETag comes whole", std::string(100000, 'X'), "200", 0, {"\"x\"", size}, 1},
    };
    for (const Case& c : cases) {
        const std::string local = m_local.File("small.bin");
        fs_port::RemoveFile(local);
        if (c.before != "-") WriteTextFile(local, c.before);
        const int refusedBefore = StatusCount("416");
        const int wholeBefore = StatusCount("200");
        CNetworkHTTP http;
        http.SetResumeTerms(c.terms);
        EXPECT_EQ(http.Download(Url("/small.bin"), local), http_result::kOk) << c.name;
        EXPECT_TRUE(ReadTextFile(local) == m_small) << c.name;
        EXPECT_EQ(StatusCountReaching("416", refusedBefore + c.refusals) - refusedBefore, c.refusals)
            << c.name;
        EXPECT_EQ(StatusCountReaching("200", wholeBefore + c.wholeAnswers) - wholeBefore, c.wholeAnswers)
            << c.name;
    }
}

// nginx's second port answers every request with a 301 to the same path on
// the first port; /chunked/ comes chunked, without a length or ranges.
TEST_F(NginxDownload, FollowsARedirectAcrossPortsAndReadsAChunkedWholeFile) {
    ASSERT_TRUE(fs_port::MakeDirectory(m_site.File("chunked")));
    const std::string text = "chunked text " + std::string(200 * 1024, 'c') + " end\n";
    WriteTextFile(m_site.File("chunked/list.txt"), text);
    const std::string redirecting =
        "http://127.0.0.1:" + m_server->ReadStateFile("redirect-port") + "/v1002/pack.zip";
    struct Case {
        const char* name;
        std::string url;
        std::string before;  // "-" for no local file
        std::string after;
    };
    const Case cases[] = {
        {"301 to another port", redirecting, "-", m_small},
        {"301 keeps the resume offset", redirecting, m_small.substr(0, 5000), m_small},
        {"chunked answer", Url("/chunked/list.txt"), "-", text},
        {"chunked 200 to a resume request rewrites the file", Url("/chunked/list.txt"), "stale bytes", text},
    };
    for (const Case& c : cases) {
        const std::string local = m_local.File("fetched.bin");
        fs_port::RemoveFile(local);
        if (c.before != "-") WriteTextFile(local, c.before);
        const int partialBefore = StatusCount("206");
        CNetworkHTTP http;
        EXPECT_EQ(http.Download(c.url, local), http_result::kOk) << c.name;
        EXPECT_TRUE(ReadTextFile(local) == c.after) << c.name;
        if (c.url == redirecting) {
            EXPECT_EQ(StatusCountReaching("206", partialBefore + 1) - partialBefore, 1) << c.name;
        }
    }
    EXPECT_EQ(StatusCountReaching("301", 2), 2);
}

// A 5 GiB file cut at 4.5 GiB resumes with a Range beyond 4 GiB and ends at
// its whole size.
TEST_F(NginxDownload, ResumesAFileOf5GiBCutAt4AndAHalfGiB) {
    const test_net::CutBigDownload big;
    const std::string local = m_local.File("big.bin");
    ASSERT_TRUE(big.Make(m_site.File("big.bin"), local));
    CNetworkHTTP http;
    EXPECT_EQ(http.Download(Url("/big.bin"), local), http_result::kOk);
    EXPECT_EQ(StatusCountReaching("206", 1), 1);
    EXPECT_TRUE(big.Completed(local));
    fs_port::RemoveFile(local);
}

// Spans anywhere in a file, also past 4 GiB, hold exactly the file's bytes.
TEST_F(NginxDownload, FetchesSpansAtTheStartTheMiddleAndTheEnd) {
    const test_net::CutBigDownload big;
    ASSERT_TRUE(big.Write(m_site.File("big.bin"), big.kSize, {big.kSize - 4096}));
    const int64_t size = static_cast<int64_t>(m_small.size());
    const struct { const char* path; int64_t first, length; std::string bytes; int64_t whole; } cases[] = {
        {"/small.bin", 0, 1000, m_small.substr(0, 1000), size},
        {"/small.bin", 100000, 70001, m_small.substr(100000, 70001), size},
        {"/small.bin", size - 17, 17, m_small.substr(m_small.size() - 17), size},
        {"/big.bin", big.kSize - 4096, 4096, big.mark, big.kSize},
    };
    for (const auto& c : cases) {
        const std::string local = m_local.File("span.bin");
        int64_t whole = -1;
        CNetworkHTTP http;
        http.SetAnswered([&](const std::string&, int64_t answered) { whole = answered; });
        EXPECT_EQ(http.DownloadSpan(Url(c.path), local, c.first, c.length), http_result::kOk) << c.first;
        EXPECT_TRUE(ReadTextFile(local) == c.bytes) << c.first;
        EXPECT_EQ(whole, c.whole) << c.first;
    }
    fs_port::RemoveFile(m_site.File("big.bin"));
}

TEST_F(NginxDownload, AResumeAppendsToTheBytesAlreadyThere) {
    // Wrong bytes in the partial file stay: only the rest is fetched.
    const std::string local = m_local.File("pack.zip");
    WriteTextFile(local, std::string(1000, 'X'));
    CNetworkHTTP http;
    EXPECT_EQ(http.Download(Url("/v1002/pack.zip"), local), http_result::kOk);
    EXPECT_TRUE(ReadTextFile(local) == std::string(1000, 'X') + m_small.substr(1000));
}

TEST_F(NginxDownload, AMissingFileFailsBothAttemptsAndLeavesAnEmptyFile) {
    const std::string local = m_local.File("none.bin");
    CNetworkHTTP http;
    EXPECT_EQ(http.Download(Url("/none.bin"), local), http_result::kTransferFailed);
    EXPECT_EQ(fs_port::FileSize(local), 0);
    EXPECT_EQ(StatusCountReaching("404", 2), 2);
    EXPECT_TRUE(http.NotFound()) << "a 404 is told apart from other failures";
    EXPECT_EQ(http.Download(Url("/small.bin"), local), http_result::kOk);
    EXPECT_FALSE(http.NotFound());
}

TEST_F(NginxDownload, FetchesALargeFileAndReportsProgressToTheEnd) {
    const std::string big = PatternBytes(96 * 1024 * 1024 + 3, 7);
    WriteTextFile(m_site.File("big.bin"), big);
    const std::string local = m_local.File("big.bin");
    int64_t lastDone = -1;
    int64_t lastTotal = -1;
    bool monotonic = true;
    CNetworkHTTP http;
    http.SetProgress([&](int64_t done, int64_t total) {
        monotonic = monotonic && done >= lastDone;
        lastDone = done;
        lastTotal = total;
    });
    EXPECT_EQ(http.Download(Url("/big.bin"), local), http_result::kOk);
    EXPECT_EQ(fs_port::FileSize(local), static_cast<int64_t>(big.size()));
    EXPECT_TRUE(ReadTextFile(local) == big);
    EXPECT_TRUE(monotonic);
    EXPECT_EQ(lastDone, static_cast<int64_t>(big.size()));
    EXPECT_EQ(lastTotal, static_cast<int64_t>(big.size()));
}

// https against nginx with certificates of a CA the test makes, trusted
// through the test trust file alone: every fault has its own reason, and
// only a connection that broke or stalled is tried a second time.
TEST(NginxHttps, FetchesFromATrustedHostAndRefusesEveryOtherWithItsReason) {
    TempDir site, certs, local;
    const std::string content = PatternBytes(300 * 1024 + 17, 3);
    WriteTextFile(site.File("small.bin"), content);
    WriteTextFile(site.File("slow.bin"), PatternBytes(64 * 1024, 4));
    ASSERT_TRUE(test_net::MakeTestCertificates(certs.Path()));
    SetTestTrustFile(certs.File("ca.pem"));
    PeerServer server("nginx", site.Path(), "/slow.bin@512/64", certs.Path());
    ASSERT_NE(server.Port(), 0);
    const auto https = [&](const char* name, const char* path) {
        return "https://localhost:" + server.ReadStateFile(std::string("tls-port-") + name) + path;
    };
    const std::string plain = "127.0.0.1:" + std::to_string(server.Port());
    const std::string x1000(1000, 'X');
    struct Case {
        const char* name;
        std::string url;
        std::string before;  // the local file before
        int result;
        std::string logged;  // in the journal
        bool secure = false;  // logged is also SecureFailure()'s reason
        std::string after = "-";  // "-": as before; "*": whatever came
    };
    const Case cases[] = {
        {"good host", https("good", "/small.bin"), "", http_result::kOk, "", false, content},
        {"resume", https("good", "/small.bin"), x1000, http_result::kOk, "", false, x1000 + content.substr(1000)},
        {"http redirected to https", "http://" + plain + "/up/small.bin", "", http_result::kOk,
         "to https://localhost:" + server.ReadStateFile("tls-port-good") + "/small.bin", false, content},
        {"https redirected to http", https("good", "/down/small.bin"), "", http_result::kTransferFailed,
         "refused: it leaves https for plain http"},
        {"expired", https("expired", "/small.bin"), "", http_result::kNoConnection, "has expired", true},
        {"not yet valid", https("future", "/small.bin"), "", http_result::kNoConnection, "not valid yet", true},
        {"wrong host name", https("wronghost", "/small.bin"), "", http_result::kNoConnection, "another host", true},
        {"unknown issuer", https("foreign", "/small.bin"), "", http_result::kNoConnection, "issuer is unknown",
         true},
        {"plain http on the https port", "https://" + plain + "/small.bin", "", http_result::kNoConnection,
         "handshake was refused", true},
        {"drip feed", https("good", "/slow.bin"), "", http_result::kTransferFailed, "no progress: ", false, "*"},
    };
    for (const Case& c : cases) {
        test_net::JournalCapture journal;
        const std::string path = local.File("fetched.bin");
        WriteTextFile(path, c.before);
        CNetworkHTTP http;
        http.SetStallPolicy(StallPolicy{std::chrono::milliseconds(1000), 1024});
        EXPECT_EQ(http.Download(c.url, path), c.result) << c.name;
        EXPECT_TRUE(c.after == "*" || ReadTextFile(path) == (c.after == "-" ? c.before : c.after)) << c.name;
        EXPECT_GE(journal.Count(c.logged), 1) << c.name;
        EXPECT_EQ(http.Stalled(), c.after == "*") << c.name;
        EXPECT_EQ(!http.SecureFailure().empty() && http.SecureFailure().find(c.logged) != std::string::npos,
                  c.secure)
            << c.name;
    }
    SetTestTrustFile("");
}

// The process's limit over real servers: the average over the download
// stays within 10% of the limit, and so does every 10 s span of it.
TEST(DownloadLimit, HoldsHttpAndFtpDownloadsToTheLimit) {
    using Clock = std::chrono::steady_clock;
    const struct {
        const char* kind;
        int64_t bytes;
        int64_t limit;
    } cases[] = {
        {"nginx", 20LL << 20, 2LL << 20},
        {"ftp", 6LL << 20, 2LL << 20},
    };
    for (const auto& c : cases) {
        TempDir site, local;
        const std::string content = PatternBytes(static_cast<size_t>(c.bytes), 5);
        WriteTextFile(site.File("big.bin"), content);
        PeerServer server(c.kind, site.Path());
        ASSERT_NE(server.Port(), 0);
        std::vector<std::pair<double, int64_t>> samples;
        const auto start = Clock::now();
        const ProgressFn progress = [&](int64_t done, int64_t) {
            samples.emplace_back(std::chrono::duration<double>(Clock::now() - start).count(), done);
        };
        DownloadRateLimiter().SetLimit(c.limit);
        const std::string host = "127.0.0.1:" + std::to_string(server.Port());
        int result = -1;
        if (c.kind == std::string("nginx")) {
            CNetworkHTTP http;
            http.SetProgress(progress);
            result = http.Download("http://" + host + "/big.bin", local.File("big.bin"));
        } else {
            CNetworkFTP ftp;
            ftp.SetProgress(progress);
            result = ftp.Download("ftp://" + host + "\\big.bin", local.File("big.bin"), false, nullptr);
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        DownloadRateLimiter().SetLimit(0);
        ASSERT_EQ(result, 0) << c.kind;
        EXPECT_TRUE(ReadTextFile(local.File("big.bin")) == content) << c.kind;
        const double average = static_cast<double>(c.bytes) / seconds / static_cast<double>(c.limit);
        EXPECT_GE(average, 0.9) << c.kind;
        EXPECT_LE(average, 1.1) << c.kind;
        // Every span of 5 s or more: the bucket lets at most a quarter second
        // of the rate through early, 5% of such a span.
        double worst = 0.0;
        for (size_t i = 0, j = 0; i < samples.size(); ++i) {
            while (j < samples.size() && samples[j].first - samples[i].first < 5.0) ++j;
            if (j == samples.size()) break;
            const double span = samples[j].first - samples[i].first;
            worst = std::max(worst, (samples[j].second - samples[i].second) / span / static_cast<double>(c.limit));
        }
        EXPECT_LE(worst, 1.1) << c.kind;
    }
}

}  // namespace
