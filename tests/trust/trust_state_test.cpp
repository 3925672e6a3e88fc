#include <gtest/gtest.h>

#include <cstdint>

#include "platform/file_system.h"
#include "support/test_support.h"
#include "trust/trust_state.h"

namespace {

TEST(TrustState, ParsesOnlyOneWholeSerialLine) {
    const struct {
        const char* text;
        bool ok;
        std::uint64_t serial;
    } cases[] = {
        {"serial=5\n", true, 5},
        {"serial=5\r\n", true, 5},
        {"serial=1765186000", true, 1765186000},
        {"serial=18446744073709551615\n", true, UINT64_MAX},
        {"serial=18446744073709551616\n", false, 0},  // one past 64 bits must not wrap to 0
        {"serial=99999999999999999999\n", false, 0},
        {"serial=\n", false, 0},
        {"serial=-1\n", false, 0},
        {"serial=5\nserial=9\n", false, 0},
        {"serial=5 \n", false, 0},
        {"Serial=5\n", false, 0},
        {"", false, 0},
    };
    for (const auto& c : cases) {
        std::uint64_t serial = 0;
        EXPECT_EQ(ParseTrustState(c.text, &serial), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(serial, c.serial) << c.text;
        }
    }
}

TEST(TrustState, DamagedOrMissingFileReadsAsSerialZero) {
    TempDir dir;
    const std::string path = dir.File("trust.state");
    const struct {
        const char* name;
        const char* content;  // null: no file
        TrustStateRead read;
        std::uint64_t serial;
    } cases[] = {
        {"missing", nullptr, TrustStateRead::kMissing, 0},
        {"good", "serial=42\n", TrustStateRead::kOk, 42},
        {"garbage", "\x01\x02serial=42", TrustStateRead::kDamaged, 0},
        {"truncated", "seri", TrustStateRead::kDamaged, 0},
        {"oversized", "serial=1\n                                                                "
                      "                                                                          "
                      "                                                                          "
                      "                                                                          ",
         TrustStateRead::kDamaged, 0},
    };
    for (const auto& c : cases) {
        (void)fs_port::RemoveFile(path);
        if (c.content) WriteTextFile(path, c.content);
        std::uint64_t serial = 7;
        EXPECT_EQ(ReadTrustState(path, &serial), c.read) << c.name;
        EXPECT_EQ(serial, c.serial) << c.name;
    }
    // A write replaces the damaged file whole and leaves no side file.
    ASSERT_TRUE(WriteTrustState(path, 1765186001));
    EXPECT_EQ(ReadTextFile(path), "serial=1765186001\n");
    EXPECT_FALSE(WriteTrustState(dir.File("no/such/folder/trust.state"), 1));
}

}  // namespace
