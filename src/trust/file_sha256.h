// SHA-256 as the release manifest and the version list's pin record it: of a
// file, streamed in blocks so that a package of any size is hashed in
// bounded memory, and of bytes in memory (a manifest).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

// 64 lower-case hex digits and the number of bytes read. False when the file
// cannot be opened or read to its end, or once *stop (may be null) is set,
// which is looked at between blocks.
[[nodiscard]] bool ComputeFileSha256(const std::string& path, std::string* hexOut,
                                     std::uint64_t* sizeOut, const std::atomic<bool>* stop = nullptr);
// 64 lower-case hex digits of data.
std::string Sha256Hex(std::string_view data);
