// Process, file and shell utilities used throughout the launcher. They keep
// no state, never log, and report failure by their result only. Texts are
// UTF-8; paths are Windows paths with back-slashes.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// Folder of the running executable, without a trailing back-slash.
std::string GetLauncherFolder();
// Asks the shell to open a file (no parameters, no error dialogs). Does not wait.
bool RunProgram(const char* path);
// RunProgram on "<launcher folder>//<name>".
bool RunLauncherProgram(const char* name);
// Exact, case-sensitive match on the executable name (no path).
bool IsProcessRunning(const char* exeName);
// Ends the first process of that name in snapshot order; later ones stay.
void KillProcessByName(const char* exeName);
// Posts WM_CLOSE to every top-level window of another process with exactly
// this title. The launcher's own windows are never asked: their thread may
// be waiting for the caller, and asking for a title would wait for it.
void CloseWindowsTitled(const char* title);
// Deletes a folder tree, clearing attributes first; single failures are ignored.
void DeleteFolderTree(const std::string& path);
// Deletes the folder's content and the folder; true when the folder is gone.
// Once stop (may be null) is set, the removal ends at its next entry.
bool RemoveFolderTree(const std::string& path, const std::atomic<bool>* stop = nullptr);
// Creates every folder of a file path but the last part (the file name).
// True only when the whole path names an existing folder afterwards.
bool CreateFolderChain(const std::string& path);
bool PathExists(const char* path);

// Portable text helpers.
std::string GetFileNamePart(const std::string& path);
void SplitText(const std::string& text, const std::string& separator,
               std::vector<std::string>* piecesOut);
void SplitAtFirst(const std::string& text, const std::string& separator,
                  std::vector<std::string>* piecesOut);
// "a.b.c.d" -> a*1000 + b*100 + c*10 + d; missing parts count as 0.
int32_t VersionTextToNumber(const char* text);
std::string VersionNumberToText(int32_t number);
// Trims spaces, tabs, CR and LF at both ends.
std::string TrimText(const std::string& text);
