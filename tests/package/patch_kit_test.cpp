#include <gtest/gtest.h>

#include <string>

#include "package/patch_kit.h"
#include "package/test_data.h"
#include "support/test_support.h"

using testdata::Under;

TEST(PatchKit, DigestsMatchTheMd5TestSuite) {
    struct Case {
        std::string content;
        const char* digest;
    };
    const Case cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    TempDir dir;
    CPatchKit kit;
    for (const Case& c : cases) {
        const std::string path = Under(dir, "f.bin");
        WriteTextFile(path, c.content);
        const char* digest = kit.ComputeDigest(path.c_str());
        ASSERT_NE(digest, nullptr);
        EXPECT_STREQ(digest, c.digest) << c.content;
    }
}

TEST(PatchKit, StreamsAcrossBlockBoundaries) {
    // One million times "a" is a published vector; around it, sizes that end
    // just before, on and after the 1 MiB reading block.
    struct Case {
        size_t size;
        const char* digest;
    };
    const Case cases[] = {
        {1000000, "7707d6ae4e027c70eea2a935c2296f21"},
        {(1u << 20) - 1, "9c63bf5a3179ccdfa80f789ae45be1cf"},
        {1u << 20, "7202826a7791073fe2787f0c94603278"},
        {(1u << 20) + 1, "6f0555ac53cecbf068d354c08863805a"},
        {(3u << 20) + 17, "3112e9147448d72d800213e0a209052d"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const std::string path = Under(dir, "a.bin");
        WriteTextFile(path, std::string(c.size, 'a'));
        std::string digest;
        ASSERT_TRUE(ComputeFileMd5(path, &digest));
        EXPECT_EQ(digest, c.digest) << c.size << " bytes";
    }
}

TEST(PatchKit, UnreadablePathsGiveNoDigest) {
    TempDir dir;
    CPatchKit kit;
    EXPECT_EQ(kit.ComputeDigest(Under(dir, "absent.dll").c_str()), nullptr);
    EXPECT_EQ(kit.ComputeDigest(dir.Path().c_str()), nullptr);
    EXPECT_EQ(kit.ComputeDigest(nullptr), nullptr);
    std::string digest = "kept";
    EXPECT_FALSE(ComputeFileMd5(Under(dir, "absent.dll"), &digest));
    EXPECT_EQ(digest, "kept");
}

TEST(FileDigest, Sha256GivesThePublishedDigestsAndTheBytesRead) {
    const struct {
        std::string content;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    TempDir dir;
    const std::string path = Under(dir, "f.bin");
    for (const auto& c : cases) {
        WriteTextFile(path, c.content);
        std::string digest;
        uint64_t size = 1;
        ASSERT_TRUE(ComputeFileDigest(path, DigestAlgorithm::Sha256, &digest, &size));
        EXPECT_EQ(digest, c.digest) << c.content.size();
        EXPECT_EQ(size, c.content.size());
    }
    const std::atomic<bool> stopped{true};
    std::string digest;
    EXPECT_FALSE(ComputeFileDigest(path, DigestAlgorithm::Sha256, &digest, nullptr, &stopped));
}
