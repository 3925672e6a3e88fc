#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "support/test_support.h"

TEST(FileSystem, CreatesNestedFoldersAndRenamesOverExistingFiles) {
    TempDir dir;
    const std::string nested = dir.Path() + "\\a\\b\\c";
    ASSERT_TRUE(fs_port::MakeDirectories(nested));
    EXPECT_TRUE(fs_port::IsDirectory(nested));

    const std::string from = dir.File("from.txt");
    const std::string to = dir.Path() + "\\a\\b\\c\\to.txt";
    WriteTextFile(from, "new");
    WriteTextFile(to, "old");
    EXPECT_FALSE(fs_port::RenamePath(from, to, false));
    ASSERT_TRUE(fs_port::RenamePath(from, to, true));
    EXPECT_EQ(ReadTextFile(to), "new");
    EXPECT_FALSE(fs_port::PathExists(from));
    EXPECT_EQ(fs_port::FileSize(to), 3);
    EXPECT_EQ(fs_port::FileSize(nested), -1);
}

TEST(FileSystem, ListsFoldersAndFilesWithoutDotEntries) {
    TempDir dir;
    ASSERT_TRUE(fs_port::MakeDirectory(dir.File("sub")));
    WriteTextFile(dir.File("file.bin"), "x");
    std::vector<fs_port::DirEntry> entries;
    ASSERT_TRUE(fs_port::ListDirectory(dir.Path(), &entries));
    ASSERT_EQ(entries.size(), 2u);
    int folders = 0;
    for (const auto& e : entries) folders += e.isDirectory ? 1 : 0;
    EXPECT_EQ(folders, 1);
}

TEST(FileSystem, TruncatesOpenFiles) {
    TempDir dir;
    const std::string path = dir.File("t.bin");
    WriteTextFile(path, "0123456789");
    std::FILE* f = fs_port::OpenFile(path, "r+b");
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(fs_port::TruncateFile(f, 4));
    std::fclose(f);
    EXPECT_EQ(ReadTextFile(path), "0123");
}
