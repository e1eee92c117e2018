#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "removers/action_executor.h"
#include "removers/remover.h"
#include "script/fixed_folders.h"
#include "script/parser.h"
#include "support/removal_recorder.h"
#include "support/script_support.h"

namespace {

using Lines = std::vector<std::u16string>;

// The description "Worm/Test.A" with the action lines `actions`; with or
// without a memory signature.
std::unique_ptr<CScriptedMalware> Scripted(const std::u16string& actions, bool memorySignature) {
    CFixedFolders folders;
    CRecordingSink sink;
    const std::u16string text = u"[Malware Worm/Test.A]\r\nSIGNATURE_FILE " + HexSignature(1) + u"\r\n" + actions;
    CMalwareScript script(folders, text, sink);
    EXPECT_TRUE(script.Parse()) << Utf16ToUtf8(script.LastMessage());
    std::vector<CMalwareDescription> d = script.TakeDescriptions();
    if (d.empty()) return nullptr;
    const uint8_t head[5] = {1, 2, 3, 4, 5};
    const CSignature memory = memorySignature ? CSignature(head, 0x0607, 32, 5, 0x1234) : CSignature();
    return std::make_unique<CScriptedMalware>(memory, CSignature(), d[0].baseName, d[0].variantName,
                                              d[0].actions);
}

void RemoveInProcesses(CScriptedMalware& m, CTestSession& s, const std::vector<InfectedProcessRecord>& records) {
    m.Remove(s.controller, nullptr, &records, DetectionSource::Memory, true);
}

void RemoveInFile(CScriptedMalware& m, CTestSession& s, const char16_t* path) {
    const uint32_t noProcess = 0;
    m.Remove(s.controller, path, &noProcess, DetectionSource::File, false);
}

TEST(SplitKeyPathTest, SplitsAtFirstBackslash) {
    struct Case {
        const char16_t* word;
        bool split;
        const char16_t* root;
        const char16_t* subkey;
    } cases[] = {
        {u"HKEY_LOCAL_MACHINE\\Software\\X", true, u"HKEY_LOCAL_MACHINE", u"Software\\X"},
        {u"HKEY_LOCAL_MACHINE\\", true, u"HKEY_LOCAL_MACHINE", u""},
        {u"\\Software", true, u"", u"Software"},
        {u"HKEY_LOCAL_MACHINE", false, u"unset", u"unset"},
    };
    for (const Case& c : cases) {
        std::u16string root = u"unset", subkey = u"unset";
        EXPECT_EQ(c.split, SplitKeyPath(c.word, root, subkey)) << Utf16ToUtf8(c.word);
        EXPECT_EQ(c.root, root);
        EXPECT_EQ(c.subkey, subkey);
    }
}

TEST(ActionExecutorTest, KillListComesFromFirstKillProcessLineOnly) {
    const std::vector<InfectedProcessRecord> two = {ProcessRecordOf(u"C:\\a.exe", 10),
                                                    ProcessRecordOf(u"C:\\b.exe", 11)};
    const std::vector<InfectedProcessRecord> one = {ProcessRecordOf(u"C:\\a.exe", 10)};
    struct Case {
        const char16_t* actions;
        const std::vector<InfectedProcessRecord>* records;
        const char16_t* lines;  // between the headline and the final line
        Lines calls;
    } cases[] = {
        {u"KILL_PROCESS %infected_processes% wfdmgr.exe\r\nKILL_PROCESS other.exe\r\n", &two,
         u"terminating processes ...done\r\n", {u"TerminateProcesses(10,11,20,21)"}},
        {u"KILL_PROCESS %infected_processes%\r\n", &one, u"terminating process ...done\r\n",
         {u"TerminateProcesses(10)"}},
        {u"KILL_PROCESS wfdmgr.exe\r\n", &one, u"terminating processes ...done\r\n", {u"TerminateProcesses(20,21)"}},
        {u"KILL_PROCESS absent.exe\r\nKILL_PROCESS %infected_processes%\r\n", &two, u"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.actions));
        std::unique_ptr<CScriptedMalware> m = Scripted(c.actions, true);
        ASSERT_TRUE(m);
        CRecordingSystem system;
        system.processes[u"wfdmgr.exe"] = {20, 21};
        CTestSession s;
        RemoveInProcesses(*m, s, *c.records);
        EXPECT_EQ(std::u16string(u"Worm/Test.A was found in memory !\r\n") + c.lines +
                      u"Worm/Test.A was successfully removed.\r\n",
                  s.output.text);
        EXPECT_EQ(c.calls, system.calls);
    }
}

// Without a memory signature the processes were found by their executables,
// which are removed.
TEST(ActionExecutorTest, ExecutablesRemovedOnlyWithoutMemorySignature) {
    const std::vector<InfectedProcessRecord> records = {ProcessRecordOf(u"C:\\a.exe", 10),
                                                        ProcessRecordOf(u"C:\\b.exe", 11)};
    const std::vector<InfectedProcessRecord> none;
    struct Case {
        bool memorySignature;
        const std::vector<InfectedProcessRecord>* records;
        int bResult;
        const char16_t* lines;
        Lines calls;
    } cases[] = {
        {false, &records, 1, u"removing executables ...done\r\n", {u"RemoveFile(C:\\a.exe)", u"RemoveFile(C:\\b.exe)"}},
        {false, &records, 2, u"removing executables ...done\r\n", {u"RemoveFile(C:\\a.exe)", u"RemoveFile(C:\\b.exe)"}},
        {false, &records, 0, u"removing executables ...failed\r\n",
         {u"RemoveFile(C:\\a.exe)", u"RemoveFile(C:\\b.exe)"}},
        {false, &none, 1, u"removing executables ...failed\r\n", {}},
        {true, &records, 1, u"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bResult);
        std::unique_ptr<CScriptedMalware> m = Scripted(u"KILL_PROCESS absent.exe\r\n", c.memorySignature);
        ASSERT_TRUE(m);
        CRecordingSystem system;
        system.removeResults[u"C:\\a.exe"] = 0;
        system.removeResults[u"C:\\b.exe"] = c.bResult;
        CTestSession s;
        RemoveInProcesses(*m, s, *c.records);
        EXPECT_EQ(std::u16string(u"Worm/Test.A was found in memory !\r\n") + c.lines +
                      u"Worm/Test.A was successfully removed.\r\n",
                  s.output.text);
        EXPECT_EQ(c.calls, system.calls);
    }
}

const char16_t kAllKinds[] =
    u"KILL_PROCESS %infected_processes%\r\n"
    u"REMOVE_FILE %infected_file% C:\\w\\a.dat C:\\w\\b.dat\r\n"
    u"RENAME_FILE C:\\X a.exe b.exe\r\n"
    u"RENAME_FILE C:\\y.exe C:\\z.exe\r\n"
    u"CLEAN_SYSTEM_INI %infected_file%\r\n"
    u"CLEAN_WIN_INI evil.exe\r\n"
    u"RESTORE_HOSTS\r\n"
    u"REMOVE_FROM_HOSTS bad.example worse.example gone.example\r\n"
    u"SHOW_POPUP_INFO \"Please restart.\"\r\n"
    u"REMOVE_RUN_REG %infected_file% evil.exe\r\n"
    u"REMOVE_REG_KEY HKEY_LOCAL_MACHINE HKEY_LOCAL_MACHINE\\ HKLM\\Software\\Evil\r\n"
    u"REMOVE_REG_VALUE HKLM\\Software\\Run a b\r\n"
    u"REMOVE_REG_VALUE HKLM c\r\n"
    u"REPLACE_REG_VALUE HKLM\\SYSTEM\\SharedAccess Start 4 2\r\n"
    u"REPLACE_REG_VALUE HKLM\\Software\\Shell cmd %infected_file% explorer.exe\r\n"
    u"ADD_REG_KEY HKLM\\Software\\Safe NoBackslash\r\n"
    u"ADD_REG_VALUE HKLM\\Software\\Safe Flag:DWORD 1\r\n"
    u"ADD_REG_VALUE HKLM\\Software\\Safe Name\r\n";

// Every kind on a first and a second file detection: system-wide actions
// only the first time, the infected file's parts both times.
TEST(ActionExecutorTest, FileDetectionsFirstAndSecond) {
    std::unique_ptr<CScriptedMalware> m = Scripted(kAllKinds, true);
    ASSERT_TRUE(m);
    CRecordingSystem system;
    system.removeResults[u"C:\\w\\b.dat"] = 2;
    system.removeResults[u"C:\\second.exe"] = 2;
    system.results[u"RenameFile(C:\\y.exe|C:\\z.exe)"] = 2;
    system.results[u"CleanIniFile(evil.exe|2)"] = 2;
    system.results[u"RemoveFromHostsFile(bad.example)"] = 7;
    system.results[u"RemoveFromHostsFile(gone.example)"] = 2;
    CTestSession s;
    RemoveInFile(*m, s, u"C:\\first.exe");
    EXPECT_EQ(u"Worm/Test.A was found in file C:\\first.exe !\r\n"
              u"removing executable ...done\r\n"
              u"deleting companion file C:\\w\\a.dat ...done\r\n"
              u"renaming C:\\X\\a.exe to C:\\X\\b.exe ...done\r\n"
              u"cleaning \"system.ini\" file ...done\r\n"
              u"restoring \"hosts\" file ...done\r\n"
              u"cleaning \"hosts\" file ...done\r\n"
              u"cleaning registry keys ...done\r\n"
              u"Worm/Test.A was successfully removed.\r\n",
              s.output.text);
    const Lines firstCalls = {
        u"RemoveFile(C:\\first.exe)",
        u"RemoveFile(C:\\w\\a.dat)",
        u"RemoveFile(C:\\w\\b.dat)",
        u"RenameFile(C:\\X\\a.exe|C:\\X\\b.exe)",
        u"RenameFile(C:\\y.exe|C:\\z.exe)",
        u"CleanIniFile(C:\\first.exe|1)",
        u"CleanIniFile(evil.exe|2)",
        u"RestoreHostsFile()",
        u"RemoveFromHostsFile(bad.example)",
        u"RemoveFromHostsFile(worse.example)",
        u"RemoveFromHostsFile(gone.example)",
        u"ShowPopup(Please restart.)",
        u"RemoveRunEntries(C:\\first.exe)",
        u"RemoveRunEntries(evil.exe)",
        u"DeleteRegistryKey(HKEY_LOCAL_MACHINE|)",
        u"DeleteRegistryKey(HKEY_LOCAL_MACHINE|Software\\Evil)",
        u"DeleteRegistryValue(HKEY_LOCAL_MACHINE|Software\\Run|a)",
        u"DeleteRegistryValue(HKEY_LOCAL_MACHINE|Software\\Run|b)",
        u"ReplaceRegistryValue(HKEY_LOCAL_MACHINE|SYSTEM\\SharedAccess|Start|4|2)",
        u"ReplaceRegistryValue(HKEY_LOCAL_MACHINE|Software\\Shell|cmd|C:\\first.exe|explorer.exe)",
        u"CreateRegistryKey(HKEY_LOCAL_MACHINE|Software\\Safe)",
        u"SetRegistryValue(HKEY_LOCAL_MACHINE|Software\\Safe|Flag|DWORD|1)",
        u"SetRegistryValue(HKEY_LOCAL_MACHINE|Software\\Safe|Name|-|-)",
    };
    EXPECT_EQ(firstCalls, system.calls);
    EXPECT_FALSE(m->isFirstRemoval);
    EXPECT_FALSE(m->registryTouched);

    system.calls.clear();
    s.output.text.clear();
    RemoveInFile(*m, s, u"C:\\second.exe");
    EXPECT_EQ(u"Worm/Test.A was found in file C:\\second.exe !\r\n"
              u"removing executable ...failed\r\n"
              u"cleaning \"system.ini\" file ...done\r\n"
              u"cleaning registry keys ...done\r\n"
              u"Worm/Test.A was successfully removed.\r\n",
              s.output.text);
    const Lines secondCalls = {
        u"RemoveFile(C:\\second.exe)",
        u"CleanIniFile(C:\\second.exe|1)",
        u"ShowPopup(Please restart.)",
        u"RemoveRunEntries(C:\\second.exe)",
        u"ReplaceRegistryValue(HKEY_LOCAL_MACHINE|Software\\Shell|cmd|C:\\second.exe|explorer.exe)",
    };
    EXPECT_EQ(secondCalls, system.calls);
}

// A silent run has no one to close a box: the text goes to the log instead.
TEST(ActionExecutorTest, PopupOfAnUnattendedRunGoesToTheLog) {
    std::unique_ptr<CScriptedMalware> m = Scripted(u"SHOW_POPUP_INFO \"Please restart.\"\r\n", false);
    ASSERT_TRUE(m);
    CRecordingSystem system;
    CTestSession s;
    s.host.unattended = true;
    RemoveInFile(*m, s, u"C:\\x.exe");
    EXPECT_EQ(u"Worm/Test.A was found in file C:\\x.exe !\r\n"
              u"removing executable ...done\r\n"
              u"Please restart.\r\n"
              u"Worm/Test.A was successfully removed.\r\n",
              s.output.text);
    EXPECT_EQ(Lines{u"RemoveFile(C:\\x.exe)"}, system.calls);
}

// A memory detection runs the infected-file parts for every infected process.
TEST(ActionExecutorTest, MemoryDetectionUsesEveryProcessPath) {
    std::unique_ptr<CScriptedMalware> m = Scripted(
        u"CLEAN_SYSTEM_INI %infected_file%\r\n"
        u"REMOVE_RUN_REG %infected_file%\r\n"
        u"REPLACE_REG_VALUE HKCU\\Software\\Shell cmd %infected_file% explorer.exe\r\n",
        true);
    ASSERT_TRUE(m);
    const std::vector<InfectedProcessRecord> records = {ProcessRecordOf(u"C:\\a.exe", 10),
                                                        ProcessRecordOf(u"C:\\b.exe", 11)};
    // One of the two paths cleaned is enough for the line.
    const int results[][2] = {{2, 1}, {1, 2}};
    for (const auto& r : results) {
        CRecordingSystem system;
        system.results[u"CleanIniFile(C:\\a.exe|1)"] = r[0];
        system.results[u"CleanIniFile(C:\\b.exe|1)"] = r[1];
        CTestSession s;
        RemoveInProcesses(*m, s, records);
        EXPECT_EQ(u"Worm/Test.A was found in memory !\r\ncleaning \"system.ini\" file ...done\r\n"
                  u"cleaning registry keys ...done\r\nWorm/Test.A was successfully removed.\r\n",
                  s.output.text);
        const Lines calls = {
            u"CleanIniFile(C:\\a.exe|1)",
            u"CleanIniFile(C:\\b.exe|1)",
            u"RemoveRunEntries(C:\\a.exe)",
            u"RemoveRunEntries(C:\\b.exe)",
            u"ReplaceRegistryValue(HKEY_CURRENT_USER|Software\\Shell|cmd|C:\\a.exe|explorer.exe)",
            u"ReplaceRegistryValue(HKEY_CURRENT_USER|Software\\Shell|cmd|C:\\b.exe|explorer.exe)",
        };
        EXPECT_EQ(calls, system.calls);
    }
    // No process path cleaned: no line.
    CRecordingSystem system;
    system.results[u"CleanIniFile(C:\\a.exe|1)"] = 2;
    system.results[u"CleanIniFile(C:\\b.exe|1)"] = 2;
    CTestSession s;
    RemoveInProcesses(*m, s, records);
    EXPECT_EQ(std::u16string::npos, s.output.text.find(u"system.ini"));
}

TEST(ActionExecutorTest, MissingArgumentsReturnAtOnce) {
    std::unique_ptr<CScriptedMalware> m = Scripted(u"RESTORE_HOSTS\r\n", true);
    ASSERT_TRUE(m);
    CRecordingSystem system;
    CTestSession s;
    m->Remove(s.controller, nullptr, nullptr, DetectionSource::Memory, true);
    m->Remove(s.controller, nullptr, nullptr, DetectionSource::File, false);
    EXPECT_EQ(u"", s.output.text);
    EXPECT_TRUE(system.calls.empty());
    EXPECT_TRUE(m->isFirstRemoval);
}

}  // namespace
