// Shared helpers for the tests: temporary folders and small file helpers.
#pragma once

#include <functional>
#include <string>

// A fresh folder under the system's temporary folder, removed with its content
// when the object goes out of scope. Path uses the platform's separator.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // Path of a name inside the folder.
    std::string File(const std::string& name) const;

private:
    std::string m_path;
};

void WriteTextFile(const std::string& path, const std::string& content);
std::string ReadTextFile(const std::string& path);
// Removes a tree; the tests use it on their own folders only.
void RemoveTree(const std::string& path);
// Runs a shell command natively (POSIX build only); returns its exit status.
int RunShell(const std::string& command);

// Polls condition every 20 ms until it holds or timeoutMs has passed; whether it held.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000);
