// The malware description script carried as resource "#161" of type SCRIPTFILE.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "script/parser.h"

// Text of the script resource of `module` (an HMODULE; null for the program
// itself) after its byte-order unit, or nothing when the resource is missing.
// Only the resource's own bytes are read; an odd last byte is dropped.
std::optional<std::u16string> LoadScriptResource(void* module = nullptr);

// Shows each parser diagnostic in a modal message box without owner or icon,
// the way the program reports script errors.
class CMessageBoxSink : public CDiagnosticSink {
public:
    void ShowDiagnostic(std::u16string_view text, std::u16string_view caption) override;
};
