// The report's JSON text: string escapes and the document's shape.
#include "report/json_report.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(JsonStringTest, EscapesAndUtf8) {
    const struct {
        std::u16string text;
        std::string json;
    } kCases[] = {
        {u"", "\"\""},
        {u"C:\\WINDOWS\\a \"b\".exe", "\"C:\\\\WINDOWS\\\\a \\\"b\\\".exe\""},
        {u"tab\there\r\n", "\"tab\\there\\r\\n\""},
        {std::u16string(u"nul\0x", 5) + u"\x1f", "\"nul\\u0000x\\u001f\""},
        {u"caf\u00e9 \u20ac", "\"caf\xc3\xa9 \xe2\x82\xac\""},
        {u"\U0001F600", "\"\xf0\x9f\x98\x80\""},                      // a pair: one code point
        {std::u16string(1, char16_t(0xD83D)) + u"x", "\"\\ud83dx\""},  // a lone high surrogate
        {std::u16string(1, char16_t(0xDE00)), "\"\\ude00\""},          // a lone low one
        {u"\u007f/", "\"\x7f/\""},
    };
    for (const auto& c : kCases) EXPECT_EQ(c.json, JsonString(c.text));
}

TEST(JsonReportTest, TheRunAndEachDetectionWithItsActions) {
    RunFacts run;
    run.programVersion = u"3.0.1.16";
    run.hostName = u"PC-1";
    run.start = {2026, 12, 11, 9, 5, 0};
    run.end = {2026, 12, 11, 9, 6, 30};
    run.commandLine = u"tesmora.exe /SILENT /REPORT \"r.json\"";
    run.windows = {5, 1, 2600, true, u"Service Pack 3", 32, 32};
    run.administrator = true;
    run.scanStarted = true;
    run.exitCode = 1;
    run.counters.infectedFiles = 1;
    run.counters.fileScanMs = 1234;
    CDetectionJournal journal;
    DetectionRecord d;
    d.family = u"W32/Stanit";
    d.variant = u"A";
    d.path = u"D:\\app.exe";
    journal.Begin(d);
    ActionRecord repair;
    repair.kind = ActionKind::Repair;
    repair.outcome = ActionOutcome::Repaired;
    repair.target = u"D:\\app.exe";
    repair.quarantine = QuarantineEntry{u"20261211T090600Z-1a2b3c4d", u"D:\\app.exe", u"2026-12-11T09:06:00Z",
                                        u"W32/Stanit.A", u"repair", std::string(64, 'e'), 4096};
    journal.Add(repair);
    journal.End();
    DetectionRecord m;
    m.source = DetectionSource::Memory;
    m.family = u"Worm/Mytob";
    m.variant = u"KS";
    m.processes = {{u"C:\\x.exe", 412}};
    journal.Begin(m);
    journal.End();

    const std::string json = ReportJson(run, journal);
    for (const char* part : {
             "\"format\": \"tesmora-report/1\"",
             "\"version\": \"3.0.1.16\"",
             "\"host\": \"PC-1\"",
             "\"startTime\": \"2026-12-11T09:05:00Z\"",
             "\"endTime\": \"2026-12-11T09:06:30Z\"",
             "\"commandLine\": \"tesmora.exe /SILENT /REPORT \\\"r.json\\\"\"",
             "\"version\": \"5.1.2600\"",
             "\"servicePack\": \"Service Pack 3\"",
             "\"exitCode\": 1",
             "\"infectedFiles\": 1",
             "\"fileScanSeconds\": 1.234",
             "\"rebootRequired\": false",
             "\"family\": \"W32/Stanit\"",
             "\"path\": \"D:\\\\app.exe\"",
             "\"action\": \"repair\"",
             "\"outcome\": \"repaired\"",
             "\"id\": \"20261211T090600Z-1a2b3c4d\"",
             "\"size\": 4096",
             "\"source\": \"memory\"",
             "\"id\": 412",
             "\"otherActions\": []",
         }) {
        EXPECT_NE(std::string::npos, json.find(part)) << part << "\n" << json;
    }
    EXPECT_EQ('\n', json.back());
    // The file detection lists no processes; the memory one lists them.
    EXPECT_EQ(1u, [&] {
        std::size_t n = 0;
        for (std::size_t at = json.find("\"processes\": ["); at != std::string::npos; at = json.find("\"processes\": [", at + 1)) ++n;
        return n;
    }());
}

}  // namespace
