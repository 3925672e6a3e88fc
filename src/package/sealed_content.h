// The enciphered file image of CFastFile:
//
//   offset  size  field
//        0     4  magic "VTF1"
//        4     1  format version (1)
//        5     3  reserved, zero
//        8     8  content length, little-endian
//       16     4  CRC-32 of the plain content, little-endian
//       20    12  nonce, fresh for every write
//       32     n  content under ChaCha20 (key K, the nonce, counter from 0)
//     32+n    32  HMAC-SHA256 under key M over bytes [0, 32+n)
//
// K = SHA-256 of the five key words as little-endian bytes;
// M = SHA-256 of K followed by the text "VTF1 tag".
// The tag makes any changed byte (header, nonce or body), a wrong key and a
// cut file detectable before anything is deciphered; the length and CRC are
// checked again after deciphering. This keeps casual edits out; it is not
// protection against anyone who has the program, which holds the key.
#pragma once

#include <cstddef>
#include <string>

#include "package/fast_file.h"

constexpr size_t kSealHeaderBytes = 32;
constexpr size_t kSealTagBytes = 32;
constexpr size_t kSealOverheadBytes = kSealHeaderBytes + kSealTagBytes;

// Builds the file image of a content.
[[nodiscard]] bool SealContent(const void* data, size_t size, const FileKey& key,
                               std::string* imageOut);
// Checks and deciphers a file image in place. On success the plain content
// occupies image[0, *sizeOut); on failure the image is left undefined.
[[nodiscard]] bool UnsealInPlace(unsigned char* image, size_t imageSize, const FileKey& key,
                                 size_t* sizeOut);
