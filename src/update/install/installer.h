// The installer: carries out a hand-off file all or nothing.
//
// Before each step a journal line (udo.journal in the launcher folder) says
// what the step is about to do, and reaches the disk first (lines are
// written in batches, each batch before its first step). Files that are
// replaced or deleted are renamed aside into "_backup" rather than removed,
// which also works for a program that is running (Windows lets a running
// executable be renamed, not overwritten). When a step fails, every step
// done so far is undone in reverse order: new files go back into the work
// folder, the old ones come back, new folders go. Only after the journal
// says "committed" are the old files removed.
//
// A run that finds a journal left by a killed run first settles it: an open
// journal is undone (each undo step looks at what exists, so undoing twice
// is harmless) and the hand-off file is then installed again from scratch,
// once; a committed journal only has its clean-up finished. The result is
// always the old version or the new one, never a mix.
//
// After success the hand-off file is removed (its files are gone from the
// work folder, so it is spent). After a rollback it stays, with every
// unpacked file back in the work folder, so that a later run can try again.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "journal/journal.h"
#include "update/install/hand_off.h"
#include "update/install/installer_file_ops.h"

// Names in the launcher folder that the installer owns or needs.
constexpr char kWorkFolderName[] = "_temp";
constexpr char kBackupFolderName[] = "_backup";
constexpr char kInstallJournalName[] = "udo.journal";
constexpr char kHandOffFileName[] = "udo.temp";
constexpr char kLauncherProgramName[] = "VantorelLauncher.exe";

enum class InstallOutcome {
    Installed,           // the new version is in place
    NothingToInstall,    // no hand-off file (and no unfinished run), or an empty one
    Refused,             // the hand-off file was unreadable or unsafe; nothing changed
    RolledBack,          // a step failed; everything was put back
    RollbackIncomplete,  // a step failed and so did putting back; the journal stays
    Stopped,             // a test wrapper stopped the run (a simulated kill)
};

const char* InstallOutcomeName(InstallOutcome outcome);

using InstallLog = std::function<void(EntryKind, const std::string&)>;

// The checks that need no disk: every source lies inside "<folder>\_temp",
// every installed place and deletion inside folder (install_paths.h rules);
// nothing is installed into or deletes the installer's own files ("_temp",
// "_backup", the journal, the hand-off file, "Log"); no deletion removes the
// launcher or the installer program; no two moves share a source or a
// place; no deletion is or holds an installed place. False with the reason.
[[nodiscard]] bool CheckInstallPlan(const std::string& folder, const HandOffPlan& plan,
                                    std::string* errorOut);

// Removes what a hand-off that will not be carried out leaves in the work
// folder "<folder>\_temp": the unpacked file of every move, and each folder
// below the work folder that held only such files. Downloads stay.
void DiscardUnpackedFiles(const std::string& folder, const HandOffPlan& plan);

// Steps whose journal records are written (and forced to the disk) together,
// before the first of them runs: one disk flush per batch, not per step.
constexpr size_t kStepsPerJournalWrite = 64;

// Settles a journal left by an earlier run, then installs handOffPath.
// folder is the launcher folder; all changes go through ops; every decision
// and failure is written to log.
[[nodiscard]] InstallOutcome RunInstaller(const std::string& folder, const std::string& handOffPath,
                                          InstallerFileOps* ops, const InstallLog& log,
                                          size_t stepsPerJournalWrite = kStepsPerJournalWrite);
