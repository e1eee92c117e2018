// The command line: tokenizer, option table and the messages of one parse.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Longest token text the program accepts as a log file name (a 260-unit path
// buffer with its terminator).
constexpr std::size_t kMaxTokenLength = 259;

// Finds the next token of the zero-terminated `line` from `position`. Returns
// its first character, or null; sets `*end` to its last character (its closing
// quote or separating blank included), or to null when there is none.
const char16_t* NextToken(const char16_t* line, const char16_t* position, const char16_t** end);

// At least two characters, beginning with '-' or '/'.
bool IsOption(std::u16string_view token);

struct CommandLineMessage {
    enum Kind { kText, kHelp } kind = kText;
    std::u16string text;  // empty for kHelp
};

struct CommandLineOptions {
    bool silent = false;
    bool append = false;
    bool logEnabled = true;
    std::u16string logFileName;
    bool scanOnly = false;             // /SCANONLY
    std::u16string reportFileName;     // /REPORT file; empty: no report
    std::vector<std::u16string> drives;  // as typed, in command-line order
    // Option messages in print order (the banner and hint lines not included).
    std::vector<CommandLineMessage> messages;
};

// Reads the process command line. `programName` is the executable's file name
// without directory and extension; `helpPrinted` keeps the help block to once
// per run; `canWriteLog` is the log file access test, asked when logging is on.
CommandLineOptions ParseCommandLine(std::u16string_view line, std::u16string_view programName, bool& helpPrinted,
                                    const std::function<bool(std::u16string_view)>& canWriteLog);

// The help block: its first element is the leading line break, the rest is
// printed in bold.
std::vector<std::u16string> HelpBlockTexts(std::u16string_view programName);
