#include "cli/command_line.h"

#include "common/string_table.h"
#include "common/text16.h"

namespace {

bool IsBlank(char16_t c) { return c == u' '; }
bool IsWhite(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

const char16_t* FindFrom(const char16_t* p, char16_t c) {
    for (; *p != 0; ++p) {
        if (*p == c) return p;
    }
    return nullptr;
}

std::u16string_view Trim(std::u16string_view s) {
    while (!s.empty() && IsWhite(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsWhite(s.back())) s.remove_suffix(1);
    return s;
}

enum class Option { kNone, kHelp, kSilent, kLog, kNoLog, kAppend, kScanOnly, kReport };

Option LookUpOption(std::u16string_view token) {
    static const struct {
        const char16_t* name;
        Option option;
    } kTable[] = {
        {u"?", Option::kHelp},       {u"H", Option::kHelp},    {u"HELP", Option::kHelp},
        {u"SILENT", Option::kSilent}, {u"LOG", Option::kLog},   {u"NOLOG", Option::kNoLog},
        {u"APPEND", Option::kAppend}, {u"SCANONLY", Option::kScanOnly}, {u"REPORT", Option::kReport},
    };
    const std::u16string_view name = token.substr(1);  // after '/' or '-'
    for (const auto& entry : kTable) {
        if (EqualsIgnoreCase(name, entry.name)) return entry.option;
    }
    return Option::kNone;
}

}  // namespace

const char16_t* NextToken(const char16_t* line, const char16_t* position, const char16_t** end) {
    if (line == nullptr || end == nullptr) return nullptr;
    std::size_t length = 0;
    while (line[length] != 0) ++length;
    const char16_t* last = line + length - 1;
    // At or past the last character there is no token (a single character
    // as the last token is not examined).
    if (position == nullptr || length == 0 || position < line || position >= last) {
        *end = nullptr;
        return nullptr;
    }
    const char16_t* quote = FindFrom(position, u'"');
    if (quote == position) {
        if (const char16_t* closing = FindFrom(position + 1, u'"')) {
            *end = closing;
        } else if (const char16_t* blank = FindFrom(position + 1, u' ')) {
            *end = blank;
        } else {
            *end = last;
        }
        return position;
    }
    const char16_t* blank = FindFrom(position, u' ');
    if (blank == nullptr) {
        *end = last;
        return position;
    }
    if (blank != position) {
        *end = blank == last ? nullptr : blank;
        return position;
    }
    const char16_t* start = position + 1;
    if (*start == 0) {
        *end = nullptr;
        return nullptr;
    }
    const char16_t* next = FindFrom(start, u' ');
    *end = next != nullptr ? next : last;
    return start;
}

bool IsOption(std::u16string_view token) {
    return token.size() >= 2 && (token[0] == u'-' || token[0] == u'/');
}

CommandLineOptions ParseCommandLine(std::u16string_view commandLine, std::u16string_view programName,
                                    bool& helpPrinted,
                                    const std::function<bool(std::u16string_view)>& canWriteLog) {
    CommandLineOptions options;
    auto say = [&](std::u16string text) { options.messages.push_back({CommandLineMessage::kText, std::move(text)}); };

    std::u16string line(commandLine);
    while (!line.empty() && (IsBlank(line.back()) || line.back() == u'\t')) line.pop_back();
    options.logFileName = Format16(u"%s.log", {programName});

    bool expectReportName = false;
    bool expectName = false, seenLog = false, seenNoLog = false, seenAppend = false;
    bool warnedLogNoLog = false, warnedAppendNoLog = false;
    const char16_t* const begin = line.c_str();
    const char16_t* const lineEnd = begin + line.size();
    const char16_t* position = begin;
    for (;;) {
        const char16_t* end = nullptr;
        const char16_t* token = NextToken(begin, position, &end);
        if (end == nullptr || token == nullptr || position >= lineEnd) break;
        position = end + 1;

        std::u16string_view text = Trim(std::u16string_view(token, static_cast<std::size_t>(end - token + 1)));
        if (text.size() >= 2 && text.front() == u'"' && text.back() == u'"') text = text.substr(1, text.size() - 2);

        if (expectReportName) {
            expectReportName = false;
            if (IsOption(text)) {
                say(LoadText(IDS_REPORT_NAME_MISSING));  // and the option is read as such
            } else {
                if (text.find_first_of(u"*?") != std::u16string_view::npos || text.size() > kMaxTokenLength) {
                    say(LoadText(IDS_REPORT_NAME_INVALID));
                } else {
                    options.reportFileName = std::u16string(text);
                }
                continue;
            }
        }
        if (expectName) {
            expectName = false;
            if (IsOption(text)) {
                say(LoadText(IDS_LOG_NAME_MISSING));
                options.logEnabled = false;
            } else if (text.find_first_of(u"*?") != std::u16string_view::npos || text.size() > kMaxTokenLength) {
                // A name longer than a path buffer is refused like a bad name.
                say(LoadText(IDS_LOG_NAME_INVALID));
                options.logEnabled = false;
            } else {
                options.logEnabled = true;
                options.logFileName = std::u16string(text);
            }
            continue;
        }
        if (!IsOption(text)) {
            if (text.size() == 2 && text[1] == u':') {
                const char16_t letter = FoldCase16(text[0]);
                if (letter >= u'A' && letter <= u'Z') options.drives.emplace_back(text);
            }
            continue;
        }
        switch (LookUpOption(text)) {
        case Option::kHelp:
            if (!helpPrinted) {
                options.messages.push_back({CommandLineMessage::kHelp, {}});
                helpPrinted = true;
            }
            break;
        case Option::kSilent:
            options.silent = true;
            break;
        case Option::kLog:
            if (seenNoLog && !warnedLogNoLog) {
                say(LoadText(IDS_WARN_LOG_NOLOG));
                warnedLogNoLog = true;
            }
            seenLog = true;
            expectName = true;
            break;
        case Option::kNoLog:
            if (seenLog && !warnedLogNoLog) {
                say(LoadText(IDS_WARN_LOG_NOLOG));
                warnedLogNoLog = true;
            }
            if (seenAppend && !warnedAppendNoLog) {
                say(LoadText(IDS_WARN_APPEND_NOLOG));
                warnedAppendNoLog = true;
            }
            options.logEnabled = false;
            seenNoLog = true;
            break;
        case Option::kAppend:
            if (seenNoLog && !warnedAppendNoLog) {
                say(LoadText(IDS_WARN_APPEND_NOLOG));
                warnedAppendNoLog = true;
            }
            seenAppend = true;
            options.append = true;
            break;
        case Option::kScanOnly:
            options.scanOnly = true;
            break;
        case Option::kReport:
            options.reportFileName.clear();
            expectReportName = true;
            break;
        case Option::kNone:
            say(Format16(LoadText(IDS_INVALID_OPTION), {text}));
            break;
        }
    }

    if (options.logEnabled) {
        if (canWriteLog(options.logFileName)) {
            say(Format16(LoadText(options.append ? IDS_LOG_APPENDING : IDS_LOG_SAVING), {options.logFileName}));
        } else {
            say(Format16(LoadText(IDS_LOG_ACCESS_FAILED), {options.logFileName}));
        }
    }
    if (expectReportName) say(LoadText(IDS_REPORT_NAME_MISSING));
    if (!options.reportFileName.empty()) say(Format16(LoadText(IDS_REPORT_SAVING), {options.reportFileName}));
    if (options.silent) say(LoadText(IDS_SILENT_MODE));
    if (options.scanOnly) say(LoadText(IDS_SCAN_ONLY_MODE));
    return options;
}

std::vector<std::u16string> HelpBlockTexts(std::u16string_view programName) {
    return {
        u"\r\n",
        LoadText(IDS_HELP_SYNTAX),
        Format16(LoadText(IDS_HELP_USAGE), {programName}),
        u"\r\n",
        LoadText(IDS_HELP_OPTIONS),
        LoadText(IDS_HELP_NOLOG),
        LoadText(IDS_HELP_LOG),
        LoadText(IDS_HELP_APPEND),
        LoadText(IDS_HELP_HELP),
        u"\r\n",
        LoadText(IDS_HELP_RETURN_CODES),
        LoadText(IDS_HELP_RETURN_ERROR),
        LoadText(IDS_HELP_RETURN_CLEAN),
        LoadText(IDS_HELP_RETURN_FOUND),
        u"\r\n",
    };
}
