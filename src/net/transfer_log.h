// What the clients write to the journal when a transfer fails or takes a
// turn (a redirect, a body that ends at the server's close), so that an
// operator can tell one fault from another: which server and file, and what
// the server said or did.
#pragma once

#include <cstddef>
#include <string>

#include "journal/journal.h"
#include "net/transfer_control.h"

// Why a transfer failed when the local file refused the bytes.
constexpr char kLocalWriteFailed[] = "the local file could not be written (disk full?)";

// A server's text (status line, reply) is logged up to this length.
constexpr size_t kMaxLoggedServerText = 200;

// The first line of a server's text, quoted and cut to kMaxLoggedServerText.
[[nodiscard]] std::string QuoteServerText(const char* data, size_t size);
[[nodiscard]] inline std::string QuoteServerText(const std::string& text) {
    return QuoteServerText(text.data(), text.size());
}

// "no progress: 12 bytes in 30 s, under 1024 bytes/s"
[[nodiscard]] std::string StallText(const StallWatch& watch);

// "received 5 of 10 bytes", or "received 5 bytes" while the total is unknown (-1).
[[nodiscard]] std::string ReceivedText(int64_t received, int64_t total);

// One journal entry "<what>: <detail>".
void LogTransfer(EntryKind kind, const std::string& what, const std::string& detail);
