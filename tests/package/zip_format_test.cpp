// The ZIP records the writer builds, read back by the reader's parsers: ZIP64
// fields appear exactly when a value reaches its marker and carry it whole.
#include <gtest/gtest.h>

#include "package/zip_format.h"

TEST(ZipFormat, WritesZip64FieldsOnlyWhereAValueDoesNotFit) {
    const uint64_t kGiB = 1ULL << 30, kMax32 = 0xFFFFFFFE;
    const struct {
        uint64_t size, packed, offset;
        size_t centralExtra;  // bytes of the central ZIP64 block
    } members[] = {{100, 50, 0, 0},          {kMax32, kMax32, kMax32, 0}, {kMax32 + 1, 10, 0, 12},
                   {5 * kGiB, 5 * kGiB, 0, 20}, {10, 10, 6 * kGiB, 12},    {5 * kGiB, 3 * kGiB, 7 * kGiB, 20},
                   {5 * kGiB, 9 * kGiB / 2, 7 * kGiB, 28}};
    for (const auto& m : members) {
        zip::WriteEntry entry;
        entry.name = "Data/big.bin";
        entry.size = m.size, entry.packedSize = m.packed, entry.localHeaderOffset = m.offset;
        entry.zip64Local = m.size > kMax32;
        const std::string central = zip::BuildCentralHeader(entry);
        zip::ByteReader reader(reinterpret_cast<const unsigned char*>(central.data()), central.size());
        zip::CentralEntry parsed;
        ASSERT_TRUE(zip::ParseCentralEntry(&reader, &parsed, nullptr)) << m.size;
        EXPECT_EQ(std::make_tuple(parsed.size, parsed.packedSize, parsed.localHeaderOffset, parsed.extra.size()),
                  std::make_tuple(m.size, m.packed, m.offset, m.centralExtra));
        // The local header's ZIP64 block holds both sizes: 4 + 16 bytes.
        EXPECT_EQ(zip::BuildLocalHeader(entry).size(), 30 + entry.name.size() + (entry.zip64Local ? 20 : 0));
    }
    const struct {
        uint64_t count, directorySize, directoryOffset;
        bool zip64;
    } ends[] = {{3, 100, 1000, false},       {65534, 100, 1000, false}, {65535, 100, 1000, true},
                {70000, 5u << 20, 5 * kGiB, true}, {1, 46, kMax32 + 1, true}};
    for (const auto& e : ends) {
        const std::string end = zip::BuildArchiveEnd(e.count, e.directorySize, e.directoryOffset, "VT");
        const auto* bytes = reinterpret_cast<const unsigned char*>(end.data());
        const size_t at = e.zip64 ? zip::kZip64EndRecordBytes + zip::kZip64LocatorBytes : 0;
        zip::EndRecord record;
        uint64_t recordOffset = 0;
        ASSERT_TRUE(zip::ParseEndRecord(bytes + at, end.size() - at, &record, nullptr)) << e.count;
        EXPECT_EQ(record.needsZip64, e.zip64) << e.count;
        if (!e.zip64) continue;
        ASSERT_TRUE(zip::ParseZip64Locator(bytes + zip::kZip64EndRecordBytes, zip::kZip64LocatorBytes, &recordOffset));
        EXPECT_EQ(recordOffset, e.directoryOffset + e.directorySize);
        ASSERT_TRUE(zip::ParseZip64EndRecord(bytes, zip::kZip64EndRecordBytes, &record, nullptr));
        EXPECT_EQ(std::make_tuple(record.entryCount, record.directorySize, record.directoryOffset),
                  std::make_tuple(e.count, e.directorySize, e.directoryOffset));
    }
}
