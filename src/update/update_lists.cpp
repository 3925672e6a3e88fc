#include "update/update_lists.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "app/util/launcher_util.h"
#include "platform/text_encoding.h"
#include "update/install_paths.h"
#include "update/version_list.h"

namespace {

// Packages are visited in the byte order of their names as the server's
// GBK lists spell them.
std::string SortKey(const std::string& utf8) {
    std::string gbk;
    return Utf8ToGbk(utf8, &gbk) ? gbk : utf8;
}

bool IsPlainFileName(const std::string& name) {
    return IsSafeRelativePath(name) && name.find_first_of("\\/") == std::string::npos;
}

}  // namespace

void BuildUpdatePlan(const std::vector<std::string>& updateLines, UpdatePlan* planOut) {
    std::map<std::string, PackageGroup> byKey;
    std::vector<std::string> fields;
    planOut->totalSize = 0;
    planOut->selfUpdate = false;
    for (const std::string& line : updateLines) {
        SplitText(line, "\t", &fields);
        if (fields.size() < 4) continue;
        PackageMember member{fields[0], fields[1], LeadingNumber(fields[2]), fields[3]};
        if (GetFileNamePart(member.strMember) == kInstallerFileName) planOut->selfUpdate = true;
        planOut->totalSize += member.nSize;
        PackageGroup& group = byKey[SortKey(member.strPackage)];
        group.name = member.strPackage;
        group.members.push_back(std::move(member));
    }
    planOut->packages.clear();
    for (auto& entry : byKey) planOut->packages.push_back(std::move(entry.second));
}

std::string InstalledRelativePath(const std::string& memberPath) {
    const size_t slash = memberPath.find('\\');
    return slash == std::string::npos ? memberPath : memberPath.substr(slash + 1);
}

bool CheckPlanPaths(const UpdatePlan& plan, std::string* offendingOut) {
    for (const PackageGroup& group : plan.packages) {
        if (!IsPlainFileName(group.name)) {
            *offendingOut = group.name;
            return false;
        }
        for (const PackageMember& member : group.members) {
            if (!IsSafeRelativePath(member.strMember) ||
                !IsSafeRelativePath(InstalledRelativePath(member.strMember))) {
                *offendingOut = member.strMember;
                return false;
            }
        }
    }
    for (const std::string& line : plan.deleteLines) {
        if (!line.empty() && !IsSafeRelativePath(line)) {
            *offendingOut = line;
            return false;
        }
    }
    return true;
}

bool IsDigestText(const std::string& text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) != 0;
           });
}
