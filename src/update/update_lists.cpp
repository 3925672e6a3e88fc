#include "update/update_lists.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <set>

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

// One spelling for names that Windows takes as the same file.
std::string SameFileKey(const std::string& path) {
    std::string key = AsciiFolded(path);
    std::replace(key.begin(), key.end(), '/', '\\');
    return key;
}

// The leading decimal number of a size field (blanks and a sign before it
// allowed, 0 when there is none). False when it is negative or does not fit
// in 64 bits signed; digits are refused before they can overflow.
bool ReadLeadingSize(const std::string& text, int64_t* sizeOut) {
    size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    int64_t value = 0;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        const int digit = text[at] - '0';
        if (value > (INT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    if (negative && value != 0) return false;
    *sizeOut = value;
    return true;
}

}  // namespace

void BuildUpdatePlan(const std::vector<std::string>& updateLines, UpdatePlan* planOut) {
    std::map<std::string, PackageGroup> byKey;
    std::set<std::vector<std::string>> seen;
    std::vector<std::string> fields;
    planOut->totalSize = 0;
    planOut->badSize.clear();
    planOut->selfUpdate = false;
    for (const std::string& line : updateLines) {
        SplitText(line, "\t", &fields);
        if (fields.size() < 4) continue;
        fields.resize(4);
        // A line listed twice names one member once; lines that differ and
        // name one place stay for CheckPlanPaths to refuse.
        if (!seen.insert(fields).second) continue;
        PackageMember member{fields[0], fields[1], 0, fields[3]};
        const bool sized = ReadLeadingSize(fields[2], &member.nSize);
        if ((!sized || member.nSize > INT64_MAX - planOut->totalSize) && planOut->badSize.empty()) {
            planOut->badSize = fields[2];
        }
        if (IsInstallerMember(member.strMember)) planOut->selfUpdate = true;
        if (planOut->badSize.empty()) planOut->totalSize += member.nSize;
        PackageGroup& group = byKey[SortKey(member.strPackage)];
        group.name = member.strPackage;
        group.members.push_back(std::move(member));
    }
    planOut->packages.clear();
    for (auto& entry : byKey) planOut->packages.push_back(std::move(entry.second));
}

bool IsInstallerMember(const std::string& memberPath) {
    return GetFileNamePart(memberPath) == kInstallerFileName;
}

std::string InstalledRelativePath(const std::string& memberPath) {
    const size_t slash = memberPath.find('\\');
    return slash == std::string::npos ? memberPath : memberPath.substr(slash + 1);
}

bool CheckPlanPaths(const UpdatePlan& plan, std::string* offendingOut) {
    // Two packages saved as one local file, or two members installed to one
    // place, would be refused by the installer after every download: refused
    // here instead, before anything is fetched.
    std::set<std::string> packages;
    std::set<std::string> places;
    for (const PackageGroup& group : plan.packages) {
        if (!IsPlainFileName(group.name) || !packages.insert(SameFileKey(group.name)).second) {
            *offendingOut = group.name;
            return false;
        }
        for (const PackageMember& member : group.members) {
            const std::string place = InstalledRelativePath(member.strMember);
            // The installer program is put in place by the engine, not moved.
            const bool moved = !IsInstallerMember(member.strMember);
            if (!IsSafeRelativePath(member.strMember) || !IsSafeRelativePath(place) ||
                (moved && !places.insert(SameFileKey(place)).second)) {
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
