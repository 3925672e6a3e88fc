// Folder removal against Windows file attributes and links.
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

TEST(FolderAttributes, DoesNotFollowAFolderLinkOutOfTheTree) {
    TempDir dir;
    const std::string outside = dir.Path() + "\\outside";
    const std::string root = dir.Path() + "\\tree";
    ASSERT_TRUE(fs_port::MakeDirectories(outside));
    ASSERT_TRUE(fs_port::MakeDirectories(root + "\\sub"));
    WriteTextFile(outside + "\\precious.dat", "keep me");
    const std::string links[] = {root + "\\link", root + "\\sub\\link"};
    for (const std::string& link : links) {
        if (!CreateSymbolicLinkW(ToWide(link).c_str(), ToWide(outside).c_str(),
                                 SYMBOLIC_LINK_FLAG_DIRECTORY)) {
            GTEST_SKIP() << "folder links are not available here";
        }
    }
    if (ReadTextFile(root + "\\link\\precious.dat") != "keep me") {
        GTEST_SKIP() << "folder links cannot be followed here";
    }

    EXPECT_TRUE(RemoveFolderTree(root));
    EXPECT_FALSE(fs_port::PathExists(root));
    EXPECT_EQ(ReadTextFile(outside + "\\precious.dat"), "keep me");
}
