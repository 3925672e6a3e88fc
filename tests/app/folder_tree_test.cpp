#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/util/launcher_util.h"
#include "platform/file_system.h"
#include "support/test_support.h"

namespace {

// Takes away every write permission (the read-only attribute on Windows).
void MakeReadOnly(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::permissions(fs::u8path(fs_port::NativePath(path)),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, error);
    ASSERT_FALSE(error) << path << ": " << error.message();
}

// root\top.txt, root\a\b\c\deep.txt (read-only), root\a\locked\ (a read-only
// folder holding a read-only file), root\empty\.
void BuildTree(const std::string& root) {
    ASSERT_TRUE(fs_port::MakeDirectories(root + "\\a\\b\\c"));
    ASSERT_TRUE(fs_port::MakeDirectories(root + "\\a\\locked"));
    ASSERT_TRUE(fs_port::MakeDirectories(root + "\\empty"));
    WriteTextFile(root + "\\top.txt", "top");
    WriteTextFile(root + "\\a\\b\\c\\deep.txt", "deep");
    WriteTextFile(root + "\\a\\locked\\inside.txt", "inside");
    MakeReadOnly(root + "\\a\\b\\c\\deep.txt");
    MakeReadOnly(root + "\\a\\locked\\inside.txt");
    MakeReadOnly(root + "\\a\\locked");
}

}  // namespace

TEST(FolderTree, DeleteRemovesNestedTreeWithReadOnlyEntries) {
    TempDir dir;
    for (const char* suffix : {"", "\\"}) {  // with and without a trailing back-slash
        const std::string root = dir.Path() + "\\tree";
        BuildTree(root);
        DeleteFolderTree(root + suffix);
        EXPECT_FALSE(fs_port::PathExists(root)) << "suffix \"" << suffix << "\"";
    }
    DeleteFolderTree("");  // nothing to do, must not touch the current folder
    EXPECT_TRUE(fs_port::IsDirectory(dir.Path()));
}

TEST(FolderTree, RemoveEmptiesSubfoldersAndReportsTheFolderGone) {
    TempDir dir;
    const std::string root = dir.Path() + "\\_temp";
    BuildTree(root);
    EXPECT_TRUE(RemoveFolderTree(root));
    EXPECT_FALSE(fs_port::PathExists(root));
    // Already gone: nothing removed, so the result is false.
    EXPECT_FALSE(RemoveFolderTree(root));
    EXPECT_FALSE(RemoveFolderTree(""));
}

TEST(FolderTree, RemoveLeavesAFileOfThatNameInPlace) {
    TempDir dir;
    const std::string file = dir.File("udo.temp");
    WriteTextFile(file, "hand-off");
    EXPECT_FALSE(RemoveFolderTree(file));
    EXPECT_EQ(ReadTextFile(file), "hand-off");
    DeleteFolderTree(file);
    EXPECT_EQ(ReadTextFile(file), "hand-off");
}

TEST(FolderTree, RemovesEntriesWithNamesLongerThan200Characters) {
    TempDir dir;
    const std::string root = dir.Path() + "\\long";
    const std::string longFolder = root + "\\" + std::string(205, 'f');
    const std::string longFile = std::string(210, 'n') + ".txt";
    ASSERT_TRUE(fs_port::MakeDirectories(longFolder));
    WriteTextFile(longFolder + "\\" + longFile, "x");
    WriteTextFile(root + "\\" + longFile, "y");
    ASSERT_EQ(ReadTextFile(longFolder + "\\" + longFile), "x");
    EXPECT_TRUE(RemoveFolderTree(root));
    EXPECT_FALSE(fs_port::PathExists(root));
}

TEST(FolderTree, CreateFolderChainMakesEveryFolderButTheLastPart) {
    TempDir dir;
    const std::string base = dir.Path();
    const struct {
        std::string path;
        bool result;
        std::vector<std::string> folders;  // exist afterwards
        std::string absent;                // does not exist afterwards
    } cases[] = {
        {base + "\\a\\b\\c\\file", false, {"a", "a\\b", "a\\b\\c"}, "a\\b\\c\\file"},
        {base + "\\d\\e\\", true, {"d", "d\\e"}, ""},
        {base + "\\a\\b", true, {"a\\b"}, ""},  // an existing folder
        {base + "\\f/g\\h.bin", false, {"f", "f\\g"}, "f\\g\\h.bin"},  // mixed separators
        {base + "\\single", false, {}, "single"},
        {base + "\\\xE6\x9B\xB4\xE6\x96\xB0\\x.pak", false, {"\xE6\x9B\xB4\xE6\x96\xB0"}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CreateFolderChain(c.path), c.result) << c.path;
        for (const std::string& folder : c.folders) {
            EXPECT_TRUE(fs_port::IsDirectory(base + "\\" + folder)) << c.path << ": " << folder;
        }
        if (!c.absent.empty()) {
            EXPECT_FALSE(fs_port::PathExists(base + "\\" + c.absent)) << c.path;
        }
    }
    EXPECT_FALSE(CreateFolderChain(""));
}

TEST(FolderTree, CreateFolderChainStopsAtAFileInTheWay) {
    TempDir dir;
    WriteTextFile(dir.File("blocker"), "file");
    EXPECT_FALSE(CreateFolderChain(dir.Path() + "\\blocker\\sub\\"));
    EXPECT_EQ(ReadTextFile(dir.File("blocker")), "file");
    EXPECT_FALSE(fs_port::PathExists(dir.Path() + "\\blocker\\sub"));
}

TEST(PathExistsTest, AcceptsFilesAndFoldersBelowTheShellPathLimit) {
    TempDir dir;
    WriteTextFile(dir.File("file.txt"), "x");
    EXPECT_TRUE(PathExists(dir.File("file.txt").c_str()));
    EXPECT_TRUE(PathExists(dir.Path().c_str()));
    EXPECT_FALSE(PathExists(dir.File("missing.txt").c_str()));
    EXPECT_FALSE(PathExists(nullptr));
    EXPECT_FALSE(PathExists(""));

    // Existing files whose whole paths are 259 and 260 characters long.
    const std::string prefix = dir.Path() + "\\";
    ASSERT_LT(prefix.size(), 200u);
    const std::string path259 = prefix + std::string(259 - prefix.size(), 'a');
    const std::string path260 = prefix + std::string(260 - prefix.size(), 'b');
    WriteTextFile(path259, "x");
    WriteTextFile(path260, "x");
    ASSERT_TRUE(fs_port::PathExists(path259));
    EXPECT_TRUE(PathExists(path259.c_str()));
    if (fs_port::PathExists(path260)) {
        EXPECT_FALSE(PathExists(path260.c_str()));
    }
    fs_port::RemoveFile(path260);

    // The limit counts characters, not bytes: 121 Chinese characters take
    // 363 bytes but stay below the limit.
    std::string wide;
    for (int i = 0; i < 60; ++i) wide += "\xE6\x96\xB0";
    ASSERT_TRUE(fs_port::MakeDirectory(prefix + wide));
    WriteTextFile(prefix + wide + "\\" + wide, "x");
    const std::string widePath = prefix + wide + "\\" + wide;
    ASSERT_GT(widePath.size(), 260u);
    EXPECT_TRUE(PathExists(widePath.c_str()));

    // Characters beyond the 16-bit range take two units each: two names of 62
    // such characters make more than 260 units with far fewer characters.
    std::string astral;
    for (int i = 0; i < 62; ++i) astral += "\xF0\xA0\x80\x80";  // U+20000
    const std::string astralPath = prefix + astral + "\\" + astral;
    if (fs_port::MakeDirectory(prefix + astral)) {
        WriteTextFile(astralPath, "x");
        if (fs_port::PathExists(astralPath)) {
            EXPECT_FALSE(PathExists(astralPath.c_str()));
        }
    }
}

TEST(FolderTree, DoesNotFollowLinksOutOfTheTree) {
    namespace fs = std::filesystem;
    TempDir dir;
    const std::string outside = dir.Path() + "\\outside";
    const std::string root = dir.Path() + "\\tree";
    ASSERT_TRUE(fs_port::MakeDirectories(outside));
    ASSERT_TRUE(fs_port::MakeDirectories(root + "\\sub"));
    WriteTextFile(outside + "\\precious.dat", "keep me");
    MakeReadOnly(outside + "\\precious.dat");
    std::error_code error;
    fs::create_directory_symlink(fs::u8path(fs_port::NativePath(outside)),
                                 fs::u8path(fs_port::NativePath(root + "\\sub\\folder-link")), error);
    if (!error) {
        fs::create_symlink(fs::u8path(fs_port::NativePath(outside + "\\precious.dat")),
                           fs::u8path(fs_port::NativePath(root + "\\sub\\file-link")), error);
    }
    if (error) GTEST_SKIP() << "links are not available here: " << error.message();

    EXPECT_TRUE(RemoveFolderTree(root));
    EXPECT_FALSE(fs_port::PathExists(root));
    EXPECT_EQ(ReadTextFile(outside + "\\precious.dat"), "keep me");
    // The target's attributes are its own: removing a link must not change them.
    EXPECT_EQ(fs::status(fs::u8path(fs_port::NativePath(outside + "\\precious.dat"))).permissions() &
                  fs::perms::owner_write,
              fs::perms::none);
}
