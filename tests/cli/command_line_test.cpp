#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/string_table.h"
#include "common/text16.h"

namespace {

// The tokens NextToken yields for `line`, read as the parse reads them.
std::vector<std::u16string> Tokens(const std::u16string& line) {
    std::vector<std::u16string> out;
    const char16_t* p = line.c_str();
    for (;;) {
        const char16_t* end = nullptr;
        const char16_t* t = NextToken(line.c_str(), p, &end);
        if (t == nullptr || end == nullptr || p >= line.c_str() + line.size()) break;
        out.emplace_back(t, end + 1);
        p = end + 1;
    }
    return out;
}

TEST(NextTokenTest, QuotingRules) {
    static const struct {
        const char16_t* line;
        std::vector<std::u16string> tokens;
    } kCases[] = {
        {u"tool.exe /SILENT", {u"tool.exe ", u"/SILENT"}},
        {u"tool.exe  /LOG x", {u"tool.exe ", u"/LOG "}},  // last single character not examined
        {u"\"C:\\a b\\tool.exe\" /LOG \"my log.txt\"", {u"\"C:\\a b\\tool.exe\"", u"/LOG ", u"\"my log.txt\""}},
        // A quoted token found from the blank after a quoted token is cut at its inner blank.
        {u"t.exe \"a b\" \"c d\"", {u"t.exe ", u"\"a b\"", u"\"c ", u"d\""}},
        {u"tool.exe /LOG \"my log.txt\"", {u"tool.exe ", u"/LOG ", u"\"my log.txt\""}},
        {u"tool.exe \"open", {u"tool.exe ", u"\"open"}},
        {u"\"a b", {u"\"a "}},
        {u"tool.exe", {u"tool.exe"}},
        {u"x", {}},
        {u"", {}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(Utf16ToUtf8(c.line));
        EXPECT_EQ(c.tokens, Tokens(c.line));
    }
}

TEST(NextTokenTest, NullArgumentsAndTheEndOfTheLine) {
    const std::u16string line = u"ab cd";
    const char16_t* end = line.c_str();
    EXPECT_EQ(nullptr, NextToken(nullptr, line.c_str(), &end));
    EXPECT_EQ(nullptr, NextToken(line.c_str(), line.c_str(), nullptr));
    EXPECT_EQ(nullptr, NextToken(line.c_str(), line.c_str() + 4, &end));
    EXPECT_EQ(nullptr, end);
    end = line.c_str();
    EXPECT_EQ(nullptr, NextToken(line.c_str(), line.c_str() + 5, &end));  // on the terminator
    EXPECT_EQ(nullptr, end);
}

TEST(IsOptionTest, TwoCharactersBeginningWithDashOrSlash) {
    EXPECT_TRUE(IsOption(u"/X"));
    EXPECT_TRUE(IsOption(u"-?"));
    EXPECT_FALSE(IsOption(u"/"));
    EXPECT_FALSE(IsOption(u"-"));
    EXPECT_FALSE(IsOption(u"x/"));
    EXPECT_FALSE(IsOption(u""));
}

std::u16string T(StringId id) { return LoadText(id); }
std::u16string T(StringId id, std::u16string_view arg) { return Format16(LoadText(id), {arg}); }
const std::u16string kHelp = u"<help>";

struct Parsed {
    CommandLineOptions options;
    std::vector<std::u16string> messages;  // kHelp shown as "<help>"
};

Parsed Parse(const std::u16string& line, bool writable = true, bool* helpPrinted = nullptr) {
    bool local = false;
    Parsed p;
    p.options = ParseCommandLine(line, u"tesmora", helpPrinted ? *helpPrinted : local,
                                 [writable](std::u16string_view) { return writable; });
    for (const auto& m : p.options.messages) p.messages.push_back(m.kind == CommandLineMessage::kHelp ? kHelp : m.text);
    return p;
}

TEST(ParseCommandLineTest, OptionsAndMessages) {
    const std::u16string saving = T(IDS_LOG_SAVING, u"tesmora.log");
    static const struct {
        const char16_t* line;
        bool logEnabled, silent, append;
        const char16_t* logName;
        std::vector<std::u16string> messages;
    } kCases[] = {
        {u"t.exe", true, false, false, u"tesmora.log", {T(IDS_LOG_SAVING, u"tesmora.log")}},
        {u"t.exe /log x.log /SILENT", true, true, false, u"x.log",
         {T(IDS_LOG_SAVING, u"x.log"), T(IDS_SILENT_MODE)}},
        {u"t.exe /LOG /SILENT", false, false, false, u"tesmora.log", {T(IDS_LOG_NAME_MISSING)}},
        {u"t.exe /LOG a*.log", false, false, false, u"tesmora.log", {T(IDS_LOG_NAME_INVALID)}},
        {u"t.exe /LOG a?.log", false, false, false, u"tesmora.log", {T(IDS_LOG_NAME_INVALID)}},
        {u"t.exe /NOLOG /LOG x.log", true, false, false, u"x.log",
         {T(IDS_WARN_LOG_NOLOG), T(IDS_LOG_SAVING, u"x.log")}},
        {u"t.exe /LOG x.log /NOLOG", false, false, false, u"x.log", {T(IDS_WARN_LOG_NOLOG)}},
        {u"t.exe /LOG x.log /NOLOG /LOG y.log /NOLOG", false, false, false, u"y.log", {T(IDS_WARN_LOG_NOLOG)}},
        {u"t.exe /APPEND /NOLOG", false, false, true, u"tesmora.log", {T(IDS_WARN_APPEND_NOLOG)}},
        {u"t.exe /NOLOG /APPEND /APPEND", false, false, true, u"tesmora.log", {T(IDS_WARN_APPEND_NOLOG)}},
        {u"t.exe -append -Silent", true, true, true, u"tesmora.log",
         {T(IDS_LOG_APPENDING, u"tesmora.log"), T(IDS_SILENT_MODE)}},
        {u"t.exe /X -LOGX /", true, false, false, u"tesmora.log",
         {T(IDS_INVALID_OPTION, u"/X"), T(IDS_INVALID_OPTION, u"-LOGX"), T(IDS_LOG_SAVING, u"tesmora.log")}},
        {u"t.exe /? -H /help", true, false, false, u"tesmora.log", {kHelp, T(IDS_LOG_SAVING, u"tesmora.log")}},
        {u"t.exe /LOG", true, false, false, u"tesmora.log", {T(IDS_LOG_SAVING, u"tesmora.log")}},
        {u"t.exe /LOG x.log /LOG", true, false, false, u"x.log", {T(IDS_LOG_SAVING, u"x.log")}},
        {u"\"C:\\Program Files\\t.exe\" /LOG \"my log.txt\"", true, false, false, u"my log.txt",
         {T(IDS_LOG_SAVING, u"my log.txt")}},
        {u"t.exe /LOG \"my log.txt\"", true, false, false, u"my log.txt", {T(IDS_LOG_SAVING, u"my log.txt")}},
        {u"t.exe /SILENT    ", true, true, false, u"tesmora.log", {saving, T(IDS_SILENT_MODE)}},
        {u"t.exe /SILENT x", true, true, false, u"tesmora.log", {saving, T(IDS_SILENT_MODE)}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(Utf16ToUtf8(c.line));
        const Parsed p = Parse(c.line);
        EXPECT_EQ(c.logEnabled, p.options.logEnabled);
        EXPECT_EQ(c.silent, p.options.silent);
        EXPECT_EQ(c.append, p.options.append);
        EXPECT_EQ(c.logName, p.options.logFileName);
        EXPECT_EQ(c.messages, p.messages);
    }
}

TEST(ParseCommandLineTest, ScanOnlyAndReportOptions) {
    const std::u16string log = T(IDS_LOG_SAVING, u"tesmora.log");
    const std::u16string silent = T(IDS_SILENT_MODE), scanOnly = T(IDS_SCAN_ONLY_MODE);
    const std::u16string missing = T(IDS_REPORT_NAME_MISSING), invalid = T(IDS_REPORT_NAME_INVALID);
    const struct {
        const char16_t* line;
        bool scanOnly, silent;
        const char16_t* report;
        std::vector<std::u16string> messages;
        std::vector<std::u16string> drives;
    } kCases[] = {
        {u"t.exe /SCANONLY C:", true, false, u"", {log, scanOnly}, {u"C:"}},
        {u"t.exe -scanonly /SILENT", true, true, u"", {log, silent, scanOnly}, {}},
        {u"t.exe /REPORT r.json C:", false, false, u"r.json", {log, T(IDS_REPORT_SAVING, u"r.json")}, {u"C:"}},
        {u"t.exe /report \"my report.json\" /SCANONLY", true, false, u"my report.json",
         {log, T(IDS_REPORT_SAVING, u"my report.json"), scanOnly}, {}},
        // The token after /REPORT is its name, even one that looks like a drive.
        {u"t.exe /REPORT C: D:", false, false, u"C:", {log, T(IDS_REPORT_SAVING, u"C:")}, {u"D:"}},
        // An option in the name's place is still read as that option.
        {u"t.exe /REPORT /SILENT", false, true, u"", {missing, log, silent}, {}},
        {u"t.exe /REPORT r*.json D:", false, false, u"", {invalid, log}, {u"D:"}},
        {u"t.exe /REPORT a.json /REPORT b.json", false, false, u"b.json", {log, T(IDS_REPORT_SAVING, u"b.json")}, {}},
        {u"t.exe /REPORT a.json /REPORT", false, false, u"", {log, missing}, {}},
        {u"t.exe /SILENT /REPORT ", false, true, u"", {log, missing, silent}, {}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(Utf16ToUtf8(c.line));
        const Parsed p = Parse(c.line);
        EXPECT_EQ(c.scanOnly, p.options.scanOnly);
        EXPECT_EQ(c.silent, p.options.silent);
        EXPECT_EQ(std::u16string(c.report), p.options.reportFileName);
        EXPECT_EQ(c.drives, p.options.drives);
        EXPECT_EQ(c.messages, p.messages);
    }
}

TEST(ParseCommandLineTest, DriveLettersInOrderAsTyped) {
    static const struct {
        const char16_t* line;
        std::vector<std::u16string> drives;
    } kCases[] = {
        {u"t.exe c: D: c: /SILENT", {u"c:", u"D:", u"c:"}},
        {u"t.exe C:\\ 1: CD: :: z:", {u"z:"}},
        {u"t.exe \"E:\" f:", {u"E:", u"f:"}},
        {u"t.exe /LOG c: d:", {u"d:"}},  // c: is the log file name
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(Utf16ToUtf8(c.line));
        const Parsed p = Parse(c.line);
        EXPECT_EQ(c.drives, p.options.drives);
    }
    // Ignored tokens print nothing beyond the log line.
    EXPECT_EQ(std::vector<std::u16string>{T(IDS_LOG_SAVING, u"tesmora.log")}, Parse(u"t.exe C:\\ 1:").messages);
}

TEST(ParseCommandLineTest, FailedAccessTestKeepsLogging) {
    const Parsed p = Parse(u"t.exe /APPEND /LOG out.log", false);
    EXPECT_TRUE(p.options.logEnabled);
    EXPECT_EQ(std::vector<std::u16string>{T(IDS_LOG_ACCESS_FAILED, u"out.log")}, p.messages);
}

TEST(ParseCommandLineTest, HelpBlockOncePerRun) {
    bool helpPrinted = false;
    EXPECT_EQ(kHelp, Parse(u"t.exe /?", true, &helpPrinted).messages.front());
    EXPECT_TRUE(helpPrinted);
    EXPECT_NE(kHelp, Parse(u"t.exe /?", true, &helpPrinted).messages.front());
}

TEST(ParseCommandLineTest, OverlongTokensAreSafe) {
    const std::u16string fits(kMaxTokenLength, u'a');
    const std::u16string tooLong(kMaxTokenLength + 1, u'a');
    Parsed p = Parse(u"t.exe /LOG " + fits + u" /SILENT");
    EXPECT_TRUE(p.options.logEnabled);
    EXPECT_EQ(fits, p.options.logFileName);
    p = Parse(u"t.exe /LOG \"" + fits + u"\"");
    EXPECT_EQ(fits, p.options.logFileName);
    p = Parse(u"t.exe /LOG " + tooLong + u" /SILENT");
    EXPECT_FALSE(p.options.logEnabled);
    EXPECT_TRUE(p.options.silent);
    EXPECT_EQ(T(IDS_LOG_NAME_INVALID), p.messages.front());
    p = Parse(u"t.exe /" + tooLong + u" " + std::u16string(5000, u'b') + u" c:");
    EXPECT_EQ(T(IDS_INVALID_OPTION, u"/" + tooLong), p.messages.front());
    EXPECT_EQ(std::vector<std::u16string>{u"c:"}, p.options.drives);
}

TEST(HelpBlockTest, LinesInOrderWithoutTheSilentLine) {
    const std::vector<std::u16string> lines = HelpBlockTexts(u"tesmora");
    std::u16string all;
    for (const auto& l : lines) all += l;
    EXPECT_EQ(u"\r\n", lines.front());
    EXPECT_EQ(15u, lines.size());
    EXPECT_EQ(u"\r\nSyntax:\r\ntesmora path /options [driveletter: driveletter: ...]\r\n\r\nAvailable options:\r\n"
              u"/NOLOG\t\t\t: Cancel log file creation\r\n/LOG filename\t\t: Change default log filename\r\n"
              u"/APPEND\t\t: Extends existing log instead of replacing it\r\n/HELP\t\t\t: Shows this help\r\n\r\n"
              u"Return codes:\r\n< 0 : Error during scan.\r\n= 0 : No error and no malware was found.\r\n"
              u"> 0 : Malware was found.\r\n\r\n",
              all);
}

}  // namespace
