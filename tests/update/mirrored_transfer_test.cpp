#include "update/fetch/mirrored_transfer.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/file_system.h"
#include "support/test_support.h"

namespace {

// Appends the URL to the local file, as a resumed download adds to what is
// there, and fails the URLs of failing.
class AppendingTransfer : public IUpdateTransfer {
public:
    int FetchToFile(int32_t, const std::string& url, const std::string& localPath, int64_t, const std::atomic<bool>*,
                    bool*, const FetchWatch&) override {
        const std::string before = fs_port::PathExists(localPath) ? ReadTextFile(localPath) : "";
        WriteTextFile(localPath, before + url + "|");
        return failing.count(url) ? 4 : 0;
    }
    int FetchToMemory(int32_t, const std::string&, int64_t, std::string*, const std::atomic<bool>*) override {
        return 1004;
    }
    int FetchSpanToFile(int32_t, const std::string& url, const std::string& localPath, int64_t first, int64_t,
                        const std::atomic<bool>*, bool*, const FetchWatch&) override {
        if (ignoring.count(url)) return kFetchRangesIgnored;
        WriteTextFile(localPath, url + "@" + std::to_string(first));
        return failing.count(url) ? 4 : 0;
    }
    std::set<std::string> failing;
    std::set<std::string> ignoring;
};

// A file is never made of two hosts' bytes: a failed host's part goes before
// the next host is asked, and so does a file whose host was left after it
// failed its check. The last host is never left, and a new step starts over.
TEST(MirroredTransfer, LeavesFailingHostsWithoutMixingTheirBytes) {
    TempDir local;
    const std::string file = local.File("p.pak");
    AppendingTransfer inner;
    inner.failing = {"http://first/p.pak"};
    CMirroredTransfer hosts(&inner);
    LauncherSettings settings;
    settings.UpdateIP = "first";
    settings.Mirrors = {"second", "first", "third"};  // a mirror equal to UpdateIP is no other host
    hosts.StartStep(settings);
    const std::string url = "http://first/p.pak";
    const auto fetch = [&] { return hosts.FetchToFile(kTransferModeHttp, url, file, kNoByteCap, nullptr, nullptr, {}); };
    EXPECT_EQ(fetch(), 0);
    EXPECT_EQ(ReadTextFile(file), "http://second/p.pak|");
    EXPECT_TRUE(hosts.LeaveHostOf(url));
    EXPECT_EQ(fetch(), 0);
    EXPECT_EQ(ReadTextFile(file), "http://third/p.pak|");
    EXPECT_FALSE(hosts.LeaveHostOf(url)) << "the last host stays";
    fs_port::RemoveFile(file);
    hosts.StartStep(settings);
    inner.failing.clear();
    EXPECT_EQ(fetch(), 0);
    EXPECT_EQ(ReadTextFile(file), url + "|") << "a new step starts on the first host again";
}

// A span goes to the next host when one fails; a host that sends whole
// files for spans is not left, since the caller then fetches the whole file.
TEST(MirroredTransfer, FetchesASpanFromTheNextHostAndKeepsOneThatIgnoresRanges) {
    TempDir local;
    const std::string file = local.File("p.pak"), url = "http://first/p.pak";
    AppendingTransfer inner;
    inner.failing = {url};
    CMirroredTransfer hosts(&inner);
    LauncherSettings settings;
    settings.UpdateIP = "first";
    settings.Mirrors = {"second", "third"};
    hosts.StartStep(settings);
    const auto span = [&] {
        return hosts.FetchSpanToFile(kTransferModeHttp, url, file, 5, 7, nullptr, nullptr, {});
    };
    EXPECT_EQ(span(), 0);
    EXPECT_EQ(ReadTextFile(file), "http://second/p.pak@5");
    inner.ignoring = {"http://second/p.pak"};
    EXPECT_EQ(span(), kFetchRangesIgnored);
    inner.ignoring.clear();
    EXPECT_EQ(span(), 0);
    EXPECT_EQ(ReadTextFile(file), "http://second/p.pak@5") << "the host that ignored ranges is still asked";
}

}  // namespace
