// Enciphered data files (a list, config.data, version.data) under the
// launcher's key, in two modes chosen by the first input byte:
//
//   even: the rest is a file image, checked and deciphered as CFastFile::Read
//         does after reading the file;
//   odd:  the rest is a change and a content: the content is sealed as
//         CFastFile::Write does, the change is applied to the image, and the
//         image is unsealed again. An unchanged image must give back exactly
//         the content; a changed one must be refused.
//
// Random images almost never carry a valid tag, so the first mode stops at the
// tag; the second reaches the length, tag and key checks with images that
// differ from a good one in one chosen way.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "package/fast_file.h"
#include "package/sealed_content.h"

namespace {

enum class Change : uint8_t { None, Cut, Flip, LengthField, Resize, Key, kCount };

// The change's bytes ahead of the content: kind, a 16-bit place or amount,
// and a byte: the flip mask, the XOR of a key word, 4 GiB more in the length
// field when odd, or for a resize shorter when odd and else the added byte.
constexpr size_t kChangeBytes = 4;
constexpr size_t kLengthFieldOffset = 8;

struct Tampered {
    std::vector<unsigned char> image;
    FileKey key = LauncherFileKey();
    bool changed = false;
};

void PutLength(std::vector<unsigned char>* image, uint64_t length) {
    for (size_t i = 0; i < 8; ++i) {
        (*image)[kLengthFieldOffset + i] = static_cast<unsigned char>(length >> (8 * i));
    }
}

// Applies the change to a good image of contentSize content bytes.
Tampered ApplyChange(const std::string& sealed, size_t contentSize, const uint8_t* change) {
    Tampered out;
    out.image.assign(sealed.begin(), sealed.end());
    const size_t amount = change[1] | (change[2] << 8);
    const uint8_t extra = change[3];
    switch (static_cast<Change>(change[0] % static_cast<uint8_t>(Change::kCount))) {
        case Change::None:
        case Change::kCount:
            break;
        case Change::Cut:  // a file cut short by a failed download or a full disk
            out.changed = amount % (out.image.size() + 1) != out.image.size();
            out.image.resize(amount % (out.image.size() + 1));
            break;
        case Change::Flip:
            out.image[amount % out.image.size()] ^= extra;
            out.changed = extra != 0;
            break;
        case Change::LengthField:  // the header claims another length
            PutLength(&out.image, contentSize + amount + (extra & 1 ? 1ull << 32 : 0));
            out.changed = amount != 0 || (extra & 1);
            break;
        case Change::Resize:  // content added or taken away, the length field made to agree
            if (extra & 1) {
                out.image.resize(out.image.size() - amount % (contentSize + 1));
            } else {
                out.image.insert(out.image.end(), amount, extra);
            }
            PutLength(&out.image, out.image.size() - kSealOverheadBytes);
            out.changed = out.image.size() != sealed.size();
            break;
        case Change::Key:
            out.key[amount % out.key.size()] ^= extra;
            out.changed = extra != 0;
            break;
    }
    return out;
}

void UnsealRaw(const uint8_t* data, size_t size) {
    std::vector<unsigned char> image(data, data + size);
    size_t contentSize = 0;
    if (UnsealInPlace(image.data(), image.size(), LauncherFileKey(), &contentSize) &&
        contentSize > image.size())
        __builtin_trap();
}

void SealChangeUnseal(const uint8_t* data, size_t size) {
    if (size < kChangeBytes) return;
    const uint8_t* content = data + kChangeBytes;
    const size_t contentSize = size - kChangeBytes;
    std::string sealed;
    if (!SealContent(content, contentSize, LauncherFileKey(), &sealed)) __builtin_trap();
    Tampered tampered = ApplyChange(sealed, contentSize, data);
    size_t unsealedSize = 0;
    const bool opened = UnsealInPlace(tampered.image.data(), tampered.image.size(), tampered.key,
                                      &unsealedSize);
    if (opened == tampered.changed) __builtin_trap();
    const bool sameContent = unsealedSize == contentSize &&
        (contentSize == 0 || std::memcmp(tampered.image.data(), content, contentSize) == 0);
    if (opened && !sameContent) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    if (data[0] & 1) {
        SealChangeUnseal(data + 1, size - 1);
    } else {
        UnsealRaw(data + 1, size - 1);
    }
    return 0;
}
