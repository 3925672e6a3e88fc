#include "tools/patchkit/release_plan.h"

#include "app/util/launcher_util.h"
#include "package/bundle.h"
#include "platform/text_encoding.h"

namespace {

bool IsEdgeBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string WithForwardSlashes(std::string path) {
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

bool PackageIsFull(const ReleasePlan& plan, uint64_t filled, uint64_t size) {
    return plan.packages.size() <= plan.firstSharedPackage ||
           filled + size > kPackageBudgetBytes || plan.packages.back().members.size() >= kMaxMembersPerPackage;
}

void PackInOrder(std::vector<PackageEntry>* entries, ReleasePlan* plan) {
    uint64_t filled = 0;
    for (PackageEntry& entry : *entries) {
        if (PackageIsFull(*plan, filled, entry.size)) {
            plan->packages.emplace_back();
            filled = 0;
        }
        filled += entry.size;
        plan->packages.back().members.push_back(std::move(entry));
    }
}

}  // namespace

ReleasePlan PlanRelease(const TreeIndex& oldTree, const TreeIndex& newTree,
                        const std::set<std::string>& byDelta) {
    std::vector<PackageEntry> patched, changed;
    for (const auto& [relative, file] : newTree) {
        if (relative == kVersionFileName) continue;
        const auto old = oldTree.find(relative);
        if (old == oldTree.end() || old->second.md5 != file.md5) {
            (byDelta.count(relative) ? patched : changed).push_back({relative, file.size, file.md5});
        }
    }
    ReleasePlan plan;
    PackInOrder(&patched, &plan);
    plan.firstSharedPackage = plan.packages.size();
    PackInOrder(&changed, &plan);
    for (const auto& [relative, file] : oldTree) {
        (void)file;
        if (relative != kVersionFileName && newTree.count(relative) == 0) {
            plan.deletions.push_back(relative);
        }
    }
    return plan;
}

void AddVersionFile(uint64_t size, const std::string& md5, ReleasePlan* plan) {
    uint64_t filled = 0;
    if (plan->packages.size() > plan->firstSharedPackage) {
        for (const PackageEntry& member : plan->packages.back().members) filled += member.size;
    }
    if (PackageIsFull(*plan, filled, size)) plan->packages.emplace_back();
    plan->packages.back().members.push_back({kVersionFileName, size, md5});
    for (size_t i = 0; i < plan->packages.size(); ++i) {
        plan->packages[i].name = PackageName(i, plan->packages.size());
    }
}

std::string PackageName(size_t index, size_t count, const char* prefix) {
    const size_t width = std::to_string(count).size();
    std::string number = std::to_string(index + 1);
    if (number.size() < width) number.insert(0, width - number.size(), '0');
    return prefix + number + ".pak";
}

std::string MemberPath(const std::string& relative) {
    return std::string(kPackageRootFolder) + "\\" + relative;
}

std::string UpdateListText(const ReleasePlan& plan) {
    std::string text;
    for (const PackagePlan& package : plan.packages) {
        for (const PackageEntry& member : package.members) {
            text += package.name + "\t" + MemberPath(member.relative) + "\t" +
                    std::to_string(member.size) + "\t" + member.md5 + "\n";
        }
    }
    return text;
}

std::string DeleteListText(const ReleasePlan& plan) {
    std::string text;
    for (const std::string& path : plan.deletions) text += path + "\n";
    return text;
}

std::string VersionFileText(int32_t versionNumber, const TreeIndex& newTree) {
    std::string text = std::to_string(versionNumber);
    for (const auto& [relative, file] : newTree) {
        if (relative == kVersionFileName) continue;
        text += "\n" + relative + "\n" + file.md5;
    }
    return text;
}

namespace {

// The trimmed, non-empty lines of a version list.
std::vector<std::string> VersionListLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = TrimText(text.substr(start, end - start));
        start = end + 1;
        if (!line.empty()) lines.push_back(std::move(line));
    }
    return lines;
}

int32_t LineVersion(const std::string& line) {
    return VersionTextToNumber(TrimText(line.substr(0, line.find('\t'))).c_str());
}

}  // namespace

std::string UpdateVersionList(const std::string& current, const std::string& versionText,
                              bool mandatory) {
    const int32_t number = VersionTextToNumber(versionText.c_str());
    std::string text;
    for (const std::string& line : VersionListLines(current)) {
        if (LineVersion(line) != number) text += line + "\n";
    }
    return text + versionText + "\t" + (mandatory ? "1" : "0") + "\t0\n";
}

bool ListsVersion(const std::string& listText, int32_t number) {
    for (const std::string& line : VersionListLines(listText)) {
        if (line.find('\t') != std::string::npos && LineVersion(line) == number) return true;
    }
    return false;
}

std::string ReleaseNameProblem(const std::string& relative) {
    if (relative.empty()) return "empty name";
    for (char c : relative) {
        if (static_cast<unsigned char>(c) < 0x20) return "control character in the name";
    }
    if (IsEdgeBlank(relative.front()) || IsEdgeBlank(relative.back())) {
        return "blank at the start or end of the name";
    }
    std::string gbk;
    if (!Utf8ToGbk(relative, &gbk)) return "name cannot be written in GBK";
    if (!IsSafeMemberName(WithForwardSlashes(MemberPath(relative)))) {
        return "name not allowed in a package";
    }
    return "";
}
