#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/text_format.h"

TEST(StringPrintf, FormatsResultsOfEveryLengthWhole) {
    // Lengths around the sizes of typical fixed buffers.
    const size_t lengths[] = {0, 1, 255, 256, 259, 260, 511, 1023, 1024, 4095, 4096, 65536, 1 << 20};
    for (size_t length : lengths) {
        const std::string arg(length, 'x');
        const std::string out = StringPrintf("<%s|%d>", arg.c_str(), 7);
        ASSERT_EQ(out.size(), length + 4) << length;
        EXPECT_EQ(out, "<" + arg + "|7>") << length;
    }
}

TEST(StringPrintf, WideIntegerConversionsWorkOnBothSides) {
    // The Windows runtime's own printf lacks %zu and %lld.
    EXPECT_EQ(StringPrintf("%zu %lld %llu %ld %d%%", static_cast<size_t>(4000000000u),
                           static_cast<long long>(-9000000000LL),
                           static_cast<unsigned long long>(18000000000ULL), -5L, 3),
              "4000000000 -9000000000 18000000000 -5 3%");
    EXPECT_EQ(StringPrintf("%s", "中文"), "中文");
    EXPECT_EQ(StringPrintf("%s", ""), "");
}

TEST(ByteCount, ReadsAsPeopleWriteIt) {
    constexpr uint64_t kMiB = 1u << 20;
    const struct {
        uint64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0 B"},
        {1023, "1023 B"},
        {1024, "1.0 KB"},
        {315097088, "300.5 MB"},
        {1288490189, "1.2 GB"},
        {kMiB - 1, "1.0 MB"},  // not "1024.0 KB"
        {1073699881, "1.0 GB"},  // 1023.96 MB
        {~uint64_t{0}, "16.0 EB"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatByteCount(c.bytes), c.text) << c.bytes;
}
