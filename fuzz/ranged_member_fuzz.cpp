// The bytes of a range fetch, held against a fixed state index entry and
// unpacked as the engine does: whatever they hold, no crash, and never more
// bytes written than the entry's size.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "package/patch_kit.h"
#include "package/ranged_member.h"
#include "platform/file_system.h"

namespace {

// The member the seeds hold (fuzz/make_corpus.py makes them the same way):
// this text, deflated at level 6 as raw deflate.
std::string MemberContent() {
    std::string content;
    for (int i = 0; i < 8; ++i) content += "the member that the index names\n";
    return content;
}

uint64_t DeflatedSize(const std::string& content) {
    z_stream zs{};
    deflateInit2(&zs, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, static_cast<uLong>(content.size())), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    zs.avail_in = static_cast<uInt>(content.size());
    zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    const uint64_t size = zs.total_out;
    deflateEnd(&zs);
    return size;
}

const StateEntry& Entry() {
    static const StateEntry entry = [] {
        const std::string content = MemberContent();
        StateEntry e;
        e.place = e.member = "Root/data/a.txt";
        e.size = content.size();
        e.md5 = DigestOfBytes(DigestAlgorithm::Md5, content);
        e.sha256 = DigestOfBytes(DigestAlgorithm::Sha256, content);
        e.sourceVersion = "1.0.0.1";
        e.package = "a.pak";
        e.packedSize = DeflatedSize(content);
        e.method = kStateMethodDeflated;
        return e;
    }();
    return entry;
}

// One scratch folder per process (below TMPDIR), made at the first input.
const std::string& ScratchFolder() {
    static const std::string folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "span-XXXXXX").string();
        const char* made = mkdtemp(pattern.data());
        return std::string(made ? made : std::filesystem::temp_directory_path().string());
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SpanHeader header;
    std::string reason;
    (void)ReadSpanHeader(data, size, Entry(), &header, &reason);

    const std::string spanPath = ScratchFolder() + "/span";
    std::FILE* file = std::fopen(spanPath.c_str(), "wb");
    if (!file) return 0;
    const bool written = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) return 0;
    const std::string out = ScratchFolder() + "/out/member";
    uint64_t told = 0;
    SpanExtraction result;
    (void)ExtractSpanMember(spanPath, Entry(), out, nullptr, [&](uint64_t n) { told += n; }, &result);
    const int64_t left = fs_port::FileSize(out);
    if (told > Entry().size || left > static_cast<int64_t>(Entry().size) ||
        (result.outcome != SpanOutcome::Done && left >= 0) || fs_port::PathExists(out + ".vtpart")) {
        std::abort();
    }
    (void)fs_port::RemoveFile(out);
    return 0;
}
