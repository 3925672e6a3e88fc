// The diagnostic package for customer support: the launcher's data files, the
// game's settings and output log, and every launcher log, packed into one
// package named after the local date and time.
//
// The naming and the choice of members are pure functions over a clock
// reading and a directory listing; BuildLogPackage ties them to the file
// system and the package library.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/local_time.h"

// The counter of the "_%d" names gives up here: a folder with that many
// packages of one second is not a folder a name can be found in.
constexpr int kMaxPackageNameCounter = 100000;
// At most this many log files go into one package.
constexpr size_t kMaxPackedLogFiles = 4096;
constexpr const char kLogPackageExtension[] = ".data";

// "Y-M-D-h-m-s" without leading zeros, e.g. "2013-5-7-9-3-41".
[[nodiscard]] std::string PackageBaseName(const LocalTime& time);

// The package's file name: the base name plus ".data", or, while a file of
// the base name exists, "Y-M-D-h-m-s_N" with N from 0 up, plus ".data". A
// name is taken only when neither the text nor the text with ".data" exists,
// so two packages of the same second never share a file. Empty when no free
// name is found within kMaxPackageNameCounter.
[[nodiscard]] std::string ChoosePackageName(const LocalTime& time,
                                            const std::function<bool(const std::string&)>& exists);

// True when the name's extension (from its last dot) is exactly ".log".
[[nodiscard]] bool IsPackedLogName(const std::string& name);

struct PackageMemberSource {
    std::string sourcePath;
    std::string memberName;
};

// The members in package order: the four fixed files that exist, then every
// entry of logEntries (the listing of <launcherFolder>\Log, in its order)
// that is not a folder and ends exactly in ".log".
[[nodiscard]] std::vector<PackageMemberSource> ChoosePackageMembers(
    const std::string& launcherFolder, const std::vector<fs_port::DirEntry>& logEntries,
    const std::function<bool(const std::string&)>& exists);

// Builds the package in outputFolder (empty: the process's current folder)
// from the files of launcherFolder at the given time. Returns the package's
// path, or empty when it could not be created. Reports nothing.
std::string BuildLogPackageAt(const std::string& outputFolder, const std::string& launcherFolder,
                              const LocalTime& time);

// The support button's package: in the current folder, at the current time.
void BuildLogPackage(const std::string& launcherFolder);
