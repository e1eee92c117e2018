#include "scan/report.h"

#include <gtest/gtest.h>

#include <string>

#include "common/text16.h"

namespace {

TEST(ReportTest, SixteenLinesWithTheirValues) {
    ScanStatistics s;
    s.files = 7;
    s.streams = 2;
    s.directories = 3;
    s.processes = 11;
    s.modules = 95;
    s.infectedFiles = 4;
    s.infectedProcesses = 1;
    s.removedFiles = 5;
    s.renamedFiles = 6;
    s.terminatedProcesses = 8;
    s.memoryScanMs = 2500;
    s.memoryKB = 1000;
    s.fileScanMs = 0.5;  // below one millisecond: no throughput
    s.fileKB = 123;
    const auto lines = FormatReportLines(s);
    const char16_t* const kExpected[16] = {
        u"scan results:\r\n\r\n",
        u"scanned directories:\t\t\t3\r\n",
        u"scanned files:\t\t\t7\r\n",
        u"scanned streams:\t\t\t2\r\n",
        u"scanned processes:\t\t\t11\r\n",
        u"scanned modules:\t\t\t95\r\n",
        u"\r\ninfected files:\t\t\t4\r\n",
        u"infected processes:\t\t\t1\r\n",
        u"\r\nrepaired/removed files:\t\t5\r\n",
        u"renamed files:\t\t\t6\r\n",
        u"terminated processes:\t\t8\r\n",
        u"\r\nelapsed time for memory scan:\t\t2.50 seconds\r\n",
        u"average memory scanner throughput:\t400.00 KB/s\r\n",
        u"\r\nelapsed time for file scan:\t\t0.00 seconds\r\n",
        u"average file scanner throughput:\t0.00 KB/s\r\n",
        u"\r\nThank you for using Tesmora Removal Tool.\r\n",
    };
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(kExpected[i], lines[i]);
    }
}

TEST(ReportTest, FixedTwoDecimals) {
    static const struct {
        double value;
        const char16_t* text;
    } kCases[] = {{0, u"0.00"}, {0.004, u"0.00"}, {0.005001, u"0.01"}, {1234.5, u"1234.50"}, {-1.25, u"-1.25"}};
    for (const auto& c : kCases) EXPECT_EQ(c.text, FormatFixed2(c.value)) << c.value;
}

TEST(ReportTest, ResultTextsByCode) {
    EXPECT_EQ(u"\r\nScan aborted by user\r\n\r\n", ResultText(-8));
    EXPECT_EQ(u"\r\nMalware was found and removed\r\n\r\n", ResultText(1));
    EXPECT_EQ(u"\r\nError initializing memory scanner. Please contact Zelox GmbH.\r\n\r\n", ResultText(-11));
    EXPECT_EQ(u"\r\nScan aborted: invalid argument\r\n\r\n", ResultText(-1));
    for (int32_t code : {-20, -12, 0, 2}) EXPECT_EQ(u"", ResultText(code)) << code;
    for (int32_t code = -11; code <= -1; ++code) EXPECT_NE(u"", ResultText(code)) << code;
}

TEST(ReportTest, VersionAndBuildDate) {
    EXPECT_EQ(u"3.0.1.16", VersionTextFromResource(u"3, 0, 1, 16"));
    EXPECT_EQ(u"3.0,1", VersionTextFromResource(u"3, 0,1"));
    EXPECT_EQ(u"", VersionTextFromResource(u""));
    EXPECT_EQ(u"Sep 20 2006", BuildDateText("Sep 20 2006"));
    EXPECT_EQ(u"Mar  5 2007", BuildDateText("Mar  5 2007"));
    EXPECT_EQ(u"?? 1 2000", BuildDateText("?? 1 2000"));
}

TEST(LogTextTest, TimeStampIsNotPadded) {
    EXPECT_EQ(u"[5/3/2007 9:7:3]\r\n", TimeStampText({2007, 3, 5, 9, 7, 3}));
    EXPECT_EQ(u"[20/9/2006 11:4:38]\r\n", TimeStampText({2006, 9, 20, 11, 4, 38}));
    EXPECT_EQ(u"[31/12/1999 23:59:59]\r\n", TimeStampText({1999, 12, 31, 23, 59, 59}));
}

TEST(LogTextTest, SeparatorStampAndParagraphBreaks) {
    const LocalTime t{2007, 3, 5, 9, 7, 3};
    const std::u16string pane = u"one\rtwo\r\rfour\tx\rfive\r";
    const std::u16string body = u"one\r\ntwo\r\n\r\nfour\tx\r\nfive\r\n";
    EXPECT_EQ(u"[5/3/2007 9:7:3]\r\n" + body, LogText(false, t, pane));
    const std::u16string appended = LogText(true, t, pane);
    EXPECT_EQ(std::u16string(75, u'-') + u"\r\n\r\n[5/3/2007 9:7:3]\r\n" + body, appended);
    std::size_t lineEnds = 0;
    for (std::size_t at = body.find(u"\r\n"); at != std::u16string::npos; at = body.find(u"\r\n", at + 2)) ++lineEnds;
    EXPECT_EQ(5u, lineEnds);
}

TEST(LogTextTest, LittleEndianWithoutByteOrderMark) {
    EXPECT_EQ(std::string("[\0\r\0\n\0\xAC\x20", 8), Utf16LeBytes(u"[\r\n\u20AC"));
    EXPECT_EQ(std::string(), Utf16LeBytes(u""));
}

TEST(HostLineTest, NameAndAddressBetweenLineBreaks) {
    const uint8_t address[4] = {192, 168, 0, 17};
    EXPECT_EQ(u"\r\n- Host: \"box\", IP: 192.168.0.17\r\n\r\n", HostLineText(u"box", address));
    const uint8_t none[4] = {0, 0, 0, 0};
    EXPECT_EQ(u"\r\n- Host: \"\", IP: 0.0.0.0\r\n\r\n", HostLineText(u"", none));
}

TEST(ExitCodeTest, OutcomesAreTold) {
    static const struct {
        RunOutcome outcome;
        int32_t code;
    } kCases[] = {
        {{true, false, 0, false}, 0},   // no scan
        {{true, true, 0, false}, 0},    // clean
        {{true, true, 0, true}, 1},     // malware found
        {{true, true, 1, true}, 1},     // found, stop after the file phase
        {{true, true, -8, true}, -8},   // stopped
        {{true, true, -10, false}, -10},
        {{false, false, 0, false}, -2}, // not an administrator
        {{false, true, 0, true}, -2},
        {{false, true, -8, false}, -8},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(c.code, ProgramExitCode(c.outcome))
            << c.outcome.administrator << c.outcome.scanStarted << c.outcome.lastScanResult << c.outcome.malwareFound;
    }
}

}  // namespace
