// The folder lookups and the script resource, against the running system.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/text16.h"
#include "script/parser.h"
#include "support/script_support.h"
#include "support/win_support.h"
#include "script/script_resource_win.h"
#include "scanner/process_api_win.h"

namespace {

std::u16string U(const wchar_t* s) { return std::u16string(s, s + wcslen(s)); }

bool IsDirectory(const char16_t* path) {
    const DWORD a = GetFileAttributesW(reinterpret_cast<const wchar_t*>(path));
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

OSVERSIONINFOW RunningVersion() {
    OSVERSIONINFOW v{};
    v.dwOSVersionInfoSize = sizeof v;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(&v);
#pragma GCC diagnostic pop
    return v;
}

TEST(WineHarnessTest, ProgramSeesTheRequestedVersion) {
    const OSVERSIONINFOW v = RunningVersion();
    const std::string requested = RequestedVersion();
    if (requested == "win98") {
        EXPECT_EQ(1u, v.dwPlatformId);
    } else if (requested == "nt40") {
        EXPECT_EQ(2u, v.dwPlatformId);
        EXPECT_EQ(4u, v.dwMajorVersion);
    } else if (requested == "winxp") {
        EXPECT_EQ(2u, v.dwPlatformId);
        EXPECT_EQ(5u, v.dwMajorVersion);
        EXPECT_EQ(1u, v.dwMinorVersion);
    } else {
        GTEST_SKIP() << "run without a version";
    }
}

TEST(FolderQueryTest, EveryQueryGivesAnAbsolutePath) {
    CProcessApi& folders = *CProcessApi::GetInstance();
    const char16_t* (CProcessApi::*queries[])() = {
        &CProcessApi::GetSystemDir,       &CProcessApi::GetWindowsDir,
        &CProcessApi::GetProgramFilesDir, &CProcessApi::GetProfileDir,
        &CProcessApi::GetTempDir,         &CProcessApi::GetInternetCacheDir,
        &CProcessApi::GetCookiesDir};
    for (auto query : queries) {
        const char16_t* path = (folders.*query)();
        ASSERT_NE(nullptr, path);
        const std::u16string p(path);
        ASSERT_GE(p.size(), 3u) << Utf16ToUtf8(p);
        EXPECT_EQ(u":\\", p.substr(1, 2)) << Utf16ToUtf8(p);
        EXPECT_NE(u'\\', p.back()) << Utf16ToUtf8(p);
    }
}

TEST(FolderQueryTest, WindowsAndSystemFoldersAreTheSystemsOwn) {
    CProcessApi& folders = *CProcessApi::GetInstance();
    wchar_t windows[MAX_PATH], system[MAX_PATH];
    ASSERT_NE(0u, GetWindowsDirectoryW(windows, MAX_PATH));
    ASSERT_NE(0u, GetSystemDirectoryW(system, MAX_PATH));
    EXPECT_EQ(U(windows), folders.GetWindowsDir());
    EXPECT_EQ(U(system), folders.GetSystemDir());
    EXPECT_TRUE(IsDirectory(folders.GetWindowsDir()));
    EXPECT_TRUE(IsDirectory(folders.GetProfileDir()));
    EXPECT_TRUE(IsDirectory(folders.GetProgramFilesDir()));
}

TEST(FolderQueryTest, TempFolderIsTheTempPathWithoutBackslash) {
    CProcessApi& folders = *CProcessApi::GetInstance();
    wchar_t temp[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, temp);
    ASSERT_GT(n, 0u);
    ASSERT_EQ(L'\\', temp[n - 1]);
    wchar_t expected[MAX_PATH];
    const OSVERSIONINFOW v = RunningVersion();
    if (v.dwPlatformId == 2 && v.dwMajorVersion == 4) {
        wcscpy(expected, temp);  // NT 4.0 has no long-path query: the form as given
    } else {
        ASSERT_NE(0u, GetLongPathNameW(temp, expected, MAX_PATH));
    }
    std::u16string want = U(expected);
    want.pop_back();
    EXPECT_EQ(want, folders.GetTempDir());
    EXPECT_TRUE(IsDirectory(folders.GetTempDir()));
}

TEST(FolderQueryTest, ScriptPathVariablesExpandToTheRunningSystem) {
    CProcessApi& folders = *CProcessApi::GetInstance();
    CRecordingSink sink;
    CMalwareScript script(folders,
                          u"[Malware A.B]\r\nSIGNATURE_FILE " + HexSignature(1) +
                              u"\r\nREMOVE_FILE %WINDIR%\\a.exe %TEMPDIR%\\b.exe \"%SYSDIR%\\c d.dll\"\r\n",
                          sink);
    ASSERT_TRUE(script.Parse()) << Utf16ToUtf8(script.LastMessage());
    const auto& words = script.Descriptions().at(0).actions.at(0).arguments;
    ASSERT_EQ(3u, words.size());
    EXPECT_EQ(std::u16string(folders.GetWindowsDir()) + u"\\a.exe", words[0]);
    EXPECT_EQ(std::u16string(folders.GetTempDir()) + u"\\b.exe", words[1]);
    EXPECT_EQ(std::u16string(folders.GetSystemDir()) + u"\\c d.dll", words[2]);
}

// The program's resource, read from the built executable as data.
TEST(ScriptResourceTest, ProgramCarriesTheEmbeddedScript) {
    const std::wstring path = HostPath(TESMORA_APP_EXE);
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module) << "cannot load " << TESMORA_APP_EXE;
    const auto text = LoadScriptResource(module);
    FreeLibrary(module);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(11878u, 2 * (text->size() + 1));
    EXPECT_EQ(EmbeddedScriptText(), *text);

    CProcessApi& folders = *CProcessApi::GetInstance();
    CRecordingSink sink;
    CMalwareScript script(folders, *text, sink);
    ASSERT_TRUE(script.Parse()) << Utf16ToUtf8(script.LastMessage());
    EXPECT_EQ(8u, script.Descriptions().size());
}

TEST(ScriptResourceTest, MissingResourceGivesNothing) {
    EXPECT_FALSE(LoadScriptResource(GetModuleHandleW(L"kernel32.dll")).has_value());
    EXPECT_TRUE(LoadScriptResource(nullptr).has_value());  // this program carries the product's resources
}

}  // namespace
