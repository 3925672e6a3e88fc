// Starting the installer program, per platform. The parameter text is the
// installer's whole command tail; natively it arrives as one argument.
#pragma once

#include <string>

// Starts the program and returns at once. False with a platform code (never 0).
[[nodiscard]] bool StartProgramDetached(const std::string& path, const std::string& parameters,
                                        int* codeOut);
// Starts the program and waits until it has ended; exitOut gets its exit code.
[[nodiscard]] bool RunProgramAndWait(const std::string& path, const std::string& parameters,
                                     int* exitOut);
// Ends a copy of the installer program that an earlier update left running.
// Natively nothing: there the installer is always waited for by its starter.
void StopLeftoverInstallerProgram();
