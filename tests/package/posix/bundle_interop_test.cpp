// Packages and digests checked against Info-ZIP, Python's zipfile and md5sum.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/bundle.h"
#include "package/patch_kit.h"
#include "package/test_data.h"
#include "platform/file_system.h"
#include "support/test_support.h"

using testdata::Lines;
using testdata::Noise;

namespace {

struct SourceFile {
    std::string name;  // "/"-separated, relative to the source folder
    std::string content;
};

const std::vector<SourceFile>& SourceTree() {
    static const std::vector<SourceFile> files = {
        {"config.data", "plain settings\n"},
        {"a/b/c/deep.txt", Lines(200000)},
        {"a/noise.bin", Noise(700000, 11)},
        {"a/empty.txt", ""},
        {"Data/level.pak", Lines(3u << 20)},
        {"\xE4\xB8\xAD\xE6\x96\x87/\xE8\xB5\x84\xE6\x96\x99.txt", "utf-8 named\n"},
        {"\xE6\x9B\xB4\xE6\x96\xB0/\xE8\xAF\xB4\xE6\x98\x8E.txt", "also valid GBK\n"},
    };
    return files;
}

void WriteTree(const std::string& root) {
    for (const SourceFile& f : SourceTree()) {
        const std::string path = root + "/" + f.name;
        ASSERT_TRUE(fs_port::MakeDirectories(path.substr(0, path.rfind('/'))));
        WriteTextFile(path, f.content);
    }
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::string text = ReadTextFile(path);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

// The names in "unzip -l" output: the rows between the two dashed lines,
// from the column where the name begins.
std::vector<std::string> ListedNames(const std::vector<std::string>& lines) {
    constexpr size_t kNameColumn = 30;
    std::vector<std::string> names;
    int dashes = 0;
    for (const std::string& line : lines) {
        if (line.compare(0, 9, "---------") == 0) {
            ++dashes;
        } else if (dashes == 1 && line.size() > kNameColumn) {
            names.push_back(line.substr(kNameColumn));
        }
    }
    return names;
}

}  // namespace

// A package that holds a symbolic link is refused whole: unpacked as a
// file, the link's target would become the content of a game file.
TEST(BundleInterop, ExtractsPackagesMadeByInfoZipAnd7ZipByteForByte) {
    TempDir dir;
    WriteTree(dir.Path() + "/src");
    struct Case {
        const char* command;  // run in the source folder, followed by the package and "."
        const char* what;
        bool withLink;
    };
    const char* const k7Zip = "7z a -tzip -bd -bso0 -bsp0";
    const Case cases[] = {
        {"zip -q -r", "deflated", false},
        {"zip -q -r -0", "stored", false},
        {"zip -q -r -n .bin:.pak", "mixed deflated and stored", false},
        {"zip -q -r -9 -D", "best compression, no folder entries", false},
        {"zip -q -r -fz", "Info-ZIP with ZIP64 sizes and end records", false},
        {"zip -q -r -fz -0", "Info-ZIP stored with ZIP64 sizes and end records", false},
        {"zip -q -r -y", "Info-ZIP keeping a symbolic link", true},
        {k7Zip, "7-Zip", false},
        {"7z a -tzip -bd -bso0 -bsp0 -mx=9 -mcu=on", "7-Zip, best compression, UTF-8 names", false},
        {k7Zip, "7-Zip keeping a symbolic link", true},
    };
    const std::string link = dir.Path() + "/src/a/link.txt";
    for (const Case& c : cases) {
        const std::string package = dir.Path() + "/pkg.zip";
        fs_port::RemoveFile(package);
        fs_port::RemoveFile(link);
        if (c.withLink) {
            ASSERT_EQ(RunShell("ln -s b/c/deep.txt " + Quote(link)), 0);
        }
        ASSERT_EQ(RunShell("cd " + Quote(dir.Path() + "/src") + " && " + c.command + " " +
                           Quote(package) + " ."),
                  0);
        CBundle bundle;
        if (c.withLink) {
            EXPECT_FALSE(bundle.Open(package.c_str(), kBundleTag)) << c.what;
            EXPECT_EQ(bundle.LastError(), "member a/link.txt is a symbolic link") << c.what;
            continue;
        }
        ASSERT_TRUE(bundle.Open(package.c_str(), kBundleTag)) << c.what << ": " << bundle.LastError();
        size_t files = 0;
        for (const BundleMember& m : bundle.Members()) files += m.isDirectory ? 0 : 1;
        EXPECT_EQ(files, SourceTree().size()) << c.what;
        for (const SourceFile& f : SourceTree()) {
            // The update lists name members with back-slashes.
            std::string listed = f.name;
            for (char& ch : listed) ch = ch == '/' ? '\\' : ch;
            const std::string dest = dir.Path() + "\\out\\" + listed;
            ASSERT_TRUE(bundle.Extract(listed.c_str(), dest.c_str()))
                << c.what << " " << f.name << ": " << bundle.LastError();
            EXPECT_TRUE(ReadTextFile(dest) == f.content) << c.what << " " << f.name;
        }
        RemoveTree(dir.Path() + "/out");
    }
}

TEST(BundleInterop, ReadsGbkNamesWithoutTheUtf8Flag) {
    TempDir dir;
    const std::string script = dir.Path() + "/make.py";
    WriteTextFile(script,
                  "import sys, zipfile\n"
                  "class GbkInfo(zipfile.ZipInfo):\n"
                  "    def _encodeFilenameFlags(self):\n"
                  "        return self.filename.encode('gbk'), self.flag_bits\n"
                  "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                  "    for name, host in (('\u4e2d\u6587/\u8d44\u6599.txt', 0),\n"
                  "                       ('\u66f4\u65b0\\\\\u8bf4\u660e.txt', 3)):\n"
                  "        info = GbkInfo(name)\n"
                  "        info.create_system = host\n"
                  "        info.compress_type = zipfile.ZIP_DEFLATED\n"
                  "        z.writestr(info, ('content of ' + name + '\\n') * 500)\n");
    const std::string package = dir.Path() + "/gbk.zip";
    ASSERT_EQ(RunShell("/usr/bin/python3 " + Quote(script) + " " + Quote(package)), 0);
    ASSERT_EQ(RunShell("unzip -tq " + Quote(package) + " >/dev/null"), 0);

    CBundle bundle;
    ASSERT_TRUE(bundle.Open(package.c_str(), kBundleTag)) << bundle.LastError();
    ASSERT_EQ(bundle.Members().size(), 2u);
    const std::string names[] = {"\xE4\xB8\xAD\xE6\x96\x87/\xE8\xB5\x84\xE6\x96\x99.txt",
                                 "\xE6\x9B\xB4\xE6\x96\xB0\\\xE8\xAF\xB4\xE6\x98\x8E.txt"};
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(bundle.Members()[i].name, names[i]);
        std::string expected;
        for (int k = 0; k < 500; ++k) expected += "content of " + names[i] + "\n";
        const std::string dest = dir.Path() + "/out" + std::to_string(i);
        ASSERT_TRUE(bundle.Extract(names[i].c_str(), dest.c_str())) << bundle.LastError();
        EXPECT_TRUE(ReadTextFile(dest) == expected);
    }
}

TEST(BundleInterop, OurPackagesPassUnzipTestAndListTheGivenNames) {
    TempDir dir;
    WriteTree(dir.Path() + "/src");
    const std::vector<std::string> names = {
        "config.data",       "Config/SystemSetting.data",
        "Log\\launcher.log", "Log\\\xE6\x97\xA5\xE5\xBF\x97.log",
        "empty.txt",         "a/noise.bin",
        "Data/level.pak",
    };
    const std::vector<std::string> sources = {
        "config.data", "a/b/c/deep.txt", "a/b/c/deep.txt", "config.data",
        "a/empty.txt", "a/noise.bin",    "Data/level.pak",
    };
    const std::string package = dir.Path() + "/2013-5-7-9-3-41.data";
    CBundle bundle;
    ASSERT_TRUE(bundle.Create(package.c_str(), nullptr));
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string source = dir.Path() + "/src/" + sources[i];
        ASSERT_TRUE(bundle.AddFile(source.c_str(), names[i].c_str())) << bundle.LastError();
    }
    ASSERT_TRUE(bundle.Release()) << bundle.LastError();

    EXPECT_EQ(RunShell("unzip -tq " + Quote(package) + " >/dev/null"), 0);
    // Nothing here needs ZIP64, so the package stays plain ZIP.
    EXPECT_EQ(ReadTextFile(package).find(std::string("PK\x06\x06", 4)), std::string::npos);
    const std::string listing = dir.Path() + "/list.txt";
    ASSERT_EQ(RunShell("LC_ALL=C.UTF-8 unzip -l " + Quote(package) + " > " + Quote(listing)), 0);
    EXPECT_EQ(ListedNames(ReadLines(listing)), names);
    const std::string comment = dir.Path() + "/comment.txt";
    ASSERT_EQ(RunShell("unzip -zq " + Quote(package) + " > " + Quote(comment)), 0);
    EXPECT_EQ(ReadLines(comment), std::vector<std::string>{kBundleTag});
    // Info-ZIP unpacks the content we packed.
    const std::string unpacked = dir.Path() + "/level.pak";
    ASSERT_EQ(RunShell("unzip -p " + Quote(package) + " Data/level.pak > " + Quote(unpacked)), 0);
    EXPECT_TRUE(ReadTextFile(unpacked) == Lines(3u << 20));
}

TEST(BundleInterop, DigestAgreesWithMd5sumOnALargeFile) {
    TempDir dir;
    const std::string path = dir.Path() + "/large.bin";
    // A sparse file of several hundred MiB with data at unaligned places, so
    // that it is made in a moment and still has content in many blocks.
    const int64_t size = (384LL << 20) + 12345;
    std::FILE* f = fs_port::OpenFile(path, "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(fs_port::TruncateFile(f, size));
    const int64_t places[] = {0, 1LL << 20, (200LL << 20) + 7, size - 70000};
    for (int64_t at : places) {
        const std::string block = Noise(65536, static_cast<uint32_t>(at));
        ASSERT_TRUE(fs_port::SeekFile(f, at, SEEK_SET));
        ASSERT_EQ(std::fwrite(block.data(), 1, block.size(), f), block.size());
    }
    std::fclose(f);
    const std::string sumFile = dir.Path() + "/sum.txt";
    ASSERT_EQ(RunShell("md5sum " + Quote(path) + " > " + Quote(sumFile)), 0);
    const std::string expected = ReadTextFile(sumFile).substr(0, 32);

    CPatchKit kit;
    const char* digest = kit.ComputeDigest(path.c_str());
    ASSERT_NE(digest, nullptr);
    EXPECT_EQ(std::string(digest), expected);
}

// 65,535 members: the count itself is the 16-bit marker, so the end record
// needs its ZIP64 counterpart, which Info-ZIP, 7-Zip and our reader take.
TEST(BundleInterop, OurPackageOf65535MembersPassesUnzipAnd7Zip) {
    TempDir dir;
    const std::string source = dir.Path() + "/one.txt", package = dir.Path() + "/many.pak";
    WriteTextFile(source, "x");
    CBundle bundle;
    ASSERT_TRUE(bundle.Create(package.c_str(), nullptr));
    for (size_t i = 0; i < 65535; ++i) {
        const std::string name = "d" + std::to_string(i % 100) + "/" + std::to_string(i);
        ASSERT_TRUE(bundle.AddFile(source.c_str(), name.c_str())) << bundle.LastError();
    }
    ASSERT_TRUE(bundle.Release()) << bundle.LastError();
    EXPECT_NE(ReadTextFile(package).find(std::string("PK\x06\x06", 4)), std::string::npos);
    EXPECT_EQ(RunShell("unzip -tq " + Quote(package) + " >/dev/null && 7z t -bd " + Quote(package) + " >/dev/null"), 0);
    ASSERT_TRUE(bundle.Open(package.c_str(), kBundleTag)) << bundle.LastError();
    EXPECT_EQ(bundle.Members().size(), 65535u);
    ASSERT_TRUE(bundle.Extract("d34\\65534", (dir.Path() + "/last.txt").c_str())) << bundle.LastError();
    EXPECT_EQ(ReadTextFile(dir.Path() + "/last.txt"), "x");
}
