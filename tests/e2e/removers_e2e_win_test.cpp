// Every family of the carried script and every built-in remover, detected by
// a real scan (memory phase, then drive D:) and removed by the real
// primitives: golden transcript, counters and the system state afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <functional>
#include <string>
#include <vector>

#include "common/string_table.h"
#include "common/worker_thread.h"
#include "common/text16.h"
#include "common/wow64_win.h"
#include "removers/remover.h"
#include "quarantine/quarantine_win.h"
#include "removal/reboot_flag.h"
#include "removers/stanit_repair.h"
#include "support/builtin_support.h"
#include "support/e2e_win_support.h"
#include "support/pe_fixture.h"
#include "support/recording_remover.h"
#include "support/win_support.h"
#include "scan/scan_host_win.h"
#include "scan/scan_phases_win.h"

namespace {

const wchar_t* const kRun = kRunKey;
const wchar_t* const kRunOnce = kRunOnceKey;

std::wstring HostsPath() {
    return RequestedVersion() == "win98" ? WinDir() + L"\\hosts" : SysDir() + L"\\drivers\\etc\\hosts";
}

// The carried script's file signature of `name` ("Worm/NetSky.C").
std::vector<uint8_t> ScriptSignature(const std::u16string& name) {
    CWin32ScanHost host;
    TextOutput output;
    CScanController controller(output, host, {}, {});
    for (const CMalwareDescription& d : controller.Descriptions()) {
        if (d.baseName + u"." + d.variantName == name && d.fileSignature) return FromHex(*d.fileSignature);
    }
    ADD_FAILURE() << "no description " << Utf16ToUtf8(name);
    return {};
}

// Bytes matching built-in remover `n`'s file or memory record.
std::vector<uint8_t> BuiltinSignature(int n, bool memory) {
    const std::vector<std::unique_ptr<CMalwareRemover>> builtins = CreateBuiltinRemovers();
    const CMalwareRemover& r = *builtins[n];
    uint32_t length = 0;
    if (memory) {
        return ForgeSignatureBytes(r.GetMemorySignatureHead(length), r.GetMemorySignatureAnchorWord(),
                                   r.GetMemorySignatureLength(), r.GetMemorySignatureAnchorOffset(),
                                   r.GetMemorySignatureCrc(), 300 + n);
    }
    return ForgeSignatureBytes(r.GetFileSignatureHead(length), r.GetFileSignatureAnchorWord(),
                               r.GetFileSignatureLength(), r.GetFileSignatureAnchorOffset(), r.GetFileSignatureCrc(),
                               200 + n);
}

// An executable with `signature` inside a data section; a runnable one sleeps.
std::vector<uint8_t> CarrierImage(const std::vector<uint8_t>& signature, bool runnable) {
    FixturePlan fx;
    fx.pe32plus = runnable && sizeof(void*) == 8;
    fx.runnable = runnable;
    FixtureSection data;
    data.data = FixtureBytes(11, 1024);
    data.data.insert(data.data.begin() + 100, signature.begin(), signature.end());
    fx.sections.push_back(data);
    return BuildPe(fx).bytes;
}

// A Stanit-infected host: 16 bytes of host code, then the virus code at the
// entry point (entry code with the displaced entry point, the signature,
// filler), then 64 zero bytes.
struct StanitFixture {
    std::vector<uint8_t> bytes, repaired;
};
StanitFixture StanitInfected() {
    const uint32_t hostEntry = 0x1004;
    std::vector<uint8_t> code = {0x52, 0x60, 0xB9, 0, 0, 0, 0, 0xE8, 0x10, 0x00, 0x00, 0x00};
    for (int i = 0; i < 4; ++i) code[3 + i] = static_cast<uint8_t>(hostEntry >> (8 * i));
    const std::vector<uint8_t> signature = BuiltinSignature(3, false);
    code.insert(code.end(), signature.begin(), signature.end());
    const std::vector<uint8_t> filler = FixtureBytes(7, stanit::kVirusCodeSize - code.size());
    code.insert(code.end(), filler.begin(), filler.end());
    FixturePlan fx;
    FixtureSection text{".text", FixtureBytes(3, 16), 0, 0, 0x60000020};
    text.data.insert(text.data.end(), code.begin(), code.end());
    text.data.resize(text.data.size() + 64, 0);
    fx.sections.push_back(text);
    fx.entryPoint = 0x1000 + 16;
    const FixtureLayout layout = BuildPe(fx);
    StanitFixture f{layout.bytes, layout.bytes};
    for (int i = 0; i < 4; ++i) f.repaired[layout.ntHeadersOffset + 40 + i] = static_cast<uint8_t>(hostEntry >> (8 * i));
    const std::size_t entry = layout.sectionOffsets[0] + 16;
    std::fill(f.repaired.begin() + entry, f.repaired.begin() + entry + stanit::kVirusCodeSize, 0);
    return f;
}

// A Stanit dropper: the entry point at file offset 512.
std::vector<uint8_t> StanitDropper() {
    FixturePlan fx;
    FixtureSection text{".text", FixtureBytes(5, 600), 0, 0, 0x60000020};
    const std::vector<uint8_t> signature = BuiltinSignature(3, false);
    text.data.insert(text.data.begin() + 100, signature.begin(), signature.end());
    fx.sections.push_back(text);
    FixtureLayout layout = BuildPe(fx);
    // The section's raw data pointer moved to 512, over the header padding.
    EXPECT_LT(layout.sectionTableOffset + 40u, 512u);
    for (int i = 0; i < 4; ++i) layout.bytes[layout.sectionTableOffset + 20 + i] = static_cast<uint8_t>(512 >> (8 * i));
    return layout.bytes;
}

// The folder a file this program writes to the system folder lands in: for
// the 32-bit program under WOW64, as for a 32-bit worm, SysWOW64.
std::u16string LandingSystemDir() {
    if (sizeof(void*) == 4 && PrefixArch() == "win64") return SystemWow64Directory();
    return U16(SysDir());
}

// {W}, {S} and {F} in a golden transcript: the Windows folder, the system
// folder the companions planted there landed in, and the fixture's path.
std::u16string Expand(std::u16string text, const std::wstring& file) {
    const std::pair<std::u16string, std::u16string> keys[] = {{u"{W}", U16(WinDir())}, {u"{S}", LandingSystemDir()},
                                                              {u"{F}", U16(file)}};
    for (const auto& [key, value] : keys) text = ReplaceAll(std::move(text), key, value);
    return text;
}

const char16_t kMemoryClean[] = u"Scanning memory... done\r\n\r\nNo malware found in memory\r\n\r\n";
const char16_t kMemoryDone[] = u"Scanning memory... done\r\n";
const char16_t kDrive[] = u"\r\nScanning drive D: ...\r\n";

struct Counters {
    uint32_t infectedFiles, infectedProcesses, removedFiles, terminatedProcesses;
};

struct FamilyCase {
    const char* name;
    std::wstring file;                                  // the fixture on D:
    std::function<std::vector<uint8_t>()> image;        // its bytes
    bool running;                                       // started before the scan
    std::vector<std::wstring> companions;               // planted, {W}/{S} relative
    std::function<void()> plant;                        // more state before the scan
    std::u16string transcript;                          // {W}, {S}, {F} expanded
    Counters counters;
    std::function<void(const std::wstring& file)> check;  // state afterwards
};

std::wstring Folder(const std::wstring& relative) {
    if (relative.rfind(L"{W}", 0) == 0) return WinDir() + relative.substr(3);
    if (relative.rfind(L"{S}", 0) == 0) return SysDir() + relative.substr(3);
    return relative;
}

// A Run value in HKLM and HKCU naming `text`, and one that must stay.
void PlantRun(const wchar_t* name, const std::wstring& text) {
    EXPECT_TRUE(SetSz(HKEY_LOCAL_MACHINE, kRun, name, L"\"" + text + L"\" /s"));
    EXPECT_TRUE(SetSz(HKEY_CURRENT_USER, kRun, name, text));
    EXPECT_TRUE(SetSz(HKEY_LOCAL_MACHINE, kRun, L"e2e_keep", L"C:\\keep\\keep.exe"));
}
void ExpectRunGone(const wchar_t* name) {
    EXPECT_FALSE(HasValue(HKEY_LOCAL_MACHINE, kRun, name));
    EXPECT_FALSE(HasValue(HKEY_CURRENT_USER, kRun, name));
    EXPECT_TRUE(HasValue(HKEY_LOCAL_MACHINE, kRun, L"e2e_keep"));
}

std::u16string Found(const char16_t* family) { return std::u16string(family) + u" was found in file {F} !\r\n"; }
std::u16string Removed(const char16_t* family) { return std::u16string(family) + u" was successfully removed.\r\n"; }
std::u16string Companion(const char16_t* path) { return u"deleting companion file " + std::u16string(path) + u" ...done\r\n"; }
const char16_t kRemovingExe[] = u"removing executable ...done\r\n";
const char16_t kRegistry[] = u"cleaning registry keys ...done\r\n";

std::function<std::vector<uint8_t>()> Script(const char16_t* name, bool runnable = false) {
    return [=] { return CarrierImage(ScriptSignature(name), runnable); };
}
std::function<std::vector<uint8_t>()> Builtin(int n, bool memory = false) {
    return [=] { return CarrierImage(BuiltinSignature(n, memory), memory); };
}

std::vector<FamilyCase> Cases() {
    const char16_t* aa = u"Worm/NetSky.AA";
    const char16_t* b1 = u"Worm/NetSky.B.1";
    const char16_t* c = u"Worm/NetSky.C";
    const char16_t* d = u"Worm/NetSky.D.Dam";
    const char16_t* p = u"Worm/NetSky.P";
    const char16_t* x = u"Worm/NetSky.X";
    const char16_t* in2 = u"Worm/Mytob.IN.2";
    const char16_t* ks = u"Worm/Mytob.KS";
    std::vector<FamilyCase> cases;
    cases.push_back({"NetSky.AA", L"D:\\aa.exe", Script(aa), false,
                     {L"{W}\\pk_zip_alg.log", L"{W}\\pk_zip1.log", L"{W}\\pk_zip8.log"},
                     [] { PlantRun(L"e2e_aa", L"D:\\aa.exe"); },
                     kMemoryClean + std::u16string(kDrive) + Found(aa) + kRemovingExe +
                         Companion(u"{W}\\pk_zip_alg.log") + Companion(u"{W}\\pk_zip1.log") +
                         Companion(u"{W}\\pk_zip8.log") + kRegistry + Removed(aa),
                     {1, 0, 4, 0}, [](const std::wstring&) { ExpectRunGone(L"e2e_aa"); }});
    cases.push_back({"NetSky.B.1", L"D:\\b1.exe", Script(b1), false, {L"{W}\\misc.zip", L"{W}\\ps.zip"},
                     [] { PlantRun(L"e2e_b1", L"D:\\b1.exe"); },
                     kMemoryClean + std::u16string(kDrive) + Found(b1) + kRemovingExe + Companion(u"{W}\\misc.zip") +
                         Companion(u"{W}\\ps.zip") + kRegistry + Removed(b1),
                     {1, 0, 3, 0}, [](const std::wstring&) { ExpectRunGone(L"e2e_b1"); }});
    cases.push_back({"NetSky.C in memory", L"D:\\c.exe", Script(c, true), true, {},
                     [] { PlantRun(L"e2e_c", L"D:\\c.exe"); },
                     kMemoryDone + std::u16string(c) + u" was found in memory !\r\nterminating process ...done\r\n"
                                                        u"removing executables ...done\r\n" +
                         kRegistry + c + u" was successfully removed.\r\n" + kDrive +
                         u"\r\nNo malware found on hard drives\r\n\r\n",
                     {0, 1, 1, 1}, [](const std::wstring&) { ExpectRunGone(L"e2e_c"); }});
    cases.push_back({"NetSky.D.Dam", L"D:\\d.exe", Script(d), false, {},
                     [] { PlantRun(L"e2e_d", L"D:\\d.exe"); },
                     kMemoryClean + std::u16string(kDrive) + Found(d) + kRemovingExe + kRegistry + Removed(d),
                     {1, 0, 1, 0}, [](const std::wstring&) { ExpectRunGone(L"e2e_d"); }});
    cases.push_back({"NetSky.P", L"D:\\p.exe", Script(p), false, {L"{W}\\fvprotect.exe", L"{W}\\userconfig9x.dll"},
                     [] { PlantRun(L"e2e_p", WinDir() + L"\\fvprotect.exe"); },
                     kMemoryClean + std::u16string(kDrive) + Found(p) + kRemovingExe +
                         Companion(u"{W}\\fvprotect.exe") + Companion(u"{W}\\userconfig9x.dll") + kRegistry +
                         Removed(p),
                     {1, 0, 3, 0}, [](const std::wstring&) { ExpectRunGone(L"e2e_p"); }});
    cases.push_back({"NetSky.X", L"D:\\x.exe", Script(x), false, {L"{W}\\FirewallSvr.exe", L"{W}\\base64.tmp"},
                     [] {
                         PlantRun(L"e2e_x", L"D:\\x.exe");
                         PlantRun(L"e2e_x2", WinDir() + L"\\FirewallSvr.exe");
                     },
                     kMemoryClean + std::u16string(kDrive) + Found(x) + kRemovingExe +
                         Companion(u"{W}\\FirewallSvr.exe") + Companion(u"{W}\\base64.tmp") + kRegistry + Removed(x),
                     {1, 0, 3, 0},
                     [](const std::wstring&) {
                         ExpectRunGone(L"e2e_x");
                         ExpectRunGone(L"e2e_x2");
                     }});
    const wchar_t* lsaKeys[4][2] = {{L"HKCU", L"Software\\Microsoft\\OLE"},
                                    {L"HKCU", L"SYSTEM\\CurrentControlSet\\Control\\Lsa"},
                                    {L"HKLM", L"Software\\Microsoft\\OLE"},
                                    {L"HKLM", L"SYSTEM\\CurrentControlSet\\Control\\Lsa"}};
    auto root = [](const wchar_t* r) { return r[2] == L'C' ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; };
    cases.push_back({"Mytob.IN.2", L"D:\\in2.exe", Script(in2), false, {},
                     [=] {
                         PlantRun(L"e2e_in2", L"D:\\in2.exe");
                         PlantRun(L"e2e_in2b", WinDir() + L"\\wfdmgr.exe");
                         for (const auto& k : lsaKeys) {
                             EXPECT_TRUE(SetSz(root(k[0]), k[1], L"LSA", L"wfdmgr.exe"));
                             EXPECT_TRUE(SetSz(root(k[0]), k[1], L"e2e_other", L"x"));
                         }
                     },
                     kMemoryClean + std::u16string(kDrive) + Found(in2) + kRemovingExe + kRegistry + Removed(in2),
                     {1, 0, 1, 0},
                     [=](const std::wstring&) {
                         ExpectRunGone(L"e2e_in2");
                         ExpectRunGone(L"e2e_in2b");
                         for (const auto& k : lsaKeys) {
                             EXPECT_FALSE(HasValue(root(k[0]), k[1], L"LSA")) << k[0] << L"\\" << k[1];
                             EXPECT_TRUE(HasValue(root(k[0]), k[1], L"e2e_other"));
                         }
                     }});
    const wchar_t* shared = L"SYSTEM\\CurrentControlSet\\Services\\SharedAccess";
    const std::string hostsBefore =
        "127.0.0.1 localhost\r\n0.0.0.0 www.symantec.com\r\n1.2.3.4\twww.keep.example\r\n127.0.0.1 a.example "
        "www.worldpay.com\r\n";
    cases.push_back({"Mytob.KS", L"D:\\ks.exe", Script(ks), false, {},
                     [=] {
                         PlantRun(L"e2e_ks", L"D:\\ks.exe");
                         PlantRun(L"e2e_ks2", L"C:\\d.exe");
                         EXPECT_TRUE(SetDword(HKEY_LOCAL_MACHINE, shared, L"Start", 4));
                         EXPECT_TRUE(WriteText(HostsPath(), hostsBefore));
                     },
                     kMemoryClean + std::u16string(kDrive) + Found(ks) + kRemovingExe +
                         u"cleaning \"hosts\" file ...done\r\n" + kRegistry + Removed(ks),
                     {1, 0, 1, 0},
                     [=](const std::wstring&) {
                         ExpectRunGone(L"e2e_ks");
                         ExpectRunGone(L"e2e_ks2");
                         EXPECT_EQ(2u, GetDword(HKEY_LOCAL_MACHINE, shared, L"Start"));
                         EXPECT_EQ("127.0.0.1 localhost\r\n# 0.0.0.0 www.symantec.com\r\n1.2.3.4\twww.keep.example\r\n"
                                   "127.0.0.1 a.example www.worldpay.com\r\n",
                                   ReadText(HostsPath()));
                     }});
    // Built-ins: 0 Sober.J, 1 Sober.P, 2 Sober.Y, 3 W32/Stanit.
    cases.push_back({"Sober.J", L"D:\\soberj.exe", Builtin(0), false, {L"{S}\\datamx.dam", L"{S}\\read.me"},
                     [] { EXPECT_TRUE(SetSz(HKEY_CURRENT_USER, kRunOnce, L"e2e_sj", L"d:\\SOBERJ.EXE")); },
                     kMemoryClean + std::u16string(kDrive) + Found(u"Sober.J") + kRemovingExe + kRegistry +
                         Companion(u"{S}\\datamx.dam") + Companion(u"{S}\\read.me") + Removed(u"Sober.J"),
                     {1, 0, 3, 0},
                     [](const std::wstring&) { EXPECT_FALSE(HasValue(HKEY_CURRENT_USER, kRunOnce, L"e2e_sj")); }});
    cases.push_back({"Sober.P", L"D:\\soberp.exe", Builtin(1), false,
                     {L"{W}\\Connection Wizard\\Status\\smss.exe", L"{W}\\Connection Wizard\\Status\\fastso.ber",
                      L"{S}\\xcvfpokd.tqa"},
                     [] { EXPECT_TRUE(SetSz(HKEY_LOCAL_MACHINE, kRun, L"e2e_sp", L"D:\\soberp.exe")); },
                     kMemoryClean + std::u16string(kDrive) + Found(u"Sober.P") + kRemovingExe + kRegistry +
                         Companion(u"{W}\\Connection Wizard\\Status\\smss.exe") +
                         Companion(u"{W}\\Connection Wizard\\Status\\fastso.ber") +
                         Companion(u"{S}\\xcvfpokd.tqa") + Removed(u"Sober.P"),
                     {1, 0, 4, 0},
                     [](const std::wstring&) { EXPECT_FALSE(HasValue(HKEY_LOCAL_MACHINE, kRun, L"e2e_sp")); }});
    cases.push_back({"Sober.Y", L"D:\\sobery.exe", Builtin(2), false,
                     {L"{W}\\WinSecurity\\smss.exe", L"{W}\\WinSecurity\\winmem3.ory"},
                     [] {
                         EXPECT_TRUE(SetSz(HKEY_CURRENT_USER, kRun, L"e2e_sy", L"D:\\sobery.exe"));
                         EXPECT_TRUE(SetSz(HKEY_LOCAL_MACHINE, kRunOnce, L"e2e_sy2", WinDir() + L"\\WinSecurity\\smss.exe"));
                     },
                     kMemoryClean + std::u16string(kDrive) + Found(u"Sober.Y") + kRemovingExe + kRegistry +
                         u"cleaning registry keys ...{W}\\WinSecurity\\services.exe...done\r\n" +
                         Companion(u"{W}\\WinSecurity\\smss.exe") +
                         u"cleaning registry keys ...{W}\\WinSecurity\\smss.exe...done\r\n"
                         u"cleaning registry keys ...{W}\\WinSecurity\\csrss.exe...done\r\n" +
                         Companion(u"{W}\\WinSecurity\\winmem3.ory") + Removed(u"Sober.Y"),
                     {1, 0, 3, 0},
                     [](const std::wstring&) {
                         EXPECT_FALSE(HasValue(HKEY_CURRENT_USER, kRun, L"e2e_sy"));
                         EXPECT_FALSE(HasValue(HKEY_LOCAL_MACHINE, kRunOnce, L"e2e_sy2"));
                     }});
    cases.push_back({"Sober.Y in memory", L"D:\\soberym.exe", Builtin(2, true), true,
                     {L"{W}\\WinSecurity\\csrss.exe"}, [] {},
                     kMemoryDone + std::u16string(u"Sober.Y was found in memory !\r\nterminating process ...done\r\n") +
                         kRemovingExe + u"cleaning registry keys ...{W}\\WinSecurity\\services.exe...done\r\n" +
                         u"cleaning registry keys ...{W}\\WinSecurity\\smss.exe...done\r\n" +
                         Companion(u"{W}\\WinSecurity\\csrss.exe") +
                         u"cleaning registry keys ...{W}\\WinSecurity\\csrss.exe...done\r\n" + Removed(u"Sober.Y") +
                         kDrive + u"\r\nNo malware found on hard drives\r\n\r\n",
                     {0, 1, 2, 1}, [](const std::wstring&) {}});
    const StanitFixture stanit = StanitInfected();
    cases.push_back({"W32/Stanit repaired", L"D:\\stanit.exe", [=] { return stanit.bytes; }, false, {}, [] {},
                     kMemoryClean + std::u16string(kDrive) + Found(u"W32/Stanit") +
                         u"attempting to repair executable ...done\r\n" + Removed(u"W32/Stanit"),
                     {1, 0, 1, 0},
                     [=](const std::wstring& file) {
                         ASSERT_TRUE(Exists(file));
                         EXPECT_TRUE(Read(file) == stanit.repaired) << "entry point restored, virus code zeroed";
                     }});
    cases.push_back({"W32/Stanit dropper", L"D:\\dropper.exe", StanitDropper, false, {}, [] {},
                     kMemoryClean + std::u16string(kDrive) + Found(u"W32/Stanit") +
                         u"attempting to repair executable ...file is dropper, removing executable ...done\r\n",
                     {1, 0, 1, 0}, [](const std::wstring& file) { EXPECT_FALSE(Exists(file)); }});
    // The image carries the record (the same in memory and in files); the
    // file phase then finds entry code that is not the virus's: left as is.
    cases.push_back({"W32/Stanit in memory, file repaired", L"D:\\stanitm.exe", Builtin(3, true), true, {}, [] {},
                     kMemoryDone + std::u16string(u"W32/Stanit file infector was found in memory !\r\n"
                                                  u"WARNING DO NOT RUN OR START ANY PROGRAMS!\r\n"
                                                  u"WARNING DO NOT INTERRUPT THE SCANNING PROCESS!\r\n"
                                                  u"WARNING AFTER COMPLETION RESCAN YOUR SYSTEM!\r\n"
                                                  u"terminating process ...done\r\n"
                                                  u"W32/Stanit was successfully removed from memory.\r\n") +
                         kDrive + Found(u"W32/Stanit") + u"attempting to repair executable ...done\r\n" +
                         Removed(u"W32/Stanit"),
                     {1, 1, 1, 1},
                     [](const std::wstring& file) {
                         EXPECT_TRUE(Read(file) == CarrierImage(BuiltinSignature(3, true), true)) << "unchanged";
                     }});
    return cases;
}

class RemoverE2E : public ::testing::Test {
protected:
    void SetUp() override {
        if (GetDriveTypeW(L"D:\\") != DRIVE_FIXED) GTEST_SKIP() << "drive D: is not mapped";
    }
};

TEST_F(RemoverE2E, EveryFamilyDetectedAndRemovedByARealScan) {
    for (const FamilyCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Write(c.file, c.image()));
        std::vector<std::wstring> companions;
        for (const std::wstring& relative : c.companions) {
            const std::wstring path = Folder(relative);
            const std::size_t slash = path.find_last_of(L'\\');
            const std::size_t status = path.find(L"\\Status");
            if (status != std::wstring::npos) CreateDirectoryW(path.substr(0, status).c_str(), nullptr);
            CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
            ASSERT_TRUE(WriteText(path, "companion")) << Utf16ToUtf8(U16(path));
            companions.push_back(path);
        }
        c.plant();
        std::unique_ptr<Sleeper> process;
        if (c.running) {
            process = std::make_unique<Sleeper>(c.file);
            ASSERT_TRUE(process->started());
        }
        CWin32ScanHost host;
        ScanRun run(host);
        EXPECT_EQ(0, run.Run());
        EXPECT_EQ(Expand(c.transcript, c.file), run.output.text) << Utf16ToUtf8(run.output.text);
        const ScanStatistics& s = run.controller.GetStatistics();
        EXPECT_EQ(c.counters.infectedFiles, s.infectedFiles);
        EXPECT_EQ(c.counters.infectedProcesses, s.infectedProcesses);
        EXPECT_EQ(c.counters.removedFiles, s.removedFiles);
        EXPECT_EQ(c.counters.terminatedProcesses, s.terminatedProcesses);
        if (process) {
            EXPECT_FALSE(process->running());
        }
        for (const std::wstring& path : companions) EXPECT_FALSE(Exists(path)) << Utf16ToUtf8(U16(path));
        if (std::string(c.name).find("repaired") == std::string::npos) {
            EXPECT_FALSE(Exists(c.file));
        }
        c.check(c.file);
        process.reset();
        DeleteFileW(c.file.c_str());
    }
}

// Every value below `subkey` of `root`, key by key, as text ("" when the key is missing).
std::wstring RegistryDump(HKEY root, const std::wstring& subkey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return L"";
    std::wstring dump = L"[" + subkey + L"]\n";
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameLength = 16384, type = 0, size = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::vector<BYTE> data(size + 2);
        nameLength = 16384;
        RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data.data(), &size);
        dump += std::wstring(name) + L"=" + std::to_wstring(type) + L":";
        for (DWORD b = 0; b < size; ++b) dump += L"0123456789abcdef"[data[b] >> 4], dump += L"0123456789abcdef"[data[b] & 15];
        dump += L"\n";
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.emplace_back(name);
    }
    RegCloseKey(key);
    for (const std::wstring& child : children) dump += RegistryDump(root, subkey + L"\\" + child);
    return dump;
}

// The keys the removers of every family act on, the Run keys of every user included.
std::wstring RemovalRegistryState() {
    std::wstring state;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        for (const wchar_t* key : {L"Software\\Microsoft\\Windows\\CurrentVersion", L"Software\\Microsoft\\OLE",
                                   L"SYSTEM\\CurrentControlSet\\Control\\Lsa",
                                   L"SYSTEM\\CurrentControlSet\\Services\\SharedAccess"}) {
            state += RegistryDump(root, key);
        }
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(HKEY_USERS, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        state += RegistryDump(HKEY_USERS, std::wstring(name) + L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    }
    return state;
}

TEST_F(RemoverE2E, ScanOnlyFindsEveryFamilyAndChangesNothing) {
    const std::vector<FamilyCase> cases = Cases();
    std::vector<std::wstring> files{HostsPath()};
    std::vector<std::unique_ptr<Sleeper>> processes;
    for (const FamilyCase& c : cases) {
        ASSERT_TRUE(Write(c.file, c.image())) << c.name;
        files.push_back(c.file);
        for (const std::wstring& relative : c.companions) {
            const std::wstring path = Folder(relative);
            const std::size_t status = path.find(L"\\Status");
            if (status != std::wstring::npos) CreateDirectoryW(path.substr(0, status).c_str(), nullptr);
            CreateDirectoryW(path.substr(0, path.find_last_of(L'\\')).c_str(), nullptr);
            ASSERT_TRUE(WriteText(path, "companion"));
            files.push_back(path);
        }
        c.plant();
        if (c.running) {
            processes.push_back(std::make_unique<Sleeper>(c.file));
            ASSERT_TRUE(processes.back()->started()) << c.name;
        }
    }
    std::vector<std::vector<uint8_t>> before;
    for (const std::wstring& f : files) before.push_back(Read(f));
    const std::wstring registryBefore = RemovalRegistryState();
    const unsigned deferredBefore = DeferredOperationCount();

    CWin32ScanHost host;
    ScanRun run(host);
    run.controller.SetScanOnly(true);
    EXPECT_EQ(0, run.Run());

    const std::vector<DetectionRecord>& detections = run.controller.Journal().Detections();
    for (const FamilyCase& c : cases) {
        const bool found = std::any_of(detections.begin(), detections.end(), [&](const DetectionRecord& d) {
            return EqualsIgnoreCase(d.path, U16(c.file)) ||
                   std::any_of(d.processes.begin(), d.processes.end(),
                               [&](const DetectedProcess& p) { return EqualsIgnoreCase(p.path, U16(c.file)); });
        });
        EXPECT_TRUE(found) << c.name << " was not detected";
    }
    for (const DetectionRecord& d : detections) {
        ASSERT_EQ(1u, d.actions.size());
        EXPECT_EQ(ActionKind::None, d.actions[0].kind);
    }
    const std::u16string& text = run.output.text;
    std::size_t lines = 0;
    for (std::size_t at = text.find(u"detected, no action taken (scan only)\r\n"); at != std::u16string::npos;
         at = text.find(u"detected, no action taken (scan only)\r\n", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(detections.size(), lines) << Utf16ToUtf8(text);
    EXPECT_EQ(std::u16string::npos, text.find(u"successfully removed")) << Utf16ToUtf8(text);
    const ScanStatistics& s = run.controller.GetStatistics();
    const auto fileDetections = std::count_if(detections.begin(), detections.end(),
                                              [](const DetectionRecord& d) { return d.source == DetectionSource::File; });
    EXPECT_EQ(static_cast<uint32_t>(fileDetections), s.infectedFiles);
    EXPECT_EQ(processes.size(), s.infectedProcesses);
    EXPECT_EQ(0u, s.removedFiles + s.renamedFiles + s.terminatedProcesses);

    for (const auto& p : processes) EXPECT_TRUE(p->running());
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_TRUE(Read(files[i]) == before[i]) << Utf16ToUtf8(U16(files[i])) << " changed";
    }
    EXPECT_TRUE(RemovalRegistryState() == registryBefore) << "the registry changed";
    EXPECT_EQ(deferredBefore, DeferredOperationCount());
    processes.clear();
    for (const FamilyCase& c : cases) DeleteFileW(c.file.c_str());
}

// tesmora-sig.exe with `arguments` in this prefix: its standard output, and its exit code in `code`.
std::string RunAnalystTool(const std::wstring& arguments, DWORD& code) {
    code = 0xFFFFFFFF;
    wchar_t folder[MAX_PATH] = {}, name[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    if (GetTempFileNameW(folder, L"sig", 0, name) == 0) return {};
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    std::string out;
    {
        UniqueHandle file(CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
        if (!file) return {};
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = file.get();
        startup.hStdError = file.get();
        std::wstring command = L"\"" + HostPath(TESMORA_SIG_EXE) + L"\" " + arguments;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
            return {};
        }
        WaitForSingleObject(process.hProcess, 60000);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    out = ReadText(name);
    DeleteFileW(name);
    return out;
}

// The quarantine entry of the action of `kind` on `path`, or null.
const QuarantineEntry* CopyOf(const CDetectionJournal& journal, ActionKind kind, const std::wstring& path) {
    for (const DetectionRecord& d : journal.Detections()) {
        for (const ActionRecord& a : d.actions) {
            if (a.kind == kind && EqualsIgnoreCase(a.target, U16(path)) && a.quarantine) return &*a.quarantine;
        }
    }
    return nullptr;
}

// A real removal run keeps copies in the quarantine; the analyst tool puts a
// repaired program and a deleted sample back as they were.
TEST_F(RemoverE2E, QuarantinedFilesComeBackByteForByte) {
    DWORD code = 0;
    RunAnalystTool(L"quarantine purge", code);
    ASSERT_EQ(0u, code) << "tesmora-sig.exe quarantine purge";
    const StanitFixture stanit = StanitInfected();
    const std::vector<uint8_t> sample = CarrierImage(BuiltinSignature(0, false), false);
    const std::wstring repairedPath = L"D:\\qstanit.exe", deletedPath = L"D:\\qsober.exe";
    ASSERT_TRUE(Write(repairedPath, stanit.bytes));
    ASSERT_TRUE(Write(deletedPath, sample));

    CWindowsQuarantine quarantine;
    CWin32ScanHost host;
    ScanRun run(host);
    run.controller.SetQuarantine(&quarantine);
    EXPECT_EQ(0, run.Run());
    EXPECT_TRUE(Read(repairedPath) == stanit.repaired);
    EXPECT_FALSE(Exists(deletedPath));
    const QuarantineEntry* repaired = CopyOf(run.controller.Journal(), ActionKind::Repair, repairedPath);
    const QuarantineEntry* deleted = CopyOf(run.controller.Journal(), ActionKind::Delete, deletedPath);
    ASSERT_TRUE(repaired != nullptr && deleted != nullptr) << Utf16ToUtf8(run.output.text);
    EXPECT_EQ(u"W32/Stanit.A", repaired->family);
    EXPECT_EQ(u"Sober.J", deleted->family);
    EXPECT_EQ(sample.size(), deleted->size);

    const std::string list = RunAnalystTool(L"quarantine list", code);
    EXPECT_EQ(0u, code);
    for (const QuarantineEntry* e : {repaired, deleted}) {
        EXPECT_NE(std::string::npos, list.find(Utf16ToUtf8(e->id) + "\t")) << list;
        EXPECT_NE(std::string::npos, list.find(e->sha256)) << list;
    }
    RunAnalystTool(L"quarantine restore " + std::wstring(deleted->id.begin(), deleted->id.end()), code);
    EXPECT_EQ(0u, code);
    EXPECT_TRUE(Read(deletedPath) == sample) << "the deleted sample is back byte for byte";
    // The repaired program is in the way: nothing is overwritten.
    const std::wstring repairedId(repaired->id.begin(), repaired->id.end());
    RunAnalystTool(L"quarantine restore " + repairedId, code);
    EXPECT_EQ(1u, code);
    EXPECT_TRUE(Read(repairedPath) == stanit.repaired);
    ASSERT_TRUE(DeleteFileW(repairedPath.c_str()));
    RunAnalystTool(L"quarantine restore " + repairedId, code);
    EXPECT_EQ(0u, code);
    EXPECT_TRUE(Read(repairedPath) == stanit.bytes) << "the infected original is back byte for byte";
    DeleteFileW(repairedPath.c_str());
    DeleteFileW(deletedPath.c_str());
}

// With the quarantine on a full drive (TESMORA_FULL_DISK names it) no copy
// can be made: the sample is removed all the same, and the journal says the
// copy is missing.
TEST_F(RemoverE2E, RemovalGoesOnWhenNoCopyCanBeMade) {
    const char* drive = std::getenv("TESMORA_FULL_DISK");
    if (drive == nullptr) GTEST_SKIP() << "run by wine.quarantine_full_disk on a small tmpfs";
    const std::wstring full(drive, drive + std::strlen(drive));
    const std::wstring root = full + L"\\Tesmora";
    const std::wstring filler = full + L"\\filler";
    ASSERT_TRUE(FillDrive(filler));
    const std::wstring sample = L"D:\\fullsober.exe";
    ASSERT_TRUE(Write(sample, CarrierImage(BuiltinSignature(0, false), false)));
    CWindowsQuarantine quarantine(U16(root));
    CWin32ScanHost host;
    ScanRun run(host);
    run.controller.SetQuarantine(&quarantine);
    EXPECT_EQ(0, run.Run());
    EXPECT_FALSE(Exists(sample)) << "removed without its copy";
    bool missing = false;
    for (const DetectionRecord& d : run.controller.Journal().Detections()) {
        for (const ActionRecord& a : d.actions) {
            if (a.kind == ActionKind::Delete && EqualsIgnoreCase(a.target, U16(sample))) {
                EXPECT_EQ(ActionOutcome::Removed, a.outcome);
                EXPECT_FALSE(a.quarantine.has_value());
                missing = a.quarantineMissing;
            }
        }
    }
    EXPECT_TRUE(missing) << Utf16ToUtf8(run.output.text);
    DeleteFileW(filler.c_str());
}

// Finds the application's message box on `desktop`, keeps its text and
// answers it.
class PopupCloser {
public:
    explicit PopupCloser(HDESK desktop) {
        thread_.Start([this, desktop] {
            SetThreadDesktop(desktop);
            Loop();
        });
    }
    ~PopupCloser() { Stop(); }
    void Stop() {
        stop_ = true;
        thread_.Join();
    }
    std::wstring text;
    int closed = 0;

private:
    void Loop() {
        while (!stop_) {
            HWND box = FindWindowW(L"#32770", L"Tesmora Removal Tool - Zelox GmbH");
            if (box != nullptr) {
                wchar_t buffer[256] = {};
                GetDlgItemTextW(box, 0xFFFF, buffer, 256);
                text = buffer;
                ++closed;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                while (!stop_ && IsWindow(box)) Sleep(20);
            }
            Sleep(20);
        }
    }
    std::atomic<bool> stop_{false};
    CWorkerThread thread_;
};

class PopupHost : public CWin32ScanHost {
public:
    explicit PopupHost(std::u16string script) : script_(std::move(script)) {}
    std::optional<std::u16string> LoadScriptText() override { return script_; }

private:
    std::u16string script_;
};

// The file phase runs on a thread of a desktop of its own, whose windows
// Wine's null display driver keeps (no X display is needed).
TEST_F(RemoverE2E, ShowPopupInfoOpensTheApplicationsMessageBox) {
    if (GetEnvironmentVariableW(L"TESMORA_POPUP_CHILD", nullptr, 0) == 0) {
        // Wine picks a process's display driver once, at its first window:
        // the test runs in a fresh copy of this program.
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring command = L"\"" + std::wstring(self) +
                               L"\" --gtest_filter=RemoverE2E.ShowPopupInfoOpensTheApplicationsMessageBox";
        SetEnvironmentVariableW(L"TESMORA_POPUP_CHILD", L"1");
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                            &startup, &info);
        SetEnvironmentVariableW(L"TESMORA_POPUP_CHILD", nullptr);
        ASSERT_TRUE(started);
        CloseHandle(info.hThread);
        WaitForSingleObject(info.hProcess, INFINITE);
        DWORD code = 99;
        GetExitCodeProcess(info.hProcess, &code);
        CloseHandle(info.hProcess);
        EXPECT_EQ(0u, code) << "the copy's test failed";
        return;
    }
    const std::vector<uint8_t> signature = FixtureBytes(7070, 48);
    PopupHost host(u"[Malware Test.Popup]\r\nSIGNATURE_FILE " + HexText(signature) +
                   u"\r\nSHOW_POPUP_INFO \"Please restart now.\"\r\n");
    ASSERT_TRUE(Write(L"D:\\popup.exe", CarrierImage(signature, false)));
    const wchar_t* drivers = L"Software\\Wine\\Drivers";
    ASSERT_TRUE(SetSz(HKEY_CURRENT_USER, drivers, L"Graphics", L"null"));
    HDESK desktop = CreateDesktopW(L"tesmora_popup", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ASSERT_NE(nullptr, desktop);
    std::vector<std::unique_ptr<CScanner>> phases = CreateScanPhases();
    CScanner* files = phases[1].get();
    TextOutput output;
    CScanController controller(output, host, CreateBuiltinRemovers(), std::move(phases));
    int32_t result = -1;
    PopupCloser closer(desktop);
    CWorkerThread scan;
    ASSERT_TRUE(scan.Start([&] {
        SetThreadDesktop(desktop);
        DriveListNode drive{u"D:", nullptr};
        result = files->Scan(nullptr, nullptr, &drive);
    }));
    scan.Join();
    closer.Stop();
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, drivers, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, L"Graphics");
        RegCloseKey(key);
    }
    CloseDesktop(desktop);
    EXPECT_EQ(kScanMalwareRemoved, result);
    EXPECT_EQ(1, closer.closed);
    EXPECT_EQ(L"Please restart now.", closer.text);
    EXPECT_EQ(std::u16string(kDrive) + u"Test.Popup was found in file D:\\popup.exe !\r\n" + kRemovingExe +
                  u"Test.Popup was successfully removed.\r\n",
              output.text);
    EXPECT_FALSE(Exists(L"D:\\popup.exe"));
}

}  // namespace
