#include <gtest/gtest.h>

#include <functional>

#include "install_scenario.h"
#include "update/install/install_journal.h"
#include "update/install/installer.h"

namespace {

using namespace install_test;

enum class Fault { None, Fail, FailAfter, StopBefore, StopAfter, TornWrite };

const char* FaultName(Fault fault) {
    switch (fault) {
        case Fault::Fail: return "fail";
        case Fault::FailAfter: return "fail after doing it";
        case Fault::StopBefore: return "kill before";
        case Fault::StopAfter: return "kill after";
        case Fault::TornWrite: return "kill inside";
        default: return "none";
    }
}

// The real operations, with one chosen step (counted over every change,
// journal writes included) failing or "killing" the run, and optionally a
// second step that fails as well; or every move of one file failing.
class FaultOps : public InstallerFileOps {
public:
    FaultOps(long at = -1, Fault fault = Fault::None, long alsoFailAt = -1)
        : m_at(at), m_fault(fault), m_alsoFailAt(alsoFailAt) {}

    long Count() const { return m_count; }
    std::string failMovesFrom;
    long killAt = -1;  // a later step at which the run is "killed"

    StepResult MovePath(const std::string& from, const std::string& to) override {
        if (!failMovesFrom.empty() && from == failMovesFrom) return StepResult::Failed;
        return Apply([&] { return m_real.MovePath(from, to); });
    }
    StepResult MakeFolder(const std::string& path) override {
        return Apply([&] { return m_real.MakeFolder(path); });
    }
    StepResult RemoveFile(const std::string& path) override {
        return Apply([&] { return m_real.RemoveFile(path); });
    }
    StepResult RemoveEmptyFolder(const std::string& path) override {
        return Apply([&] { return m_real.RemoveEmptyFolder(path); });
    }
    StepResult RemoveTree(const std::string& path) override {
        return Apply([&] { return m_real.RemoveTree(path); });
    }
    StepResult WriteDurably(const std::string& path, const std::string& text, bool append) override {
        return Apply([&] { return m_real.WriteDurably(path, text, append); },
                     [&] { (void)m_real.WriteDurably(path, text.substr(0, text.size() / 2), append); });
    }

private:
    StepResult Apply(const std::function<StepResult()>& real,
                     const std::function<void()>& torn = nullptr) {
        const long index = m_count++;
        if (index == m_alsoFailAt) return StepResult::Failed;
        if (index == killAt) return StepResult::Stop;
        if (index != m_at) return real();
        switch (m_fault) {
            case Fault::Fail: return StepResult::Failed;
            case Fault::FailAfter: (void)real(); return StepResult::Failed;
            case Fault::StopBefore: return StepResult::Stop;
            case Fault::StopAfter: (void)real(); return StepResult::Stop;
            case Fault::TornWrite: if (torn) torn(); return StepResult::Stop;
            case Fault::None: break;
        }
        return real();
    }

    SystemFileOps m_real{false};
    long m_at;
    Fault m_fault;
    long m_alsoFailAt;
    long m_count = 0;
};

struct LogLines {
    std::vector<std::pair<EntryKind, std::string>> lines;
    InstallLog Sink() {
        return [this](EntryKind kind, const std::string& text) { lines.emplace_back(kind, text); };
    }
    bool HasError(const std::string& part) const {
        for (const auto& line : lines) {
            if (line.first == EntryKind::Error && line.second.find(part) != std::string::npos) return true;
        }
        return false;
    }
    bool Has(const std::string& part) const {
        for (const auto& line : lines) {
            if (line.second.find(part) != std::string::npos) return true;
        }
        return false;
    }
};

// Three steps per journal write, so that the eight steps of the standard
// scenario span whole and partial batches (the program runs the default).
InstallOutcome RunIn(const std::string& folder, InstallerFileOps* ops, LogLines* log) {
    return RunInstaller(folder, Join(folder, "udo.temp"), ops, log->Sink(), 3);
}

bool Exists(const std::string& folder, const std::string& rel) {
    return fs_port::PathExists(Join(folder, rel));
}

bool SourcesBack(const HandOffPlan& plan) {
    for (const HandOffMove& move : plan.moves) {
        if (!fs_port::IsRegularFile(move.from)) return false;
    }
    return true;
}

// Steps of a clean run of the standard scenario.
long CleanRunSteps() {
    TempDir dir;
    LayStandard(dir.Path());
    FaultOps counter;
    LogLines log;
    EXPECT_EQ(RunIn(dir.Path(), &counter, &log), InstallOutcome::Installed);
    return counter.Count();
}

// A rerun with working operations always ends in the new version, cleaned
// up; when the new version was in place already there may be nothing to do.
void ExpectRerunInstalls(const std::string& folder, const std::string& label) {
    const bool wasInstalled = Snapshot(folder) == NewTree();
    FaultOps clean;
    LogLines log;
    const InstallOutcome outcome = RunIn(folder, &clean, &log);
    if (!(wasInstalled && outcome == InstallOutcome::NothingToInstall)) {
        EXPECT_EQ(outcome, InstallOutcome::Installed) << label << ": " << InstallOutcomeName(outcome);
    }
    EXPECT_EQ(Snapshot(folder), NewTree()) << label;
    EXPECT_FALSE(Exists(folder, "udo.journal")) << label;
    EXPECT_FALSE(Exists(folder, "_backup")) << label;
    EXPECT_FALSE(Exists(folder, "udo.temp")) << label;
}

TEST(Installer, InstallsTheNewVersionAndCleansUp) {
    TempDir dir;
    LayStandard(dir.Path());
    ASSERT_EQ(Snapshot(dir.Path()), OldTree());
    FaultOps ops;
    LogLines log;
    EXPECT_EQ(RunIn(dir.Path(), &ops, &log), InstallOutcome::Installed);
    EXPECT_EQ(Snapshot(dir.Path()), NewTree());
    EXPECT_FALSE(Exists(dir.Path(), "udo.journal"));
    EXPECT_FALSE(Exists(dir.Path(), "_backup"));
    EXPECT_FALSE(Exists(dir.Path(), "udo.temp"));
    EXPECT_TRUE(log.Has("already absent"));  // a deletion of a missing file is no failure
    EXPECT_FALSE(log.HasError(""));

    // Spent: a second start with nothing to do changes nothing.
    LogLines again;
    EXPECT_EQ(RunIn(dir.Path(), &ops, &again), InstallOutcome::NothingToInstall);
    EXPECT_EQ(Snapshot(dir.Path()), NewTree());
}

TEST(Installer, HandOffAndJournalCarryAFolderOfAnyScriptThroughAKill) {
    for (const char* name : {"게임", "Ñandú", "🎮 game"}) {
        TempDir dir;
        const std::string folder = Join(dir.Path(), name);
        LayStandard(folder);
        FaultOps killed(12, Fault::StopBefore);
        LogLines log;
        ASSERT_EQ(RunIn(folder, &killed, &log), InstallOutcome::Stopped) << name;
        ExpectRerunInstalls(folder, name);
    }
}

TEST(Installer, EndsAsTheOldOrTheNewVersionWhicheverStepFailsOrIsKilled) {
    const long steps = CleanRunSteps();
    ASSERT_GT(steps, 20);
    for (Fault fault : {Fault::Fail, Fault::FailAfter, Fault::StopBefore, Fault::StopAfter, Fault::TornWrite}) {
        for (long at = 0; at < steps; ++at) {
            const std::string label = std::string(FaultName(fault)) + " at step " + std::to_string(at);
            TempDir dir;
            const HandOffPlan plan = LayStandard(dir.Path());
            FaultOps ops(at, fault);
            LogLines log;
            const InstallOutcome outcome = RunIn(dir.Path(), &ops, &log);
            if (fault != Fault::Fail && fault != Fault::FailAfter) {
                EXPECT_EQ(outcome, InstallOutcome::Stopped) << label;
            } else if (outcome == InstallOutcome::RolledBack) {
                EXPECT_EQ(Snapshot(dir.Path()), OldTree()) << label;
                EXPECT_TRUE(SourcesBack(plan)) << label;
                EXPECT_TRUE(log.HasError("installation failed")) << label;
                EXPECT_FALSE(Exists(dir.Path(), "udo.journal")) << label;
            } else {
                // Only the clean-up after the commit may fail without a rollback.
                EXPECT_EQ(outcome, InstallOutcome::Installed) << label;
                EXPECT_EQ(Snapshot(dir.Path()), NewTree()) << label;
            }
            ExpectRerunInstalls(dir.Path(), label);
        }
    }
}

TEST(Installer, FinishesWhenTheRecoveryOfAKilledRunIsKilledToo) {
    const long steps = CleanRunSteps();
    // Under Wine every file call is slow; the native run covers every other step.
#if defined(_WIN32)
    const long stride = 5;
#else
    const long stride = 2;
#endif
    for (long first = 0; first < steps; first += stride) {
        for (long second = 0; second < 500; ++second) {
            const std::string label =
                "killed at " + std::to_string(first) + ", then at " + std::to_string(second);
            TempDir dir;
            LayStandard(dir.Path());
            FaultOps killFirst(first, Fault::StopAfter);
            LogLines log;
            ASSERT_EQ(RunIn(dir.Path(), &killFirst, &log), InstallOutcome::Stopped) << label;
            const bool wasInstalled = Snapshot(dir.Path()) == NewTree();
            FaultOps killSecond(second, Fault::StopBefore);
            const InstallOutcome outcome = RunIn(dir.Path(), &killSecond, &log);
            if (outcome != InstallOutcome::Stopped) {
                if (!(wasInstalled && outcome == InstallOutcome::NothingToInstall)) {
                    EXPECT_EQ(outcome, InstallOutcome::Installed) << label;
                }
                EXPECT_EQ(Snapshot(dir.Path()), NewTree()) << label;
                break;
            }
            ExpectRerunInstalls(dir.Path(), label);
        }
    }
}

TEST(Installer, AStepThatFailedAfterDoingItAndAKillDuringTheRollbackEndInOneVersion) {
    // A write or rename may take effect and still report failure (a flush or
    // close that fails); the rollback it starts may then be killed.
    const long steps = CleanRunSteps();
    for (long at = 0; at < steps; ++at) {
        for (long later = 1; later <= 6; ++later) {
            const std::string label =
                "failed after step " + std::to_string(at) + ", killed " + std::to_string(later) + " later";
            TempDir dir;
            LayStandard(dir.Path());
            FaultOps ops(at, Fault::FailAfter);
            ops.killAt = at + later;
            LogLines log;
            const InstallOutcome outcome = RunIn(dir.Path(), &ops, &log);
            if (outcome == InstallOutcome::RolledBack) {
                EXPECT_EQ(Snapshot(dir.Path()), OldTree()) << label;
            } else if (outcome == InstallOutcome::Installed) {
                EXPECT_EQ(Snapshot(dir.Path()), NewTree()) << label;
            }
            ExpectRerunInstalls(dir.Path(), label);
        }
    }
}

TEST(Installer, KeepsItsJournalWhenPuttingBackFailsAndSettlesOnTheNextRun) {
    const long steps = CleanRunSteps();
    for (long at = 3; at < steps; at += 3) {
        for (long undoAt = at + 1; undoAt < at + 12; ++undoAt) {
            const std::string label =
                "failed at " + std::to_string(at) + ", undo failed at " + std::to_string(undoAt);
            TempDir dir;
            LayStandard(dir.Path());
            FaultOps ops(at, Fault::Fail, undoAt);
            LogLines log;
            const InstallOutcome outcome = RunIn(dir.Path(), &ops, &log);
            if (outcome == InstallOutcome::RollbackIncomplete) {
                EXPECT_TRUE(Exists(dir.Path(), "udo.journal")) << label;
                EXPECT_TRUE(log.HasError("could not put everything back")) << label;
            } else if (outcome == InstallOutcome::RolledBack) {
                EXPECT_EQ(Snapshot(dir.Path()), OldTree()) << label;
            } else {
                EXPECT_EQ(outcome, InstallOutcome::Installed) << label;
            }
            ExpectRerunInstalls(dir.Path(), label);
        }
    }
}

struct RefusalCase {
    const char* name;
    std::function<void(const std::string& folder, HandOffPlan* plan, std::string* raw)> spoil;
    const char* reason;
};

TEST(Installer, RefusesUnsafeOrImpossiblePlansWithoutTouchingAnything) {
    const std::vector<RefusalCase> cases = {
        {"source outside the work folder",
         [](const std::string& f, HandOffPlan* p, std::string*) { p->moves[1].from = Join(f, "keep.txt"); },
         "outside the work folder"},
        {"place above the folder",
         [](const std::string& f, HandOffPlan* p, std::string*) { p->moves[1].to = f + "\\..\\escape.dat"; },
         "outside the launcher folder"},
        {"place in another folder",
         [](const std::string& f, HandOffPlan* p, std::string*) { p->moves[1].to = f + "x\\escape.dat"; },
         "outside the launcher folder"},
        {"UNC place",
         [](const std::string&, HandOffPlan* p, std::string*) { p->moves[1].to = "\\\\server\\share\\x.dat"; },
         "outside the launcher folder"},
        {"device name",
         [](const std::string& f, HandOffPlan* p, std::string*) { p->moves[1].to = Join(f, "Data\\nul.dat"); },
         "outside the launcher folder"},
        {"stream name",
         [](const std::string& f, HandOffPlan* p, std::string*) { p->moves[1].to = Join(f, "keep.txt:x"); },
         "outside the launcher folder"},
        {"place among the backups",
         [](const std::string& f, HandOffPlan* p, std::string*) { p->moves[1].to = Join(f, "_Backup\\1"); },
         "installer's own"},
        {"place over the journal",
         [](const std::string& f, HandOffPlan* p, std::string*) { p->moves[1].to = Join(f, "udo.journal"); },
         "installer's own"},
        {"place in the log folder",
         [](const std::string& f, HandOffPlan* p, std::string*) { p->moves[1].to = Join(f, "Log\\installer.log"); },
         "installer's own"},
        {"one place twice",
         [](const std::string& f, HandOffPlan* p, std::string*) { p->moves[1].to = Join(f, "FRESH.DAT"); },
         "named twice"},
        {"deletion outside",
         [](const std::string& f, HandOffPlan* p, std::string*) { p->deletes.push_back(f + "\\..\\x"); },
         "deletion outside"},
        {"deletion of the work folder",
         [](const std::string& f, HandOffPlan* p, std::string*) { p->deletes.push_back(Join(f, "_temp")); },
         "installer needs"},
        {"deletion of the launcher",
         [](const std::string& f, HandOffPlan* p, std::string*) {
             p->deletes.push_back(Join(f, "vantorellauncher.exe"));
         },
         "installer needs"},
        {"deletion of an installed file's folder",
         [](const std::string& f, HandOffPlan* p, std::string*) { p->deletes.push_back(Join(f, "vantorel_data")); },
         "update installs"},
        {"missing unpacked file",
         [](const std::string& f, HandOffPlan* p, std::string*) { p->moves[1].from = Join(f, "_temp\\Root\\gone"); },
         "unpacked file missing"},
        {"place that is a folder",
         [](const std::string& f, HandOffPlan* p, std::string*) { p->moves[1].to = Join(f, "Vantorel_Data\\empty"); },
         "is a folder"},
        {"cut file", [](const std::string&, HandOffPlan*, std::string* raw) { *raw = "a\tb\nDEL=x"; }, "cut"},
        {"not GBK", [](const std::string&, HandOffPlan*, std::string* raw) { *raw = "\x81\n"; }, "GBK"},
    };
    for (const RefusalCase& c : cases) {
        TempDir dir;
        HandOffPlan plan = LayStandard(dir.Path());
        std::string raw;
        c.spoil(dir.Path(), &plan, &raw);
        std::string bytes = raw;
        std::string error;
        if (raw.empty()) {
            ASSERT_TRUE(EncodeHandOff(plan, &bytes, &error)) << c.name << ": " << error;
        }
        WriteTextFile(fs_port::NativePath(Join(dir.Path(), "udo.temp")), bytes);
        FaultOps ops;
        LogLines log;
        EXPECT_EQ(RunIn(dir.Path(), &ops, &log), InstallOutcome::Refused) << c.name;
        EXPECT_TRUE(log.HasError(c.reason)) << c.name;
        EXPECT_EQ(Snapshot(dir.Path()), OldTree()) << c.name;
        EXPECT_EQ(ReadTextFile(fs_port::NativePath(Join(dir.Path(), "udo.temp"))), bytes) << c.name;
        EXPECT_EQ(ops.Count(), 0) << c.name;
    }
}

TEST(Installer, HandOffFileThatCannotBeReadIsAFailureNotNothingToDo) {
    TempDir dir;
    (void)LayStandard(dir.Path());
    const std::string handOff = fs_port::NativePath(Join(dir.Path(), "udo.temp"));
    ASSERT_TRUE(fs_port::RemoveFile(handOff));
    ASSERT_TRUE(fs_port::MakeDirectory(handOff));  // there, but no file to read
    const auto before = Snapshot(dir.Path());
    FaultOps ops;
    LogLines log;
    EXPECT_EQ(RunIn(dir.Path(), &ops, &log), InstallOutcome::Refused);
    EXPECT_TRUE(log.HasError("cannot read the hand-off file"));
    EXPECT_EQ(Snapshot(dir.Path()), before);
    EXPECT_EQ(ops.Count(), 0);
}

TEST(Installer, HandlesNamesLongerThanTheOldPathLimit) {
    TempDir dir;
    const std::string a(120, 'a');
    const std::string deep = a + "\\" + std::string(120, 'b') + "\\" + std::string(120, 'c') + ".dat";
    PutFile(dir.Path(), a + ".dat", "old long");
    const HandOffPlan plan = Lay(dir.Path(), {{deep, "deep"}, {a + ".dat", "new long"}}, {});
    ASSERT_GT(plan.moves[0].from.size(), 400u);
    const Tree before = Snapshot(dir.Path());
    ASSERT_EQ(before.at(a + ".dat"), "old long");

    FaultOps failing;
    failing.failMovesFrom = plan.moves[1].from;
    LogLines log;
    EXPECT_EQ(RunIn(dir.Path(), &failing, &log), InstallOutcome::RolledBack);
    EXPECT_EQ(Snapshot(dir.Path()), before);
    EXPECT_TRUE(SourcesBack(plan));

    FaultOps clean;
    EXPECT_EQ(RunIn(dir.Path(), &clean, &log), InstallOutcome::Installed);
    const Tree after = Snapshot(dir.Path());
    EXPECT_EQ(after.at(deep), "deep");
    EXPECT_EQ(after.at(a + ".dat"), "new long");
}

TEST(Installer, LeavesAnUnusableJournalAndTheInstallationAlone) {
    struct Case {
        const char* name;
        std::string journal;
        InstallOutcome outcome;
    };
    const std::string header = FormatJournalHeader("x");
    const Case cases[] = {
        {"foreign file", "garbage\n", InstallOutcome::RollbackIncomplete},
        {"malformed line", header + "M\tonly-two\n", InstallOutcome::RollbackIncomplete},
        {"path outside", header + "D\t/etc/passwd\t/tmp/b\n", InstallOutcome::RollbackIncomplete},
        {"lines after the end", header + "C\nC\n", InstallOutcome::RollbackIncomplete},
        {"header cut by a kill", header.substr(0, 10), InstallOutcome::Installed},
        {"already rolled back", header + "R\n", InstallOutcome::Installed},
    };
    for (const Case& c : cases) {
        TempDir dir;
        LayStandard(dir.Path());
        WriteTextFile(fs_port::NativePath(Join(dir.Path(), "udo.journal")), c.journal);
        FaultOps ops;
        LogLines log;
        EXPECT_EQ(RunIn(dir.Path(), &ops, &log), c.outcome) << c.name;
        if (c.outcome == InstallOutcome::Installed) {
            EXPECT_EQ(Snapshot(dir.Path()), NewTree()) << c.name;
        } else {
            EXPECT_EQ(Snapshot(dir.Path()), OldTree()) << c.name;
            EXPECT_TRUE(Exists(dir.Path(), "udo.journal")) << c.name;
            EXPECT_TRUE(log.HasError("nothing is touched")) << c.name;
        }
    }
}

TEST(Installer, ClearsOldFilesThatAnEarlierUpdateLeftInUse) {
    TempDir dir;
    LayStandard(dir.Path());
    PutFile(dir.Path(), "_backup\\3", "old launcher that was running");
    PutFile(dir.Path(), "_backup\\5\\tree\\x", "old folder");
    FaultOps ops;
    LogLines log;
    EXPECT_EQ(RunIn(dir.Path(), &ops, &log), InstallOutcome::Installed);
    EXPECT_EQ(Snapshot(dir.Path()), NewTree());
    EXPECT_FALSE(Exists(dir.Path(), "_backup"));
}

TEST(Installer, InstallsANewHandOffAfterTheCommittedRunOfAnEarlierOne) {
    // Killed after the commit, before its clean-up; then a new update arrives.
    // Its hand-off file may even be byte for byte the earlier one's: it names
    // only paths, and the next update changes the same files.
    for (const bool sameBytes : {false, true}) {
        TempDir dir;
        const HandOffPlan plan = LayStandard(dir.Path());
        const std::string handOff = fs_port::NativePath(Join(dir.Path(), "udo.temp"));
        JournalRecord moved;
        moved.path = plan.moves.front().from;
        moved.target = plan.moves.front().to;
        const std::string journal =
            FormatJournalHeader(sameBytes ? HandOffDigest(ReadTextFile(handOff)) : "earlier") +
            FormatJournalRecord(moved) + FormatJournalCommit();
        WriteTextFile(fs_port::NativePath(Join(dir.Path(), "udo.journal")), journal);
        FaultOps ops;
        LogLines log;
        EXPECT_EQ(RunIn(dir.Path(), &ops, &log), InstallOutcome::Installed) << sameBytes;
        EXPECT_EQ(Snapshot(dir.Path()), NewTree()) << sameBytes;
        EXPECT_FALSE(Exists(dir.Path(), "udo.journal")) << sameBytes;
        EXPECT_FALSE(Exists(dir.Path(), "udo.temp")) << sameBytes;
    }
}

}  // namespace
