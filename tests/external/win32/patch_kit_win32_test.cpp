// The 32-bit Windows program's digest, as the verification computes it, over
// a file beyond 4 GiB: 32-bit offsets or sizes on the way would break it.
// (Natively, the big version step of ./run bench verifies a 6 GiB file.)
#include <gtest/gtest.h>

#include <string>

#include "external/patch_kit.h"
#include "external/test_data.h"
#include "platform/file_system.h"
#include "support/test_support.h"

using testdata::Under;

// 4 GiB of zeros, then "tail\n"; the file is sparse.
TEST(PatchKit, DigestsAFileBeyond4GiB) {
    TempDir dir;
    const std::string path = Under(dir, "big.bin");
    std::FILE* f = fs_port::OpenFile(path, "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(fs_port::SeekFile(f, 1LL << 32, SEEK_SET));
    ASSERT_EQ(std::fwrite("tail\n", 1, 5, f), 5u);
    std::fclose(f);
    std::string digest;
    ASSERT_TRUE(ComputeFileMd5(path, &digest));
    EXPECT_EQ(digest, "2abdbc46b2e457a9fb7e0ae4ba7ca9dd");
    fs_port::RemoveFile(path);
}

