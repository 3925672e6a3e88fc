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
    std::set<std::string> failing;
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

}  // namespace
