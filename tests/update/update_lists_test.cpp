#include <gtest/gtest.h>

#include "app/util/launcher_util.h"
#include "update/engine/update_lists.h"
#include "update/install/install_paths.h"

namespace {

UpdatePlan PlanOf(const std::string& list) {
    std::vector<std::string> lines;
    SplitText(list, "\n", &lines);
    UpdatePlan plan;
    BuildUpdatePlan(lines, &plan);
    return plan;
}

std::string Describe(const UpdatePlan& plan) {
    std::string out;
    for (const PackageGroup& group : plan.packages) {
        out += group.name + ":";
        for (const PackageMember& member : group.members) out += member.strMember + ",";
        out += ";";
    }
    return out;
}

TEST(UpdateListPlan, GroupsSortsAndSums) {
    const struct {
        const char* name;
        const char* list;
        const char* plan;
        int64_t total;
        bool selfUpdate;
        const char* badSize = "";
    } cases[] = {
        {"grouped in name order, list order inside",
         "b.pak\tRoot\\x.dat\t10\tm\na.pak\tRoot\\y.dat\t20\tm\nb.pak\tRoot\\z.dat\t30\tm\n",
         "a.pak:Root\\y.dat,;b.pak:Root\\x.dat,Root\\z.dat,;", 60, false},
        {"upper case sorts before lower case", "a.pak\tR\\1\t1\tm\nB.pak\tR\\2\t2\tm\n",
         "B.pak:R\\2,;a.pak:R\\1,;", 3, false},
        {"three fields and empty lines skipped", "a.pak\tR\\1\t1\n\n\r\n", "", 0, false},
        {"installer member sets the flag", "a.pak\tRoot\\sub\\VantorelPath.exe\t5\tm\n",
         "a.pak:Root\\sub\\VantorelPath.exe,;", 5, true},
        {"a name that only starts like it does not", "a.pak\tRoot\\VantorelPath.exe.config\t5\tm\n",
         "a.pak:Root\\VantorelPath.exe.config,;", 5, false},
        {"identical lines are one", "a.pak\tR\\1\t7\tm\na.pak\tR\\1\t7\tm \r\n", "a.pak:R\\1,;", 7, false},
        {"other case does not", "a.pak\tRoot\\vantorelpath.exe\t5\tm\n", "a.pak:Root\\vantorelpath.exe,;", 5,
         false},
        {"sizes beyond 32 bits do not wrap",
         "a.pak\tR\\1\t2147483647\tm\na.pak\tR\\2\t2147483647\tm\n", "a.pak:R\\1,R\\2,;", 4294967294LL,
         false},
        {"members of 5 GiB and 4 GiB", "a.pak\tR\\1\t5368709120\tm\nb.pak\tR\\2\t 4294967296x\tm\n",
         "a.pak:R\\1,;b.pak:R\\2,;", 9663676416LL, false},
        {"2^63 - 1 is the largest size", "a.pak\tR\\1\t9223372036854775807\tm\n", "a.pak:R\\1,;", INT64_MAX,
         false},
        {"a size beyond 2^63 - 1", "a.pak\tR\\1\t9223372036854775808\tm\n", "a.pak:R\\1,;", 0, false,
         "9223372036854775808"},
        {"a total beyond 2^63 - 1",
         "a.pak\tR\\1\t4611686018427387904\tm\na.pak\tR\\2\t4611686018427387904\tm\n",
         "a.pak:R\\1,R\\2,;", 4611686018427387904LL, false, "4611686018427387904"},
        {"a negative size", "a.pak\tR\\1\t7\tm\na.pak\tR\\2\t-5\tm\n", "a.pak:R\\1,R\\2,;", 7, false, "-5"},
    };
    for (const auto& c : cases) {
        const UpdatePlan plan = PlanOf(c.list);
        EXPECT_EQ(Describe(plan), c.plan) << c.name;
        EXPECT_EQ(plan.totalSize, c.total) << c.name;
        EXPECT_EQ(plan.selfUpdate, c.selfUpdate) << c.name;
        EXPECT_EQ(plan.badSize, c.badSize) << c.name;
    }
}

TEST(UpdateListPlan, RefusesPathsThatLeaveTheFolder) {
    const struct {
        const char* name;
        const char* list;
        const char* deletes;
        bool safe;
    } cases[] = {
        {"plain", "a.pak\tRoot\\Data\\a.dat\t1\tm\n", "Data\\old.dat\n\n", true},
        {"member without root folder", "a.pak\ta.dat\t1\tm\n", "", true},
        {"dot-dot in member", "a.pak\tRoot\\..\\..\\evil.dll\t1\tm\n", "", false},
        {"dot-dot after root", "a.pak\t..\\evil.dll\t1\tm\n", "", false},
        {"absolute member", "a.pak\t\\Windows\\evil.dll\t1\tm\n", "", false},
        {"drive in member", "a.pak\tC:\\evil.dll\t1\tm\n", "", false},
        {"drive after root", "a.pak\tRoot\\C:\\evil.dll\t1\tm\n", "", false},
        {"UNC member", "a.pak\t\\\\server\\share\\x\t1\tm\n", "", false},
        {"colon stream", "a.pak\tRoot\\a.dat:stream\t1\tm\n", "", false},
        {"device name", "a.pak\tRoot\\CON.txt\t1\tm\n", "", false},
        {"root only", "a.pak\tRoot\\\t1\tm\n", "", false},
        {"package with folder", "..\\a.pak\tRoot\\a.dat\t1\tm\n", "", false},
        {"package with slash", "sub/a.pak\tRoot\\a.dat\t1\tm\n", "", false},
        {"delete with dot-dot", "a.pak\tRoot\\a.dat\t1\tm\n", "..\\..\\boot.ini\n", false},
        {"absolute delete", "a.pak\tRoot\\a.dat\t1\tm\n", "\\Windows\\x.dll\n", false},
        {"drive delete", "a.pak\tRoot\\a.dat\t1\tm\n", "D:x.dll\n", false},
        // Installed to one place twice, or two packages in one local file.
        {"member listed twice, differently", "a.pak\tRoot\\a.dat\t1\tm\na.pak\tRoot\\a.dat\t2\tm\n", "", false},
        {"member listed twice, identically", "a.pak\tRoot\\a.dat\t1\tm\na.pak\tRoot\\a.dat\t1\tm\n", "", true},
        {"two members named like the installer", "a.pak\tR1\\VantorelPath.exe.config\t1\tm\n"
         "a.pak\tR2\\VantorelPath.exe.config\t1\tm\n", "", false},
        {"one place from two packages", "a.pak\tRoot\\a.dat\t1\tm\nb.pak\tRoot\\a.dat\t1\tm\n", "",
         false},
        {"one place from two roots", "a.pak\tRootA\\x.dat\t1\tm\na.pak\tRootB\\x.dat\t1\tm\n", "", false},
        {"one place in other case", "a.pak\tRoot\\Data\\A.dat\t1\tm\na.pak\tRoot\\data\\a.DAT\t1\tm\n",
         "", false},
        {"packages differing in case", "a.pak\tRoot\\a.dat\t1\tm\nA.pak\tRoot\\b.dat\t1\tm\n", "", false},
        {"installer program in two roots", "a.pak\tR1\\VantorelPath.exe\t1\tm\na.pak\tR2\\VantorelPath.exe\t1\tm\n",
         "", true},
        {"same name in two folders", "a.pak\tRoot\\x\\a.dat\t1\tm\na.pak\tRoot\\y\\a.dat\t1\tm\n", "", true},
        {"member at another package's place", "a.pak\tb.pak\t1\tm\nb.pak\tRoot\\x.dat\t1\tm\n", "", false},
        {"member at its own package's place, other case", "a.pak\tA.PAK\t1\tm\n", "", false},
        {"member below a package's place", "a.pak\tB.pak/x.dat\t1\tm\nb.pak\tRoot\\y.dat\t1\tm\n", "", false},
        {"package name inside a root folder", "a.pak\tRoot\\b.pak\t1\tm\nb.pak\tRoot\\x.dat\t1\tm\n", "", true},
    };
    for (const auto& c : cases) {
        UpdatePlan plan = PlanOf(c.list);
        SplitText(c.deletes, "\n", &plan.deleteLines);
        std::string offending;
        EXPECT_EQ(CheckPlanPaths(plan, &offending), c.safe) << c.name;
        if (!c.safe) {
            EXPECT_FALSE(offending.empty()) << c.name;
        }
    }
}

TEST(UpdateListPlan, InstalledPlaceAndDigestField) {
    EXPECT_EQ(InstalledRelativePath("Root\\Vantorel_Data\\a.dat"), "Vantorel_Data\\a.dat");
    EXPECT_EQ(InstalledRelativePath("a.dat"), "a.dat");
    const struct {
        const char* text;
        bool digest;
    } cases[] = {{"0123456789abcdef0123456789ABCDEF", true}, {"0123456789abcdef0123456789abcde", false},
                 {"0123456789abcdef0123456789abcdeg", false}, {"m", false}, {"", false}};
    for (const auto& c : cases) EXPECT_EQ(IsDigestText(c.text), c.digest) << c.text;
}

// A patch list is used whole or not at all: any malformed line means the
// step goes by full packages.
TEST(PatchList, RefusesMalformedLinesWhole) {
    const std::string a(32, 'a');
    const std::string b = "0123456789ABCDEF0123456789abcdef";
    const std::string good = "delta1.pak\tVantorel/x.dat\tx.dat\t12\t" + a + "\t" + b;
    const struct {
        const char* name;
        std::string list;
        size_t members;  // 0 with a refusal
    } cases[] = {
        {"one line without line feed", good, 1},
        {"CRLF and empty lines", good + "\r\n\n" + "d.pak\tV\\y\ty\t0\t" + a + "\t" + a + "\r\n", 2},
        {"five fields", "delta1.pak\tx\tx.dat\t12\t" + a, 0},
        {"seven fields", good + "\tmore", 0},
        {"size not decimal", "delta1.pak\tx\tx.dat\t12k\t" + a + "\t" + a, 0},
        {"size with a sign", "delta1.pak\tx\tx.dat\t+12\t" + a + "\t" + a, 0},
        {"size beyond 2^63 - 1", "delta1.pak\tx\tx.dat\t9223372036854775808\t" + a + "\t" + a, 0},
        {"source digest too short", "delta1.pak\tx\tx.dat\t1\t" + a.substr(1) + "\t" + a, 0},
        {"target digest not hex", "delta1.pak\tx\tx.dat\t1\t" + a + "\t" + std::string(32, 'g'), 0},
        {"package in a folder", "sub\\d.pak\tx\tx.dat\t1\t" + a + "\t" + a, 0},
        {"member leaves the package", "d.pak\t..\\x\tx.dat\t1\t" + a + "\t" + a, 0},
        {"place with a drive", "d.pak\tx\tC:\\x.dat\t1\t" + a + "\t" + a, 0},
        {"place leaves the folder", "d.pak\tx\t..\\x.dat\t1\t" + a + "\t" + a, 0},
        {"place is a device", "d.pak\tx\tNUL.dat\t1\t" + a + "\t" + a, 0},
        {"place named twice", good + "\nd.pak\ty\tX.DAT\t1\t" + a + "\t" + a, 0},
        {"field too long", "d.pak\t" + std::string(kMaxPatchFieldBytes + 1, 'm') + "\tx.dat\t1\t" + a + "\t" + a, 0},
        {"good line after a bad one", "d.pak\tx\n" + good, 0},
    };
    for (const auto& c : cases) {
        std::vector<DeltaMember> members;
        std::string offending;
        EXPECT_EQ(ParsePatchList(c.list, &members, &offending), c.members != 0) << c.name;
        EXPECT_EQ(members.size(), c.members) << c.name;
        if (c.members == 0) {
            EXPECT_FALSE(offending.empty()) << c.name;
        }
    }
    std::vector<DeltaMember> members;
    std::string offending;
    ASSERT_TRUE(ParsePatchList(good, &members, &offending));
    EXPECT_EQ(members[0].targetMd5, AsciiFolded(b));
    EXPECT_EQ(FormatPatchList(members), "delta1.pak\tVantorel/x.dat\tx.dat\t12\t" + a + "\t" + AsciiFolded(b) + "\n");
}

}  // namespace
