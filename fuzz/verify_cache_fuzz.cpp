// verify.cache as the launcher reads it. The input is the cache without its
// check line; the line is added as the writer adds it, so that the fuzzer
// reaches the header and record parser behind the check.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "maintenance/verify_cache.h"
#include "package/patch_kit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    bytes += "end\t" + Md5OfBytes(bytes) + "\n";
    std::vector<VerifyCacheLine> lines;
    if (ParseVerifyCache(bytes, "C:\\Games\\Vantorel", &lines) != VerifyCacheRead::Usable) return 0;
    const VerifyCacheIndex index(lines);
    for (const VerifyCacheLine& line : lines) (void)index.Find(line.path, line.stamp);
    return 0;
}
