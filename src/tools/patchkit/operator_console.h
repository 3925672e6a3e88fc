// What the signing verbs need from the operator's console and file system:
// a password typed without echo, and secret key files only the owner reads.
#pragma once

#include <string>

// The value of an environment variable as UTF-8; false when it is not set.
[[nodiscard]] bool ReadEnvironment(const char* name, std::string* valueOut);
// Asks on the terminal (not on standard input or output, which may be
// redirected) and reads one line without showing it. False with *whyOut set
// when there is no terminal or the line cannot be read.
[[nodiscard]] bool AskHiddenLine(const std::string& prompt, std::string* lineOut,
                                 std::string* whyOut);
// Lets only the file's owner read or write it. On Windows the folder's
// permissions already decide that, so this does nothing there.
[[nodiscard]] bool RestrictToOwner(const std::string& path);
