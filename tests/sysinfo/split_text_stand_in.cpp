// Stand-in for the launcher utilities' SplitText while they are not in this
// tree: cut at every separator after the first character, trim each piece;
// no separator at all gives an empty list.
#include "app/util/launcher_util.h"

namespace {
std::string TrimBlanks(const std::string& text) {
    const char* blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}
}  // namespace

void SplitText(const std::string& text, const std::string& separator,
               std::vector<std::string>* piecesOut) {
    piecesOut->clear();
    if (separator.empty() || text.find(separator) == std::string::npos) return;
    size_t start = text.compare(0, separator.size(), separator) == 0 ? separator.size() : 0;
    size_t cut = text.find(separator, 1);
    while (cut != std::string::npos) {
        if (cut >= start) piecesOut->push_back(TrimBlanks(text.substr(start, cut - start)));
        start = cut + separator.size();
        cut = text.find(separator, start);
    }
    piecesOut->push_back(TrimBlanks(text.substr(start)));
}
