// Game trees for the tests that run patchkit on real folders: a tree is the
// files below a folder by their "/"-separated paths, with their contents.
#pragma once

#include <sys/wait.h>

#include <map>
#include <string>

#include "app/util/launcher_util.h"
#include "support/test_support.h"

using Tree = std::map<std::string, std::string>;  // path with "/" -> content

// patchkit of this build with args (shell words), its output dropped; its exit code.
inline int Patchkit(const std::string& args) {
    const int status = RunShell("'" VANTOREL_BINARY_DIR "/bin/patchkit' " + args + " >/dev/null");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline void WriteTree(const std::string& root, const Tree& tree) {
    for (const auto& file : tree) {
        const std::string path = root + "/" + file.first;
        (void)CreateFolderChain(path);
        WriteTextFile(path, file.second);
    }
}

// The paths that differ between two trees, one a line: extra, differs, missing.
inline std::string Difference(const Tree& got, const Tree& want) {
    std::string out;
    for (const auto& file : got) {
        auto other = want.find(file.first);
        if (other == want.end()) out += "extra " + file.first + "\n";
        else if (other->second != file.second) out += "differs " + file.first + "\n";
    }
    for (const auto& file : want) {
        if (!got.count(file.first)) out += "missing " + file.first + "\n";
    }
    return out;
}
