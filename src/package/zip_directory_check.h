// Checks of a package's central directory that need no file access: what a
// member is, and whether two members would land on the same place. The
// reader runs them on every entry before any member is unpacked, so that a
// package made to hurt writes nothing at all.
#pragma once

#include <string>
#include <vector>

#include "package/bundle.h"
#include "package/zip_format.h"

namespace zip {

// Refuses a member that cannot be unpacked as a plain file or folder: an
// unsafe name, encryption, a compression method other than stored and
// deflated, a symbolic link.
[[nodiscard]] bool CheckEntryKind(const CentralEntry& entry, const std::string& name,
                                  std::string* errorOut);

// Refuses members that Windows would put in one place: names equal once
// separators and ASCII letter case are folded, or a file member whose name is
// a folder on the way to another member.
[[nodiscard]] bool CheckNameCollisions(const std::vector<BundleMember>& members,
                                       std::string* errorOut);

// True when a local header's name bytes and extra field name the central
// entry's member, compared as the reader compares names: decoded to UTF-8
// by the same rules, "\" and "/" the same.
bool LocalNameMatches(const CentralEntry& central, const std::string& centralName,
                      uint16_t localFlags, const std::string& localRawName,
                      const std::string& localExtra);

}  // namespace zip
