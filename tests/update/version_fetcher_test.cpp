#include "update/fetch/version_fetcher.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/file_system.h"
#include "support/test_support.h"
#include "support/updater_fixture.h"
#include "trust/file_sha256.h"

namespace {

using test_update::FolderTransfer;

// Serves a version folder, and writes a.pak as a transfer would, telling
// its write tap of the pieces the way the row asks.
enum class Tap { Whole, Damaged, StartedOver, MissedStart };
class TappingTransfer : public FolderTransfer {
public:
    TappingTransfer(const std::string& root, Tap tap) : FolderTransfer(root), m_root(root), m_tap(tap) {}
    int FetchToFile(int32_t mode, const std::string& url, const std::string& localPath, int64_t maxBytes,
                    const std::atomic<bool>* stop, bool* notFoundOut, const FetchWatch& watch) override {
        if (url.find("a.pak") == std::string::npos) {
            return FolderTransfer::FetchToFile(mode, url, localPath, maxBytes, stop, notFoundOut, watch);
        }
        std::string bytes = ReadTextFile(m_root + "/1.0.0.2/a.pak");
        if (m_tap == Tap::Damaged) bytes[0] ^= 1;
        WriteTextFile(localPath, bytes);
        const size_t half = bytes.size() / 2;
        if (m_tap == Tap::StartedOver) watch.wrote(0, "stale", 5);
        if (m_tap == Tap::MissedStart) {
            watch.wrote(static_cast<int64_t>(half), bytes.data() + half, bytes.size() - half);
        } else {
            watch.wrote(0, bytes.data(), bytes.size());
        }
        return 0;
    }

private:
    std::string m_root;
    Tap m_tap;
};

// A package's SHA-256 comes from the bytes as they were written; the file is
// read only when its digest was not seen whole or it changed since. A set
// stop ends a read (and refuses), so it shows whether the file was read.
TEST(VersionFetcher, PackageIsCheckedByTheDigestTakenAsItWasWritten) {
    const struct {
        const char* name;
        Tap tap;
        bool changedAfter;
        bool stopSet;
        bool accepted;
    } cases[] = {
        {"hashed as it came: nothing is read", Tap::Whole, false, true, true},
        {"a transfer that started over is hashed from its new start", Tap::StartedOver, false, true, true},
        {"damaged bytes are refused by their own digest", Tap::Damaged, false, false, false},
        {"bytes the tap never saw are read from the disk", Tap::MissedStart, false, true, false},
        {"and accepted when that read is whole", Tap::MissedStart, false, false, true},
        {"a file changed since it was written is read again", Tap::Whole, true, false, false},
    };
    for (const auto& c : cases) {
        TempDir server, launcher;
        fs_port::MakeDirectories(server.Path() + "/1.0.0.2");
        WriteTextFile(server.Path() + "/1.0.0.2/a.pak", std::string(100000, 'p') + "package end");
        test_update::ReleaseSigner signer;
        signer.SignVersion(server.Path(), "1.0.0.2", 1);
        TappingTransfer transfer(server.Path(), c.tap);
        CVersionFetcher fetcher(&transfer);
        fetcher.UseTrustKeys(signer.Keys());
        LauncherSettings settings;
        settings.UpdateIP = "server";
        settings.TransferMode = kTransferModeHttp;
        std::atomic<bool> stop{false};
        fetcher.BeginStep(settings, launcher.Path(), &stop);
        StepFailure failure;
        ASSERT_TRUE(fetcher.OpenVersion("1.0.0.2", Sha256Hex(ReadTextFile(server.Path() + "/1.0.0.2/release.manifest")), &failure)) << c.name << ": " << failure.reason;
        const std::string local = launcher.Path() + "/a.pak";
        ASSERT_EQ(fetcher.FetchPackage("a.pak", local, &stop, FetchWatch()), 0) << c.name;
        if (c.changedAfter) WriteTextFile(local, std::string(100000, 'q') + "package end");
        stop.store(c.stopSet);
        EXPECT_EQ(fetcher.CheckPackage("a.pak", local, &failure, &stop), c.accepted) << c.name;
        if (!c.accepted) {
            EXPECT_NE(failure.reason, "") << c.name;
        }
    }
}

}  // namespace
