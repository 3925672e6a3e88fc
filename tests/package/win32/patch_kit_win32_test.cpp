// The 32-bit program's digest, as the verification computes it, over a sparse
// file of 4 GiB of zeros and "tail\n": a 32-bit offset or size on the way
// breaks it. (Natively, ./run bench big verifies a 6 GiB file.)
#include <gtest/gtest.h>

#include "package/patch_kit.h"
#include "platform/file_system.h"
#include "support/test_support.h"

TEST(PatchKit, DigestsAFileBeyond4GiB) {
    TempDir dir;
    std::FILE* f = fs_port::OpenFile(dir.File("big.bin"), "wb");
    ASSERT_TRUE(f != nullptr && fs_port::SeekFile(f, 1LL << 32, SEEK_SET) && std::fwrite("tail\n", 1, 5, f) == 5);
    std::fclose(f);
    std::string digest;
    ASSERT_TRUE(ComputeFileMd5(dir.File("big.bin"), &digest));
    EXPECT_EQ(digest, "2abdbc46b2e457a9fb7e0ae4ba7ca9dd");
    fs_port::RemoveFile(dir.File("big.bin"));
}
