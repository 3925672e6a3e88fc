// Folder removal against Windows file attributes.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/util/launcher_util.h"
#include "platform/file_system.h"
#include "platform/win32/wide.h"
#include "support/test_support.h"

namespace {

void SetAttributes(const std::string& path, DWORD attributes) {
    ASSERT_TRUE(SetFileAttributesW(ToWide(path).c_str(), attributes)) << path;
}

constexpr DWORD kLocked = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

}  // namespace

TEST(FolderAttributes, DeleteClearsReadOnlyHiddenAndSystemAttributes) {
    TempDir dir;
    const std::string root = dir.Path() + "\\tree";
    ASSERT_TRUE(fs_port::MakeDirectories(root + "\\sub"));
    WriteTextFile(root + "\\top.dat", "x");
    WriteTextFile(root + "\\sub\\inner.dat", "y");
    SetAttributes(root + "\\top.dat", kLocked);
    SetAttributes(root + "\\sub\\inner.dat", kLocked);
    SetAttributes(root + "\\sub", FILE_ATTRIBUTE_READONLY);
    DeleteFolderTree(root);
    EXPECT_FALSE(fs_port::PathExists(root));
}

TEST(FolderAttributes, RemoveKeepsAReadOnlyFileDirectlyInsideTheFolder) {
    TempDir dir;
    const std::string root = dir.Path() + "\\_temp";
    ASSERT_TRUE(fs_port::MakeDirectories(root + "\\sub"));
    WriteTextFile(root + "\\kept.dat", "kept");
    WriteTextFile(root + "\\plain.dat", "plain");
    WriteTextFile(root + "\\sub\\nested.dat", "nested");
    SetAttributes(root + "\\kept.dat", FILE_ATTRIBUTE_READONLY);
    SetAttributes(root + "\\sub\\nested.dat", FILE_ATTRIBUTE_READONLY);

    EXPECT_FALSE(RemoveFolderTree(root));
    EXPECT_EQ(ReadTextFile(root + "\\kept.dat"), "kept");
    EXPECT_FALSE(fs_port::PathExists(root + "\\plain.dat"));
    EXPECT_FALSE(fs_port::PathExists(root + "\\sub"));  // nested entries are cleared

    SetAttributes(root + "\\kept.dat", FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(RemoveFolderTree(root));
    EXPECT_FALSE(fs_port::PathExists(root));
}
