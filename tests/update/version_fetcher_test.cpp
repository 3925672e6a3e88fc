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

// Serves a version folder, continuing a local file as a client does under
// its terms (a changed validator or size sends the file from its start),
// and tells each answer's validator. Records what each fetch found.
class ResumingTransfer : public FolderTransfer {
public:
    using FolderTransfer::FolderTransfer;
    int FetchToFile(int32_t mode, const std::string& url, const std::string& localPath, int64_t maxBytes,
                    const std::atomic<bool>* stop, bool* notFoundOut, const FetchWatch& watch) override {
        if (url.find(".pak") == std::string::npos) {
            return FolderTransfer::FetchToFile(mode, url, localPath, maxBytes, stop, notFoundOut, watch);
        }
        const std::string whole = ReadTextFile(root + "/1.0.0.2/a.pak");
        const int64_t size = static_cast<int64_t>(whole.size());
        std::string local = fs_port::PathExists(localPath) ? ReadTextFile(localPath) : std::string();
        found.push_back({static_cast<int64_t>(local.size()), watch.resume.validator, watch.resume.wholeSize});
        const bool same = (watch.resume.validator.empty() || watch.resume.validator == validator) &&
                          (watch.resume.wholeSize < 0 || watch.resume.wholeSize == size);
        if (!same || (watch.resume.validator.empty() && watch.resume.wholeSize < 0)) local.clear();
        if (watch.answered) watch.answered(validator, size);
        const size_t from = local.size();
        WriteTextFile(localPath, local + whole.substr(from));
        if (watch.wrote) watch.wrote(static_cast<int64_t>(from), whole.data() + from, whole.size() - from);
        return 0;
    }
    struct Found {
        int64_t localBytes;
        std::string validator;
        int64_t wholeSize;
    };
    std::string root;
    std::string validator = "\"v1\"";
    std::vector<Found> found;
};

// What an earlier run left in the work folder is used, continued or fetched
// anew as the state file and the release now say.
TEST(VersionFetcher, KeptDownloadsAreUsedContinuedOrFetchedAnew) {
    enum class Left { Whole, Half, HalfNoTerms, OtherSha, OtherVersion, TornState };
    const struct {
        const char* name;
        Left left;
        bool signedRelease;
        int64_t localBytesAtFetch;  // -1: not fetched at all
        bool terms;                 // fetched under the kept validator and size
    } cases[] = {
        {"a whole signed package is used unfetched", Left::Whole, true, -1, false},
        {"a whole unsigned package is used unfetched", Left::Whole, false, -1, false},
        {"a half continues under its validator", Left::Half, true, 50000, true},
        {"unsigned, a half continues under its validator", Left::Half, false, 50000, true},
        {"unsigned with neither validator nor size it starts over", Left::HalfNoTerms, false, 0, false},
        {"a package the manifest now describes otherwise starts over", Left::OtherSha, true, 0, false},
        {"downloads toward another version are emptied", Left::OtherVersion, true, 0, false},
        {"a torn state file empties the folder", Left::TornState, true, 0, false},
    };
    for (const auto& c : cases) {
        TempDir server, launcher;
        fs_port::MakeDirectories(server.Path() + "/1.0.0.2");
        const std::string package = std::string(100000, 'p') + "package end";
        WriteTextFile(server.Path() + "/1.0.0.2/a.pak", package);
        test_update::ReleaseSigner signer;
        signer.SignVersion(server.Path(), "1.0.0.2", 1);
        const std::string work = launcher.Path() + "/_temp/";
        fs_port::MakeDirectories(work);
        CKeptDownloads earlier;
        earlier.Start(work, c.left == Left::OtherVersion ? "1.0.0.3" : "1.0.0.2", "http://server/1.0.0.2/");
        const bool half = c.left != Left::Whole;
        KeptFile file{"a.pak", "a.pak", static_cast<int64_t>(package.size()),
                      c.signedRelease ? Sha256Hex(package) : "", "\"v1\"", !half};
        if (c.left == Left::OtherSha) file.sha256 = Sha256Hex("another release");
        if (c.left == Left::HalfNoTerms) {
            file.validator.clear();
            file.wholeSize = -1;
        }
        earlier.Record(file);
        WriteTextFile(work + "a.pak", half ? package.substr(0, 50000) : package);
        if (c.left == Left::TornState) {
            const std::string state = ReadTextFile(work + kKeptDownloadsFileName);
            WriteTextFile(work + kKeptDownloadsFileName, state.substr(0, state.size() - 3));
        }

        ResumingTransfer transfer(server.Path());
        transfer.root = server.Path();
        CVersionFetcher fetcher(&transfer);
        if (c.signedRelease) fetcher.UseTrustKeys(signer.Keys());
        LauncherSettings settings;
        settings.UpdateIP = "server";
        settings.TransferMode = kTransferModeHttp;
        std::atomic<bool> stop{false};
        fetcher.BeginStep(settings, launcher.Path(), &stop);
        ASSERT_TRUE(fetcher.PrepareWorkFolder(work, "1.0.0.2")) << c.name;
        StepFailure failure;
        ASSERT_TRUE(fetcher.OpenVersion("1.0.0.2", Sha256Hex(ReadTextFile(server.Path() + "/1.0.0.2/release.manifest")), &failure)) << c.name << ": " << failure.reason;
        ASSERT_EQ(fetcher.FetchPackage("a.pak", work + "a.pak", &stop, FetchWatch()), 0) << c.name;
        if (c.localBytesAtFetch < 0) {
            EXPECT_TRUE(transfer.found.empty()) << c.name;
            EXPECT_EQ(fetcher.ReusedBytes(), static_cast<int64_t>(package.size())) << c.name;
        } else {
            ASSERT_EQ(transfer.found.size(), 1u) << c.name;
            EXPECT_EQ(transfer.found[0].localBytes, c.localBytesAtFetch) << c.name;
            EXPECT_EQ(transfer.found[0].validator, c.terms ? "\"v1\"" : "") << c.name;
            EXPECT_EQ(fetcher.ReusedBytes(), c.terms ? 50000 : 0) << c.name;
        }
        EXPECT_EQ(ReadTextFile(work + "a.pak"), package) << c.name;
        EXPECT_TRUE(fetcher.CheckPackage("a.pak", work + "a.pak", &failure, &stop)) << c.name;
        // Complete once checked, with what the server said of it.
        CKeptDownloads after;
        KeptFile kept;
        ASSERT_TRUE(after.Open(work) && after.Find("a.pak", &kept)) << c.name;
        EXPECT_TRUE(kept.complete) << c.name;
        EXPECT_EQ(kept.wholeSize, static_cast<int64_t>(package.size())) << c.name;
    }
}

}  // namespace
