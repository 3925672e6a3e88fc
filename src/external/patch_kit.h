// File digests for verifying installed files.
#pragma once

#include <memory>
#include <string>

// MD5 of a file's content as 32 lower-case hex digits, streamed in blocks.
// False when the file cannot be read.
bool ComputeFileMd5(const std::string& path, std::string* hexOut);

class CPatchKit {
public:
    // The digest text, valid until the next call on this object; null when the
    // file cannot be read.
    const char* ComputeDigest(const char* path);

private:
    std::string m_lastDigest;
    std::unique_ptr<unsigned char[]> m_buffers;  // read blocks, kept for the next file
};
