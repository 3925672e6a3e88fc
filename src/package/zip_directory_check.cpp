#include "package/zip_directory_check.h"

#include <algorithm>
#include <utility>

namespace zip {

namespace {

// Stands for a separator in a place key: below every character that a safe
// member name may hold, so that a name is directly followed, in sorted order,
// by the names inside it.
constexpr char kFolderMark = '\x01';

bool Fail(std::string* errorOut, const std::string& text) {
    if (errorOut) *errorOut = text;
    return false;
}

// The place a member takes on Windows. Windows compares file names without
// regard to case; only ASCII letters are folded, the packages' other names
// being Chinese, which has no case.
std::string PlaceKey(const BundleMember& member) {
    std::string key = member.name;
    if (member.isDirectory) key.pop_back();
    for (char& c : key) {
        if (c == '/' || c == '\\') {
            c = kFolderMark;
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return key;
}

bool IsInside(const std::string& key, const std::string& folder) {
    return key.size() > folder.size() && key[folder.size()] == kFolderMark &&
           key.compare(0, folder.size(), folder) == 0;
}

}  // namespace

bool CheckEntryKind(const CentralEntry& entry, const std::string& name, std::string* errorOut) {
    if (!IsSafeMemberName(name)) return Fail(errorOut, "unsafe member name " + name);
    if ((entry.flags & kFlagEncrypted) != 0) {
        return Fail(errorOut, "member " + name + " is encrypted");
    }
    if (entry.method != kMethodStored && entry.method != kMethodDeflated) {
        return Fail(errorOut, "member " + name + " uses compression method " +
                                  std::to_string(entry.method) + ", which is not supported");
    }
    if (IsSymbolicLink(entry)) return Fail(errorOut, "member " + name + " is a symbolic link");
    return true;
}

bool CheckNameCollisions(const std::vector<BundleMember>& members, std::string* errorOut) {
    std::vector<std::pair<std::string, size_t>> places;
    places.reserve(members.size());
    for (size_t i = 0; i < members.size(); ++i) places.emplace_back(PlaceKey(members[i]), i);
    std::sort(places.begin(), places.end());
    for (size_t k = 1; k < places.size(); ++k) {
        const BundleMember& first = members[places[k - 1].second];
        const BundleMember& second = members[places[k].second];
        if (places[k].first == places[k - 1].first) {
            return Fail(errorOut, "members " + first.name + " and " + second.name +
                                      " name the same file");
        }
        if (!first.isDirectory && IsInside(places[k].first, places[k - 1].first)) {
            return Fail(errorOut, "member " + first.name + " is a file where member " +
                                      second.name + " needs a folder");
        }
    }
    return true;
}

bool LocalNameMatches(const CentralEntry& central, const std::string& centralName,
                      uint16_t localFlags, const std::string& localRawName,
                      const std::string& localExtra) {
    if (localRawName == central.rawName) return true;
    CentralEntry local = central;
    local.flags = localFlags;
    local.rawName = localRawName;
    local.extra = localExtra;
    return NormaliseSeparators(DecodeMemberName(local)) == NormaliseSeparators(centralName);
}

}  // namespace zip
