// The malware description script parser.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/text16.h"
#include "script/model.h"

class CFolderLookup;

// Where the parser's diagnostics go: a message box in the product, standard
// error in the analyst tool, a list in tests. `text` ends with "\n".
class CDiagnosticSink {
public:
    virtual ~CDiagnosticSink() = default;
    virtual void ShowDiagnostic(std::u16string_view text, std::u16string_view caption) = 0;
};

class CMalwareScript {
public:
    static constexpr const char16_t* kCaption = u"Parse Error";

    // `text` is the script without its byte-order mark; it is copied.
    CMalwareScript(CFolderLookup& folders, std::u16string_view text, CDiagnosticSink& sink);

    // True when the whole text was read without a stopping diagnostic; the
    // descriptions then stand in script order. False leaves the list empty.
    bool Parse();

    const std::vector<CMalwareDescription>& Descriptions() const { return descriptions_; }
    std::vector<CMalwareDescription> TakeDescriptions() { return std::move(descriptions_); }

    // Text of the last diagnostic, empty when none was shown.
    const std::u16string& LastMessage() const { return message_; }

private:
    enum class SignatureLine { Stored, NotSignature, Failed };

    bool ParseBlocks();
    bool ReadLine();
    std::u16string ReadWord();
    bool HeaderTest();
    bool ReadName(CMalwareDescription& description);
    SignatureLine ReadSignatureLine(CMalwareDescription& description);
    bool ReadActionLine(CMalwareDescription& description);
    bool CheckDuplicateName(const CMalwareDescription& description);
    bool CheckDuplicateSignatures(const CMalwareDescription& description);
    void Report(int32_t line, std::u16string_view format,
                std::initializer_list<FormatArg> args = {});

    CFolderLookup& folders_;
    CDiagnosticSink& sink_;
    std::u16string text_;
    std::size_t next_ = 0;       // first character not yet taken by the line reader
    std::size_t lineStart_ = 0;  // current line: [lineStart_, lineEnd_)
    std::size_t lineEnd_ = 0;
    std::size_t cursor_ = 0;
    int32_t lineCounter_ = 0;
    bool headerRequired_ = true;
    std::u16string message_;
    std::vector<CMalwareDescription> descriptions_;
};
