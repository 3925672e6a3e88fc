#include "update/engine/catch_up_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Md5(char c) { return std::string(32, c); }

StateEntry Entry(const std::string& place, char md5, const std::string& version, const std::string& package,
                 uint64_t packed) {
    StateEntry entry;
    entry.place = place;
    entry.size = packed * 2;
    entry.md5 = Md5(md5);
    entry.sha256 = std::string(64, md5);
    entry.sourceVersion = version;
    entry.package = package;
    entry.member = "Root\\" + place;
    entry.packedSize = packed;
    entry.method = kStateMethodDeflated;
    return entry;
}

// The newest version 1.0.0.9: a.dat changed in 1.0.0.9, b.dat and c.dat in
// 1.0.0.5 (the same package), keep.txt since 1.0.0.1.
StateIndex Newest() {
    StateIndex index;
    index.version = "1.0.0.9";
    index.entries = {Entry("Data\\a.dat", 'a', "1.0.0.9", "data9.pak", 1000),
                     Entry("Data\\b.dat", 'b', "1.0.0.5", "data5.pak", 40000),
                     Entry("Data\\c.dat", 'c', "1.0.0.5", "data5.pak", 50000),
                     Entry("keep.txt", 'd', "1.0.0.1", "base.pak", 10)};
    return index;
}

std::string Describe(const CatchUpPlan& plan) {
    std::string out;
    for (const CatchUpDelta& d : plan.deltas) out += "delta " + d.entry->place + "; ";
    for (const CatchUpPackage& p : plan.packages) {
        out += (p.whole ? "whole " : "spans ") + p.sourceVersion + "/" + p.package + ":";
        for (const StateEntry* e : p.members) out += " " + e->place;
        out += "; ";
    }
    for (const std::string& place : plan.deletions) out += "delete " + place + "; ";
    return out + "bytes " + std::to_string(plan.downloadBytes);
}

TEST(CatchUpPlan, EachDifferingFileComesTheCheapestWayAndOnlyListedFilesGo) {
    const std::map<std::string, std::string> current = {
        {"Data\\a.dat", Md5('a')}, {"Data\\b.dat", Md5('b')}, {"Data\\c.dat", Md5('c')}, {"keep.txt", Md5('d')}};
    const auto with = [&](std::map<std::string, std::string> changes) {
        auto files = current;
        for (auto& [place, md5] : changes) files[place] = md5;
        return files;
    };
    const DeltaMember fromOldA{"patch9.pak", "a.vcdiff", "Data\\a.dat", 300, Md5('0'), Md5('a')};
    const struct {
        const char* name;
        std::map<std::string, std::string> installed;
        std::vector<std::string> listedBefore;
        bool rangesHonoured;
        int64_t packageBytes;  // of every package; -1 unknown
        std::string plan;
    } cases[] = {
        {"up to date", current, {}, true, 200000, "bytes 0"},
        {"one version behind: the changed file alone, by delta", with({{"Data\\a.dat", Md5('0')}}), {}, true,
         200000, "delta Data\\a.dat; bytes 300"},
        {"a delta from another copy does not fit: the member alone", with({{"Data\\a.dat", Md5('1')}}), {}, true,
         200000, "spans 1.0.0.9/data9.pak: Data\\a.dat; bytes 1109"},
        {"a missing file comes whole, never by delta", with({{"Data\\a.dat", ""}}), {}, true, 200000,
         "spans 1.0.0.9/data9.pak: Data\\a.dat; bytes 1109"},
        {"many versions behind: each file from the newest package holding it",
         with({{"Data\\a.dat", Md5('1')}, {"Data\\b.dat", Md5('2')}, {"keep.txt", ""}}), {}, true, 200000,
         "spans 1.0.0.1/base.pak: keep.txt; spans 1.0.0.5/data5.pak: Data\\b.dat; spans 1.0.0.9/data9.pak: "
         "Data\\a.dat; bytes 41335"},
        {"spans over half of a package: the package", with({{"Data\\b.dat", ""}, {"Data\\c.dat", ""}}), {}, true,
         150000, "whole 1.0.0.5/data5.pak: Data\\b.dat Data\\c.dat; bytes 150000"},
        {"a server without ranges: whole packages", with({{"Data\\a.dat", Md5('1')}}), {}, false, 5000,
         "whole 1.0.0.9/data9.pak: Data\\a.dat; bytes 5000"},
        {"without ranges and without a package size the bytes are unknown", with({{"Data\\a.dat", Md5('1')}}), {},
         false, -1, "whole 1.0.0.9/data9.pak: Data\\a.dat; bytes -1"},
        {"files the installed version listed and the newest lacks go, in any letter case", current,
         {"DATA\\A.DAT", "Data\\old.dat", "Data\\Old.dat", "keep.txt"}, true, 200000,
         "delete Data\\old.dat; bytes 0"},
    };
    const StateIndex newest = Newest();
    for (const auto& c : cases) {
        CatchUpInput input;
        input.target = &newest;
        input.installed = c.installed;
        input.listedBefore = c.listedBefore;
        input.deltas = {fromOldA};
        input.packageSize = [&](const std::string&, const std::string&) { return c.packageBytes; };
        input.rangesHonoured = c.rangesHonoured;
        EXPECT_EQ(Describe(PlanCatchUp(input)), c.plan) << c.name;
    }
}

}  // namespace
