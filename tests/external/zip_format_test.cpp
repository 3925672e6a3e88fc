// The ZIP records the writer builds, read back by the reader's parsers.
#include <gtest/gtest.h>

#include <string>

#include "external/zip_format.h"

// The writer's records read back by the reader's parsers: ZIP64 fields and
// records appear exactly when a value reaches its 16- or 32-bit marker, and
// carry the whole 64-bit value.
TEST(ZipFormat, WritesZip64FieldsOnlyWhereAValueDoesNotFit) {
    const uint64_t kGiB = 1ULL << 30;
    const struct {
        uint64_t size, packed, offset;
        bool zip64Local;
        size_t centralExtra;  // bytes of the central ZIP64 block
    } members[] = {
        {100, 50, 0, false, 0},
        {0xFFFFFFFE, 0xFFFFFFFE, 0xFFFFFFFE, false, 0},
        {0xFFFFFFFF, 10, 0, true, 4 + 8},
        {5 * kGiB, 5 * kGiB, 0, true, 4 + 16},
        {10, 10, 6 * kGiB, false, 4 + 8},
        {5 * kGiB, 9 * kGiB / 2, 7 * kGiB, true, 4 + 24},
        {5 * kGiB, 3 * kGiB, 7 * kGiB, true, 4 + 16},
    };
    for (const auto& m : members) {
        zip::WriteEntry entry;
        entry.name = "Data/big.bin";
        entry.size = m.size, entry.packedSize = m.packed, entry.localHeaderOffset = m.offset;
        entry.zip64Local = m.zip64Local;
        const std::string central = zip::BuildCentralHeader(entry);
        zip::ByteReader reader(reinterpret_cast<const unsigned char*>(central.data()), central.size());
        zip::CentralEntry parsed;
        std::string error;
        ASSERT_TRUE(zip::ParseCentralEntry(&reader, &parsed, &error)) << m.size << ": " << error;
        EXPECT_EQ(parsed.size, m.size);
        EXPECT_EQ(parsed.packedSize, m.packed);
        EXPECT_EQ(parsed.localHeaderOffset, m.offset);
        EXPECT_EQ(parsed.extra.size(), m.centralExtra) << m.size;
        const std::string local = zip::BuildLocalHeader(entry);
        zip::LocalHeader header;
        ASSERT_TRUE(zip::ParseLocalHeader(reinterpret_cast<const unsigned char*>(local.data()), local.size(), &header));
        EXPECT_EQ(header.extraLength, m.zip64Local ? 20 : 0) << m.size;
    }
    const struct {
        uint64_t count, directorySize, directoryOffset;
        bool zip64Record;
    } ends[] = {
        {3, 100, 1000, false},
        {65534, 100, 1000, false},
        {65535, 100, 1000, true},
        {70000, 5u << 20, 5 * kGiB, true},
        {1, 46, 0xFFFFFFFF, true},
    };
    for (const auto& e : ends) {
        const std::string end = zip::BuildArchiveEnd(e.count, e.directorySize, e.directoryOffset, "VT");
        const auto* bytes = reinterpret_cast<const unsigned char*>(end.data());
        size_t at = 0;
        ASSERT_EQ(zip::FindEndRecord(bytes, end.size(), &at), zip::EndSearch::Found) << e.count;
        zip::EndRecord record;
        std::string error;
        ASSERT_TRUE(zip::ParseEndRecord(bytes + at, end.size() - at, &record, &error)) << error;
        EXPECT_EQ(record.needsZip64, e.zip64Record) << e.count;
        EXPECT_EQ(at, e.zip64Record ? zip::kZip64EndRecordBytes + zip::kZip64LocatorBytes : 0u) << e.count;
        if (!e.zip64Record) continue;
        uint64_t recordOffset = 0;
        ASSERT_TRUE(zip::ParseZip64Locator(bytes + zip::kZip64EndRecordBytes, zip::kZip64LocatorBytes, &recordOffset));
        EXPECT_EQ(recordOffset, e.directoryOffset + e.directorySize);
        ASSERT_TRUE(zip::ParseZip64EndRecord(bytes, zip::kZip64EndRecordBytes, &record, &error)) << error;
        EXPECT_EQ(record.entryCount, e.count);
        EXPECT_EQ(record.directorySize, e.directorySize);
        EXPECT_EQ(record.directoryOffset, e.directoryOffset);
    }
}
