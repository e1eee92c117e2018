// The scan session on the running system: the script resource of this test
// program, the system object, a real window that receives the posted result.
#include <windows.h>

#include <gtest/gtest.h>

#include "common/text16.h"
#include "removers/remover.h"
#include "support/builtin_support.h"
#include "support/e2e_win_support.h"
#include "support/win_support.h"
#include "scanner/process_api_win.h"
#include "scan/scan_host_win.h"
#include "scan/scan_phases_win.h"
#include "common/string_table.h"

namespace {

class NullOutput : public CScanOutput {
public:
    void PrintHighlighted(std::u16string_view, const char16_t*, int) override {}
    void Print(std::u16string_view, int) override {}
    void SetStatusText(std::u16string_view, int) override {}
    void ScanFinished(ScanResultCode code) override { finished = code; }
    int32_t finished = 99;
};

class StoppingPhase : public CScanner {
public:
    explicit StoppingPhase(int32_t kind) : kind_(kind) {}
    int32_t GetKind() override { return kind_; }
    int32_t Scan(char16_t*, void*, const DriveListNode*) override {
        if (kind_ == 1) owner_->RequestStop();
        return kind_ == 1 ? kScanAborted : kScanCompleted;
    }

private:
    int32_t kind_;
};

TEST(ScanControllerWinTest, StoppedScanPostsItsResultToTheWindow) {
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    CWin32ScanHost host;
    NullOutput output;
    std::vector<std::unique_ptr<CScanner>> phases;
    phases.push_back(std::make_unique<StoppingPhase>(2));
    phases.push_back(std::make_unique<StoppingPhase>(1));
    {
        CScanController controller(output, host, CreateBuiltinRemovers(), std::move(phases));
        ASSERT_EQ(0, controller.ConstructionResult());
        EXPECT_EQ(12u, controller.Removers().size());
        EXPECT_EQ(QueryAccountIsAdministrator(), controller.IsAdministrator());
        void* handle = window;
        ASSERT_TRUE(controller.StartScan(nullptr, &handle, nullptr));
        EXPECT_EQ(kScanAborted, controller.WaitForScan());
    }
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, window, WM_SCAN_RESULT, WM_SCAN_RESULT, PM_REMOVE));
    EXPECT_EQ(kScanAborted, static_cast<int32_t>(msg.wParam));
    EXPECT_EQ(static_cast<LPARAM>(kScanResultTag), msg.lParam);
    EXPECT_EQ(99, output.finished);
    DestroyWindow(window);
    // The controller released the system object; the next user gets a new one.
    ASSERT_NE(nullptr, CProcessApi::GetInstance());
}

// The local account's privilege level, as NetUserGetInfo reports it (Wine
// reports its user at the guest level).
bool AccountLevelIsAdmin() {
    wchar_t user[256];
    DWORD size = 256;
    if (!GetUserNameW(user, &size)) return false;
    HMODULE netapi = LoadLibraryW(L"netapi32.dll");
    if (netapi == nullptr) return false;
    using GetInfo = DWORD(WINAPI*)(LPCWSTR, LPCWSTR, DWORD, BYTE**);
    auto getInfo = reinterpret_cast<GetInfo>(reinterpret_cast<void (*)()>(GetProcAddress(netapi, "NetUserGetInfo")));
    BYTE* info = nullptr;
    if (getInfo == nullptr || getInfo(nullptr, user, 1, &info) != 0) return false;
    return reinterpret_cast<const DWORD*>(info + 2 * sizeof(void*))[1] == 2;  // usri1_priv
}

// 9x/ME has no accounts to ask; NT 4.0 asks the account database; from
// Windows 2000 on the token decides (Wine's token holds the Administrators
// group, while its account database says guest).
TEST(AdministratorCheckTest, FollowsThePlatform) {
    const std::string version = RequestedVersion();
    if (version == "win98") {
        EXPECT_TRUE(QueryAccountIsAdministrator());
    } else if (version == "nt40") {
        EXPECT_FALSE(AccountLevelIsAdmin()) << "Wine's account database now says administrator";
        EXPECT_FALSE(QueryAccountIsAdministrator());
    } else {
        ASSERT_TRUE(TokenIsAdministrator().has_value());
        EXPECT_TRUE(*TokenIsAdministrator());
        EXPECT_TRUE(QueryAccountIsAdministrator());
    }
}

// A token whose Administrators group is for denial only (a standard user, or
// an administrator under UAC without elevation) is no administrator.
TEST(AdministratorCheckTest, DenyOnlyAdministratorsGroupIsNoAdministrator) {
    if (RequestedVersion() == "win98" || RequestedVersion() == "nt40") GTEST_SKIP() << "no token check there";
    HANDLE own = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_IMPERSONATE, &own));
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                         0, 0, &admins));
    SID_AND_ATTRIBUTES disable{admins, 0};
    HANDLE restricted = nullptr;
    ASSERT_TRUE(CreateRestrictedToken(own, 0, 1, &disable, 0, nullptr, 0, nullptr, &restricted));
    ASSERT_TRUE(ImpersonateLoggedOnUser(restricted));
    const std::optional<bool> asUser = TokenIsAdministrator();
    const bool answer = QueryAccountIsAdministrator();
    RevertToSelf();
    CloseHandle(restricted);
    CloseHandle(own);
    FreeSid(admins);
    ASSERT_TRUE(asUser.has_value());
    EXPECT_FALSE(*asUser);
    EXPECT_FALSE(answer);
    EXPECT_TRUE(QueryAccountIsAdministrator()) << "the thread's own token again";
}

}  // namespace

namespace {

// Both registered phases over the running system and an empty drive D:.
TEST(ScanControllerWinTest, WholeScanWithTheRegisteredPhases) {
    if (GetDriveTypeW(L"D:\\") != DRIVE_FIXED) GTEST_SKIP() << "drive D: is not mapped";
    std::vector<std::unique_ptr<CScanner>> phases = CreateScanPhases();
    ASSERT_EQ(2u, phases.size());
    EXPECT_EQ(2, phases[0]->GetKind());
    EXPECT_EQ(1, phases[1]->GetKind());
    CWin32ScanHost host;
    TextOutput output;
    CScanController controller(output, host, CreateBuiltinRemovers(), std::move(phases));
    DriveListNode drive{u"D:", nullptr};
    ASSERT_TRUE(controller.StartScan(nullptr, nullptr, &drive));
    EXPECT_EQ(0, controller.WaitForScan());
    EXPECT_EQ(0, output.finished);
    const std::u16string& t = output.text;
    const std::u16string memory = std::u16string(LoadText(IDS_SCANNING_MEMORY)) + u" " + LoadText(IDS_DONE);
    EXPECT_EQ(0u, t.find(memory)) << Utf16ToUtf8(t);
    EXPECT_NE(std::u16string::npos, t.find(LoadText(IDS_NO_MALWARE_IN_MEMORY)));
    const std::u16string files = std::u16string(LoadText(IDS_SCANNING_DRIVE)) + u"D: ...\r\n" + LoadText(IDS_NO_MALWARE_ON_DRIVES);
    EXPECT_EQ(t.size() - files.size(), t.rfind(files)) << Utf16ToUtf8(t);
    EXPECT_GT(controller.GetStatistics().processes, 0u);
    EXPECT_GT(controller.GetStatistics().modules, 0u);
}

}  // namespace
