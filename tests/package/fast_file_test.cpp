#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "package/fast_file.h"
#include "package/sealed_content.h"
#include "package/test_data.h"
#include "platform/file_system.h"
#include "support/test_support.h"

using testdata::Noise;
using testdata::Under;

namespace {

// Reads a whole file through CFastFile as the launcher does; null result is "".
struct ReadResult {
    bool present = false;
    std::string content;
};

ReadResult ReadBack(const std::string& path, const FileKey* key, bool deciphered) {
    CFastFile file(ModeRead);
    ReadResult result;
    if (!file.Open(path.c_str(), "r+")) return result;
    size_t size = 0;
    std::unique_ptr<char[]> data = file.Read(&size, key, deciphered);
    file.Close();
    if (!data) return result;
    EXPECT_EQ(data[size], '\0') << "the content must be NUL-terminated";
    result.present = true;
    result.content.assign(data.get(), size);
    return result;
}

bool WriteFile(const std::string& path, const std::string& content, const FileKey* key,
               bool enciphered) {
    CFastFile file(ModeWrite);
    if (!file.Open(path.c_str(), "w+")) return false;
    const bool ok = file.WriteBytes(content.data(), content.size(), key, enciphered);
    file.Close();
    return ok;
}

const FileKey kOtherKey = {1, 2, 3, 4, 5};

}  // namespace

TEST(FastFile, RoundTripsPlainAndEncipheredContent) {
    TempDir dir;
    const std::string contents[] = {
        "",
        "1.0.0.1\n",
        std::string("binary\0with\0NULs", 16),
        "\xE4\xB8\xAD\xE6\x96\x87\r\nline two\r\n",
        Noise(1u << 20, 5),
    };
    for (const std::string& content : contents) {
        for (bool enciphered : {false, true}) {
            const std::string path = Under(dir, "file.data");
            ASSERT_TRUE(WriteFile(path, content, &LauncherFileKey(), enciphered));
            const ReadResult back = ReadBack(path, &LauncherFileKey(), enciphered);
            ASSERT_TRUE(back.present) << content.size() << " bytes, enciphered " << enciphered;
            EXPECT_TRUE(back.content == content) << content.size() << " bytes";
            if (enciphered && !content.empty()) {
                // The content must not be readable as it stands in the file.
                EXPECT_EQ(ReadTextFile(path).find(content), std::string::npos);
            }
        }
    }
}

TEST(FastFile, AnyChangedByteWrongKeyOrCutFileReadsAsNoContent) {
    const std::string content = "http://update.example.com\n8080\n";
    std::string image;
    ASSERT_TRUE(SealContent(content.data(), content.size(), LauncherFileKey(), &image));
    ASSERT_EQ(image.size(), content.size() + kSealOverheadBytes);

    auto opens = [](std::string bytes, const FileKey& key) {
        size_t size = 0;
        return UnsealInPlace(reinterpret_cast<unsigned char*>(&bytes[0]), bytes.size(), key, &size);
    };
    ASSERT_TRUE(opens(image, LauncherFileKey()));
    for (size_t i = 0; i < image.size(); ++i) {
        for (unsigned char bit : {0x01, 0x80}) {
            std::string flipped = image;
            flipped[i] = static_cast<char>(flipped[i] ^ bit);
            EXPECT_FALSE(opens(flipped, LauncherFileKey())) << "byte " << i;
        }
    }
    for (size_t keep = 0; keep < image.size(); ++keep) {
        EXPECT_FALSE(opens(image.substr(0, keep), LauncherFileKey())) << "cut to " << keep;
    }
    EXPECT_FALSE(opens(image + "x", LauncherFileKey()));
    EXPECT_FALSE(opens(image, kOtherKey));

    // Through the file class: the same faults give a null result.
    TempDir dir;
    const std::string path = Under(dir, "config.data");
    ASSERT_TRUE(WriteFile(path, content, &LauncherFileKey(), true));
    EXPECT_FALSE(ReadBack(path, &kOtherKey, true).present);
    EXPECT_FALSE(ReadBack(path, nullptr, true).present);
    std::string cut = ReadTextFile(path);
    cut.pop_back();
    WriteTextFile(path, cut);
    EXPECT_FALSE(ReadBack(path, &LauncherFileKey(), true).present);
    // A plain file is not an enciphered one.
    WriteTextFile(path, content);
    EXPECT_FALSE(ReadBack(path, &LauncherFileKey(), true).present);
    EXPECT_TRUE(ReadBack(path, &LauncherFileKey(), false).present);
}

TEST(FastFile, EveryWriteUsesAFreshNonce) {
    std::string first;
    std::string second;
    ASSERT_TRUE(SealContent("same", 4, LauncherFileKey(), &first));
    ASSERT_TRUE(SealContent("same", 4, LauncherFileKey(), &second));
    EXPECT_NE(first.substr(20, 12), second.substr(20, 12));
    EXPECT_NE(first.substr(kSealHeaderBytes), second.substr(kSealHeaderBytes));
}

TEST(FastFile, OpensOnlyTheDocumentedModePairs) {
    TempDir dir;
    const std::string path = Under(dir, "list.data");
    WriteTextFile(path, "content");
    struct Case {
        AccessMode mode;
        const char* text;
        bool opens;
    };
    const Case cases[] = {
        {ModeRead, "r+", true},   {ModeWrite, "w+", true},  {ModeRead, "w+", false},
        {ModeWrite, "r+", false}, {ModeRead, "r", false},   {ModeRead, "rb", false},
        {ModeWrite, "w", false},  {ModeWrite, "a+", false}, {ModeRead, "", false},
    };
    for (const Case& c : cases) {
        CFastFile file(c.mode);
        EXPECT_EQ(file.Open(path.c_str(), c.text), c.opens) << c.mode << " " << c.text;
    }
    CFastFile missing(ModeRead);
    EXPECT_FALSE(missing.Open(Under(dir, "absent.data").c_str(), "r+"));
    CFastFile folder(ModeRead);
    EXPECT_FALSE(folder.Open(dir.Path().c_str(), "r+"));
    CFastFile noFolder(ModeWrite);
    EXPECT_FALSE(noFolder.Open(Under(dir, "absent\\udo.temp").c_str(), "w+"));
    EXPECT_EQ(ReadTextFile(path), "content");
}

TEST(FastFile, UnfinishedOrFailedWriteKeepsTheOldFile) {
    TempDir dir;
    const std::string path = Under(dir, "udo.temp");
    WriteTextFile(path, "old");
    {
        CFastFile file(ModeWrite);
        ASSERT_TRUE(file.Open(path.c_str(), "w+"));
        file.Close();
    }
    EXPECT_EQ(ReadTextFile(path), "old");
    {
        CFastFile file(ModeWrite);
        ASSERT_TRUE(file.Open(path.c_str(), "w+"));
        EXPECT_FALSE(file.Write("text", nullptr, true));  // enciphered without a key
    }
    EXPECT_EQ(ReadTextFile(path), "old");
    {
        CFastFile file(ModeWrite);
        ASSERT_TRUE(file.Open(path.c_str(), "w+"));
        EXPECT_TRUE(file.Write("new\r\nlines", nullptr, false));
        EXPECT_FALSE(file.Write("again", nullptr, false));
    }
    EXPECT_EQ(ReadTextFile(path), "new\r\nlines");
    EXPECT_FALSE(fs_port::PathExists(path + ".vtpart"));
    // A read-mode object never writes.
    CFastFile reader(ModeRead);
    ASSERT_TRUE(reader.Open(path.c_str(), "r+"));
    EXPECT_FALSE(reader.Write("x", nullptr, false));
}

TEST(FastFile, RefusesFilesAboveTheLimitAndReportsNoContent) {
    TempDir dir;
    const std::string path = Under(dir, "huge.data");
    std::FILE* f = fs_port::OpenFile(path, "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(fs_port::TruncateFile(f, static_cast<int64_t>(kMaxWholeFileBytes) + 1));
    std::fclose(f);
    EXPECT_FALSE(ReadBack(path, nullptr, false).present);

    std::string out = "unchanged";
    WriteTextFile(path, "");
    EXPECT_FALSE(ReadWholeFile(path, nullptr, false, &out));
    WriteTextFile(path, std::string("\0tail", 5));
    EXPECT_FALSE(ReadWholeFile(path, nullptr, false, &out));
    EXPECT_FALSE(ReadWholeFile(Under(dir, "absent"), nullptr, false, &out));
    EXPECT_EQ(out, "unchanged");
    ASSERT_TRUE(WriteFile(path, "5000\n", &LauncherFileKey(), true));
    ASSERT_TRUE(ReadWholeFile(path, &LauncherFileKey(), true, &out));
    EXPECT_EQ(out, "5000\n");
}
