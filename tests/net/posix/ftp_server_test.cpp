// The FTP client against a real FTP server (pyftpdlib) in passive mode.
#include <gtest/gtest.h>

#include <string>

#include "net/ftp_client.h"
#include "platform/file_system.h"
#include "posix/peer_server.h"

namespace {

using test_net::PatternBytes;
using test_net::PeerServer;

class FtpServerDownload : public ::testing::Test {
protected:
    void SetUp() override {
        WriteTextFile(m_site.File("versionlist.data"), "1.0.0.2\t1\r\n1.0.0.3\t0\r\n");
        ASSERT_TRUE(fs_port::MakeDirectory(m_site.File("1003")));
        WriteTextFile(m_site.File("1003/pack1.zip"), m_pack);
        m_server = std::make_unique<PeerServer>("ftp", m_site.Path());
        ASSERT_NE(m_server->Port(), 0);
    }
    std::string Url(const std::string& rest) const {
        return "ftp://127.0.0.1:" + std::to_string(m_server->Port()) + rest;
    }
    int Logins() const {
        const std::string logins = m_server->ReadStateFile("logins");
        int count = 0;
        for (char c : logins) count += c == '\n' ? 1 : 0;
        return count;
    }

    TempDir m_site;
    TempDir m_local;
    const std::string m_pack = PatternBytes(5 * 1024 * 1024 + 11, 3);
    std::unique_ptr<PeerServer> m_server;
};

TEST_F(FtpServerDownload, FetchesListAndPackagesOnOneLogin) {
    CNetworkFTP ftp;
    std::string list;
    ASSERT_EQ(ftp.Download(Url("\\versionlist.data"), "", true, &list), ftp_result::kOk);
    EXPECT_EQ(list, "1.0.0.2\t1\r\n1.0.0.3\t0\r\n");
    const std::string local = m_local.File("pack1.zip");
    ASSERT_EQ(ftp.Download(Url("\\1003\\pack1.zip"), local, false, nullptr), ftp_result::kOk);
    EXPECT_TRUE(ReadTextFile(local) == m_pack);
    // The completion reply of the last transfer is passed over here.
    ASSERT_EQ(ftp.Download(Url("\\versionlist.data"), "", true, &list), ftp_result::kOk);
    EXPECT_EQ(Logins(), 1);
}

TEST_F(FtpServerDownload, ResumesAPartialFileAndRewritesALongerOne) {
    std::string time;
    CNetworkFTP first;
    first.SetAnswered([&](const std::string& validator, int64_t) { time = validator; });
    ASSERT_EQ(first.Download(Url("\\1003\\pack1.zip"), m_local.File("first.zip"), false, nullptr),
              ftp_result::kOk);
    ASSERT_EQ(time.size(), 14u);
    const int64_t size = static_cast<int64_t>(m_pack.size());
    struct Case {
        const char* name;
        std::string before;
        std::string after;
        ResumeTerms terms = {};
    };
    const Case cases[] = {
        {"partial file is continued", std::string(4096, 'X'), std::string(4096, 'X') + m_pack.substr(4096)},
        {"longer file is rewritten and cut", m_pack + "stale tail", m_pack},
        {"no file", "", m_pack},
        {"partial file with the server's MDTM is continued", std::string(4096, 'X'),
         std::string(4096, 'X') + m_pack.substr(4096), {time, size}},
        {"partial file with another MDTM is fetched again", std::string(4096, 'X'), m_pack,
         {"19990101000000", size}},
    };
    for (const Case& c : cases) {
        const std::string local = m_local.File("pack1.zip");
        fs_port::RemoveFile(local);
        if (!c.before.empty()) WriteTextFile(local, c.before);
        CNetworkFTP ftp;
        ftp.SetResumeTerms(c.terms);
        EXPECT_EQ(ftp.Download(Url("\\1003\\pack1.zip"), local, false, nullptr), ftp_result::kOk) << c.name;
        EXPECT_TRUE(ReadTextFile(local) == c.after) << c.name;
    }
}

// SIZE and REST beyond 4 GiB: a 5 GiB file cut at 4.5 GiB is continued to
// its whole size.
TEST_F(FtpServerDownload, ResumesAFileOf5GiBCutAt4AndAHalfGiB) {
    const test_net::CutBigDownload big;
    const std::string local = m_local.File("big.bin");
    ASSERT_TRUE(big.Make(m_site.File("1003/big.bin"), local));
    CNetworkFTP ftp;
    EXPECT_EQ(ftp.Download(Url("\\1003\\big.bin"), local, false, nullptr), ftp_result::kOk);
    EXPECT_TRUE(big.Completed(local));
    fs_port::RemoveFile(local);
}

// The server answers a span's cut transfer as it likes (426, or 226 at the
// file's end); the login goes on with the next download.
TEST_F(FtpServerDownload, FetchesSpansAndThenTheListOnOneLogin) {
    CNetworkFTP ftp;
    const std::string local = m_local.File("span.bin");
    for (size_t first : {size_t{0}, size_t{3000000}, m_pack.size() - 100000}) {
        ASSERT_EQ(ftp.DownloadSpan(Url("\\1003\\pack1.zip"), local, static_cast<int64_t>(first), 100000),
                  ftp_result::kOk)
            << first;
        EXPECT_TRUE(ReadTextFile(local) == m_pack.substr(first, 100000)) << first;
    }
    std::string list;
    ASSERT_EQ(ftp.Download(Url("\\versionlist.data"), "", true, &list), ftp_result::kOk);
    EXPECT_EQ(list, "1.0.0.2\t1\r\n1.0.0.3\t0\r\n");
    EXPECT_EQ(Logins(), 1);
}

TEST_F(FtpServerDownload, AMissingFileGives70AndAMissingFolder60) {
    CNetworkFTP ftp;
    EXPECT_EQ(ftp.Download(Url("\\1003\\none.zip"), m_local.File("n"), false, nullptr), ftp_result::kSize);
    EXPECT_FALSE(ftp.IsLoggedIn());
    EXPECT_TRUE(ftp.NotFound()) << "550 to SIZE is told apart from other failures";
    EXPECT_EQ(ftp.Download(Url("\\9999\\pack1.zip"), m_local.File("n"), false, nullptr), ftp_result::kCwd);
    EXPECT_FALSE(ftp.NotFound());
}

}  // namespace
