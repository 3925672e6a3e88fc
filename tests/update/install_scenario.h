// An old installation, the unpacked files of a new version and the hand-off
// file between them, in a scratch folder; and a whole-tree snapshot to prove
// that a run left exactly the old or exactly the new version.
#pragma once

#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "support/test_support.h"
#include "update/install/hand_off.h"

namespace install_test {

// "更新\乗.dat": the GBK form of 乗 ends in the byte of "\".
constexpr char kChineseFile[] = "\xE6\x9B\xB4\xE6\x96\xB0\\\xE4\xB9\x97.dat";

using Tree = std::map<std::string, std::string>;  // relative path -> content, "<dir>" for folders
constexpr char kFolderMark[] = "<dir>";

struct Version {
    Tree files;                        // relative path ("\") -> content
    std::vector<std::string> folders;  // folders that exist without files of their own
};

inline Version OldVersion() {
    return {{{"VantorelLauncher.exe", "launcher 1"},
             {"Vantorel_Data\\level1.dat", "level one, version 1"},
             {"Vantorel_Data\\old.dat", "dropped in version 2"},
             {"obsolete\\x.txt", "a folder that version 2 drops"},
             {"obsolete\\deep\\y.txt", "deep inside it"},
             {"keep.txt", "the same in both versions"}},
            {"Vantorel_Data\\empty"}};
}

struct Change {
    std::string rel;
    std::string content;
};

// Replaced files, new files in new nested folders and a GBK name.
inline std::vector<Change> NewFiles() {
    return {{"VantorelLauncher.exe", "launcher 2"},
            {"Vantorel_Data\\level1.dat", "level one, version 2"},
            {"Vantorel_Data\\new\\deeper\\n.dat", "new in nested new folders"},
            {"fresh.dat", "new at the top"},
            {kChineseFile, "\xE4\xB8\xAD\xE6\x96\x87"}};
}

inline std::vector<std::string> DeletedPaths() {
    return {"Vantorel_Data\\old.dat", "obsolete", "never_there.dat"};
}

inline std::string Join(const std::string& folder, const std::string& rel) {
    return folder + "\\" + rel;
}

inline void PutFile(const std::string& folder, const std::string& rel, const std::string& content) {
    const std::string path = Join(folder, rel);
    fs_port::MakeDirectories(path.substr(0, path.find_last_of('\\')));
    WriteTextFile(fs_port::NativePath(path), content);
}

// Everything in the folder but the installer's own files.
inline void Snap(const std::string& folder, const std::string& rel, Tree* tree) {
    std::vector<fs_port::DirEntry> entries;
    fs_port::ListDirectory(rel.empty() ? folder : Join(folder, rel), &entries);
    for (const fs_port::DirEntry& entry : entries) {
        const std::string child = rel.empty() ? entry.name : rel + "\\" + entry.name;
        if (rel.empty() && (entry.name == "_temp" || entry.name == "_backup" ||
                            entry.name == "udo.temp" || entry.name == "udo.journal" ||
                            entry.name == "Log")) {
            continue;
        }
        if (entry.isDirectory) {
            (*tree)[child] = kFolderMark;
            Snap(folder, child, tree);
        } else {
            (*tree)[child] = ReadTextFile(fs_port::NativePath(Join(folder, child)));
        }
    }
}

inline Tree Snapshot(const std::string& folder) {
    Tree tree;
    Snap(folder, "", &tree);
    return tree;
}

// The tree of a version: its files and every folder above them.
inline Tree TreeOf(const Version& version) {
    Tree tree = version.files;
    auto addFolders = [&tree](const std::string& rel, bool self) {
        for (size_t i = 0; i < rel.size(); ++i) {
            if (rel[i] == '\\') tree[rel.substr(0, i)] = kFolderMark;
        }
        if (self) tree[rel] = kFolderMark;
    };
    for (const auto& file : version.files) addFolders(file.first, false);
    for (const std::string& folder : version.folders) addFolders(folder, true);
    return tree;
}

inline Tree OldTree() { return TreeOf(OldVersion()); }

inline Tree NewTree() {
    Version version = OldVersion();
    for (const Change& change : NewFiles()) version.files[change.rel] = change.content;
    for (const std::string& rel : DeletedPaths()) {
        for (auto it = version.files.begin(); it != version.files.end();) {
            const bool gone = it->first == rel || it->first.rfind(rel + "\\", 0) == 0;
            it = gone ? version.files.erase(it) : std::next(it);
        }
    }
    return TreeOf(version);
}

// Lays out the old version, the unpacked new files under "_temp\Root" and the
// hand-off file; returns the plan that the file holds.
inline HandOffPlan Lay(const std::string& folder, const std::vector<Change>& newFiles,
                       const std::vector<std::string>& deleted) {
    const Version old = OldVersion();
    for (const auto& file : old.files) PutFile(folder, file.first, file.second);
    for (const std::string& rel : old.folders) fs_port::MakeDirectories(Join(folder, rel));
    HandOffPlan plan;
    for (const Change& change : newFiles) {
        const std::string unpacked = "_temp\\Root\\" + change.rel;
        PutFile(folder, unpacked, change.content);
        plan.moves.push_back({Join(folder, unpacked), Join(folder, change.rel)});
    }
    for (const std::string& rel : deleted) plan.deletes.push_back(Join(folder, rel));
    // Written plainly: the many scenarios need not wait for the disk.
    std::string bytes;
    std::string error;
    if (!EncodeHandOff(plan, &bytes, &error)) ADD_FAILURE() << error;
    WriteTextFile(fs_port::NativePath(Join(folder, "udo.temp")), bytes);
    return plan;
}

inline HandOffPlan LayStandard(const std::string& folder) {
    return Lay(folder, NewFiles(), DeletedPaths());
}

}  // namespace install_test
