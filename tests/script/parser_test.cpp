#include "script/parser.h"

#include <gtest/gtest.h>

#include "common/text16.h"
#include "support/script_support.h"

namespace {

struct ParseOutcome {
    bool ok = false;
    std::vector<std::u16string> messages;
    std::vector<CMalwareDescription> descriptions;
};

ParseOutcome ParseText(const std::u16string& text, CFixedFolders folders = CFixedFolders()) {
    CRecordingSink sink;
    CMalwareScript script(folders, text, sink);
    ParseOutcome outcome;
    outcome.ok = script.Parse();
    outcome.messages = sink.messages;
    outcome.descriptions = script.TakeDescriptions();
    for (const auto& caption : sink.captions) EXPECT_EQ(u"Parse Error", caption);
    return outcome;
}

ParseOutcome Parse(const std::string& utf8) { return ParseText(Utf8ToUtf16(utf8)); }

std::string Sig(int seed, int bytes = 32) { return Utf16ToUtf8(HexSignature(seed, bytes)); }

std::string Block(const std::string& name, int seed, const std::string& actions = "") {
    return "[Malware " + name + "]\r\nSIGNATURE_FILE\t" + Sig(seed) + "\r\n" + actions;
}

TEST(ScriptParserTest, EmbeddedScriptHasEightDescriptions) {
    const ParseOutcome out = ParseText(EmbeddedScriptText());
    ASSERT_TRUE(out.ok);
    EXPECT_TRUE(out.messages.empty());
    static const struct {
        const char16_t* base;
        const char16_t* variant;
        size_t actions;
    } kExpected[] = {
        {u"Worm/NetSky", u"AA", 4},    {u"Worm/NetSky", u"B.1", 11}, {u"Worm/NetSky", u"C", 3},
        {u"Worm/NetSky", u"D.Dam", 3}, {u"Worm/NetSky", u"P", 5},    {u"Worm/NetSky", u"X", 4},
        {u"Worm/Mytob", u"IN.2", 6},   {u"Worm/Mytob", u"KS", 4},
    };
    ASSERT_EQ(std::size(kExpected), out.descriptions.size());
    for (size_t i = 0; i < out.descriptions.size(); ++i) {
        const CMalwareDescription& d = out.descriptions[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(kExpected[i].base, d.baseName);
        EXPECT_EQ(kExpected[i].variant, d.variantName);
        EXPECT_EQ(kExpected[i].actions, d.actions.size());
        EXPECT_FALSE(d.memorySignature.has_value());
        ASSERT_TRUE(d.fileSignature.has_value());
        EXPECT_EQ(252u, d.fileSignature->size());
        EXPECT_EQ(MalwareActionKind::KillProcess, d.actions[0].kind);
        EXPECT_EQ(std::vector<std::u16string>{u"%infected_processes%"}, d.actions[0].arguments);
    }
    // Archives of NetSky.B.1: eight lines of 6, 5, 6, 5, 5, 5, 6 and 6 words.
    const auto& b1 = out.descriptions[1].actions;
    const size_t kWords[] = {6, 5, 6, 5, 5, 5, 6, 6};
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(kWords[i], b1[2 + i].arguments.size());
    EXPECT_EQ(u"C:\\WINDOWS\\misc.zip", b1[2].arguments[0]);
    EXPECT_EQ(u"C:\\WINDOWS\\ps.zip", b1[9].arguments[5]);

    const auto& in2 = out.descriptions[6].actions;
    EXPECT_EQ(MalwareActionKind::RemoveRegValue, in2[2].kind);
    EXPECT_EQ(u"HKEY_CURRENT_USER\\Software\\Microsoft\\OLE", *in2[2].Named(arg::kKey));
    EXPECT_EQ(std::vector<std::u16string>{u"LSA"}, in2[2].arguments);
    EXPECT_EQ(u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Lsa", *in2[5].Named(arg::kKey));

    const auto& ks = out.descriptions[7].actions;
    EXPECT_EQ(MalwareActionKind::RemoveFromHosts, ks[2].kind);
    EXPECT_EQ(55u, ks[2].arguments.size());
    EXPECT_EQ(MalwareActionKind::ReplaceRegValue, ks[3].kind);
    EXPECT_EQ(u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\SharedAccess",
              *ks[3].Named(arg::kKey));
    EXPECT_EQ(u"Start", *ks[3].Named(arg::kValueName));
    EXPECT_EQ(u"4", *ks[3].Named(arg::kOldValue));
    EXPECT_EQ(u"2", *ks[3].Named(arg::kNewValue));
}

TEST(ScriptParserTest, EmptyAndBlankScriptsAreValid) {
    for (const char* text : {"", "\r\n", "\n\n\n", " \t \r\n\t\r\n", "\r"}) {
        SCOPED_TRACE(text);
        const ParseOutcome out = Parse(text);
        EXPECT_TRUE(out.ok);
        EXPECT_TRUE(out.messages.empty());
        EXPECT_TRUE(out.descriptions.empty());
    }
}

// Each row: a script and the one diagnostic that stops it.
TEST(ScriptParserTest, StoppingDiagnostics) {
    const std::string s1 = Sig(1), s2 = Sig(2), s3 = Sig(3);
    const struct {
        const char* what;
        std::string text;
        const char* message;
    } kCases[] = {
        {"action before any header", "KILL_PROCESS x\r\n",
         "Line   1: New malware description block must begin.\n"},
        {"header word with bracket attached", "\r\n[Malware]\r\n",
         "Line   2: New malware description block must begin.\n"},
        {"bracket alone, then another word", "[ Virus A.B\r\n",
         "Line   1: New malware description block must begin.\n"},
        {"no name", "[Malware\r\n", "Line   1: Malware name was not provided.\n"},
        {"no dot", "[Malware Worm]\r\n",
         "Line   1: Malware name must be base_name.variant_name, provided \"Worm]\".\n"},
        {"dot first", "[Malware .A]\r\n",
         "Line   1: Malware name must be base_name.variant_name, provided \".A]\".\n"},
        {"bad digit, CR LF counts blank lines", "[Malware A.B]\r\n\r\nSIGNATURE_FILE 0G\r\n",
         "Line   3: The line contains a bad character encountered at position 2.\n"},
        {"bad digit, bare LF skips empty lines", "[Malware A.B]\n\nSIGNATURE_FILE 0G\n",
         "Line   2: The line contains a bad character encountered at position 2.\n"},
        {"blank line of spaces counts with LF too", "[Malware A.B]\n  \nSIGNATURE_FILE 0G\n",
         "Line   3: The line contains a bad character encountered at position 2.\n"},
        {"end after header", "[Malware A.B]\r\n",
         "Line   2: End of file reached before the signatures and actions have been provided.\n"},
        {"end after header without line end", "[Malware A.B]",
         "Line   2: End of file reached before the signatures and actions have been provided.\n"},
        {"end after first signature", "\r\n[Malware A.B]\r\nSIGNATURE_MEM " + s1 + "\r\n\r\n",
         "Line   5: End of file reached before the signatures and actions have been provided.\n"},
        {"header after header", "[Malware A.B]\r\n[Malware C.D]\r\n",
         "Line   2: The line should start with \"SIGNATURE_MEM\" or \"SIGNATURE_FILE\" keywords.\n"},
        {"action instead of signature", "[Malware A.B]\r\nKILL_PROCESS\r\n",
         "Line   2: The line should start with \"SIGNATURE_MEM\" or \"SIGNATURE_FILE\" keywords.\n"},
        {"odd length", "[Malware A.B]\r\nSIGNATURE_FILE " + s1.substr(0, 63) + "\r\n",
         "Line   2: The line contains a signature with odd length (must be even): 63.\n"},
        {"odd length is tested before bad digits", "[Malware A.B]\r\nSIGNATURE_FILE XYZ\r\n",
         "Line   2: The line contains a signature with odd length (must be even): 3.\n"},
        {"empty signature", "[Malware A.B]\r\nSIGNATURE_FILE \"\"\r\n", "Line   2: Signature empty.\n"},
        {"missing signature word", "[Malware A.B]\r\nSIGNATURE_MEM\r\n", "Line   2: Signature empty.\n"},
        {"two file signatures",
         "[Malware A.B]\r\nSIGNATURE_FILE " + s1 + "\r\nSIGNATURE_FILE " + s2 + "\r\n",
         "Line   3: This type of signature has already been provided.\n"},
        {"third signature line is an action line",
         "[Malware A.B]\r\nSIGNATURE_FILE " + s1 + "\r\nSIGNATURE_MEM " + s2 + "\r\nSignature_Mem " + s3 +
             "\r\n",
         "Line   4: Invalid action name \"Signature_Mem\".\n"},
        {"duplicate name ignoring case", Block("Worm/A.b", 1) + "\r\n" + Block("worm/a.B", 2),
         "Line   4: A malware with worm/a.B name has already been specified.\n"},
        {"duplicate memory signature, reported one line early",
         "[Malware A.A]\r\nSIGNATURE_MEM " + s1 + "\r\nSIGNATURE_FILE " + s2 + "\r\n\r\n[Malware A.B]\r\n" +
             "SIGNATURE_FILE " + s3 + "\r\nSIGNATURE_MEM " + Utf16ToUtf8(Utf8ToUtf16(s1)) + "\r\n",
         "Line   6: A malware description with the same memory signature has already been provided.\n"},
        {"duplicate file signature",
         Block("A.A", 1) + "[Malware A.B]\r\nSIGNATURE_MEM " + s2 + "\r\nSIGNATURE_FILE " + s1 + "\r\n",
         "Line   4: A malware description with the same file signature has already been provided.\n"},
        {"unknown action", Block("A.B", 1, "KILL_PROCESS\r\nDELETE_FILE x\r\n"),
         "Line   4: Invalid action name \"DELETE_FILE\".\n"},
        {"unknown action shows the expanded word", Block("A.B", 1, "hklmX\r\n"),
         "Line   3: Invalid action name \"HKEY_LOCAL_MACHINEX\".\n"},
        {"rename without words", Block("A.B", 1, "RENAME_FILE\r\n"),
         "Line   3: The RENAME_FILE action must have two or three arguments (none provided).\n"},
        {"rename with one word", Block("A.B", 1, "rename_file a\r\n"),
         "Line   3: The RENAME_FILE action must have two or three arguments (one provided).\n"},
        {"clean system.ini without word", Block("A.B", 1, "CLEAN_SYSTEM_INI\r\n"),
         "Line   3: The argument for the CLEAN_SYSTEM_INI action was not provided.\n"},
        {"clean win.ini without word", Block("A.B", 1, "Clean_Win_Ini\r\n"),
         "Line   3: The argument for the CLEAN_WIN_INI action was not provided.\n"},
        {"popup without word", Block("A.B", 1, "SHOW_POPUP_INFO \"\"\r\n"),
         "Line   3: The argument for the SHOW_POPUP_INFO action was not provided.\n"},
        {"remove value without key", Block("A.B", 1, "REMOVE_REG_VALUE\r\n"),
         "Line   3: The key argument for the REMOVE_REG_VALUE action was not provided.\n"},
        {"replace without words", Block("A.B", 1, "REPLACE_REG_VALUE\r\n"),
         "Line   3: The REPLACE_REG_VALUE action must have four arguments (none provided).\n"},
        {"replace with one word", Block("A.B", 1, "REPLACE_REG_VALUE k\r\n"),
         "Line   3: The REPLACE_REG_VALUE action must have four arguments (one provided).\n"},
        {"replace with two words", Block("A.B", 1, "REPLACE_REG_VALUE k v\r\n"),
         "Line   3: The REPLACE_REG_VALUE action must have four arguments (two provided).\n"},
        {"replace with three words, lower-case keyword", Block("A.B", 1, "replace_reg_value k v 4\r\n"),
         "Line   3: The REPLACE_REG_VALUE action must have four arguments (three provided).\n"},
        {"add value without words", Block("A.B", 1, "ADD_REG_VALUE\r\n"),
         "Line   3: The ADD_REG_VALUE action must have at least two arguments (none provided).\n"},
        {"add value with one word", Block("A.B", 1, "ADD_REG_VALUE HKLM\\x\r\n"),
         "Line   3: The ADD_REG_VALUE action must have at least two arguments (one provided).\n"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        const ParseOutcome out = Parse(c.text);
        EXPECT_FALSE(out.ok);
        EXPECT_TRUE(out.descriptions.empty());
        ASSERT_EQ(1u, out.messages.size());
        EXPECT_EQ(Utf8ToUtf16(c.message), out.messages[0]);
    }
}

TEST(ScriptParserTest, FailureReleasesAcceptedDescriptions) {
    const ParseOutcome out = Parse(Block("A.A", 1) + Block("A.B", 2) + "[Malware C]\r\n");
    EXPECT_FALSE(out.ok);
    EXPECT_TRUE(out.descriptions.empty());
}

TEST(ScriptParserTest, BlockEndsWithSecondSignatureOrAnotherHeader) {
    const std::string s1 = Sig(1), s2 = Sig(2);
    // Second signature line as the last line: accepted without actions.
    ParseOutcome out = Parse("[Malware A.B]\r\nSIGNATURE_FILE " + s1 + "\r\nsignature_mem " + s2);
    ASSERT_TRUE(out.ok);
    ASSERT_EQ(1u, out.descriptions.size());
    EXPECT_EQ(s1, *out.descriptions[0].fileSignature);
    EXPECT_EQ(s2, *out.descriptions[0].memorySignature);
    EXPECT_TRUE(out.descriptions[0].actions.empty());

    // A header right after the first signature line starts the next block.
    out = Parse(Block("A.A", 1) + Block("A.B", 2, "KILL_PROCESS\r\n"));
    ASSERT_TRUE(out.ok);
    ASSERT_EQ(2u, out.descriptions.size());
    EXPECT_TRUE(out.descriptions[0].actions.empty());
    EXPECT_EQ(1u, out.descriptions[1].actions.size());
}

TEST(ScriptParserTest, SignatureRules) {
    const std::string lower = Utf16ToUtf8(HexSignature(7));
    std::string lowered;
    for (char c : lower) lowered.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    // Lower-case digits are kept as written.
    ParseOutcome out = Parse("[Malware A.B]\r\nSIGNATURE_FILE " + lowered + " trailing words\r\nKILL_PROCESS\r\n");
    ASSERT_TRUE(out.ok);
    EXPECT_EQ(lowered, *out.descriptions[0].fileSignature);

    // One earlier signature given as the other kind is no duplicate; a block
    // with a single signature line is not compared at all.
    const std::string s1 = Sig(1), s2 = Sig(2), s3 = Sig(3);
    out = Parse("[Malware A.A]\r\nSIGNATURE_MEM " + s1 + "\r\nSIGNATURE_FILE " + s2 + "\r\n" +
                "[Malware A.B]\r\nSIGNATURE_MEM " + s3 + "\r\nSIGNATURE_FILE " + s1 + "\r\n" +
                "[Malware A.C]\r\nSIGNATURE_FILE " + s2 + "\r\nKILL_PROCESS\r\n");
    EXPECT_TRUE(out.ok);
    EXPECT_EQ(3u, out.descriptions.size());
}

TEST(ScriptParserTest, HeaderForms) {
    const std::string s = " \t" + Sig(1);
    const ParseOutcome out = Parse("[ Malware Worm/NetSky.C]\r\nSIGNATURE_FILE" + s + "\r\n" +
                                   "[malware Worm/NetSky.D.Dam] ignored words\r\nSIGNATURE_FILE " + Sig(2) +
                                   "\r\n" + "  [MALWARE   Worm.]\r\nSIGNATURE_FILE " + Sig(3) + "\r\n" +
                                   "[ MALWARE Worm/NetSky.B.1 ]\r\nSIGNATURE_FILE " + Sig(4) + "\r\nKILL_PROCESS\r\n");
    ASSERT_TRUE(out.ok) << (out.messages.empty() ? "" : Utf16ToUtf8(out.messages[0]));
    ASSERT_EQ(4u, out.descriptions.size());
    const struct {
        const char16_t* base;
        const char16_t* variant;
    } kNames[] = {{u"Worm/NetSky", u"C"}, {u"Worm/NetSky", u"D.Dam"}, {u"Worm", u""},
                  {u"Worm/NetSky", u"B.1"}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(kNames[i].base, out.descriptions[i].baseName);
        EXPECT_EQ(kNames[i].variant, out.descriptions[i].variantName);
    }
}

TEST(ScriptParserTest, ActionArgumentForms) {
    const ParseOutcome out = Parse(Block("A.B", 1,
                                         "KILL_PROCESS\r\n"
                                         "REMOVE_FILE a \"\" b\r\n"
                                         "remove_file \"%WINDIR%\\a b.exe\" c\"d\" e\"f\r\n"
                                         "REMOVE_RUN_REG HKLM\\Software\\My Key\r\n"
                                         "RENAME_FILE old new\r\n"
                                         "RENAME_FILE dir old new more\r\n"
                                         "CLEAN_SYSTEM_INI drv.exe extra\r\n"
                                         "RESTORE_HOSTS anything at all\r\n"
                                         "REMOVE_REG_VALUE \"HKCU\\Software\\A B\" v1 v2\r\n"
                                         "ADD_REG_VALUE HKLM\\Software\\X a:b:DWORD 5\r\n"
                                         "ADD_REG_VALUE k :x\r\n"
                                         "ADD_REG_VALUE k v: \"\"\r\n"
                                         "REPLACE_REG_VALUE k n 4 2 5\r\n"
                                         "ADD_REG_KEY \"x\"\"y\"\r\n"));
    ASSERT_TRUE(out.ok) << (out.messages.empty() ? "" : Utf16ToUtf8(out.messages[0]));
    const auto& a = out.descriptions[0].actions;
    ASSERT_EQ(14u, a.size());
    using List = std::vector<std::u16string>;
    EXPECT_EQ(List{}, a[0].arguments);
    EXPECT_EQ(List{u"a"}, a[1].arguments);
    EXPECT_EQ((List{u"C:\\WINDOWS\\a b.exe", u"c\"d\"", u"e\"f"}), a[2].arguments);
    EXPECT_EQ((List{u"HKEY_LOCAL_MACHINE\\Software\\My", u"Key"}), a[3].arguments);

    EXPECT_EQ(nullptr, a[4].Named(arg::kDirectory));
    EXPECT_EQ(u"old", *a[4].Named(arg::kOldValue));
    EXPECT_EQ(u"new", *a[4].Named(arg::kNewValue));
    EXPECT_EQ(u"dir", *a[5].Named(arg::kDirectory));
    EXPECT_EQ(u"old", *a[5].Named(arg::kOldValue));
    EXPECT_EQ(u"new", *a[5].Named(arg::kNewValue));

    EXPECT_EQ(List{u"drv.exe"}, a[6].arguments);
    EXPECT_EQ(MalwareActionKind::RestoreHosts, a[7].kind);
    EXPECT_TRUE(a[7].arguments.empty() && a[7].namedArguments.empty());

    EXPECT_EQ(u"HKEY_CURRENT_USER\\Software\\A B", *a[8].Named(arg::kKey));
    EXPECT_EQ((List{u"v1", u"v2"}), a[8].arguments);

    EXPECT_EQ(u"HKEY_LOCAL_MACHINE\\Software\\X", *a[9].Named(arg::kKey));
    EXPECT_EQ(u"a:b", *a[9].Named(arg::kValue));
    EXPECT_EQ(u"DWORD", *a[9].Named(arg::kDataType));
    EXPECT_EQ(u"5", *a[9].Named(arg::kData));
    EXPECT_EQ(u":x", *a[10].Named(arg::kValue));
    EXPECT_EQ(nullptr, a[10].Named(arg::kDataType));
    EXPECT_EQ(nullptr, a[10].Named(arg::kData));
    EXPECT_EQ(u"v", *a[11].Named(arg::kValue));
    EXPECT_EQ(u"", *a[11].Named(arg::kDataType));
    EXPECT_EQ(nullptr, a[11].Named(arg::kData));

    EXPECT_EQ(4u, a[12].namedArguments.size());
    EXPECT_EQ(u"2", *a[12].Named(arg::kNewValue));
    EXPECT_EQ((List{u"x", u"y"}), a[13].arguments);
}

TEST(ScriptParserTest, UnterminatedQuoteOnlyEmptiesTheWord) {
    const ParseOutcome out = Parse(Block("A.B", 1, "KILL_PROCESS \"abc def\r\nREMOVE_FILE x\r\n"));
    ASSERT_TRUE(out.ok);
    ASSERT_EQ(1u, out.messages.size());
    EXPECT_EQ(u"Line   3: An argument starts with \" character, but doesn't contain an \" end character. "
              u"Word ignored.\n",
              out.messages[0]);
    const auto& a = out.descriptions[0].actions;
    ASSERT_EQ(2u, a.size());
    EXPECT_TRUE(a[0].arguments.empty());
    EXPECT_EQ(std::vector<std::u16string>{u"x"}, a[1].arguments);

    // The emptied word can still stop the parse on the same line.
    const ParseOutcome stop = Parse(Block("A.B", 1, "CLEAN_WIN_INI \"x\r\n"));
    EXPECT_FALSE(stop.ok);
    ASSERT_EQ(2u, stop.messages.size());
    EXPECT_EQ(u"Line   3: The argument for the CLEAN_WIN_INI action was not provided.\n", stop.messages[1]);
}

TEST(ScriptParserTest, EmptyPathVariableEndsArgumentList) {
    CFixedFolders folders;
    folders.Set(u"COOKIES", u"");
    const ParseOutcome out =
        ParseText(Utf8ToUtf16(Block("A.B", 1, "REMOVE_FILE a %cookies%\\x b\r\nREMOVE_FILE %TEMPDIR%\\y\r\n")),
                  folders);
    ASSERT_TRUE(out.ok);
    const auto& a = out.descriptions[0].actions;
    EXPECT_EQ(std::vector<std::u16string>{u"a"}, a[0].arguments);
    EXPECT_EQ(std::vector<std::u16string>{u"C:\\Documents and Settings\\User\\Local Settings\\Temp\\y"},
              a[1].arguments);
}

TEST(ScriptParserTest, HostileInputEndsInResultOrDiagnostic) {
    // Long words and lines, stray CRs, NULs and unpaired surrogates.
    std::u16string text = u"[Malware A.B]\r\nSIGNATURE_FILE ";
    text += HexSignature(1, 40000);
    text += u"\r\nREMOVE_FILE ";
    for (int i = 0; i < 5000; ++i) text += u"%WINDIR%%windir%\\\xD800x\r y";
    text += u"\r\n\r\n";
    text.push_back(u'\0');
    text += u"\r\n";
    const ParseOutcome out = ParseText(text);
    EXPECT_FALSE(out.ok);
    ASSERT_EQ(1u, out.messages.size());
    EXPECT_EQ(0u, out.messages[0].find(u"Line   5: Invalid action name \""));
}

}  // namespace
