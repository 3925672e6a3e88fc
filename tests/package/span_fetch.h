// A member fetched alone, the way the engine does it: the entry the state
// index gives for it and the bytes of the package at its span.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "package/patch_kit.h"
#include "package/ranged_member.h"
#include "package/zip_format.h"
#include "package/zip_reader.h"
#include "support/test_support.h"

namespace spanfetch {

// The entry of member (spelt with "/" as the index may) read from the package's directory.
inline StateEntry EntryOf(const std::string& package, const std::string& member, const std::string& content) {
    zip::ZipReader reader;
    std::string error;
    size_t index = 0;
    if (!reader.Open(package, &error) || !reader.FindMember(member, &index, &error)) {
        ADD_FAILURE() << error;
        return StateEntry{};
    }
    const zip::CentralEntry& central = reader.Entry(index);
    return StateEntry{"", content.size(), DigestOfBytes(DigestAlgorithm::Md5, content),
                      DigestOfBytes(DigestAlgorithm::Sha256, content), "", "", zip::NormaliseSeparators(member),
                      central.localHeaderOffset, central.packedSize, central.method};
}

// What a range request answers: the bytes from offset on, cut at the file's end.
inline std::string BytesAt(const std::string& path, uint64_t offset, uint64_t length) {
    const std::string whole = ReadTextFile(path);
    return whole.substr(std::min<size_t>(offset, whole.size()), length);
}

}  // namespace spanfetch
