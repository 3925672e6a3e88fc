// SHA-256 of a file as the release manifest records it, streamed in blocks
// so that a package of any size is hashed in bounded memory.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// 64 lower-case hex digits and the number of bytes read. False when the file
// cannot be opened or read to its end, or once *stop (may be null) is set,
// which is looked at between blocks.
[[nodiscard]] bool ComputeFileSha256(const std::string& path, std::string* hexOut,
                                     std::uint64_t* sizeOut, const std::atomic<bool>* stop = nullptr);
