#include "update/install/install_journal.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr char kHeaderTag[] = "vantorel-install-journal 1";

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (true) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    return fields;
}

bool ParseRecord(std::string_view line, JournalRecord* recordOut) {
    const std::vector<std::string_view> fields = SplitFields(line);
    if (fields[0] == "M" && fields.size() == 5 && !fields[1].empty() && !fields[2].empty()) {
        recordOut->kind = JournalRecord::Kind::Move;
        recordOut->path = std::string(fields[1]);
        recordOut->target = std::string(fields[2]);
        recordOut->backup = std::string(fields[3]);
        recordOut->firstNewFolder = std::string(fields[4]);
        return true;
    }
    if (fields[0] == "D" && fields.size() == 3 && !fields[1].empty() && !fields[2].empty()) {
        recordOut->kind = JournalRecord::Kind::Delete;
        recordOut->path = std::string(fields[1]);
        recordOut->backup = std::string(fields[2]);
        return true;
    }
    return false;
}

bool ParseHeader(std::string_view line, JournalContent* contentOut) {
    const std::vector<std::string_view> fields = SplitFields(line);
    if (fields.size() != 2 || fields[0] != kHeaderTag) return false;
    contentOut->handOffDigest = std::string(fields[1]);
    return true;
}

}  // namespace

std::string HandOffDigest(std::string_view bytes) {
    // 64-bit FNV-1a and the length.
    uint64_t hash = 1469598103934665603ull;
    for (char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%016llx-%llu", static_cast<unsigned long long>(hash),
                  static_cast<unsigned long long>(bytes.size()));
    return text;
}

std::string FormatJournalHeader(const std::string& handOffDigest) {
    return std::string(kHeaderTag) + "\t" + handOffDigest + "\n";
}

std::string FormatJournalRecord(const JournalRecord& record) {
    if (record.kind == JournalRecord::Kind::Delete) {
        return "D\t" + record.path + "\t" + record.backup + "\n";
    }
    return "M\t" + record.path + "\t" + record.target + "\t" + record.backup + "\t" +
           record.firstNewFolder + "\n";
}

std::string FormatJournalCommit() { return "C\n"; }
std::string FormatJournalRollback() { return "R\n"; }

bool ParseJournal(std::string_view text, JournalContent* contentOut, std::string* errorOut) {
    *contentOut = JournalContent{};
    if (text.size() > kMaxJournalBytes) {
        *errorOut = "journal larger than " + std::to_string(kMaxJournalBytes) + " bytes";
        return false;
    }
    size_t start = 0;
    size_t lineNumber = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        if (end == std::string_view::npos) break;  // cut by the kill: never acted on
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (lineNumber == 1) {
            if (!ParseHeader(line, contentOut)) {
                *errorOut = "not an installer journal";
                return false;
            }
            continue;
        }
        if (contentOut->state != JournalState::Open) {
            *errorOut = "journal goes on after its end";
            return false;
        }
        if (line == "C" || line == "R") {
            contentOut->state = line == "C" ? JournalState::Committed : JournalState::RolledBack;
            continue;
        }
        JournalRecord record;
        if (!ParseRecord(line, &record)) {
            *errorOut = "malformed journal line " + std::to_string(lineNumber);
            return false;
        }
        contentOut->records.push_back(std::move(record));
    }
    if (lineNumber == 0) {
        // Nothing complete yet: only a header cut by the kill is ours.
        const std::string_view tag = kHeaderTag;
        const size_t n = std::min(text.size(), tag.size());
        if (text.substr(0, n) != tag.substr(0, n)) {
            *errorOut = "not an installer journal";
            return false;
        }
    }
    return true;
}
