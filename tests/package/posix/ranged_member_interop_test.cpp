// Members of Info-ZIP packages fetched alone: longer extra fields than our
// writer's, and data descriptors when zip writes to a pipe.
#include <gtest/gtest.h>

#include <string>

#include "package/span_fetch.h"
#include "package/test_data.h"
#include "platform/file_system.h"
#include "support/test_support.h"

TEST(RangedMemberInterop, InfoZipMembersTakeASecondFetch) {
    const char* const commands[] = {"zip -q -r ../a.zip Root", "zip -q -0 -r ../a.zip Root",
                                    "zip -q -r - Root | cat > ../a.zip"};  // descriptors
    const std::string content = testdata::Lines(100000);
    for (const char* command : commands) {
        SCOPED_TRACE(command);
        TempDir dir;
        ASSERT_TRUE(fs_port::MakeDirectories(dir.Path() + "/src/Root/data"));
        WriteTextFile(dir.Path() + "/src/Root/data/lines.txt", content);
        ASSERT_EQ(RunShell("cd '" + dir.Path() + "/src' && " + command), 0);
        const std::string package = dir.Path() + "/a.zip";
        const std::string spanPath = dir.Path() + "/span";
        const std::string out = dir.Path() + "/out";
        const StateEntry entry = spanfetch::EntryOf(package, "Root/data/lines.txt", content);
        MemberSpan span;
        ASSERT_TRUE(SpanOfMember(entry, &span));
        SpanExtraction result;
        WriteTextFile(spanPath, spanfetch::BytesAt(package, span.offset, span.length));
        EXPECT_FALSE(ExtractSpanMember(spanPath, entry, out, nullptr, {}, &result));
        ASSERT_EQ(result.outcome, SpanOutcome::Short) << result.reason;
        WriteTextFile(spanPath, spanfetch::BytesAt(package, span.offset, result.neededBytes));
        EXPECT_TRUE(ExtractSpanMember(spanPath, entry, out, nullptr, {}, &result)) << result.reason;
        EXPECT_EQ(ReadTextFile(out), content);
    }
}
