// Sober.Y cases of a real scan (memory phase, then drive D:) with the real
// primitives: the worm found in two running processes, and companion files
// held open by another program, scheduled for deletion at the next start.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/text16.h"
#include "removal/reboot_flag.h"
#include "removers/remover.h"
#include "support/builtin_support.h"
#include "support/e2e_win_support.h"
#include "support/pe_fixture.h"
#include "support/win_support.h"
#include "scanner/process_api_win.h"
#include "scan/scan_host_win.h"
#include "scan/scan_phases_win.h"

namespace {

const wchar_t* const kRun = kRunKey;
const wchar_t* const kRunOnce = kRunOnceKey;
const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const int kSoberY = 2;  // its place among the built-in removers

std::wstring WininitPath() { return WinDir() + L"\\WININIT.INI"; }

std::string Ansi(const std::wstring& s) { return std::string(s.begin(), s.end()); }  // ASCII paths only

void DeleteValue(HKEY root, const wchar_t* subkey, const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    RegDeleteValueW(key, name);
    RegCloseKey(key);
}

// The raw multi-string of the delayed moves, or nothing when absent.
struct PendingValue {
    bool present = false;
    DWORD type = 0;
    std::vector<BYTE> data;
};
PendingValue ReadPending() {
    PendingValue v;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS) return v;
    DWORD size = 0;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &v.type, nullptr, &size) == ERROR_SUCCESS) {
        v.data.resize(size);
        v.present = RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, &v.type, v.data.data(), &size) ==
                    ERROR_SUCCESS;
        v.data.resize(size);
    }
    RegCloseKey(key);
    return v;
}
void RestorePending(const PendingValue& v) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    if (v.present) {
        RegSetValueExW(key, L"PendingFileRenameOperations", 0, v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
    } else {
        RegDeleteValueW(key, L"PendingFileRenameOperations");
    }
    RegCloseKey(key);
}
// The delayed moves as text, the multi-string's separators shown as '|'.
std::u16string PendingText() {
    const PendingValue v = ReadPending();
    std::u16string text(v.data.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(v.data[2 * i] | v.data[2 * i + 1] << 8);
        if (text[i] == 0) text[i] = u'|';
    }
    return text;
}

// Bytes matching Sober.Y's file or memory record.
std::vector<uint8_t> SoberYSignature(bool memory) {
    const std::vector<std::unique_ptr<CMalwareRemover>> builtins = CreateBuiltinRemovers();
    const CMalwareRemover& r = *builtins[kSoberY];
    EXPECT_EQ(u"Sober", std::u16string(r.GetFamilyName()));
    EXPECT_EQ(u"Y", std::u16string(r.GetVariantName()));
    uint32_t length = 0;
    if (memory) {
        return ForgeSignatureBytes(r.GetMemorySignatureHead(length), r.GetMemorySignatureAnchorWord(),
                                   r.GetMemorySignatureLength(), r.GetMemorySignatureAnchorOffset(),
                                   r.GetMemorySignatureCrc(), 400);
    }
    return ForgeSignatureBytes(r.GetFileSignatureHead(length), r.GetFileSignatureAnchorWord(),
                               r.GetFileSignatureLength(), r.GetFileSignatureAnchorOffset(), r.GetFileSignatureCrc(),
                               401);
}

// An executable with `signature` inside a data section; a runnable one
// sleeps. `seed` makes the filler (and so the file) of each fixture its own.
std::vector<uint8_t> CarrierImage(const std::vector<uint8_t>& signature, bool runnable, uint32_t seed) {
    FixturePlan fx;
    fx.pe32plus = runnable && sizeof(void*) == 8;
    fx.runnable = runnable;
    FixtureSection data;
    data.data = FixtureBytes(seed, 1024);
    data.data.insert(data.data.begin() + 100, signature.begin(), signature.end());
    fx.sections.push_back(data);
    return BuildPe(fx).bytes;
}

// {W} in a golden transcript: the Windows folder.
std::u16string Expand(std::u16string text) { return ReplaceAll(std::move(text), u"{W}", U16(WinDir())); }

const char16_t kMemoryClean[] = u"Scanning memory... done\r\n\r\nNo malware found in memory\r\n\r\n";
const char16_t kMemoryDone[] = u"Scanning memory... done\r\n";
const char16_t kDrive[] = u"\r\nScanning drive D: ...\r\n";
const char16_t kNoneOnDrives[] = u"\r\nNo malware found on hard drives\r\n\r\n";
const char16_t kInMemory[] = u"Sober.Y was found in memory !\r\n";
const char16_t kStopped[] = u"terminating process ...done\r\nremoving executable ...done\r\n";
const char16_t kRemoved[] = u"Sober.Y was successfully removed.\r\n";
const char16_t kRemovingExe[] = u"removing executable ...done\r\n";
const char16_t kRegistry[] = u"cleaning registry keys ...done\r\n";
std::u16string Companion(const char16_t* path) { return u"deleting companion file " + std::u16string(path) + u" ...done\r\n"; }
std::u16string CompanionRegistry(const char16_t* name) {
    return u"cleaning registry keys ...{W}\\WinSecurity\\" + std::u16string(name) + u"...done\r\n";
}

// The worm's folder under Windows with `names` planted in it.
std::vector<std::wstring> PlantCompanions(const std::vector<const wchar_t*>& names) {
    const std::wstring folder = WinDir() + L"\\WinSecurity";
    CreateDirectoryW(folder.c_str(), nullptr);
    std::vector<std::wstring> paths;
    for (const wchar_t* name : names) {
        paths.push_back(folder + L"\\" + name);
        EXPECT_TRUE(WriteText(paths.back(), "companion")) << Utf16ToUtf8(U16(paths.back()));
    }
    return paths;
}

// Every name here is used by no other test of this program: the system
// object's table of handled paths lives as long as the program.
class SoberCases : public ::testing::Test {
protected:
    void SetUp() override {
        if (GetDriveTypeW(L"D:\\") != DRIVE_FIXED) GTEST_SKIP() << "drive D: is not mapped";
        ASSERT_NE(nullptr, CProcessApi::GetInstance());
        nineX_ = CProcessApi::GetInstance()->isWindows9x();
        ASSERT_EQ(RequestedVersion() == "win98", nineX_);
        ClearRebootRequired();
        pending_ = ReadPending();
        wininit_ = ReadText(WininitPath());
        DeleteFileW(WininitPath().c_str());
    }
    void TearDown() override {
        ClearRebootRequired();
        RestorePending(pending_);
        DeleteFileW(WininitPath().c_str());
        if (wininit_ != "<missing>") WriteText(WininitPath(), wininit_);
    }

    bool nineX_ = false;
    PendingValue pending_;
    std::string wininit_;
};

TEST_F(SoberCases, SoberYInTwoProcessesStopsBothAndCleansCompanionsOnce) {
    const std::wstring first = L"D:\\soby2a.exe", second = L"D:\\soby2b.exe";
    const std::vector<uint8_t> signature = SoberYSignature(true);
    ASSERT_TRUE(Write(first, CarrierImage(signature, true, 21)));
    ASSERT_TRUE(Write(second, CarrierImage(signature, true, 22)));
    const std::vector<std::wstring> companions =
        PlantCompanions({L"services.exe", L"socket1.ifo", L"mssock2.dli"});
    const std::wstring services = WinDir() + L"\\WinSecurity\\services.exe";
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, kRun, L"sc_services", L"\"" + services + L"\" -s"));
    ASSERT_TRUE(SetSz(HKEY_CURRENT_USER, kRunOnce, L"sc_services", services));
    ASSERT_TRUE(SetSz(HKEY_LOCAL_MACHINE, kRun, L"sc_keep", L"C:\\keep\\keep.exe"));
    // Found in memory, the worm's own Run entries are not looked for.
    ASSERT_TRUE(SetSz(HKEY_CURRENT_USER, kRun, L"sc_exe", first));

    Sleeper a(first), b(second);
    ASSERT_TRUE(a.started());
    ASSERT_TRUE(b.started());
    ASSERT_NE(a.id(), b.id());
    CWin32ScanHost host;
    ScanRun run(host);
    EXPECT_EQ(0, run.Run());

    // The first node only stops its process; the companion phase and its
    // registry cleaning run once, at the last node.
    const std::u16string expected =
        Expand(kMemoryDone + std::u16string(kInMemory) + kStopped + kRemoved + kInMemory + kStopped +
               Companion(u"{W}\\WinSecurity\\services.exe") + CompanionRegistry(u"services.exe") +
               CompanionRegistry(u"smss.exe") + CompanionRegistry(u"csrss.exe") +
               Companion(u"{W}\\WinSecurity\\socket1.ifo") + Companion(u"{W}\\WinSecurity\\mssock2.dli") + kRemoved +
               kDrive + kNoneOnDrives);
    EXPECT_EQ(expected, run.output.text) << Utf16ToUtf8(run.output.text);
    const ScanStatistics& s = run.controller.GetStatistics();
    EXPECT_EQ(0u, s.infectedFiles);
    EXPECT_EQ(2u, s.infectedProcesses);
    EXPECT_EQ(2u, s.terminatedProcesses);
    EXPECT_EQ(5u, s.removedFiles);  // two executables, three companions
    EXPECT_EQ(1u, s.registryChanges);
    EXPECT_FALSE(IsRebootRequired());

    EXPECT_FALSE(a.running());
    EXPECT_FALSE(b.running());
    EXPECT_FALSE(Exists(first));
    EXPECT_FALSE(Exists(second));
    for (const std::wstring& path : companions) EXPECT_FALSE(Exists(path)) << Utf16ToUtf8(U16(path));
    EXPECT_FALSE(HasValue(HKEY_LOCAL_MACHINE, kRun, L"sc_services"));
    EXPECT_FALSE(HasValue(HKEY_CURRENT_USER, kRunOnce, L"sc_services"));
    EXPECT_TRUE(HasValue(HKEY_LOCAL_MACHINE, kRun, L"sc_keep"));
    EXPECT_TRUE(HasValue(HKEY_CURRENT_USER, kRun, L"sc_exe"));
    DeleteValue(HKEY_CURRENT_USER, kRun, L"sc_exe");
    DeleteValue(HKEY_LOCAL_MACHINE, kRun, L"sc_keep");
}

TEST_F(SoberCases, CompanionInUseIsScheduledForTheNextStartAndPrinted) {
    const std::wstring file = L"D:\\sobyheld.exe";
    ASSERT_TRUE(Write(file, CarrierImage(SoberYSignature(false), false, 23)));
    const std::vector<std::wstring> companions = PlantCompanions({L"csrss.exe", L"socket3.ifo", L"winmem2.ory"});
    const std::wstring& csrss = companions[0];
    const std::wstring& socket3 = companions[1];
    ASSERT_TRUE(SetSz(HKEY_CURRENT_USER, kRun, L"sc_held", L"\"" + csrss + L"\""));
    // Held open without FILE_SHARE_DELETE: neither can be deleted now.
    UniqueHandle holdCsrss(CreateFileW(csrss.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    UniqueHandle holdSocket(CreateFileW(socket3.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holdCsrss && holdSocket);
    ASSERT_FALSE(DeleteFileW(socket3.c_str()));  // the share mode really blocks deletion

    CWin32ScanHost host;
    ScanRun run(host);
    EXPECT_EQ(0, run.Run());

    const std::u16string expected =
        Expand(kMemoryClean + std::u16string(kDrive) + u"Sober.Y was found in file D:\\sobyheld.exe !\r\n" +
               kRemovingExe + kRegistry + CompanionRegistry(u"services.exe") + CompanionRegistry(u"smss.exe") +
               Companion(u"{W}\\WinSecurity\\csrss.exe") + CompanionRegistry(u"csrss.exe") +
               Companion(u"{W}\\WinSecurity\\socket3.ifo") + Companion(u"{W}\\WinSecurity\\winmem2.ory") + kRemoved);
    EXPECT_EQ(expected, run.output.text) << Utf16ToUtf8(run.output.text);
    const ScanStatistics& s = run.controller.GetStatistics();
    EXPECT_EQ(1u, s.infectedFiles);
    EXPECT_EQ(0u, s.infectedProcesses);
    EXPECT_EQ(0u, s.terminatedProcesses);
    EXPECT_EQ(4u, s.removedFiles);  // the executable, two scheduled companions, one deleted
    EXPECT_EQ(1u, s.registryChanges);
    EXPECT_TRUE(IsRebootRequired());

    EXPECT_FALSE(Exists(file));
    EXPECT_FALSE(Exists(companions[2]));
    EXPECT_TRUE(Exists(csrss));
    EXPECT_TRUE(Exists(socket3));
    EXPECT_FALSE(HasValue(HKEY_CURRENT_USER, kRun, L"sc_held"));
    if (nineX_) {
        // Each entry goes first into the section.
        EXPECT_EQ("[rename]\r\nNUL=" + Ansi(socket3) + "\r\nNUL=" + Ansi(csrss) + "\r\n", ReadText(WininitPath()));
    } else {
        EXPECT_FALSE(Exists(WininitPath()));
        const std::u16string pending = PendingText();
        // A deletion: the path followed by an empty destination.
        const std::size_t c = FindIgnoreCase(pending, U16(csrss) + u"||");
        const std::size_t k = FindIgnoreCase(pending, U16(socket3) + u"||");
        EXPECT_NE(std::u16string::npos, c) << Utf16ToUtf8(pending);
        EXPECT_NE(std::u16string::npos, k) << Utf16ToUtf8(pending);
        EXPECT_LT(c, k) << "queued in the order of the deletions";
        EXPECT_EQ(std::u16string::npos, FindIgnoreCase(pending, U16(companions[2])));
    }

    holdCsrss.reset();
    holdSocket.reset();
    DeleteFileW(csrss.c_str());
    DeleteFileW(socket3.c_str());
}

}  // namespace
