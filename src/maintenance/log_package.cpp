#include "maintenance/log_package.h"

#include <memory>

#include "package/bundle.h"

namespace {

// The files of the launcher and the game that every package carries first,
// in this order. Their member names keep the forward slash.
const char* const kFixedMembers[] = {
    "config.data",
    "version.data",
    "Config/SystemSetting.data",
    "Vantorel_Data/output_log.txt",
};

std::string JoinFolder(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "\\" + name;
}

}  // namespace

std::string PackageBaseName(const LocalTime& time) {
    return std::to_string(time.year) + "-" + std::to_string(time.month) + "-" +
           std::to_string(time.day) + "-" + std::to_string(time.hour) + "-" +
           std::to_string(time.minute) + "-" + std::to_string(time.second);
}

std::string ChoosePackageName(const LocalTime& time,
                              const std::function<bool(const std::string&)>& exists) {
    const std::string base = PackageBaseName(time);
    // Looking only at the text without ".data" would hand a second package of
    // the same second the first one's name, and the first package would be
    // replaced; the name with the extension is therefore tested as well.
    auto taken = [&exists](const std::string& text) {
        return exists(text) || exists(text + kLogPackageExtension);
    };
    if (!taken(base)) return base + kLogPackageExtension;
    for (int counter = 0; counter < kMaxPackageNameCounter; ++counter) {
        const std::string text = base + "_" + std::to_string(counter);
        if (!taken(text)) return text + kLogPackageExtension;
    }
    return {};
}

bool IsPackedLogName(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot != std::string::npos && name.compare(dot, std::string::npos, ".log") == 0;
}

std::vector<PackageMemberSource> ChoosePackageMembers(
    const std::string& launcherFolder, const std::vector<fs_port::DirEntry>& logEntries,
    const std::function<bool(const std::string&)>& exists) {
    std::vector<PackageMemberSource> members;
    for (const char* name : kFixedMembers) {
        std::string source = launcherFolder + "/" + name;
        if (exists(source)) members.push_back({std::move(source), name});
    }
    const std::string logFolder = launcherFolder + "\\Log";
    size_t logFiles = 0;
    for (const fs_port::DirEntry& entry : logEntries) {
        if (entry.isDirectory || !IsPackedLogName(entry.name)) continue;
        if (++logFiles > kMaxPackedLogFiles) break;
        members.push_back({logFolder + "\\" + entry.name, "Log\\" + entry.name});
    }
    return members;
}

std::string BuildLogPackageAt(const std::string& outputFolder, const std::string& launcherFolder,
                              const LocalTime& time) {
    auto exists = [](const std::string& path) { return fs_port::PathExists(path); };
    const std::string name = ChoosePackageName(
        time, [&](const std::string& text) { return exists(JoinFolder(outputFolder, text)); });
    if (name.empty()) return {};
    const std::string path = JoinFolder(outputFolder, name);

    auto bundle = std::make_unique<CBundle>();
    if (!bundle->Create(path.c_str(), nullptr)) return {};
    std::vector<fs_port::DirEntry> logEntries;
    if (!fs_port::ListDirectory(launcherFolder + "\\Log", &logEntries)) logEntries.clear();
    for (const PackageMemberSource& member :
         ChoosePackageMembers(launcherFolder, logEntries, exists)) {
        // A member that cannot be read is left out; the others still go in.
        (void)bundle->AddFile(member.sourcePath.c_str(), member.memberName.c_str());
    }
    if (!bundle->Release()) return {};
    return path;
}

void BuildLogPackage(const std::string& launcherFolder) {
    (void)BuildLogPackageAt(std::string(), launcherFolder, CurrentLocalTime());
}
