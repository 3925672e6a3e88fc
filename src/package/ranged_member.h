// One member of a package fetched alone by byte range, as the state index
// (state.data) locates it: which bytes of the package to ask for, and how
// those bytes become the checked file. The span starts at the member's local
// header, so the header is read and held against the index before a byte is
// unpacked; the CRC-32, size, MD5 and SHA-256 are taken as the bytes are
// written, in one pass.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "package/bundle.h"
#include "update/engine/state_index.h"

// The bytes of a package that hold one member: [offset, offset + length).
struct MemberSpan {
    uint64_t offset = 0;
    uint64_t length = 0;
};

// The local header's ZIP64 block as our writer makes it: id, length and both
// sizes. The writer adds it exactly when the file has 2^32 - 1 bytes or more.
constexpr uint64_t kWrittenZip64ExtraBytes = 4 + 2 * 8;
// A data descriptor: signature, CRC-32 and both sizes, 32-bit or, after a
// header with any extra field (which may be a ZIP64 block), 64-bit.
constexpr uint64_t kDescriptorBytes = 16;
constexpr uint64_t kZip64DescriptorBytes = 24;

// The span of the member as our writer lays it out: the 30-byte local header,
// the name (entry.member's bytes: the writer stores names as given, in UTF-8
// with the UTF-8 flag when not ASCII; a GBK name of another tool is never
// longer), the writer's ZIP64 block only when entry.size needs it, then
// entry.packedSize bytes of data. The writer rewrites each header in place
// once the sizes are known, so it writes no data descriptor and none is
// counted. Packages of other tools may carry longer extra fields or a
// descriptor: ReadSpanHeader then tells the span's whole length from its
// first bytes, and the rest is a second fetch. False when the entry cannot
// be a member: no name, a name longer than ZIP allows, a method other than
// stored and deflated, stored with two sizes, or a span past 2^63 - 1.
[[nodiscard]] bool SpanOfMember(const StateEntry& entry, MemberSpan* spanOut);

enum class SpanRead {
    Ready,    // the header is whole and describes the entry
    Short,    // the bytes end within the header's name or extra field
    Refused,  // not a local header, or one of another member or kind
};

// What a member's local header says, read from the first bytes of its span.
struct SpanHeader {
    uint16_t flags = 0;
    uint32_t crc32 = 0;            // meaningless with a descriptor: its CRC-32 counts
    uint64_t dataOffset = 0;       // from the span's start: header, name and extra field
    uint64_t spanLength = 0;       // the whole span: data and any descriptor included
    bool hasDescriptor = false;
    bool zip64Descriptor = false;  // the descriptor's sizes take 8 bytes each
};

// Reads the local header at the start of head and holds it against entry:
// the signature, a version needed that the format defines, no encryption,
// the method, the name (raw bytes, or decoded from GBK or the Unicode path
// field, "\" and "/" the same) and, unless a descriptor follows the data, the
// sizes, from the ZIP64 block when the header marks them. Once head holds the
// first kLocalHeaderBytes, headerOut->spanLength is the length the span must
// have, also when the result is Short; below that it is kLocalHeaderBytes.
// The header, name and extra field take at most 30 + 2 * 65535 bytes.
[[nodiscard]] SpanRead ReadSpanHeader(const unsigned char* head, size_t size, const StateEntry& entry,
                                      SpanHeader* headerOut, std::string* reasonOut);

enum class SpanOutcome {
    Done,     // the file at outPath is the entry's, stamped
    Short,    // the span file ends before neededBytes: fetch the rest and call again
    Refused,  // the span does not hold the entry's member (index and package disagree)
    Damaged,  // the member's bytes are wrong: bad compressed data, CRC-32, size or digest
    Failed,   // the local disk: the span unreadable, the output not writable
    Stopped,  // *stop was set
};

struct SpanExtraction {
    SpanOutcome outcome = SpanOutcome::Failed;
    std::string reason;        // why, for the log; empty when Done
    uint64_t neededBytes = 0;  // Short: the length the span must have from its start
    ExtractedFile file;        // Done: the stamp of the file now at outPath
};

// Unpacks the member whose span (the package's bytes from entry.headerOffset
// on; more bytes after the span are ignored) is in spanPath into outPath,
// creating the folders above it. Stored members are copied, deflated ones
// inflated, from exactly entry.packedSize bytes; output beyond entry.size is
// refused at once, so a hostile span fills no disk. The file is written
// beside outPath and renamed over it only once its size, CRC-32 (the header's
// or the descriptor's), MD5 and SHA-256 are the entry's, all taken as the
// bytes pass; on any failure outPath is as it was and no side file remains.
// *stop (may be null) ends it at the next block; progress (may be empty) is
// told each block written. Memory stays within a few fixed buffers.
[[nodiscard]] bool ExtractSpanMember(const std::string& spanPath, const StateEntry& entry,
                                     const std::string& outPath, const std::atomic<bool>* stop,
                                     const std::function<void(uint64_t bytes)>& progress,
                                     SpanExtraction* resultOut);
