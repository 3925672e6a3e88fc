#include "update/engine/update_lists.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <set>

#include "app/util/launcher_util.h"
#include "platform/text_encoding.h"
#include "platform/text_format.h"
#include "update/engine/version_list.h"
#include "update/install/install_paths.h"

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

// The leading decimal number of a size field (blanks and a sign before it
// allowed, 0 when there is none). False when it is negative or does not fit
// in 64 bits signed; digits are refused before they can overflow.
bool ReadLeadingSize(const std::string& text, int64_t* sizeOut) {
    size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    const size_t digits = at;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
    uint64_t value = 0;
    if (at > digits && !ReadDecimal(std::string_view(text).substr(digits, at - digits), INT64_MAX, &value)) {
        return false;
    }
    if (negative && value != 0) return false;
    *sizeOut = static_cast<int64_t>(value);
    return true;
}

// Only digits, and no more than 2^63 - 1.
bool ReadDecimalSize(const std::string& text, int64_t* sizeOut) {
    uint64_t value = 0;
    if (!ReadDecimal(text, INT64_MAX, &value)) return false;
    *sizeOut = static_cast<int64_t>(value);
    return true;
}

// Every piece between separators, empty ones included, nothing trimmed.
std::vector<std::string> SplitExactly(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    size_t begin = 0;
    for (size_t cut = text.find(separator); cut != std::string::npos; cut = text.find(separator, begin)) {
        pieces.push_back(text.substr(begin, cut - begin));
        begin = cut + 1;
    }
    pieces.push_back(text.substr(begin));
    return pieces;
}

bool ReadDeltaMember(const std::string& line, DeltaMember* memberOut) {
    const std::vector<std::string> fields = SplitExactly(line, '\t');
    if (fields.size() != 6) return false;
    for (const std::string& field : fields) {
        if (field.size() > kMaxPatchFieldBytes) return false;
    }
    *memberOut = DeltaMember{fields[0], fields[1], fields[2], 0, AsciiFolded(fields[4]), AsciiFolded(fields[5])};
    return IsPlainFileName(fields[0]) && IsSafeRelativePath(fields[1]) && IsSafeRelativePath(fields[2]) &&
           ReadDecimalSize(fields[3], &memberOut->size) && IsDigestText(fields[4]) && IsDigestText(fields[5]);
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
    }
    for (const PackageGroup& group : plan.packages) {
        for (const PackageMember& member : group.members) {
            const std::string place = InstalledRelativePath(member.strMember);
            // The installer program is put in place by the engine, not moved.
            const bool moved = !IsInstallerMember(member.strMember);
            // Packages and members share the work folder: a member unpacked
            // where a package is downloaded, or below a folder of that name,
            // would overwrite it or find a file in its way.
            const std::string top = member.strMember.substr(0, member.strMember.find_first_of("\\/"));
            if (!IsSafeRelativePath(member.strMember) || !IsSafeRelativePath(place) ||
                packages.count(SameFileKey(top)) != 0 || (moved && !places.insert(SameFileKey(place)).second)) {
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

std::string SameFileKey(const std::string& path) {
    std::string key = AsciiFolded(path);
    std::replace(key.begin(), key.end(), '/', '\\');
    return key;
}

bool IsDigestText(const std::string& text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) != 0;
           });
}

bool ParsePatchList(const std::string& text, std::vector<DeltaMember>* membersOut, std::string* offendingOut) {
    std::vector<std::string> lines = SplitExactly(text, '\n');
    membersOut->clear();
    if (lines.size() > kMaxListLines) {
        *offendingOut = std::to_string(lines.size()) + " lines";
        return false;
    }
    std::set<std::string> places;
    for (std::string& line : lines) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        DeltaMember member;
        if (!ReadDeltaMember(line, &member) || !places.insert(SameFileKey(member.place)).second) {
            *offendingOut = line;
            membersOut->clear();
            return false;
        }
        membersOut->push_back(std::move(member));
    }
    return true;
}

std::string FormatPatchList(const std::vector<DeltaMember>& members) {
    std::string text;
    for (const DeltaMember& m : members) {
        text += m.package + "\t" + m.member + "\t" + m.place + "\t" + std::to_string(m.size) + "\t" + m.sourceMd5 +
                "\t" + m.targetMd5 + "\n";
    }
    return text;
}
