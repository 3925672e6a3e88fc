// The installer's checks of a hand-off plan that need no disk.
#include <set>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "update/engine/update_lists.h"
#include "update/install/install_paths.h"
#include "update/install/installer.h"

namespace {

// A relative path as one comparable key: components in lower case, "\" between.
std::string PathKey(const std::vector<std::string>& components, size_t count) {
    std::string key;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) key += '\\';
        key += AsciiFolded(components[i]);
    }
    return key;
}

bool IsInstallerOwned(const std::vector<std::string>& components) {
    const std::string first = AsciiFolded(components.front());
    if (first == AsciiFolded(kWorkFolderName) || first == AsciiFolded(kBackupFolderName) || first == "log") {
        return true;
    }
    return components.size() == 1 &&
           (first == AsciiFolded(kInstallJournalName) || first == AsciiFolded(kHandOffFileName) ||
            first == AsciiFolded(kHandOffFileName) + ".part");
}

// The two programs, also under their native names without ".exe".
bool IsProgram(const std::vector<std::string>& components) {
    if (components.size() != 1) return false;
    const std::string name = AsciiFolded(components.front());
    for (std::string program : {AsciiFolded(kLauncherProgramName), AsciiFolded(kInstallerFileName)}) {
        if (name == program || name + ".exe" == program) return true;
    }
    return false;
}

bool Refuse(std::string* errorOut, const char* why, const std::string& path) {
    *errorOut = std::string(why) + ": " + fs_port::NativePath(path);
    return false;
}

}  // namespace

bool CheckInstallPlan(const std::string& folder, const HandOffPlan& plan, std::string* errorOut) {
    const std::string workFolder = folder + "\\" + kWorkFolderName;
    std::set<std::string> sources;
    std::set<std::string> targets;
    std::set<std::string> targetsAndFolders;  // every installed place and the folders above it
    for (const HandOffMove& move : plan.moves) {
        const std::string sourceRel = RelativePart(workFolder, move.from);
        if (sourceRel.empty()) {
            return Refuse(errorOut, "unpacked file outside the work folder", move.from);
        }
        const std::string targetRel = RelativePart(folder, move.to);
        if (targetRel.empty()) {
            return Refuse(errorOut, "installed place outside the launcher folder", move.to);
        }
        const std::vector<std::string> parts = SplitPathComponents(targetRel);
        if (IsInstallerOwned(parts)) {
            return Refuse(errorOut, "installed place among the installer's own files", move.to);
        }
        const std::vector<std::string> sourceParts = SplitPathComponents(sourceRel);
        if (!sources.insert(PathKey(sourceParts, sourceParts.size())).second) {
            return Refuse(errorOut, "unpacked file named twice", move.from);
        }
        if (!targets.insert(PathKey(parts, parts.size())).second) {
            return Refuse(errorOut, "installed place named twice", move.to);
        }
        for (size_t count = 1; count <= parts.size(); ++count) {
            targetsAndFolders.insert(PathKey(parts, count));
        }
    }
    for (const std::string& path : plan.deletes) {
        const std::string rel = RelativePart(folder, path);
        if (rel.empty()) return Refuse(errorOut, "deletion outside the launcher folder", path);
        const std::vector<std::string> parts = SplitPathComponents(rel);
        if (IsInstallerOwned(parts) || IsProgram(parts)) {
            return Refuse(errorOut, "deletion of a file the installer needs", path);
        }
        if (targetsAndFolders.count(PathKey(parts, parts.size())) != 0) {
            return Refuse(errorOut, "deletion of a file that the update installs", path);
        }
    }
    return true;
}
