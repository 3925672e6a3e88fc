// Rules for paths that come from the server's lists and from the hand-off
// file. They are plain text functions with the Windows rules, so the native
// tests check the same decisions that the Windows build makes. "\" and "/"
// are both separators.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// True when rel is a relative path that stays below the folder it is joined
// to, on Windows as on POSIX: not empty; no leading separator (absolute,
// UNC, "\\?\"); no ":" anywhere (drive letters, alternate data streams);
// no empty, "." or ".." component; no component that ends in a dot or a
// space (Windows strips those, so "a." and "a" would be one file); no
// control characters or any of < > " | ? *; no device name (CON, PRN, AUX,
// NUL, COM0-9, LPT0-9, CONIN$, CONOUT$) as a component, with or without an
// extension, in any letter case.
[[nodiscard]] bool IsSafeRelativePath(std::string_view rel);

// True when path lies strictly below folder: it starts with folder (compared
// byte for byte, separators "\" and "/" alike), then one separator, then a
// safe relative path. The folder itself is not inside itself. The folder may
// carry a drive letter; the rest may not.
[[nodiscard]] bool IsInsideFolder(std::string_view folder, std::string_view path);

// The part of path after folder and its separator; empty when path is not
// inside folder (IsInsideFolder false).
std::string RelativePart(std::string_view folder, std::string_view path);

// The components of a relative path, split at "\" and "/".
std::vector<std::string> SplitPathComponents(std::string_view rel);

// text with the ASCII letters in lower case: the letter case Windows file
// names ignore (for names from the lists, which are mostly ASCII).
std::string AsciiFolded(std::string_view text);

// True when one path is the other or lies below it, comparing components and
// ASCII letters without regard to case, as Windows file names compare.
[[nodiscard]] bool IsSameOrBelow(std::string_view ancestor, std::string_view path);

