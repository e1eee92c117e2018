// The journal of a scan: what each primitive did to a detection, the copies
// the quarantine keeps, and scan-only runs that change nothing.
#include "report/journaled_removal.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/string_table.h"
#include "common/text16.h"
#include "removal/reboot_flag.h"
#include "support/removal_recorder.h"

namespace {

// Keeps "copies" by path: the kind each path gets, every Keep and Discard in order.
class CTestQuarantine : public CQuarantine {
public:
    QuarantineOutcome Keep(std::u16string_view path, std::u16string_view family,
                           std::u16string_view action) override {
        QuarantineOutcome out;
        const auto found = kinds.find(std::u16string(path));
        out.kind = found != kinds.end() ? found->second : QuarantineOutcome::kKept;
        if (out.kind == QuarantineOutcome::kKept) {
            out.entry.id = u"q" + AsciiToUtf16(std::to_string(++next));
            out.entry.originalPath = std::u16string(path);
            out.entry.family = std::u16string(family);
            out.entry.action = std::u16string(action);
        }
        log.push_back(u"Keep(" + std::u16string(path) + u"|" + std::u16string(family) + u"|" +
                      std::u16string(action) + u")");
        return out;
    }
    void Discard(std::u16string_view id) override { log.push_back(u"Discard(" + std::u16string(id) + u")"); }

    std::map<std::u16string, QuarantineOutcome::Kind> kinds;  // default kKept
    std::vector<std::u16string> log;
    int next = 0;
};

// The recording system, whose deletions of paths in `deferred` are deferred
// (as a locked file's are).
class CDeferringSystem : public CRecordingSystem {
public:
    int RemoveFile(CScanController& c, const char16_t* path) override {
        const int result = CRecordingSystem::RemoveFile(c, path);
        if (result == 1 && deferred.count(path) != 0) SetRebootRequired();
        return result;
    }
    std::map<std::u16string, bool> deferred;
};

struct JournalFixture : ::testing::Test {
    JournalFixture() : journaled(inner, journal, &quarantine, session.controller.GetStatistics()) {
        DetectionRecord d;
        d.family = u"Worm/Test";
        d.variant = u"A";
        journal.Begin(d);
    }
    const std::vector<ActionRecord>& Actions() const { return journal.Detections().back().actions; }

    CTestSession session;
    CDeferringSystem inner;
    CDetectionJournal journal;
    CTestQuarantine quarantine;
    CJournaledRemovalSystem journaled;
};

TEST_F(JournalFixture, FileRemovalOutcomesAndTheirCopies) {
    inner.removeResults = {{u"C:\\gone.exe", 1}, {u"C:\\locked.exe", 1}, {u"C:\\none.exe", 2}, {u"C:\\bad.exe", 0},
                           {u"C:\\full.exe", 1}};
    inner.deferred[u"C:\\locked.exe"] = true;
    quarantine.kinds[u"C:\\none.exe"] = QuarantineOutcome::kAbsent;
    quarantine.kinds[u"C:\\full.exe"] = QuarantineOutcome::kMissing;
    const struct {
        const char16_t* path;
        int result;
        ActionOutcome outcome;
        bool copy, missing;
    } kCases[] = {
        {u"C:\\gone.exe", 1, ActionOutcome::Removed, true, false},
        {u"C:\\locked.exe", 1, ActionOutcome::Scheduled, true, false},
        {u"C:\\none.exe", 2, ActionOutcome::Unchanged, false, false},
        {u"C:\\bad.exe", 0, ActionOutcome::Failed, false, false},  // its copy is dropped again
        {u"C:\\full.exe", 1, ActionOutcome::Removed, false, true},  // removed without its copy
    };
    for (const auto& c : kCases) EXPECT_EQ(c.result, journaled.RemoveFile(session.controller, c.path));
    ASSERT_EQ(std::size(kCases), Actions().size());
    for (std::size_t i = 0; i < std::size(kCases); ++i) {
        SCOPED_TRACE(Utf16ToUtf8(kCases[i].path));
        const ActionRecord& a = Actions()[i];
        EXPECT_EQ(ActionKind::Delete, a.kind);
        EXPECT_EQ(kCases[i].path, a.target);
        EXPECT_EQ(kCases[i].outcome, a.outcome);
        EXPECT_EQ(kCases[i].copy, a.quarantine.has_value());
        EXPECT_EQ(kCases[i].missing, a.quarantineMissing);
        if (a.quarantine) {
            EXPECT_EQ(u"Worm/Test.A", a.quarantine->family);
        }
    }
    // Each copy is asked for before the file goes; the failed deletion's copy is dropped.
    EXPECT_EQ((std::vector<std::u16string>{u"Keep(C:\\gone.exe|Worm/Test.A|delete)",
                                           u"Keep(C:\\locked.exe|Worm/Test.A|delete)",
                                           u"Keep(C:\\none.exe|Worm/Test.A|delete)",
                                           u"Keep(C:\\bad.exe|Worm/Test.A|delete)", u"Discard(q3)",
                                           u"Keep(C:\\full.exe|Worm/Test.A|delete)"}),
              quarantine.log);
}

TEST_F(JournalFixture, RenamesKeepTheFileTheyWouldReplace) {
    inner.results = {{u"RenameFile(C:\\b.exe|C:\\new-b.exe)", 3}, {u"RenameFile(C:\\c.exe|C:\\new-c.exe)", 2}};
    quarantine.kinds[u"C:\\new-a.exe"] = QuarantineOutcome::kAbsent;
    journaled.RenameFile(session.controller, u"C:\\a.exe", u"C:\\new-a.exe");
    journaled.RenameFile(session.controller, u"C:\\b.exe", u"C:\\new-b.exe");
    journaled.RenameFile(session.controller, u"C:\\c.exe", u"C:\\new-c.exe");
    ASSERT_EQ(3u, Actions().size());
    EXPECT_EQ(ActionOutcome::Renamed, Actions()[0].outcome);
    EXPECT_FALSE(Actions()[0].quarantine.has_value());  // nothing was at the new name
    EXPECT_EQ(u"C:\\new-a.exe", Actions()[0].destination);
    EXPECT_EQ(ActionOutcome::Attempted, Actions()[1].outcome);  // handed to the shell
    EXPECT_EQ(ActionOutcome::Unchanged, Actions()[2].outcome);
    EXPECT_FALSE(Actions()[1].quarantine || Actions()[2].quarantine);
    EXPECT_EQ(u"Keep(C:\\new-b.exe|Worm/Test.A|rename-over)", quarantine.log[1]);
    EXPECT_EQ(u"Discard(q1)", quarantine.log[2]);
    EXPECT_EQ(u"Discard(q2)", quarantine.log.back());
}

TEST_F(JournalFixture, RepairsAreCopiedBeforeTheirCommit) {
    std::vector<uint8_t> bytes{1, 2, 3, 4};
    inner.file = &bytes;
    {
        std::unique_ptr<CRepairFile> file = journaled.OpenForRepair(u"D:\\app.exe");
        ASSERT_TRUE(file);
        const uint8_t zero = 0;
        EXPECT_EQ(1, file->WriteAt(1, &zero, 1));
        EXPECT_TRUE(quarantine.log.empty()) << "no copy before the repair is made the file's content";
        EXPECT_TRUE(file->Commit());
    }
    {
        std::unique_ptr<CRepairFile> file = journaled.OpenForRepair(u"D:\\half.exe");
        const uint8_t zero = 0;
        file->WriteAt(0, &zero, 1);  // and never committed
    }
    {
        std::unique_ptr<CRepairFile> file = journaled.OpenForRepair(u"D:\\clean.exe");
        EXPECT_TRUE(file->Commit());  // nothing written: nothing done
    }
    inner.file = nullptr;
    EXPECT_EQ(nullptr, journaled.OpenForRepair(u"D:\\locked.exe"));
    ASSERT_EQ(3u, Actions().size());
    EXPECT_EQ(ActionOutcome::Repaired, Actions()[0].outcome);
    ASSERT_TRUE(Actions()[0].quarantine.has_value());
    EXPECT_EQ(u"repair", Actions()[0].quarantine->action);
    EXPECT_EQ(u"D:\\half.exe", Actions()[1].target);
    EXPECT_EQ(ActionOutcome::Failed, Actions()[1].outcome);
    EXPECT_EQ(u"D:\\locked.exe", Actions()[2].target);
    EXPECT_EQ(ActionOutcome::Failed, Actions()[2].outcome);
    EXPECT_EQ(std::vector<std::u16string>{u"Keep(D:\\app.exe|Worm/Test.A|repair)"}, quarantine.log);
}

TEST_F(JournalFixture, ProcessesHostsAndIniFiles) {
    inner.terminateResults = {{7, 0}};
    inner.results = {{u"RemoveFromHostsFile(bad.example)", 7}, {u"CleanIniFile(x.exe|2)", 2}};
    EXPECT_EQ(1, journaled.TerminateProcessById(session.controller, 5));
    EXPECT_EQ(0, journaled.TerminateProcessById(session.controller, 7));
    journaled.RemoveFromHostsFile(session.controller, u"bad.example");
    journaled.RemoveFromHostsFile(session.controller, u"worse.example");
    journaled.CleanIniFile(session.controller, u"x.exe", 2);
    journaled.DeleteRegistryValue(session.controller, u"HKLM", u"Software\\X", u"v");
    const struct {
        ActionKind kind;
        ActionOutcome outcome;
        const char16_t* target;
    } kExpected[] = {
        {ActionKind::Terminate, ActionOutcome::Terminated, u""},
        {ActionKind::Terminate, ActionOutcome::Failed, u""},
        {ActionKind::CleanHosts, ActionOutcome::Unchanged, u"bad.example"},
        {ActionKind::CleanHosts, ActionOutcome::Changed, u"worse.example"},
        {ActionKind::CleanIni, ActionOutcome::Unchanged, u"win.ini: x.exe"},
        {ActionKind::Registry, ActionOutcome::Attempted, u"delete value HKLM\\Software\\X\\v"},
    };
    ASSERT_EQ(std::size(kExpected), Actions().size());
    for (std::size_t i = 0; i < std::size(kExpected); ++i) {
        EXPECT_EQ(kExpected[i].kind, Actions()[i].kind) << i;
        EXPECT_EQ(kExpected[i].outcome, Actions()[i].outcome) << i;
        EXPECT_EQ(kExpected[i].target, Actions()[i].target) << i;
    }
    EXPECT_EQ(7u, Actions()[1].processId);
    EXPECT_EQ(inner.calls.size(), Actions().size()) << "every call reached the system underneath";
}

// A phase that reports one file detection of `remover`.
class DetectingPhase : public CScanner {
public:
    explicit DetectingPhase(CMalwareRemover*& remover) : remover_(remover) {}
    int32_t GetKind() override { return 1; }
    int32_t Scan(char16_t*, void*, const DriveListNode*) override {
        const uint32_t noProcess = 0;
        owner_->HandleDetection(*remover_, u"D:\\worm.exe", &noProcess, DetectionSource::File, false);
        return 0;
    }

private:
    CMalwareRemover*& remover_;
};

struct ScanOfOneDetection {
    explicit ScanOfOneDetection(bool scanOnly) : host(u"[Malware Worm/Test.A]\r\nSIGNATURE_FILE " +
                                                      std::u16string(64, u'A') +
                                                      u"\r\nREMOVE_FILE %infected_file% C:\\companion.dat\r\n"
                                                      u"REMOVE_FROM_HOSTS bad.example\r\n") {
        std::vector<std::unique_ptr<CScanner>> phases;
        phases.push_back(std::make_unique<DetectingPhase>(remover));
        controller = std::make_unique<CScanController>(output, host, std::vector<std::unique_ptr<CMalwareRemover>>{},
                                                       std::move(phases));
        remover = controller->Removers().back().get();
        controller->SetScanOnly(scanOnly);
        controller->SetQuarantine(&quarantine);
        char16_t buffer[260] = {};
        EXPECT_TRUE(controller->StartScan(buffer, nullptr, nullptr));
        EXPECT_EQ(0, controller->WaitForScan());
    }
    CRecordingSystem system;
    CTestQuarantine quarantine;
    CCollectingOutput output;
    CScriptTextHost host;
    CMalwareRemover* remover = nullptr;
    std::unique_ptr<CScanController> controller;
};

TEST(JournaledScanTest, EveryStepOfARemovalIsWrittenDown) {
    ScanOfOneDetection scan(false);
    EXPECT_EQ(&scan.system, &GetRemovalSystem()) << "the scan's own system is gone with the scan";
    ASSERT_EQ(1u, scan.controller->Journal().Detections().size());
    const DetectionRecord& d = scan.controller->Journal().Detections()[0];
    EXPECT_EQ(DetectionSource::File, d.source);
    EXPECT_EQ(u"Worm/Test", d.family);
    EXPECT_EQ(u"A", d.variant);
    EXPECT_EQ(u"D:\\worm.exe", d.path);
    ASSERT_EQ(3u, d.actions.size());
    EXPECT_EQ(ActionKind::Delete, d.actions[0].kind);
    EXPECT_EQ(u"D:\\worm.exe", d.actions[0].target);
    EXPECT_EQ(ActionOutcome::Removed, d.actions[0].outcome);
    ASSERT_TRUE(d.actions[0].quarantine.has_value());
    EXPECT_EQ(u"Worm/Test.A", d.actions[0].quarantine->family);
    EXPECT_EQ(u"C:\\companion.dat", d.actions[1].target);
    EXPECT_EQ(ActionKind::CleanHosts, d.actions[2].kind);
    EXPECT_EQ(ActionOutcome::Changed, d.actions[2].outcome);
    EXPECT_EQ((std::vector<std::u16string>{u"RemoveFile(D:\\worm.exe)", u"RemoveFile(C:\\companion.dat)",
                                           u"RemoveFromHostsFile(bad.example)"}),
              scan.system.calls);
}

TEST(JournaledScanTest, ScanOnlyReportsEveryDetectionAndChangesNothing) {
    ScanOfOneDetection scan(true);
    EXPECT_TRUE(scan.system.calls.empty());
    EXPECT_TRUE(scan.quarantine.log.empty());
    EXPECT_EQ(u"Worm/Test.A" + Format16(LoadText(IDS_FOUND_IN_FILE), {u"D:\\worm.exe"}) +
                  LoadText(IDS_SCAN_ONLY_DETECTED),
              scan.output.text);
    EXPECT_EQ(u"detected, no action taken (scan only)\r\n", std::u16string(LoadText(IDS_SCAN_ONLY_DETECTED)));
    ASSERT_EQ(1u, scan.controller->Journal().Detections().size());
    const DetectionRecord& d = scan.controller->Journal().Detections()[0];
    ASSERT_EQ(1u, d.actions.size());
    EXPECT_EQ(ActionKind::None, d.actions[0].kind);
    EXPECT_EQ(ActionOutcome::Skipped, d.actions[0].outcome);
}

}  // namespace
