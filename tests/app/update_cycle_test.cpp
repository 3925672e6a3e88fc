#include "app/update_cycle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "journal/journal.h"
#include "maintenance/journal_lines.h"
#include "platform/text_format.h"
#include "support/test_support.h"
#include "update/report/status_texts.h"

namespace {

using namespace std::chrono_literals;

// Records what the cycle does to the window, in order.
class RecordingWindow : public UpdateCycleWindow {
public:
    bool gameRunning = false;
    bool verifies = true;
    // The places each verification finds damaged, in turn; none once empty.
    std::deque<std::vector<std::string>> damagedAt;
    int32_t installed = 1001;
    // While true, a started removal of the work files has not finished.
    std::atomic<bool> cleanupRunning{false};

    // While true, a verification runs until it is stopped (or for 3 s).
    std::atomic<bool> longVerification{false};
    std::atomic<bool> verifyingHeld{false};
    std::thread::id verifyThread;

    bool IsGameRunning() override { return gameRunning; }
    void ShowGameRunningBox(const std::string& text) override { Add("box " + text); }
    VerifyOutcome VerifyInstalledVersion(const std::atomic<bool>& stop, bool showProgress,
                                         std::vector<std::string>* damagedOut) override {
        // The buttons must be held off around every verification.
        Add(std::string(verifyingHeld ? "verify" : "verify with the buttons on") + (showProgress ? "" : " quietly"));
        verifyThread = std::this_thread::get_id();
        if (longVerification && WaitUntil([&] { return stop.load(); }, 3000)) return VerifyOutcome::Stopped;
        if (!verifies) return VerifyOutcome::Failed;
        if (damagedAt.empty()) return VerifyOutcome::Verified;
        *damagedOut = damagedAt.front();
        damagedAt.pop_front();
        return damagedOut->empty() ? VerifyOutcome::Verified : VerifyOutcome::Damaged;
    }
    void SetVerifying(bool verifying) override { verifyingHeld = verifying; }
    int32_t InstalledVersion() const override { return installed; }
    void ShowVersionLine(int32_t latest) override { Add("version " + std::to_string(latest)); }
    void SetUpdateButtonRole(UpdateButtonRole role) override {
        static const char* const kNames[] = {"role update", "role pause", "role continue", "role repair"};
        Add(kNames[static_cast<int>(role)]);
    }
    void ShowStatus(const std::string& text) override { Add("status " + text); }
    void EnableUpdateButton(bool enable) override { Add(enable ? "update on" : "update off"); }
    void EnableStartButton(bool enable) override { Add(enable ? "start on" : "start off"); }
    void StartTempCleanup() override { Add("cleanup"); }
    void WaitTempCleanup() override {
        while (cleanupRunning) std::this_thread::sleep_for(1ms);
    }

    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_events;
    }

private:
    void Add(const std::string& event) {
        std::lock_guard<std::mutex> hold(m_lock);
        m_events.push_back(event);
    }
    std::mutex m_lock;
    std::vector<std::string> m_events;
};

// Gives the queued outcomes in turn; -1 blocks until a stop is requested,
// -2 until the test releases it, -3 starts a mandatory step, then as -1.
class ScriptedEngine : public UpdateEngine {
public:
    std::deque<int> outcomes;
    std::atomic<bool> install{false};
    std::atomic<bool> stop{false};
    std::atomic<bool> release{false};
    std::atomic<int> runs{0};
    std::vector<bool> installAtRun;

    int32_t offered = 1002;
    KeptDownloadsSummary kept;

    int RunUpdate(const std::function<void()>& mandatoryStep) override {
        installAtRun.push_back(install);
        const int outcome = outcomes.empty() ? 0 : outcomes.front();
        if (!outcomes.empty()) outcomes.pop_front();
        if (outcome == -3) mandatoryStep();
        ++runs;
        if (outcome == -2) {
            // A step that does not look at the stop request until released.
            while (!release) std::this_thread::sleep_for(1ms);
            return 0;
        }
        if (outcome >= 0) return outcome;
        while (!stop) std::this_thread::sleep_for(1ms);
        return 0;
    }
    // Counts as a run, with the next queued outcome.
    int RunRepair(const std::vector<std::string>& damaged) override {
        repaired.push_back(damaged);
        return RunUpdate(nullptr);
    }
    std::vector<std::vector<std::string>> repaired;
    int64_t RepairDownloadBytes(const std::vector<std::string>&) override { return repairBytes; }
    int64_t repairBytes = -1;
    void SetInstall(bool value) override { install = value; }
    bool Install() const override { return install; }
    int32_t LatestVersion() const override { return 1003; }
    int32_t OfferedVersion() const override { return offered; }
    KeptDownloadsSummary KeptDownloads() const override { return kept; }
    void RequestStop() override {
        stop = true;
        ++stopRequests;
    }
    std::atomic<int> stopRequests{0};
    void ClearStop() override { stop = false; }
    const std::atomic<bool>& StopFlag() const override { return stop; }
    bool ResumeInterruptedInstall() override {
        ++resumeLooks;
        return interruptedInstall;
    }
    bool interruptedInstall = false;
    int resumeLooks = 0;
};

// How long the cycle waits for a worker it has asked to stop, in these tests.
constexpr std::chrono::milliseconds kTestStopWait = 300ms;

struct Harness {
    std::shared_ptr<RecordingWindow> window = std::make_shared<RecordingWindow>();
    std::shared_ptr<ScriptedEngine> engine = std::make_shared<ScriptedEngine>();
    JournalCapture log;
    CUpdateCycle cycle{window, engine, log.Journal(), kTestStopWait};
};

const std::string kAsking = std::string("status ") + cycle_text::kAskingState;
// The journal's entries of a check that starts a worker.
const std::string kCheckingLog = std::string("[Info] ") + cycle_text::kCheckingUpdate;
const std::string kAskingLog = std::string("[Info] ") + cycle_text::kAskingState;
// The figures of 1536 kept bytes of a 4096-byte step.
const std::string kCanContinue = StringPrintf(update_text::kCanContinueFormat, "1.5 KB", "4.0 KB");

TEST(UpdateCycle, EachOutcomeSetsButtonsAndTexts) {
    const struct {
        const char* why;
        int outcome;
        bool installBefore;
        std::vector<std::string> afterWorker;
        bool installAfter;
        KeptDownloadsSummary kept = {};  // the offered version is 1002
    } cases[] = {
        {"newer optional version", 2, false,
         {"update on", "start on", std::string("status ") + cycle_text::kNewVersion, "version 1003"},
         false},
        {"up to date", 3, true, {"update off", "start on", "version 1003"}, false},
        {"failed keeps the update button", 0, true, {"start on", "version 1003"}, false},
        {"unknown outcome counts as failed", 7, false, {"start on", "version 1003"}, false},
        {"downloads kept for the offered version", 2, false,
         {"role continue", "update on", "start on", std::string("status ") + kCanContinue, "version 1003"}, false,
         {true, 1002, 1536, 4096}},
        {"downloads kept for another version", 2, false,
         {"update on", "start on", std::string("status ") + cycle_text::kNewVersion, "version 1003"}, false,
         {true, 1003, 1536, 4096}},
    };
    for (const auto& c : cases) {
        Harness h;
        h.engine->outcomes = {c.outcome};
        h.engine->install = c.installBefore;
        h.engine->kept = c.kept;
        h.cycle.BeginUpdateCheck();
        ASSERT_TRUE(h.cycle.WaitForWorker(5s)) << c.why;
        std::vector<std::string> expected = {"verify", "version 1001", kAsking, "version 1003"};
        expected.insert(expected.end(), c.afterWorker.begin(), c.afterWorker.end());
        EXPECT_EQ(h.window->Events(), expected) << c.why;
        EXPECT_EQ(h.log.Entries(), (std::vector<std::string>{kCheckingLog, kAskingLog})) << c.why;
        EXPECT_EQ(h.engine->install.load(), c.installAfter) << c.why;
    }
}

TEST(UpdateCycle, NoCheckBesideARunningGameAndARunAfterAFailedVerification) {
    Harness running;
    running.window->gameRunning = true;
    running.cycle.BeginUpdateCheck();
    EXPECT_EQ(running.window->Events(),
              std::vector<std::string>{std::string("box ") + cycle_text::kGameRunningBox});
    running.cycle.OnUpdateButton();
    EXPECT_EQ(running.window->Events().size(), 2u) << "the update button only shows the box";
    EXPECT_FALSE(running.engine->install);
    EXPECT_TRUE(running.log.Entries().empty()) << "no check is logged beside a running game";

    // version.data missing or unreadable: the run that follows recovers it.
    Harness failing;
    failing.window->verifies = false;
    failing.cycle.BeginUpdateCheck();
    ASSERT_TRUE(failing.cycle.WaitForWorker(5s));
    EXPECT_EQ(failing.log.Entries(), (std::vector<std::string>{
                                         kCheckingLog, std::string("[Info] ") + cycle_text::kVerifyFailedLog,
                                         kAskingLog}));
    EXPECT_EQ(failing.engine->runs, 1);
}

// Damage stops the check before the server is asked: the repair (pressed, or
// unasked after "/repair") comes first, the check after it offers the update.
TEST(UpdateCycle, DamagedFilesAreRepairedBeforeTheUpdate) {
    const std::vector<std::string> places = {"Vantorel.exe", "data\\map.pak"};
    const std::vector<std::string> offer = {"status " + StringPrintf(cycle_text::kDamagedFilesFormat, 2),
                                            "role repair", "update on", "start on"};
    const std::vector<std::string> handedOver = {"verify quietly", "version 1001", "role update", "update off"};
    const struct {
        const char* why;
        bool atOnce;
        int repairOutcome;
        std::vector<std::string> afterCheck;  // then handedOver after a hand-over
        int64_t repairBytes = -1;             // what the server says the repair downloads
    } cases[] = {
        {"pressed and handed over", false, 1, {"start off", "update off"}},
        {"failed: the button repairs again", false, 0, {"start off", "update off", "update on", "start on"}},
        {"/repair needs no press", true, 1, {"start off", "role repair", "update off"}},
        {"the offer tells the download",
         false,
         1,
         {"status " + StringPrintf(update_text::kRepairFound, 2, "12.4 MB"), "start off", "update off"},
         13002342},
    };
    for (const auto& c : cases) {
        Harness h;
        // The check's, the one after a hand-over (if any), the next check's, a later one's.
        h.window->damagedAt = {places, {}, {}, places};
        if (c.repairOutcome != 1) h.window->damagedAt.erase(h.window->damagedAt.begin() + 1);
        h.engine->outcomes = {c.repairOutcome, 2};
        h.engine->repairBytes = c.repairBytes;
        if (c.atOnce) h.cycle.RepairAtOnce();
        h.cycle.BeginUpdateCheck();
        ASSERT_TRUE(h.cycle.WaitForWorker(5s)) << c.why;
        if (!c.atOnce) h.cycle.OnRepairButton();
        ASSERT_TRUE(h.cycle.WaitForWorker(5s)) << c.why;
        std::vector<std::string> expected = {"verify", "version 1001"};
        if (!c.atOnce) expected.insert(expected.end(), offer.begin(), offer.end());
        expected.insert(expected.end(), c.afterCheck.begin(), c.afterCheck.end());
        if (c.repairOutcome == 1) expected.insert(expected.end(), handedOver.begin(), handedOver.end());
        EXPECT_EQ(h.window->Events(), expected) << c.why;
        EXPECT_EQ(h.engine->repaired, std::vector<std::vector<std::string>>{places}) << c.why;
        EXPECT_EQ(h.engine->runs, 1) << c.why << ": no server asked over damaged files";
        EXPECT_EQ(h.engine->stopRequests, 0) << c.why << ": a stop asked of the ended check's worker";

        c.repairOutcome == 1 ? h.cycle.OnUpdateEnd(0, 1) : h.cycle.BeginUpdateCheck();
        ASSERT_TRUE(h.cycle.WaitForWorker(5s)) << c.why;
        std::vector<std::string> events = h.window->Events();
        EXPECT_EQ(events.end()[-2], std::string("status ") + cycle_text::kNewVersion) << c.why;
        EXPECT_EQ(std::count(events.begin(), events.end(), "role update"), 1) << c.why;
        h.engine->repairBytes = -1;
        h.cycle.BeginUpdateCheck();  // damage a later check finds is offered, not repaired unasked
        ASSERT_TRUE(h.cycle.WaitForWorker(5s)) << c.why;
        EXPECT_EQ(h.engine->repaired.size(), 1u) << c.why;
        EXPECT_EQ(h.window->Events().end()[-3], "role repair") << c.why;
    }
}

// The window's thread only starts the check: it shows and answers while the
// files are read, and a close or a new check stops the reading at once.
TEST(UpdateCycle, VerificationRunsOnTheWorkerAndStopsWhenAsked) {
    const struct {
        const char* why;
        std::function<bool(CUpdateCycle&)> stop;  // true when the first worker ended
        int runs;
    } cases[] = {
        {"the window closes", [](CUpdateCycle& c) { return c.StopWorker(1s); }, 0},
        {"an update-end notice starts another check",
         [](CUpdateCycle& c) {
             c.OnUpdateEnd(0, 1);
             return c.WaitForWorker(5s);
         },
         1},
    };
    for (const auto& c : cases) {
        Harness h;
        h.window->longVerification = true;
        const auto began = std::chrono::steady_clock::now();
        h.cycle.BeginUpdateCheck();
        EXPECT_LT(std::chrono::steady_clock::now() - began, 1s) << c.why << ": the window waited";
        ASSERT_TRUE(WaitUntil([&] { return !h.window->Events().empty(); }, 5000)) << c.why;
        EXPECT_NE(h.window->verifyThread, std::this_thread::get_id()) << c.why;
        h.window->longVerification = false;  // the next check's verification is quick
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_TRUE(c.stop(h.cycle)) << c.why;
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s) << c.why;
        EXPECT_EQ(h.engine->runs, c.runs) << c.why << ": a stopped verification asks no server";
        EXPECT_FALSE(h.window->verifyingHeld) << c.why << ": the buttons stay held off";
        const std::vector<std::string> events = h.window->Events();
        EXPECT_EQ(std::count(events.begin(), events.end(), "verify with the buttons on"), 0) << c.why;
    }
}

TEST(UpdateCycle, HandOverEndsTheWorkerAndTheNoticeStartsTheNextCheck) {
    Harness h;
    h.engine->outcomes = {2, 1, 3};
    h.cycle.BeginUpdateCheck();
    ASSERT_TRUE(h.cycle.WaitForWorker(5s));
    h.cycle.OnUpdateButton();
    ASSERT_TRUE(h.cycle.WaitForWorker(5s));
    EXPECT_TRUE(h.engine->install) << "kept until the update-end notice";
    EXPECT_EQ(h.engine->runs, 2) << "the hand-over must not start a worker by itself";

    std::vector<std::string> events = h.window->Events();
    const std::vector<std::string> afterButton(events.begin() + 8, events.end());
    const std::vector<std::string> expectedAfterButton = {
        "start off",    "update off", "role pause",     "update on",   kAsking,
        "version 1003", "role update", "update off", "verify quietly", "version 1001"};
    EXPECT_EQ(afterButton, expectedAfterButton);

    h.cycle.OnUpdateEnd(0, 2);
    h.cycle.OnUpdateEnd(1, 1);
    EXPECT_EQ(h.window->Events().size(), events.size()) << "other parameters are ignored";

    h.cycle.OnUpdateEnd(0, 1);
    ASSERT_TRUE(h.cycle.WaitForWorker(5s));
    events = h.window->Events();
    const std::vector<std::string> afterNotice(events.begin() + 18, events.end());
    const std::vector<std::string> expectedAfterNotice = {
        "cleanup", std::string("status ") + cycle_text::kUpdateInstalled, "verify", "version 1001",
        kAsking, "version 1003", "update off", "start on", "version 1003"};
    EXPECT_EQ(afterNotice, expectedAfterNotice);
    const std::vector<bool> installAtRun = {false, true, false};
    EXPECT_EQ(h.engine->installAtRun, installAtRun);
    // The check, the button's run, the verification after the hand-over, then the notice's check.
    const std::vector<std::string> entries = {
        kCheckingLog, kAskingLog, kAskingLog, kCheckingLog,
        std::string("[Notice] ") + cycle_text::kUpdateEndLog,
        std::string("[Info] ") + cycle_text::kUpdateFinishedLog, kCheckingLog, kAskingLog};
    EXPECT_EQ(h.log.Entries(), entries);
}

// A paused step's worker ends, the status line shows what the work folder
// keeps, and the update button continues: at once, without a verification.
TEST(UpdateCycle, PauseShowsWhatIsKeptAndContinueInstallsAtOnce) {
    const std::string paused = StringPrintf(update_text::kPausedFormat, "1.5 KB", "4.0 KB");
    const struct {
        const char* why;
        bool mandatory;  // the check's worker installs unasked; else the update button starts the step
        int64_t stepBytes;
        std::string status;
    } cases[] = {
        {"pressed update", false, 4096, paused},
        {"step of unknown size", false, -1, StringPrintf(cycle_text::kPausedKeptFormat, "1.5 KB")},
        {"mandatory version keeps the game from starting", true, 4096, paused},
    };
    for (const auto& c : cases) {
        Harness h;
        h.engine->outcomes = {c.mandatory ? -3 : -1, 0};
        h.engine->kept = {true, 1002, 1536, c.stepBytes};
        c.mandatory ? h.cycle.BeginUpdateCheck() : h.cycle.OnUpdateButton();
        ASSERT_TRUE(WaitUntil([&] { return h.engine->runs == 1; }, 5000)) << c.why;
        const size_t before = h.window->Events().size();
        h.cycle.OnPauseButton();  // the button is off at once: the step ran
        ASSERT_TRUE(h.cycle.WaitForWorker(5s)) << c.why;
        h.cycle.OnPauseButton();  // raced the step's end: changes nothing
        std::vector<std::string> events = h.window->Events();
        const std::vector<std::string> expected = {
            "update off", "version 1003", "status " + c.status, "role continue", "update on",
            c.mandatory ? "start off" : "start on", "version 1003"};
        EXPECT_EQ(std::vector<std::string>(events.begin() + static_cast<long>(before), events.end()), expected)
            << c.why;

        const auto pressed = std::chrono::steady_clock::now();
        h.cycle.OnUpdateButton();
        EXPECT_TRUE(WaitUntil([&] { return h.engine->runs == 2; }, 5000)) << c.why;
        EXPECT_LT(std::chrono::steady_clock::now() - pressed, 1s) << c.why;
        ASSERT_TRUE(h.cycle.WaitForWorker(5s)) << c.why;
        const auto verified = std::count(events.begin(), events.end(), "verify");
        events = h.window->Events();
        EXPECT_EQ(std::count(events.begin(), events.end(), "verify"), verified) << c.why;
        EXPECT_TRUE(h.engine->installAtRun.back()) << c.why;
    }
}

// A press during a check, or with no worker at all, stops nothing.
TEST(UpdateCycle, PauseWithoutAStepChangesNothing) {
    for (const bool checkRuns : {false, true}) {
        Harness h;
        h.engine->outcomes = {-1};
        if (checkRuns) h.cycle.BeginUpdateCheck();
        ASSERT_TRUE(WaitUntil([&] { return h.engine->runs == (checkRuns ? 1 : 0); }, 5000));
        const size_t before = h.window->Events().size();
        h.cycle.OnPauseButton();
        EXPECT_EQ(h.window->Events().size(), before) << checkRuns;
        EXPECT_FALSE(h.engine->stop) << checkRuns;
    }
}

TEST(UpdateCycle, CutOffInstallationGoesBackToTheInstallerOnceBeforeAnyCheck) {
    Harness h;
    h.engine->interruptedInstall = true;
    h.engine->outcomes = {3};
    h.cycle.BeginUpdateCheck();
    EXPECT_FALSE(h.cycle.WorkerRunning());
    const std::vector<std::string> resumed = {"start off", "update off",
                                              std::string("status ") + update_text::kInstallerStarted};
    EXPECT_EQ(h.window->Events(), resumed) << "nothing verified over a half-installed game";
    // The installer's notice: even if it could not settle the installation,
    // the launcher checks as usual instead of starting it again and again.
    h.cycle.OnUpdateEnd(0, 1);
    ASSERT_TRUE(h.cycle.WaitForWorker(5s));
    EXPECT_EQ(h.engine->resumeLooks, 1);
    EXPECT_EQ(h.engine->runs, 1);
    const std::vector<std::string> events = h.window->Events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "verify"), 1);
}

TEST(UpdateCycle, NextCheckWaitsUntilTheWorkFilesAreRemoved) {
    Harness h;
    h.engine->outcomes = {1};
    h.window->cleanupRunning = true;
    h.cycle.OnUpdateEnd(0, 1);
    // The check's worker exists, but the engine (which downloads into the
    // folder being removed) has not begun.
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(h.engine->runs, 0);
    h.window->cleanupRunning = false;
    ASSERT_TRUE(h.cycle.WaitForWorker(5s));
    EXPECT_EQ(h.engine->runs, 1);
}

TEST(UpdateCycle, StopAskedForWhileTheWorkerWaitsForTheCleanupHolds) {
    Harness h;
    h.engine->outcomes = {-1};  // would run until stopped
    h.window->cleanupRunning = true;
    h.cycle.OnUpdateEnd(0, 1);
    EXPECT_FALSE(h.cycle.StopWorker(50ms)) << "the worker is still waiting";
    h.window->cleanupRunning = false;
    ASSERT_TRUE(h.cycle.WaitForWorker(5s)) << "the run ignored the stop asked for before it began";
    EXPECT_EQ(h.engine->runs, 1);
}

TEST(UpdateCycle, BothButtonsComeBackWhenTheOldWorkerDoesNotStop) {
    const struct {
        const char* why;
        std::function<void(CUpdateCycle&)> act;  // waits for the old worker in vain
        std::vector<std::string> expected;
    } cases[] = {
        {"update button", [](CUpdateCycle& c) { c.OnUpdateButton(); },
         {"start off", "update off", "update on", "start on"}},
        {"update-end notice", [](CUpdateCycle& c) { c.OnUpdateEnd(0, 1); },
         {"cleanup", std::string("status ") + cycle_text::kUpdateInstalled, "update on", "start on"}},
    };
    for (const auto& c : cases) {
        Harness h;
        h.engine->outcomes = {-2};
        h.cycle.BeginUpdateCheck();
        ASSERT_TRUE(WaitUntil([&] { return h.engine->runs > 0; }, 5000)) << c.why;
        const size_t before = h.window->Events().size();
        c.act(h.cycle);
        const std::vector<std::string> events = h.window->Events();
        const std::vector<std::string> after(events.begin() + static_cast<long>(before), events.end());
        EXPECT_EQ(after, c.expected) << c.why << ": nothing installs, so the player keeps both choices";
        EXPECT_EQ(h.log.Entries().back(), "[Error] 更新线程未能按时结束") << c.why;
        EXPECT_FALSE(h.engine->install) << c.why;
        EXPECT_EQ(h.engine->runs, 1) << c.why << ": no second worker beside the first";
        h.engine->release = true;
        ASSERT_TRUE(h.cycle.WaitForWorker(5s)) << c.why;
    }
}

TEST(UpdateCycle, WorkerThatDoesNotStopKeepsWhatItUsesAfterTheWindowIsGone) {
    CJournal journal;
    auto window = std::make_shared<RecordingWindow>();
    auto engine = std::make_shared<ScriptedEngine>();
    engine->outcomes = {-2};  // stuck in a transfer that does not look at the stop request
    std::atomic<bool>& release = engine->release;
    const std::weak_ptr<RecordingWindow> windowSeen = window;
    const std::weak_ptr<ScriptedEngine> engineSeen = engine;
    {
        CUpdateCycle cycle(window, engine, journal, kTestStopWait);
        cycle.BeginUpdateCheck();
        ASSERT_TRUE(WaitUntil([&] { return engine->runs > 0; }, 5000));
        window.reset();
        engine.reset();
    }  // the window goes: the worker is left running
    EXPECT_FALSE(windowSeen.expired()) << "the worker still uses the window port";
    release = true;  // the worker goes on: outcome, buttons, version line (ASan watches)
    EXPECT_TRUE(WaitUntil([&] { return windowSeen.expired() && engineSeen.expired(); }, 5000))
        << "the worker's end frees what it held";
}

TEST(UpdateCycle, RunningWorkerIsStoppedNotKilled) {
    const struct {
        const char* why;
        bool viaNewCheck;
    } cases[] = {{"a new check stops the old worker first", true},
                 {"destruction stops the worker", false}};
    for (const auto& c : cases) {
        auto window = std::make_shared<RecordingWindow>();
        auto engine = std::make_shared<ScriptedEngine>();
        CJournal journal;
        engine->outcomes = {-1, 3};
        {
            CUpdateCycle cycle(window, engine, journal);
            cycle.BeginUpdateCheck();
            ASSERT_TRUE(WaitUntil([&] { return engine->runs > 0; }, 5000)) << c.why;
            EXPECT_TRUE(cycle.WorkerRunning()) << c.why;
            if (c.viaNewCheck) {
                cycle.BeginUpdateCheck();
                ASSERT_TRUE(cycle.WaitForWorker(5s)) << c.why;
                EXPECT_EQ(engine->runs, 2) << c.why;
            }
        }
        EXPECT_EQ(engine->stopRequests, 1) << c.why;
        const std::vector<std::string> events = window->Events();
        EXPECT_EQ(events.back(), "version 1003") << c.why << ": the stopped run still ends in order";
    }
}

}  // namespace
