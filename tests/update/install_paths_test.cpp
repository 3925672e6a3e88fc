#include <gtest/gtest.h>

#include "update/install/install_paths.h"

namespace {

struct PathCase {
    const char* path;
    bool safe;
};

TEST(InstallPaths, RefusesRelativePathsThatLeaveTheFolderOrNameDevices) {
    const PathCase cases[] = {
        {"Vantorel_Data\\level1.dat", true},
        {"a.dat", true},
        {"sub/dir\\mixed.txt", true},
        {"\xE6\x9B\xB4\xE6\x96\xB0\\\xE4\xB9\x97.dat", true},  // Chinese names
        {"..dat", true},
        {"a..b", true},
        {"CONSOLE.txt", true},  // only the exact device names count
        {"COM10", true},
        {"LPT", true},
        {"nul_file", true},
        {" leading space", true},
        {"", false},
        {"..", false},
        {"..\\x.dat", false},
        {"a\\..\\..\\x.dat", false},
        {"a/../x", false},
        {".\\a", false},
        {"a\\.", false},
        {"\\Windows\\x.dll", false},
        {"/etc/passwd", false},
        {"\\\\server\\share\\x", false},
        {"\\\\?\\C:\\x", false},
        {"C:\\Windows\\x.dll", false},
        {"C:x.dll", false},
        {"a.dat:stream", false},
        {"a\\\\b", false},
        {"a\\", false},
        {"dir.\\a", false},
        {"dir \\a", false},
        {"a.dat.", false},
        {"CON", false},
        {"con", false},
        {"Nul.txt", false},
        {"sub\\aux.dat", false},
        {"PRN.tar.gz", false},
        {"CON .txt", false},
        {"com1", false},
        {"LPT9.log", false},
        {"COM0", false},
        {"conin$", false},
        {"COM\xC2\xB9", false},  // superscript one
        {"a\tb", false},
        {"a\nb", false},
        {"a<b", false},
        {"a|b", false},
        {"a?b", false},
        {"a*b", false},
        {"a\"b", false},
    };
    for (const PathCase& c : cases) {
        EXPECT_EQ(IsSafeRelativePath(c.path), c.safe) << "\"" << c.path << "\"";
    }
}

struct InsideCase {
    const char* folder;
    const char* path;
    bool inside;
    const char* rest;
};

TEST(InstallPaths, AcceptsOnlyPathsStrictlyBelowTheFolder) {
    const InsideCase cases[] = {
        {"C:\\Game", "C:\\Game\\a.dat", true, "a.dat"},
        {"C:\\Game", "C:\\Game\\Data\\a.dat", true, "Data\\a.dat"},
        {"C:\\Game\\", "C:\\Game\\a.dat", true, "a.dat"},
        {"C:\\Game", "C:/Game/a.dat", true, "a.dat"},
        {"/tmp/game", "/tmp/game\\_temp\\Root\\a.dat", true, "_temp\\Root\\a.dat"},
        {"C:", "C:\\a.dat", true, "a.dat"},
        {"/", "/a", true, "a"},
        {"C:\\Game", "C:\\Game", false, ""},
        {"C:\\Game", "C:\\Game\\", false, ""},
        {"C:\\Game", "C:\\Gamex\\a.dat", false, ""},
        {"C:\\Game", "C:\\GAME\\a.dat", false, ""},
        {"C:\\Game", "C:\\Game\\..\\Windows\\x.dll", false, ""},
        {"C:\\Game", "C:\\Game\\\\a.dat", false, ""},
        {"C:\\Game", "C:\\Game\\D:\\a.dat", false, ""},
        {"C:\\Game", "C:\\Game\\a.dat:ads", false, ""},
        {"C:\\Game", "C:\\Game\\sub\\NUL", false, ""},
        {"C:\\Game", "D:\\Game\\a.dat", false, ""},
        {"C:\\Game", "C:\\Other\\a.dat", false, ""},
        {"C:\\Game", "a.dat", false, ""},
        {"", "a.dat", false, ""},
    };
    for (const InsideCase& c : cases) {
        EXPECT_EQ(IsInsideFolder(c.folder, c.path), c.inside) << c.folder << " | " << c.path;
        EXPECT_EQ(RelativePart(c.folder, c.path), c.rest) << c.folder << " | " << c.path;
    }
}

TEST(InstallPaths, ComparesAncestryByComponentsWithoutCase) {
    struct Case {
        const char* ancestor;
        const char* path;
        bool below;
    };
    const Case cases[] = {
        {"C:\\Game\\Data", "C:\\Game\\Data\\a.dat", true},
        {"C:\\Game\\data", "C:\\GAME\\DATA\\A.DAT", true},
        {"C:\\Game\\Data", "C:\\Game\\Data", true},
        {"C:/Game/Data/", "C:\\Game\\Data\\x", true},
        {"C:\\Game\\Data", "C:\\Game\\Database\\a.dat", false},
        {"C:\\Game\\Data\\a.dat", "C:\\Game\\Data", false},
        {"\\Game", "Game\\a", false},
        {"", "C:\\Game", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsSameOrBelow(c.ancestor, c.path), c.below) << c.ancestor << " | " << c.path;
    }
}

}  // namespace
