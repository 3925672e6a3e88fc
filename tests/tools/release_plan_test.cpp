#include "tools/patchkit/release_plan.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

std::string Md5Of(char c) { return std::string(32, c); }

std::vector<std::vector<std::string>> Layout(const ReleasePlan& plan) {
    std::vector<std::vector<std::string>> layout;
    for (const PackagePlan& package : plan.packages) {
        layout.emplace_back();
        for (const PackageEntry& member : package.members) layout.back().push_back(member.relative);
    }
    return layout;
}

TEST(ReleasePlan, ChangedFilesArePackedAndMissingOnesDeleted) {
    const uint64_t half = kPackageBudgetBytes / 2;
    const TreeIndex oldTree = {{"same.dat", {5, Md5Of('1')}},
                               {"changed.dat", {5, Md5Of('2')}},
                               {"gone.dat", {5, Md5Of('3')}},
                               {"sub\\gone.dat", {5, Md5Of('3')}},
                               {"version.data", {5, Md5Of('4')}}};
    const TreeIndex newTree = {{"same.dat", {5, Md5Of('1')}},
                               {"changed.dat", {5, Md5Of('9')}},
                               {"a_big.bin", {half + 1, Md5Of('5')}},
                               {"b_big.bin", {half, Md5Of('6')}},
                               {"huge.bin", {kPackageBudgetBytes * 2, Md5Of('7')}},
                               {"z.dat", {5, Md5Of('8')}},
                               {"version.data", {9, Md5Of('8')}}};
    ReleasePlan plan = PlanRelease(oldTree, newTree);
    // a_big and b_big do not fit together; huge gets a package of its own,
    // and nothing joins it afterwards.
    EXPECT_EQ(Layout(plan), (std::vector<std::vector<std::string>>{
                                {"a_big.bin"}, {"b_big.bin", "changed.dat"}, {"huge.bin"}, {"z.dat"}}));
    EXPECT_EQ(plan.deletions, (std::vector<std::string>{"gone.dat", "sub\\gone.dat"}));
    AddVersionFile(77, Md5Of('a'), &plan);
    ASSERT_EQ(plan.packages.size(), 4u);
    EXPECT_EQ(plan.packages.back().members.back().relative, "version.data");
    EXPECT_EQ(plan.packages[0].name, "data1.pak");
    EXPECT_EQ(plan.packages[3].name, "data4.pak");

    // A 6 GiB file that comes last keeps its package to itself, and the
    // list carries its whole size.
    ReleasePlan huge = PlanRelease({}, {{"big.bin", {6ULL << 30, Md5Of('b')}}});
    AddVersionFile(77, Md5Of('a'), &huge);
    EXPECT_EQ(Layout(huge), (std::vector<std::vector<std::string>>{{"big.bin"}, {"version.data"}}));
    EXPECT_NE(UpdateListText(huge).find("\tVantorel\\big.bin\t6442450944\t"), std::string::npos);
}

TEST(ReleasePlan, NothingChangedStillCarriesTheVersionFile) {
    const TreeIndex tree = {{"a.dat", {1, Md5Of('1')}}};
    ReleasePlan plan = PlanRelease(tree, tree);
    EXPECT_TRUE(plan.packages.empty());
    AddVersionFile(10, Md5Of('2'), &plan);
    EXPECT_EQ(UpdateListText(plan),
              "data1.pak\tVantorel\\version.data\t10\t" + Md5Of('2') + "\n");
    EXPECT_EQ(DeleteListText(plan), "");
}

TEST(ReleasePlan, MemberCountLimitsAPackage) {
    TreeIndex tree;
    for (size_t i = 0; i < kMaxMembersPerPackage + 1; ++i) {
        tree["f" + std::to_string(100000 + i)] = {1, Md5Of('1')};
    }
    ReleasePlan plan = PlanRelease({}, tree);
    ASSERT_EQ(plan.packages.size(), 2u);
    EXPECT_EQ(plan.packages[0].members.size(), kMaxMembersPerPackage);
}

TEST(ReleasePlan, PackageNamesSortInNumericOrder) {
    const struct {
        size_t index, count;
        const char* name;
    } cases[] = {{0, 1, "data1.pak"},   {8, 9, "data9.pak"},     {0, 10, "data01.pak"},
                 {9, 10, "data10.pak"}, {4, 120, "data005.pak"}, {119, 120, "data120.pak"}};
    for (const auto& c : cases) EXPECT_EQ(PackageName(c.index, c.count), c.name);
    EXPECT_EQ(PackageName(2, 12, kDeltaPackagePrefix), "delta03.pak");
}

// Files that come by delta share no package with the others, nor with
// version.data: a launcher that patches them all leaves their packages alone.
TEST(ReleasePlan, FilesByDeltaArePackedApart) {
    const uint64_t half = kPackageBudgetBytes / 2;
    const TreeIndex oldTree = {{"a.dat", {5, Md5Of('1')}}, {"c.dat", {5, Md5Of('1')}}, {"e.dat", {5, Md5Of('1')}}};
    const TreeIndex newTree = {{"a.dat", {5, Md5Of('2')}}, {"b.new", {5, Md5Of('2')}}, {"c.dat", {half, Md5Of('2')}},
                               {"d.new", {5, Md5Of('2')}}, {"e.dat", {half + 1, Md5Of('2')}}};
    const struct {
        std::set<std::string> byDelta;
        std::vector<std::vector<std::string>> layout;
    } cases[] = {
        {{}, {{"a.dat", "b.new", "c.dat", "d.new"}, {"e.dat", "version.data"}}},
        {{"a.dat"}, {{"a.dat"}, {"b.new", "c.dat", "d.new"}, {"e.dat", "version.data"}}},
        {{"a.dat", "c.dat", "e.dat"}, {{"a.dat", "c.dat"}, {"e.dat"}, {"b.new", "d.new", "version.data"}}},
        {{"a.dat", "b.new", "c.dat", "d.new", "e.dat"}, {{"a.dat", "b.new", "c.dat", "d.new"}, {"e.dat"}, {"version.data"}}},
    };
    for (const auto& c : cases) {
        ReleasePlan plan = PlanRelease(oldTree, newTree, c.byDelta);
        AddVersionFile(9, Md5Of('9'), &plan);
        EXPECT_EQ(Layout(plan), c.layout) << c.byDelta.size();
    }
}

TEST(ReleasePlan, ListTexts) {
    const TreeIndex tree = {{"a.dat", {3, Md5Of('1')}}, {"sub\\中.dat", {4, Md5Of('2')}},
                            {"version.data", {1, Md5Of('3')}}};
    ReleasePlan plan = PlanRelease({{"old\\x.dat", {1, Md5Of('4')}}}, tree);
    AddVersionFile(50, Md5Of('5'), &plan);
    EXPECT_EQ(UpdateListText(plan), "data1.pak\tVantorel\\a.dat\t3\t" + Md5Of('1') + "\n" +
                                        "data1.pak\tVantorel\\sub\\中.dat\t4\t" + Md5Of('2') + "\n" +
                                        "data1.pak\tVantorel\\version.data\t50\t" + Md5Of('5') + "\n");
    EXPECT_EQ(DeleteListText(plan), "old\\x.dat\n");
    // No line feed at the end, so that the launcher checks every pair.
    EXPECT_EQ(VersionFileText(1002, tree),
              "1002\na.dat\n" + Md5Of('1') + "\nsub\\中.dat\n" + Md5Of('2'));
}

TEST(ReleasePlan, VersionListLineIsAddedOrReplaced) {
    const struct {
        const char* current;
        const char* version;
        bool mandatory;
        const char* expected;
    } cases[] = {
        {"", "1.0.0.1", false, "1.0.0.1\t0\t0\n"},
        {"1.0.0.1\t0\t0\n", "1.0.0.2", true, "1.0.0.1\t0\t0\n1.0.0.2\t1\t0\n"},
        {"1.0.0.1\t0\t0\r\n1.0.0.2\t0\t0\r\n1.0.0.3\t0\t0", "1.0.0.2", true,
         "1.0.0.1\t0\t0\n1.0.0.3\t0\t0\n1.0.0.2\t1\t0\n"},
        // The same number written otherwise is the same version.
        {"1.0.10.0\t0\t0\n\n", "1.1.0.0", false, "1.1.0.0\t0\t0\n"},
        {"1.0.0.1\t0\t0", "1.0.0.2", false, "1.0.0.1\t0\t0\n1.0.0.2\t0\t0\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UpdateVersionList(c.current, c.version, c.mandatory), c.expected) << c.current;
    }
}

TEST(ReleasePlan, ListedVersionsAreFoundByNumber) {
    const struct {
        const char* list;
        int32_t number;
        bool listed;
    } cases[] = {{"", 1001, false},
                 {"1.0.0.1\t0\t0\n", 1001, true},
                 {"1.0.0.2\t0\t0\r\n 1.0.0.1 \t1\t0", 1001, true},
                 {"1.0.0.1\n", 1001, false},  // no tab: the launcher skips the line
                 {"1.0.10.0\t0\t0\n", 1100, true},
                 {"1.0.0.11\t0\t0\n", 1001, false}};
    for (const auto& c : cases) EXPECT_EQ(ListsVersion(c.list, c.number), c.listed) << c.list;
}

TEST(ReleasePlan, NamesThatCannotSurviveTheLists) {
    const struct {
        const char* name;
        bool ok;
    } cases[] = {{"a.dat", true},      {"sub\\中文.dat", true}, {"a\tb.dat", false},
                 {"a\nb.dat", false},  {" a.dat", false},      {"a.dat ", false},
                 {"sub\\..\\x", false}, {"a\\CON", false},      {"\xF0\x9F\x98\x80.dat", false},
                 {"", false}};
    for (const auto& c : cases) EXPECT_EQ(ReleaseNameProblem(c.name).empty(), c.ok) << c.name;
}

}  // namespace
