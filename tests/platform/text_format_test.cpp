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
