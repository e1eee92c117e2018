// The file scan phase over a fixture tree on drive D: (an empty folder the
// harness maps for each run).
#include <windows.h>

#include <gtest/gtest.h>

#include "common/string_table.h"
#include "common/text16.h"
#include "scan/scan_controller.h"
#include "signature/signature.h"
#include "support/pe_fixture.h"
#include "support/e2e_win_support.h"
#include "support/file_hit_recorder.h"
#include "support/script_support.h"
#include "support/win_support.h"
#include "scanner/file_scanner_win.h"
#include "scanner/process_api_win.h"

namespace {

class NoScriptHost : public CScanHost {
public:
    bool IsVersionQueryFailed() override { return false; }
    std::optional<std::u16string> LoadScriptText() override { return std::nullopt; }
    CFolderLookup& Folders() override { return *CProcessApi::GetInstance(); }
    CDiagnosticSink& Diagnostics() override { return sink_; }
    void ShowError(std::u16string_view, std::u16string_view) override {}
    bool QueryAdministrator() override { return true; }
    void PostScanResult(void*, ScanResultCode code) override { posted = code; }
    int32_t posted = 99;

private:
    CRecordingSink sink_;
};

class FileScannerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (GetDriveTypeW(L"D:\\") != DRIVE_FIXED) GTEST_SKIP() << "drive D: is not mapped";
        signature_ = FixtureBytes(42, 48);
        record_ = *MakeSignatureRecord(signature_.data(), signature_.size());
    }

    // D:\a\infected.exe carries the signature in its second section.
    uint32_t MakeTree() {
        CreateDirectoryW(L"D:\\a", nullptr);
        CreateDirectoryW(L"D:\\a\\b", nullptr);
        FixturePlan plan;
        FixtureSection data;
        data.data = FixtureBytes(1, 3000);
        std::copy(signature_.begin(), signature_.end(), data.data.begin() + 2000);
        plan.sections = {FixtureSection{".text", FixtureBytes(2, 600), 0, 0, 0x60000020}, data};
        const FixtureLayout infected = BuildPe(plan);
        EXPECT_TRUE(Write(L"D:\\a\\infected.exe", infected.bytes));
        FixturePlan clean;
        clean.dll = true;
        clean.sections = {FixtureSection{".text", FixtureBytes(3, 5000), 0, 0, 0x60000020}};
        EXPECT_TRUE(Write(L"D:\\a\\b\\clean.dll", BuildPe(clean).bytes));
        std::vector<uint8_t> small = BuildPe(plan).bytes;
        small.resize(312);  // not more than 312 bytes: neither counted nor read
        EXPECT_TRUE(Write(L"D:\\small.exe", small));
        EXPECT_TRUE(Write(L"D:\\notes.txt", std::vector<uint8_t>(1000, 'x')));
        // Hostile headers: NT headers far outside the file; 65,535 sections
        // declared, raw data beyond the end, entry point 0xFFFFFFFF.
        std::vector<uint8_t> outside = BuildPe(clean).bytes;
        outside[60] = outside[61] = outside[62] = 0xFF;
        EXPECT_TRUE(Write(L"D:\\far.exe", outside));
        std::vector<uint8_t> many = BuildPe(clean).bytes;
        const FixtureLayout layout = BuildPe(clean);
        many[layout.ntHeadersOffset + 6] = many[layout.ntHeadersOffset + 7] = 0xFF;
        for (int i = 0; i < 4; ++i) {
            many[layout.sectionTableOffset + 20 + i] = 0xF0;  // raw data beyond the end
            many[layout.ntHeadersOffset + 24 + 16 + i] = 0xFF;
        }
        EXPECT_TRUE(Write(L"D:\\a\\many.exe", many));
        return infected.sectionOffsets[1] + 2000;
    }

    std::vector<uint8_t> signature_;
    CSignature record_;
};

TEST_F(FileScannerTest, WalkFindsThePlantedFileAndCallsItsRemoverOnce) {
    const uint32_t offset = MakeTree();
    auto recorder = std::make_unique<CFileHitRecorder>(record_);
    CFileHitRecorder* rec = recorder.get();
    std::vector<std::unique_ptr<CMalwareRemover>> removers;
    removers.push_back(std::move(recorder));
    std::vector<std::unique_ptr<CScanner>> phases;
    phases.push_back(std::make_unique<CFileScanner>());
    NoScriptHost host;
    TextOutput output;
    CScanController controller(output, host, std::move(removers), std::move(phases));
    DriveListNode drives{u"D:", nullptr};
    ASSERT_TRUE(controller.StartScan(nullptr, nullptr, &drives));
    EXPECT_EQ(0, controller.WaitForScan());
    EXPECT_EQ(0, output.finished);

    ASSERT_EQ(1u, rec->calls.size());
    const CFileHitRecorder::Call& call = rec->calls[0];
    EXPECT_EQ(u"D:\\a\\infected.exe", call.path);
    EXPECT_EQ(DetectionSource::File, call.source);
    EXPECT_EQ(0u, call.processId);
    EXPECT_FALSE(call.moreFollow);
    EXPECT_EQ(offset, call.matchOffset);
    EXPECT_TRUE(call.headersPresent);
    EXPECT_EQ(0u, CProcessApi::GetInstance()->Headers().matchOffset);

    const ScanStatistics& s = controller.GetStatistics();
    EXPECT_EQ(5u, s.files);  // infected.exe, clean.dll, notes.txt, far.exe, many.exe
    EXPECT_EQ(3u, s.directories);
    EXPECT_EQ(1u, s.infectedFiles);
    EXPECT_EQ(0u, s.streams);  // no NTFS streams here
    EXPECT_GT(s.fileKB, 0.0);
    EXPECT_EQ(std::u16string(LoadText(IDS_SCANNING_DRIVE)) + u"D: ...\r\n", output.text);
}

TEST_F(FileScannerTest, NothingFoundAndStopped) {
    MakeTree();
    for (bool stop : {false, true}) {
        std::vector<std::unique_ptr<CScanner>> phases;
        phases.push_back(std::make_unique<CFileScanner>());
        CFileScanner* scanner = static_cast<CFileScanner*>(phases[0].get());
        NoScriptHost host;
        TextOutput output;
        CScanController controller(output, host, {}, std::move(phases));
        DriveListNode drives{u"D:", nullptr};
        if (stop) controller.RequestStop();
        EXPECT_EQ(stop ? kScanAborted : kScanCompleted, scanner->Scan(nullptr, nullptr, &drives));
        const std::u16string expected = stop ? u"" : std::u16string(LoadText(IDS_SCANNING_DRIVE)) + u"D: ...\r\n" +
                                                         LoadText(IDS_NO_MALWARE_ON_DRIVES);
        EXPECT_EQ(expected, output.text);
    }
}

TEST_F(FileScannerTest, DriveTableRules) {
    DriveListNode first{u"D:", nullptr};
    first.next.reset(new DriveListNode{u"d:", nullptr});
    first.next->next.reset(new DriveListNode{u"D:", nullptr});
    first.next->next->next.reset(new DriveListNode{u"Q:", nullptr});
    first.next->next->next->next.reset(new DriveListNode{u"C:", nullptr});
    std::vector<CFileScanner::DriveEntry> table;
    ASSERT_TRUE(CFileScanner::BuildDriveTable(&first, table));
    ASSERT_EQ(3u, table.size());  // D: and d: differ in their first character; Q: has no root
    EXPECT_EQ(u"D:", table[0].name);
    EXPECT_EQ(u"d:", table[1].name);
    EXPECT_EQ(u"C:", table[2].name);
    EXPECT_EQ(static_cast<uint32_t>(DRIVE_FIXED), table[2].type);

    ASSERT_TRUE(CFileScanner::BuildDriveTable(nullptr, table));
    ASSERT_FALSE(table.empty());
    EXPECT_EQ(u"C:", table[0].name);  // fixed drives, without their backslash
    for (const auto& e : table) EXPECT_EQ(2u, e.name.size());
}

TEST_F(FileScannerTest, CollectingFormCountsAndFindsWithoutRemoving) {
    MakeTree();
    auto recorder = std::make_unique<CFileHitRecorder>(record_);
    CFileHitRecorder* rec = recorder.get();
    std::vector<std::unique_ptr<CMalwareRemover>> removers;
    removers.push_back(std::move(recorder));
    NoScriptHost host;
    TextOutput output;
    CScanController controller(output, host, std::move(removers), {});
    std::vector<CMalwareRemover*> found;
    ScanExecutableFile(controller, u"D:\\a\\infected.exe", found);
    ScanExecutableFile(controller, u"D:\\a\\b\\clean.dll", found);
    ScanExecutableFile(controller, u"D:\\notes.txt", found);
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ(rec, found[0]);
    EXPECT_TRUE(rec->calls.empty());
    EXPECT_EQ(2u, controller.GetStatistics().files);    // the two with a section table
    EXPECT_EQ(3u, controller.GetStatistics().streams);  // one per executable checked
    EXPECT_EQ(0u, controller.GetStatistics().infectedFiles);
    EXPECT_TRUE(ListStreams(u"D:\\a\\infected.exe").empty());
}

}  // namespace
