// The scan session over the embedded script, with phases and a host of the test's own.
#include "scan/scan_controller.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/string_table.h"
#include "common/text16.h"
#include "removers/remover.h"
#include "support/builtin_support.h"
#include "support/script_support.h"

namespace {

// The system as the controller sees it: a script text, fixed folders, and
// records of what was shown and posted.
class TestHost : public CScanHost {
public:
    explicit TestHost(std::optional<std::u16string> script) : script_(std::move(script)) {}
    bool IsVersionQueryFailed() override { return versionFailed; }
    std::optional<std::u16string> LoadScriptText() override { return script_; }
    CFolderLookup& Folders() override { return folders_; }
    CDiagnosticSink& Diagnostics() override { return sink; }
    void ShowError(std::u16string_view text, std::u16string_view caption) override {
        errors.emplace_back(std::u16string(text) + u"|" + std::u16string(caption));
    }
    bool QueryAdministrator() override {
        ++adminQueries;
        return true;
    }
    void PostScanResult(void* window, ScanResultCode code) override {
        std::lock_guard<std::mutex> lock(mutex);
        posted.push_back(code);
        postedWindow = window;
    }

    bool versionFailed = false;
    CRecordingSink sink;
    std::vector<std::u16string> errors;
    int adminQueries = 0;
    std::mutex mutex;
    std::vector<int32_t> posted;
    void* postedWindow = nullptr;

private:
    std::optional<std::u16string> script_;
    CFixedFolders folders_;
};

class TestOutput : public CScanOutput {
public:
    void PrintHighlighted(std::u16string_view first, const char16_t* second, int) override {
        text += std::u16string(first) + (second != nullptr ? second : u"");
    }
    void Print(std::u16string_view t, int) override { text += t; }
    void SetStatusText(std::u16string_view, int) override {}
    void ScanFinished(ScanResultCode code) override { finished.push_back(code); }

    std::u16string text;
    std::vector<int32_t> finished;
};

// What each phase saw, in the order the phases ran.
struct PhaseLog {
    std::vector<int32_t> kinds;
    std::vector<bool> sawRunning;
    std::vector<bool> gotPathBuffer, gotWindow, gotDrives;
};

class TestPhase : public CScanner {
public:
    TestPhase(int32_t kind, int32_t result, bool stopBeforeReturn, PhaseLog& log)
        : kind_(kind), result_(result), stop_(stopBeforeReturn), log_(log) {}
    int32_t GetKind() override { return kind_; }
    int32_t Scan(char16_t* pathBuffer, void* window, const DriveListNode* drives) override {
        log_.kinds.push_back(kind_);
        log_.sawRunning.push_back(owner_->IsRunning());
        log_.gotPathBuffer.push_back(pathBuffer != nullptr);
        log_.gotWindow.push_back(window != nullptr);
        log_.gotDrives.push_back(drives != nullptr);
        if (stop_) owner_->RequestStop();
        return result_;
    }

private:
    int32_t kind_, result_;
    bool stop_;
    PhaseLog& log_;
};

std::vector<std::unique_ptr<CScanner>> Phases(PhaseLog& log, int32_t memoryResult, bool memoryStops,
                                              int32_t fileResult, bool fileStops) {
    std::vector<std::unique_ptr<CScanner>> phases;
    phases.push_back(std::make_unique<TestPhase>(2, memoryResult, memoryStops, log));
    phases.push_back(std::make_unique<TestPhase>(1, fileResult, fileStops, log));
    return phases;
}

std::u16string Names(const CScanController& c) {
    std::u16string names;
    for (const auto& r : c.Removers()) names += std::u16string(r->GetFamilyName()) + u"." + r->GetVariantName() + u" ";
    return names;
}

TEST(ScanControllerTest, DetectorTableHoldsBuiltinsThenScriptDescriptions) {
    TestHost host(EmbeddedScriptText());
    TestOutput output;
    PhaseLog log;
    CScanController controller(output, host, CreateBuiltinRemovers(), Phases(log, 0, false, 0, false));
    ASSERT_EQ(0, controller.ConstructionResult());
    EXPECT_EQ(u"Sober.J Sober.P Sober.Y W32/Stanit.A Worm/NetSky.AA Worm/NetSky.B.1 Worm/NetSky.C "
              u"Worm/NetSky.D.Dam Worm/NetSky.P Worm/NetSky.X Worm/Mytob.IN.2 Worm/Mytob.KS ",
              Names(controller));
    for (std::size_t i = 0; i < controller.Removers().size(); ++i) {
        EXPECT_EQ(i >= 4, controller.Removers()[i]->IsScripted()) << i;
    }
    // No embedded description gives a memory signature.
    EXPECT_TRUE(controller.HasDescriptionWithoutMemorySignature());
    EXPECT_EQ(u"Sober.J/P/Y\r\nW32/Stanit.A\r\nWorm/Mytob.IN.2/KS\r\nWorm/NetSky.AA/B.1/C/D.Dam/P/X",
              controller.GetMalwareNames());
    EXPECT_EQ(&controller.GetMalwareNames(), &controller.GetMalwareNames());
    EXPECT_TRUE(controller.IsAdministrator());
    EXPECT_TRUE(controller.IsAdministrator());
    EXPECT_EQ(1, host.adminQueries);
    EXPECT_TRUE(host.errors.empty());
}

TEST(ScanControllerTest, ScriptedEntriesFindTheirFileSignatures) {
    TestHost host(EmbeddedScriptText());
    TestOutput output;
    PhaseLog log;
    CScanController controller(output, host, CreateBuiltinRemovers(), Phases(log, 0, false, 0, false));
    const CMalwareDescription& d = controller.Descriptions().at(3);
    std::vector<uint8_t> data(100, 0x90);
    for (std::size_t i = 0; i + 1 < d.fileSignature->size(); i += 2) {
        data.push_back(static_cast<uint8_t>(std::stoi(d.fileSignature->substr(i, 2), nullptr, 16)));
    }
    data.resize(data.size() + 50, 0x90);
    std::size_t start = 1;
    const SignatureIndexEntry* hit = controller.FindFileSignature(data.data(), data.size(), start);
    ASSERT_NE(nullptr, hit);
    EXPECT_EQ(controller.Removers().at(7).get(), hit->remover);
    EXPECT_EQ(100u, start);
    EXPECT_EQ(nullptr, controller.FindMemorySignature(data.data(), data.size()));
}

TEST(ScanControllerTest, UnusableDescriptionsAreLeftOut) {
    const std::u16string shortSig = HexSignature(9, 31);
    TestHost host(u"[Malware Bad.Mem]\r\nSIGNATURE_MEM " + shortSig + u"\r\nSIGNATURE_FILE " + HexSignature(1) +
                  u"\r\n[Malware Good.B]\r\nSIGNATURE_MEM " + HexSignature(2) + u"\r\nSIGNATURE_FILE " +
                  HexSignature(3) + u"\r\n");
    TestOutput output;
    PhaseLog log;
    CScanController controller(output, host, CreateBuiltinRemovers(), Phases(log, 0, false, 0, false));
    ASSERT_EQ(0, controller.ConstructionResult()) << Utf16ToUtf8(host.sink.messages.empty() ? u"" : host.sink.messages[0]);
    EXPECT_EQ(u"Sober.J Sober.P Sober.Y W32/Stanit.A Good.B ", Names(controller));
}

TEST(ScanControllerTest, MissingOrEmptyScriptGivesTheBuiltinsOnly) {
    for (const std::optional<std::u16string>& script : {std::optional<std::u16string>(), std::optional<std::u16string>(u"")}) {
        TestHost host(script);
        TestOutput output;
        PhaseLog log;
        CScanController controller(output, host, CreateBuiltinRemovers(), Phases(log, 0, false, 0, false));
        EXPECT_EQ(0, controller.ConstructionResult());
        EXPECT_EQ(u"Sober.J Sober.P Sober.Y W32/Stanit.A ", Names(controller));
        EXPECT_FALSE(controller.HasDescriptionWithoutMemorySignature());
        EXPECT_EQ(u"Sober.J/P/Y\r\nW32/Stanit.A", controller.GetMalwareNames());
    }
}

TEST(ScanControllerTest, ConstructionFailures) {
    {
        TestHost host(u"[Malware A.B]\r\n");
        TestOutput output;
        PhaseLog log;
        CScanController controller(output, host, CreateBuiltinRemovers(), Phases(log, 0, false, 0, false));
        EXPECT_EQ(kScanParseFailed, controller.ConstructionResult());
        ASSERT_EQ(1u, host.sink.messages.size());  // the parser's own diagnostic comes first
        ASSERT_EQ(1u, host.errors.size());
        EXPECT_EQ(u"The application will not start until you fix the previous parse error.|Error", host.errors[0]);
        EXPECT_FALSE(controller.StartScan(nullptr, nullptr, nullptr));
    }
    {
        TestHost host(EmbeddedScriptText());
        host.versionFailed = true;
        TestOutput output;
        PhaseLog log;
        CScanController controller(output, host, CreateBuiltinRemovers(), Phases(log, 0, false, 0, false));
        EXPECT_EQ(kScanVersionQueryFailed, controller.ConstructionResult());
        ASSERT_EQ(1u, host.errors.size());
        EXPECT_EQ(std::u16string(LoadText(IDS_ERR_VERSION_QUERY)) + u"|", host.errors[0]);
        EXPECT_TRUE(host.sink.messages.empty());
    }
}

// Each case: what the two phases return and whether they request a stop;
// then how the scan ends and which phases ran.
TEST(ScanControllerTest, ResultDelivery) {
    const struct {
        const char* name;
        int32_t memoryResult;
        bool memoryStops;
        int32_t fileResult;
        bool fileStops;
        bool posted;
        int32_t code;
        std::vector<int32_t> ran;
    } cases[] = {
        {"clean", 0, false, 0, false, false, 0, {2, 1}},
        {"found without stop", 0, false, 1, false, false, 0, {2, 1}},
        {"snapshot error goes on", -6, false, 0, false, false, 0, {2, 1}},
        {"stop in file phase", 0, false, -8, true, true, -8, {2, 1}},
        {"stop after file phase found", 0, false, 1, true, true, 1, {2, 1}},
        {"stop in memory phase", -8, true, 0, false, true, -8, {2}},
        {"memory error with stop", -5, true, 0, false, true, -5, {2}},
    };
    for (const auto& c : cases) {
        TestHost host(EmbeddedScriptText());
        TestOutput output;
        PhaseLog log;
        CScanController controller(output, host, CreateBuiltinRemovers(),
                                   Phases(log, c.memoryResult, c.memoryStops, c.fileResult, c.fileStops));
        char16_t path[260] = {};
        DriveListNode drive{u"D:", nullptr};
        void* window = reinterpret_cast<void*>(0x1234);
        ASSERT_TRUE(controller.StartScan(path, &window, &drive)) << c.name;
        EXPECT_EQ(c.code, controller.WaitForScan()) << c.name;
        EXPECT_FALSE(controller.IsRunning()) << c.name;
        EXPECT_EQ(c.ran, log.kinds) << c.name;
        if (c.posted) {
            EXPECT_EQ(std::vector<int32_t>{c.code}, host.posted) << c.name;
            EXPECT_EQ(window, host.postedWindow) << c.name;
            EXPECT_TRUE(output.finished.empty()) << c.name;
        } else {
            EXPECT_TRUE(host.posted.empty()) << c.name;
            EXPECT_EQ(std::vector<int32_t>{0}, output.finished) << c.name;
        }
        for (std::size_t i = 0; i < log.kinds.size(); ++i) {
            const bool file = log.kinds[i] == 1;
            EXPECT_TRUE(log.sawRunning[i]);
            EXPECT_EQ(file, log.gotPathBuffer[i]) << c.name;
            EXPECT_EQ(!file, log.gotWindow[i]) << c.name;
            EXPECT_EQ(file, log.gotDrives[i]) << c.name;
        }
    }
}

TEST(ScanControllerTest, SecondScanAfterTheFirstEnded) {
    TestHost host(EmbeddedScriptText());
    TestOutput output;
    PhaseLog log;
    CScanController controller(output, host, CreateBuiltinRemovers(), Phases(log, 0, false, -8, true));
    ASSERT_TRUE(controller.StartScan(nullptr, nullptr, nullptr));
    EXPECT_EQ(-8, controller.WaitForScan());
    // A new scan clears the stop flag.
    ASSERT_TRUE(controller.StartScan(nullptr, nullptr, nullptr));
    EXPECT_EQ(-8, controller.WaitForScan());
    EXPECT_EQ((std::vector<int32_t>{2, 1, 2, 1}), log.kinds);
    EXPECT_EQ((std::vector<int32_t>{-8, -8}), host.posted);
}

}  // namespace

namespace {

// The test's fresh instances stand for the program's own list.
TEST(ScanControllerTest, TestBuiltinsMatchTheProgramsList) {
    const auto fresh = CreateBuiltinRemovers();
    ASSERT_EQ(static_cast<std::size_t>(kBuiltinRemoverCount), fresh.size());
    for (int i = 0; i < kBuiltinRemoverCount; ++i) {
        ASSERT_NE(nullptr, g_builtinRemovers[i]);
        EXPECT_EQ(std::u16string(g_builtinRemovers[i]->GetFamilyName()), fresh[i]->GetFamilyName());
        EXPECT_EQ(std::u16string(g_builtinRemovers[i]->GetVariantName()), fresh[i]->GetVariantName());
    }
    EXPECT_EQ(nullptr, g_builtinRemovers[kBuiltinRemoverCount]);
}

}  // namespace
