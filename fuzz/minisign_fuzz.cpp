// A public key file and a signature file as a server or an operator might
// hand them over: parsed as a key, and checked as a signature against a fixed
// key, over a fixed content and over the bytes before a NUL in the input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "trust/minisign.h"

namespace {

// The key of fuzz/minisign_seed.pub; its secret half signs the seeds of
// fuzz/corpus/minisign (make_corpus.py) and nothing else.
const char kSeedPublicKey[] = "RWSgVqMHBniRc8FbyP3BbrhUsHZHObUfQOr9vUzh+BY5p74N7zydL7tD";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    MinisignPublicKey parsed;
    (void)ParseMinisignPublicKey(input, &parsed);
    static std::vector<MinisignPublicKey> keys = [] {
        MinisignPublicKey key;
        return ParseMinisignPublicKey(kSeedPublicKey, &key) ? std::vector<MinisignPublicKey>{key}
                                                            : std::vector<MinisignPublicKey>{};
    }();
    std::string comment;
    (void)CheckMinisignSignature("", input, keys, &comment);
    const size_t nul = input.find('\0');
    if (nul != std::string_view::npos) {
        (void)CheckMinisignSignature(input.substr(0, nul), input.substr(nul + 1), keys, &comment);
    }
    return 0;
}
