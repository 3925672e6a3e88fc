// The installer's journal: one line per step, written and forced to the disk
// before the step runs, so that a run that was killed can be undone or
// finished by the next one. UTF-8 text of our own, fields split by tabs
// (paths never hold a tab: the hand-off file cannot carry one).
//
//   vantorel-install-journal 1\t<hand-off digest>         header
//   M\t<unpacked>\t<installed place>\t<backup>\t<first new folder>
//   D\t<deleted path>\t<backup>
//   C                                                      committed
//   R                                                      rolled back
//
// Empty fields mean "none". A last line without its line end was cut by the
// kill and never acted on, so it is ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "update/install/hand_off.h"

// Four paths per move, twice the hand-off file's limit and some room.
constexpr size_t kMaxJournalBytes = 2 * kMaxHandOffBytes + 4096;

struct JournalRecord {
    enum class Kind { Move, Delete };
    Kind kind = Kind::Move;
    std::string path;            // Move: the unpacked file; Delete: the deleted path
    std::string target;          // Move: the installed place
    std::string backup;          // where the old file went aside; empty when none
    std::string firstNewFolder;  // Move: the highest folder level it creates; empty when none
};

enum class JournalState { Open, Committed, RolledBack };

struct JournalContent {
    std::string handOffDigest;
    std::vector<JournalRecord> records;
    JournalState state = JournalState::Open;
};

// A digest that tells one hand-off file's bytes from another's (not a
// security check: it only recognises the file that a journal belongs to).
std::string HandOffDigest(std::string_view bytes);

std::string FormatJournalHeader(const std::string& handOffDigest);
std::string FormatJournalRecord(const JournalRecord& record);
std::string FormatJournalCommit();
std::string FormatJournalRollback();

// False with the reason for a journal that is not ours or has a malformed
// complete line. An empty text, or one cut inside the header, reads as an
// open journal without records.
[[nodiscard]] bool ParseJournal(std::string_view text, JournalContent* contentOut,
                                std::string* errorOut);
