// Helpers for tests that parse scripts.
#pragma once

#include <string>
#include <vector>

#include "script/fixed_folders.h"
#include "script/parser.h"

// Collects the parser's diagnostics instead of showing them.
class CRecordingSink : public CDiagnosticSink {
public:
    void ShowDiagnostic(std::u16string_view text, std::u16string_view caption) override {
        messages.emplace_back(text);
        captions.emplace_back(caption);
    }
    std::vector<std::u16string> messages;
    std::vector<std::u16string> captions;
};

// The carried script's text without its byte-order mark.
std::u16string EmbeddedScriptText();

// 2 x `bytes` hexadecimal digits of a deterministic, distinct signature.
std::u16string HexSignature(int seed, int bytes = 32);
