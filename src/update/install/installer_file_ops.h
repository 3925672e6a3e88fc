// The file operations that change the installation, behind one small
// interface: the installer calls nothing else that writes. Tests put a
// wrapper around the real operations that fails or stops at a chosen step;
// the installer program's test hook stops the process there.
#pragma once

#include <cstddef>
#include <string>

enum class StepResult {
    Done,
    Failed,
    // Only from test wrappers: the process "dies" here. The installer returns
    // at once, without undoing or logging anything, as a killed process would.
    Stop,
};

class InstallerFileOps {
public:
    virtual ~InstallerFileOps() = default;

    // Renames a file or folder; never replaces an existing destination. A
    // file that cannot be renamed because the destination is on another
    // volume is copied (flushed to disk) and the source then removed.
    [[nodiscard]] virtual StepResult MovePath(const std::string& from, const std::string& to) = 0;
    // One folder level.
    [[nodiscard]] virtual StepResult MakeFolder(const std::string& path) = 0;
    [[nodiscard]] virtual StepResult RemoveFile(const std::string& path) = 0;
    [[nodiscard]] virtual StepResult RemoveEmptyFolder(const std::string& path) = 0;
    // A file or a whole folder tree, clearing read-only attributes; Failed
    // when anything of it is left.
    [[nodiscard]] virtual StepResult RemoveTree(const std::string& path) = 0;
    // Creates (append false) or extends the file with text and forces it to
    // the disk before returning.
    [[nodiscard]] virtual StepResult WriteDurably(const std::string& path, const std::string& text,
                                                  bool append) = 0;
};

// The real operations over the file port.
class SystemFileOps : public InstallerFileOps {
public:
    // durable false skips forcing data to the disk; only tests, which run the
    // installer hundreds of times over a scratch folder, turn that off.
    explicit SystemFileOps(bool durable = true) : m_durable(durable) {}

    StepResult MovePath(const std::string& from, const std::string& to) override;
    StepResult MakeFolder(const std::string& path) override;
    StepResult RemoveFile(const std::string& path) override;
    StepResult RemoveEmptyFolder(const std::string& path) override;
    StepResult RemoveTree(const std::string& path) override;
    StepResult WriteDurably(const std::string& path, const std::string& text, bool append) override;

private:
    bool m_durable;
};

// Reads a whole file of at most maxBytes. False when it cannot be opened or
// read, or (with *tooLargeOut set) when it is longer.
[[nodiscard]] bool ReadFileUpTo(const std::string& path, size_t maxBytes, std::string* bytesOut,
                                bool* tooLargeOut);
