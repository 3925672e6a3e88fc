#include <gtest/gtest.h>

#include "platform/byte_sink.h"
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

// The room of a folder's volume, named by the id that the stamps of its files carry.
TEST(FileSystem, ReadsTheRoomOfAFoldersVolume) {
    TempDir dir;
    WriteTextFile(dir.File("file.bin"), "x");
    fs_port::VolumeSpace space;
    ASSERT_TRUE(fs_port::ReadVolumeSpace(dir.Path(), &space));
    EXPECT_GT(space.freeBytes, 0u);
    fs_port::FileStamp stamp;
    ASSERT_TRUE(fs_port::ReadFileStamp(dir.File("file.bin"), &stamp));
    EXPECT_EQ(space.volume, stamp.volume);
    for (const std::string& notAFolder : {dir.File("file.bin"), dir.File("missing")}) {
        EXPECT_FALSE(fs_port::ReadVolumeSpace(notAFolder, &space)) << notAFolder;
    }
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

// What another program may do to a file that is open for reading (the
// launcher hashing a game file while the installer program replaces it).
TEST(FileSystem, FileOpenForReadingCanBeMovedReplacedOrDeleted) {
    struct Case {
        const char* what;
        bool (*act)(const std::string& path, const std::string& other);
        const char* leftAtPath;  // nullptr: nothing is left there
    };
    const Case cases[] = {
        {"moved away", [](const std::string& p, const std::string& o) { return fs_port::RenamePath(p, o, false); },
         nullptr},
        // The installer's way: the old file goes to its backup, the new one
        // takes its name (a rename over an open file is refused on Windows).
        {"replaced", [](const std::string& p, const std::string& o) {
             return fs_port::RenamePath(p, p + ".backup", false) && fs_port::RenamePath(o, p, false);
         },
         "new"},
        {"deleted", [](const std::string& p, const std::string&) { return fs_port::RemoveFile(p); }, nullptr},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir.File("game.dat");
        const std::string other = dir.File("other.dat");
        WriteTextFile(path, "old content");
        if (std::string(c.what) == "replaced") WriteTextFile(other, "new");
        std::FILE* reader = fs_port::OpenFile(path, "rb");
        ASSERT_NE(reader, nullptr) << c.what;
        EXPECT_TRUE(c.act(path, other)) << c.what;
        char buffer[32] = {};
        EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, reader), 11u) << c.what;
        EXPECT_EQ(std::string(buffer), "old content") << c.what;
        std::fclose(reader);
        if (c.leftAtPath) {
            EXPECT_EQ(ReadTextFile(path), c.leftAtPath) << c.what;
        } else {
            EXPECT_FALSE(fs_port::PathExists(path)) << c.what;
            std::FILE* again = fs_port::OpenFile(path, "rb");
            EXPECT_EQ(again, nullptr) << c.what;
            if (again) std::fclose(again);
        }
    }
}

// Offsets, sizes, reads across the 4 GiB line and a move of a sparse file of
// 4.5 GiB, on the 32-bit Windows program as on Linux.
TEST(FileSystem, HandlesFilesBeyond4GiB) {
    TempDir dir;
    const int64_t size = (9LL << 30) / 2, line = 1LL << 32;
    std::FILE* f = fs_port::OpenFile(dir.File("big.dat"), "w+b");
    ASSERT_TRUE(f != nullptr && fs_port::TruncateFile(f, size) && fs_port::SeekFile(f, line - 3, SEEK_SET));
    ASSERT_EQ(std::fwrite("across", 1, 6, f), 6u);
    EXPECT_EQ(fs_port::TellFile(f), line + 3);
    ASSERT_TRUE(fs_port::SeekFile(f, -4, SEEK_END) && std::fwrite("tail", 1, 4, f) == 4);
    EXPECT_EQ(fs_port::TellFile(f), size);
    std::fclose(f);
    ASSERT_TRUE(fs_port::RenamePath(dir.File("big.dat"), dir.File("moved.dat"), false));
    EXPECT_EQ(fs_port::FileSize(dir.File("moved.dat")), size);
    char buffer[14] = {};
    f = fs_port::OpenFile(dir.File("moved.dat"), "rb");
    ASSERT_TRUE(f != nullptr && fs_port::SeekFile(f, line - 3, SEEK_SET) && std::fread(buffer, 1, 6, f) == 6 &&
                fs_port::SeekFile(f, size - 4, SEEK_SET) && std::fread(buffer + 6, 1, 8, f) == 4);
    std::fclose(f);
    EXPECT_EQ(std::string(buffer), "acrosstail");
    fs_port::RemoveFile(dir.File("moved.dat"));
}

// A whole write beside the target leaves the old file or the new one, and
// never its side file.
TEST(FileSystem, WritesBesideAndRenamesInOrLeavesTheOldFile) {
    TempDir dir;
    const std::string target = dir.File("state");
    const struct {
        std::string path;
        bool prepared;
        BesideWrite result;
        const char* after;
    } cases[] = {
        {target, true, BesideWrite::Done, "new"},
        {target, false, BesideWrite::CannotWrite, "old"},
        {dir.File("absent\\state"), true, BesideWrite::CannotCreate, nullptr},
    };
    for (const auto& c : cases) {
        WriteTextFile(target, "old");
        std::string sidePath;
        const auto prepare = [&](const std::string& side) {
            sidePath = side;
            return c.prepared;
        };
        EXPECT_EQ(WriteFileBeside(c.path, "new", ".side", prepare), c.result) << c.after;
        EXPECT_FALSE(fs_port::PathExists(c.path + ".side"));
        EXPECT_EQ(sidePath, c.after ? c.path + ".side" : "");
        if (c.after) {
            EXPECT_EQ(ReadTextFile(c.path), c.after);
        }
    }
}
