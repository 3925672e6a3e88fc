#include "external/zip_directory_check.h"

#include <unordered_map>

namespace zip {

namespace {

constexpr size_t kNoMember = static_cast<size_t>(-1);

bool Fail(std::string* errorOut, const std::string& text) {
    if (errorOut) *errorOut = text;
    return false;
}

// Windows compares file names without regard to case. Only ASCII letters
// are folded: the packages' other names are Chinese, which has no case.
std::string CollisionKey(const std::string& name) {
    std::string key = NormaliseSeparators(name);
    if (!key.empty() && key.back() == '/') key.pop_back();
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

// The places the members take, one node per path. A node is found from its
// parent's id and its own component, so each component is hashed once and
// a hostile name of thousands of components costs no more than its length.
class PathTree {
public:
    explicit PathTree(const std::vector<BundleMember>& members) : m_members(members) {}
    [[nodiscard]] bool Add(size_t index, std::string* errorOut);

private:
    struct Node {
        size_t id;
        size_t member;    // the member with exactly this path, or kNoMember
        size_t firstBelow;  // a member inside it, when it is a folder on the way
    };
    bool IsFile(size_t member) const {
        return member != kNoMember && !m_members[member].isDirectory;
    }
    bool Clash(size_t file, size_t other, std::string* errorOut) const {
        return Fail(errorOut, "member " + m_members[file].name + " is a file where member " +
                                  m_members[other].name + " needs a folder");
    }

    const std::vector<BundleMember>& m_members;
    std::unordered_map<std::string, Node> m_nodes;
};

bool PathTree::Add(size_t index, std::string* errorOut) {
    const std::string key = CollisionKey(m_members[index].name);
    size_t parent = 0;
    size_t start = 0;
    for (;;) {
        const size_t cut = key.find('/', start);
        const bool last = cut == std::string::npos;
        std::string nodeKey = std::to_string(parent);
        nodeKey.push_back('\0');
        nodeKey.append(key, start, last ? std::string::npos : cut - start);
        const Node fresh{m_nodes.size() + 1, kNoMember, kNoMember};
        Node& node = m_nodes.emplace(std::move(nodeKey), fresh).first->second;
        if (!last) {
            if (IsFile(node.member)) return Clash(node.member, index, errorOut);
            if (node.firstBelow == kNoMember) node.firstBelow = index;
            parent = node.id;
            start = cut + 1;
            continue;
        }
        if (node.member != kNoMember) {
            return Fail(errorOut, "members " + m_members[node.member].name + " and " +
                                      m_members[index].name + " name the same file");
        }
        if (IsFile(index) && node.firstBelow != kNoMember) {
            return Clash(index, node.firstBelow, errorOut);
        }
        node.member = index;
        return true;
    }
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
    PathTree tree(members);
    for (size_t i = 0; i < members.size(); ++i) {
        if (!tree.Add(i, errorOut)) return false;
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
