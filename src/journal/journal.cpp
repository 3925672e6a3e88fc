#include "journal/journal.h"

#include <cstdarg>

#include "platform/local_time.h"
#include "platform/text_encoding.h"

namespace {

constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD";  // U+FFFD

// Kinds outside the three known ones are treated as errors: a caller that
// passes a stray value most likely wants to be heard.
int KindLevel(EntryKind kind) {
    const int level = static_cast<int>(kind);
    return level >= 0 && level <= 2 ? level : 2;
}

const char* KindLabel(EntryKind kind) {
    static constexpr const char* kLabels[] = {"Info", "Notice", "Error"};
    return kLabels[KindLevel(kind)];
}

bool ThresholdLets(Threshold threshold, EntryKind kind) {
    return KindLevel(kind) + static_cast<int64_t>(threshold) >= 2;
}

// One entry must stay one line: line breaks and the other control characters
// (which could also drive a terminal that shows the log) become spaces, tabs
// stay. Bytes that are not UTF-8 become U+FFFD so the file stays readable.
std::string CleanText(const char* text) {
    const std::string_view in(text ? text : "");
    std::string out;
    out.reserve(in.size());
    size_t pos = 0;
    while (pos < in.size()) {
        const size_t len = Utf8SequenceLength(in, pos);
        if (len == 0) {
            out += kReplacementCharacter;
            ++pos;
            continue;
        }
        const auto c = static_cast<unsigned char>(in[pos]);
        if (len == 1 && (c < 0x20 && c != '\t')) {
            out += ' ';
        } else {
            out.append(in, pos, len);
        }
        pos += len;
    }
    return out;
}

std::string FormatLine(const LocalTime& t, EntryKind kind, const std::string& text) {
    std::string line = StringPrintf("%04d-%02d-%02d %02d:%02d:%02d.%03d [%s] ", t.year, t.month,
                                    t.day, t.hour, t.minute, t.second, t.millisecond,
                                    KindLabel(kind));
    line += text;
    line += '\n';
    return line;
}

}  // namespace

CJournal::~CJournal() {
    std::lock_guard<std::mutex> lock(m_mutex);
    CloseLocked();
}

void CJournal::SetThreshold(Threshold threshold) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_threshold = threshold;
}

int CJournal::AttachFile(const char* path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    CloseLocked();
    if (path == nullptr || *path == '\0') return -1;
    // Appends only, in binary ("\n" stays "\n" on Windows), shared with a
    // second process (the launcher started with "/update") that logs into the
    // same file.
    if (!m_file.Open(path)) return -1;
    m_path = path;
    return 0;
}

int CJournal::AddEntry(EntryKind kind, const char* text) {
    const std::string clean = CleanText(text);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!ThresholdLets(m_threshold, kind)) return 0;
    if (!m_file.IsOpen()) return -1;
    // The time is taken under the lock, so the lines stand in time order.
    return m_file.Append(FormatLine(CurrentLocalTime(), kind, clean)) ? 0 : -1;
}

int CJournal::AddEntryF(EntryKind kind, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = StringPrintfV(format, args);
    va_end(args);
    return AddEntry(kind, text.c_str());
}

void CJournal::TrapFaults(bool /*enable*/) {}

void CJournal::Detach() {
    std::lock_guard<std::mutex> lock(m_mutex);
    CloseLocked();
}

std::string CJournal::AttachedPath() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_path;
}

void CJournal::CloseLocked() {
    m_file.Close();
    m_path.clear();
}

CJournal& TheJournal() {
    // Never destroyed: destructors of other static objects may still log at
    // exit. Nothing is lost by not closing the file, every entry is already
    // written when AddEntry returns.
    static CJournal* const journal = new CJournal();
    return *journal;
}
