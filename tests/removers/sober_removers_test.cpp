#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "removers/remover.h"
#include "support/removal_recorder.h"

namespace {

using Lines = std::vector<std::u16string>;

CMalwareRemover& SoberJ() { return *g_builtinRemovers[0]; }
CMalwareRemover& SoberP() { return *g_builtinRemovers[1]; }
CMalwareRemover& SoberY() { return *g_builtinRemovers[2]; }

const std::u16string kWin = u"C:\\WINDOWS";
const std::u16string kSys = u"C:\\WINDOWS\\system32";
const std::u16string kStatus = kWin + u"\\Connection Wizard\\Status\\";
const std::u16string kSec = kWin + u"\\WinSecurity\\";

Lines Removals(const std::u16string& prefix, std::initializer_list<const char16_t*> names) {
    Lines calls;
    for (const char16_t* n : names) calls.push_back(u"RemoveFile(" + prefix + n + u")");
    return calls;
}

Lines Concat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::u16string Deleted(const std::u16string& full) { return u"deleting companion file " + full + u" ...done\r\n"; }
std::u16string CleanedWith(const std::u16string& full) { return u"cleaning registry keys ..." + full + u"...done\r\n"; }

const Lines kSoberPTen = Removals(kStatus, {u"packed1.sbr", u"packed2.sbr", u"packed3.sbr", u"sacri1.ggg",
                                            u"sacri2.ggg", u"sacri3.ggg", u"voner1.von", u"voner2.von",
                                            u"voner3.von", u"fastso.ber"});
const Lines kSoberPFive = Removals(kSys, {u"\\adcmmmmq.hjg", u"\\langeinf.lin", u"\\nonrunso.ber", u"\\seppelmx.smx",
                                          u"\\xcvfpokd.tqa"});
const Lines kSoberYEleven =
    Removals(kSec, {u"starter.run", u"nexttroj.tro", u"socket1.ifo", u"socket2.ifo", u"socket3.ifo", u"mssock1.dli",
                    u"mssock2.dli", u"mssock3.dli", u"winmem1.ory", u"winmem2.ory", u"winmem3.ory"});

TEST(SoberJRemoverTest, MemoryAndFileCases) {
    // In memory both "done" lines stand whatever the results.
    {
        CRecordingSystem system;
        system.terminateResults[5] = 0;
        system.removeDefault = 2;
        system.removeResults[kSys + u"\\read.me"] = 1;
        CTestSession s;
        const uint32_t pid = 5;
        SoberJ().Remove(s.controller, u"C:\\w.exe", &pid, DetectionSource::Memory, true);
        EXPECT_EQ(u"Sober.J was found in memory !\r\nterminating process ...done\r\nremoving executable ...done\r\n"
                  u"cleaning registry keys ...done\r\n" +
                      Deleted(kSys + u"\\read.me") + u"Sober.J was successfully removed.\r\n",
                  s.output.text);
        EXPECT_EQ(Concat({{u"TerminateProcessById(5)", u"RemoveFile(C:\\w.exe)", u"CleanSoberRunEntries(C:\\w.exe)"},
                          Removals(kSys, {u"\\dgsfzipp.gmx", u"\\datamx.dam", u"\\sysmms32.lla", u"\\dgssxy.yoi",
                                          u"\\nonrunso.ber", u"\\Odin_Anon.Ger", u"\\read.me"})}),
                  system.calls);
    }
    {
        CRecordingSystem system;
        system.removeDefault = 2;
        CTestSession s;
        const uint32_t none = 0;
        SoberJ().Remove(s.controller, u"C:\\w.exe", &none, DetectionSource::File, false);
        EXPECT_EQ(u"Sober.J was found in file C:\\w.exe !\r\ncleaning registry keys ...done\r\n"
                  u"Sober.J was successfully removed.\r\n",
                  s.output.text);
    }
}

TEST(SoberPRemoverTest, MemoryCaseRunsCompanionsOnlyAtLastNode) {
    CRecordingSystem system;
    system.terminateResults[7] = 0;
    system.removeResults[u"C:\\p1.exe"] = 0;
    system.removeDefault = 2;  // companions absent...
    system.removeResults[kStatus + u"services.exe"] = 1;  // ...except these two
    system.removeResults[kSys + u"\\langeinf.lin"] = 1;
    CTestSession s;
    const uint32_t first = 7, last = 8;
    SoberP().Remove(s.controller, u"C:\\p1.exe", &first, DetectionSource::Memory, true);
    EXPECT_EQ(u"Sober.P was found in memory !\r\nterminating process ...file deletion scheduled on reboot\r\n"
              u"removing executable ...will be removed after reboot\nSober.P was successfully removed.\r\n",
              s.output.text);
    EXPECT_EQ((Lines{u"TerminateProcessById(7)", u"RemoveFile(C:\\p1.exe)"}), system.calls);

    system.calls.clear();
    s.output.text.clear();
    SoberP().Remove(s.controller, u"C:\\p2.exe", &last, DetectionSource::Memory, false);
    EXPECT_EQ(u"Sober.P was found in memory !\r\nterminating process ...done\r\nremoving executable ...done\r\n" +
                  Deleted(kStatus + u"services.exe") + CleanedWith(kStatus + u"services.exe") +
                  CleanedWith(kStatus + u"smss.exe") + Deleted(kSys + u"\\langeinf.lin") +
                  u"Sober.P was successfully removed.\r\n",
              s.output.text);
    EXPECT_EQ(Concat({{u"TerminateProcessById(8)", u"RemoveFile(C:\\p2.exe)", u"RemoveFile(" + kStatus + u"csrss.exe)",
                       u"RemoveFile(" + kStatus + u"services.exe)",
                       u"CleanSoberRunEntries(" + kStatus + u"services.exe)", u"RemoveFile(" + kStatus + u"smss.exe)",
                       u"CleanSoberRunEntries(" + kStatus + u"smss.exe)"},
                      kSoberPTen, kSoberPFive}),
              system.calls);
}

// A file whose deletion returns 2 prints no removal line but still cleans
// the Run keys with its path.
TEST(SoberPRemoverTest, FileCaseAlreadyHandledStillCleansRunKeys) {
    CRecordingSystem system;
    system.removeDefault = 2;
    CTestSession s;
    const uint32_t none = 0;
    SoberP().Remove(s.controller, u"C:\\p.exe", &none, DetectionSource::File, false);
    EXPECT_EQ(u"Sober.P was found in file C:\\p.exe !\r\ncleaning registry keys ...done\r\n"
              u"Sober.P was successfully removed.\r\n",
              s.output.text);
    EXPECT_EQ(Concat({{u"RemoveFile(C:\\p.exe)", u"CleanSoberRunEntries(C:\\p.exe)"},
                      Removals(kStatus, {u"csrss.exe", u"services.exe", u"smss.exe"}), kSoberPTen, kSoberPFive}),
              system.calls);
}

// Found in two processes: both terminated and removed, the companion phase
// with its registry cleaning once, at the second call.
TEST(SoberYRemoverTest, TwoProcessesCompanionPhaseOnce) {
    CRecordingSystem system;
    system.removeDefault = 2;
    system.removeResults[u"C:\\y1.exe"] = 1;
    system.removeResults[u"C:\\y2.exe"] = 1;
    system.removeResults[kSec + u"smss.exe"] = 1;  // e.g. in use, scheduled for reboot
    CTestSession s;
    const uint32_t first = 31, second = 32;
    SoberY().Remove(s.controller, u"C:\\y1.exe", &first, DetectionSource::Memory, true);
    SoberY().Remove(s.controller, u"C:\\y2.exe", &second, DetectionSource::Memory, false);
    const std::u16string process = u"Sober.Y was found in memory !\r\nterminating process ...done\r\n"
                                   u"removing executable ...done\r\n";
    EXPECT_EQ(process + u"Sober.Y was successfully removed.\r\n" + process + CleanedWith(kSec + u"services.exe") +
                  Deleted(kSec + u"smss.exe") + CleanedWith(kSec + u"smss.exe") + CleanedWith(kSec + u"csrss.exe") +
                  u"Sober.Y was successfully removed.\r\n",
              s.output.text);
    EXPECT_EQ(Concat({{u"TerminateProcessById(31)", u"RemoveFile(C:\\y1.exe)", u"TerminateProcessById(32)",
                       u"RemoveFile(C:\\y2.exe)"},
                      {u"RemoveFile(" + kSec + u"services.exe)", u"CleanSoberRunEntries(" + kSec + u"services.exe)",
                       u"RemoveFile(" + kSec + u"smss.exe)", u"CleanSoberRunEntries(" + kSec + u"smss.exe)",
                       u"RemoveFile(" + kSec + u"csrss.exe)", u"CleanSoberRunEntries(" + kSec + u"csrss.exe)"},
                      kSoberYEleven}),
              system.calls);
}

// On 64-bit Windows a system-folder companion is looked for in System32 and
// in SysWOW64, where a 32-bit worm's writes to the system folder land; each
// one found is reported with its own path.
TEST(SoberRemoversTest, SystemCompanionsAreLookedForInBothSystemFoldersOf64BitWindows) {
    const std::u16string wow = u"C:\\WINDOWS\\SysWOW64";
    struct Case {
        const char* name;
        CMalwareRemover& remover;
        std::initializer_list<const char16_t*> names;
    } cases[] = {
        {"Sober.J", SoberJ(),
         {u"\\dgsfzipp.gmx", u"\\datamx.dam", u"\\sysmms32.lla", u"\\dgssxy.yoi", u"\\nonrunso.ber",
          u"\\Odin_Anon.Ger", u"\\read.me"}},
        {"Sober.P", SoberP(),
         {u"\\adcmmmmq.hjg", u"\\langeinf.lin", u"\\nonrunso.ber", u"\\seppelmx.smx", u"\\xcvfpokd.tqa"}},
    };
    for (const Case& c : cases) {
        CRecordingSystem system;
        system.systemWow64Dir = wow;
        system.removeDefault = 2;
        const std::u16string native = kSys + *c.names.begin(), wow64 = wow + *(c.names.end() - 1);
        system.removeResults[native] = 1;
        system.removeResults[wow64] = 1;
        CTestSession s;
        const uint32_t none = 0;
        c.remover.Remove(s.controller, u"C:\\w.exe", &none, DetectionSource::File, false);
        Lines expected;
        for (const char16_t* name : c.names) {
            expected.push_back(u"RemoveFile(" + kSys + name + u")");
            expected.push_back(u"RemoveFile(" + wow + name + u")");
        }
        const Lines& calls = system.calls;
        ASSERT_GE(calls.size(), expected.size()) << c.name;
        EXPECT_EQ(expected, Lines(calls.end() - static_cast<std::ptrdiff_t>(expected.size()), calls.end())) << c.name;
        const std::u16string& text = s.output.text;
        EXPECT_NE(std::u16string::npos, text.find(Deleted(native))) << c.name;
        EXPECT_NE(std::u16string::npos, text.find(Deleted(wow64))) << c.name;
        EXPECT_LT(text.find(Deleted(native)), text.find(Deleted(wow64))) << c.name;
    }
}

TEST(SoberYRemoverTest, FileCase) {
    CRecordingSystem system;
    system.removeDefault = 2;
    system.removeResults[u"C:\\y.exe"] = 1;
    CTestSession s;
    const uint32_t none = 0;
    SoberY().Remove(s.controller, u"C:\\y.exe", &none, DetectionSource::File, false);
    EXPECT_EQ(u"Sober.Y was found in file C:\\y.exe !\r\nremoving executable ...done\r\n"
              u"cleaning registry keys ...done\r\n" +
                  CleanedWith(kSec + u"services.exe") + CleanedWith(kSec + u"smss.exe") +
                  CleanedWith(kSec + u"csrss.exe") + u"Sober.Y was successfully removed.\r\n",
              s.output.text);
    EXPECT_EQ(u"CleanSoberRunEntries(C:\\y.exe)", system.calls.at(1));
    EXPECT_EQ(2u + 6u + 11u, system.calls.size());
}

}  // namespace
