// What the analyst tool's commands share: the folder values, the script text
// and where the parser's diagnostics go.
#pragma once

#include <optional>
#include <string>

#include "script/fixed_folders.h"
#include "script/parser.h"

class CStderrSink : public CDiagnosticSink {
public:
    void ShowDiagnostic(std::u16string_view text, std::u16string_view caption) override;
};

// The running system's folders on Windows, a typical Windows XP installation
// elsewhere.
void LoadDefaultFolders(CFixedFolders& folders);

// The text of the script file `path` (null: the carried script); nothing,
// with a message naming `command` on standard error, when it cannot be read.
std::optional<std::u16string> LoadScriptText(const char* path, const char* command);
