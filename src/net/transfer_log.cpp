#include "net/transfer_log.h"

#include <cstring>

std::string QuoteServerText(const char* data, size_t size) {
    const char* lineEnd = static_cast<const char*>(std::memchr(data, '\n', size));
    size_t length = lineEnd == nullptr ? size : static_cast<size_t>(lineEnd - data);
    while (length > 0 && (data[length - 1] == '\r' || data[length - 1] == ' ')) --length;
    // Status lines and replies are ASCII; anything else a server sends is
    // shown as "?", so it can neither break the log's lines nor its UTF-8.
    std::string text(data, length < kMaxLoggedServerText ? length : kMaxLoggedServerText);
    for (char& c : text) {
        if (c < 0x20 || c > 0x7E) c = '?';
    }
    return "\"" + text + (length > kMaxLoggedServerText ? "...\"" : "\"");
}

std::string StallText(const StallWatch& watch) {
    const StallPolicy& policy = watch.Policy();
    return "no progress: " + std::to_string(watch.WindowBytes()) + " bytes in " +
           std::to_string(policy.window.count()) + " ms, under " +
           std::to_string(policy.minBytesPerSecond) + " bytes/s";
}

std::string ReceivedText(int64_t received, int64_t total) {
    if (total < 0) return "received " + std::to_string(received) + " bytes";
    return "received " + std::to_string(received) + " of " + std::to_string(total) + " bytes";
}

void LogTransfer(EntryKind kind, const std::string& what, const std::string& detail) {
    TheJournal().AddEntry(kind, (what + ": " + detail).c_str());
}
