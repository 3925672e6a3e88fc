// The hand-off file "udo.temp" between the launcher and the installer
// program: the moves of unpacked files into their installed places and the
// files to delete. Inside the program the plan is UTF-8.
//
// File layout, every line ended by "\n":
//   <unpacked file>\t<installed place>     one per move, first
//   DEL=<path>                             one per deletion, after the moves
//
// The paths are the player's own (the game folder may be named in any
// script), so the file comes in two encodings. A plan whose every path has a
// GBK form is written in GBK, the form every installer program reads. Any
// other plan is written in UTF-8 after the marker line kHandOffUtf8Marker.
// That line has neither a tab nor "DEL=", so a GBK reader refuses such a
// file whole rather than acting on a misread path; a file without it is GBK.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A hand-off file above this size is refused rather than read.
constexpr size_t kMaxHandOffBytes = 64u << 20;
constexpr size_t kMaxHandOffLines = 1000000;
// The longest Windows path (32767 UTF-16 units) at three UTF-8 bytes each.
constexpr size_t kMaxHandOffPathBytes = 3 * 32767;

constexpr char kHandOffDeletePrefix[] = "DEL=";
constexpr char kHandOffUtf8Marker[] = "vantorel-hand-off utf-8";

struct HandOffMove {
    std::string from;  // the unpacked file in the work folder
    std::string to;    // its installed place
};

struct HandOffPlan {
    std::vector<HandOffMove> moves;
    std::vector<std::string> deletes;

    bool IsEmpty() const { return moves.empty() && deletes.empty(); }
};

// The file's text, UTF-8, exactly in the layout above.
std::string FormatHandOff(const HandOffPlan& plan);

// False (with the reason) for a plan that the layout cannot carry: an empty
// path, a path with a tab, CR or LF, a path over kMaxHandOffPathBytes, a move
// source that would read back as a deletion, or too many lines.
[[nodiscard]] bool CheckHandOffPlan(const HandOffPlan& plan, std::string* errorOut);

// Reads the UTF-8 text. Refused, with a reason naming the line: a text over
// kMaxHandOffBytes or kMaxHandOffLines, a last line without its line end (a
// cut file), a move line without exactly one tab or with an empty side, a
// "DEL=" line without a path, a move after the first deletion, a path over
// kMaxHandOffPathBytes. A CR before the line end is dropped; empty lines and
// a first line that is the marker are skipped. Nothing is checked about
// where the paths point (install_paths.h).
[[nodiscard]] bool ParseHandOff(std::string_view text, HandOffPlan* planOut,
                                std::string* errorOut);

// The file boundary: the file's bytes <-> plan. Encoding refuses a plan that
// CheckHandOffPlan refuses or whose text is not well-formed UTF-8; decoding
// reads a file that starts with the marker line as UTF-8 (refusing one that
// is not well-formed), any other as GBK.
[[nodiscard]] bool EncodeHandOff(const HandOffPlan& plan, std::string* bytesOut,
                                 std::string* errorOut);
[[nodiscard]] bool DecodeHandOff(std::string_view bytes, HandOffPlan* planOut,
                                 std::string* errorOut);

// Writes the file whole or not at all: into "<path>.part", flushed to disk,
// then renamed over path.
[[nodiscard]] bool WriteHandOffFile(const std::string& path, const HandOffPlan& plan,
                                    std::string* errorOut);
[[nodiscard]] bool ReadHandOffFile(const std::string& path, HandOffPlan* planOut,
                                   std::string* errorOut);

// The installer program's parameter text: a quoted 1, a tab and the quoted
// hand-off path.
std::string FormatInstallerParameters(const std::string& handOffPath);

// The hand-off path from the installer program's arguments (those after the
// program name): the last one that is not the marker "1", without the quotes
// and white space around it; also when the whole parameter text arrived as
// one argument. Empty when there is none.
std::string HandOffPathFromArguments(const std::vector<std::string>& arguments);
