// The deciphered update and delete lists of one version step, turned into a
// plan and checked as the list stage does. Each list ends at its first NUL
// (they are read as C strings), so one NUL splits the input into the two.
// The update list's text is also read as a patch list: what that accepts must
// hold what its readers rely on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/util/launcher_util.h"
#include "platform/text_encoding.h"
#include "update/engine/update_lists.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t nul = input.find('\0');
    std::string updateList;
    std::string deleteList;
    if (!GbkToUtf8(input.substr(0, nul), &updateList)) return 0;
    if (nul != std::string::npos && !GbkToUtf8(input.c_str() + nul + 1, &deleteList)) return 0;

    std::vector<DeltaMember> deltas;
    std::string refused;
    if (ParsePatchList(updateList, &deltas, &refused)) {
        for (const DeltaMember& delta : deltas) {
            if (delta.size < 0 || delta.sourceMd5.size() != 32 || delta.targetMd5.size() != 32) std::abort();
        }
    }

    std::vector<std::string> lines;
    SplitText(updateList, "\n", &lines);
    if (lines.empty() || lines.size() > kMaxListLines) return 0;
    UpdatePlan plan;
    SplitText(deleteList, "\n", &plan.deleteLines);
    BuildUpdatePlan(lines, &plan);
    std::string offending;
    (void)CheckPlanPaths(plan, &offending);
    return 0;
}
