// Line-by-line parser of malware description scripts. A block reads:
//
//   [Malware Worm/NetSky.C]            header; base "Worm/NetSky", variant "C"
//   SIGNATURE_FILE   4D5A9000...       one or two signature lines
//   KILL_PROCESS     %infected_processes%
//   REMOVE_FILE      %infected_file% "%WINDIR%\a b.exe"
//
// Lines end at LF (a CR before it is dropped). The line counter counts every
// run of non-LF characters, blank runs too, plus one when the text runs out;
// with CR LF ends it is the physical line number. The parser stops at the
// first diagnostic, except for an unterminated quote, which only empties the
// word it started.
#include "script/parser.h"

#include "script/expansion.h"
#include "script/folders.h"

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

bool IsHexDigit(char16_t c) {
    const char16_t u = FoldCase16(c);
    return (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'F');
}

std::u16string KindName(MalwareActionKind kind) {
    return AsciiToUtf16(ActionKindName(kind));
}

bool SameSignature(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    if (!a || !b || a->size() != b->size()) return false;
    for (std::size_t i = 0; i < a->size(); ++i) {
        if (FoldCase16(static_cast<unsigned char>((*a)[i])) !=
            FoldCase16(static_cast<unsigned char>((*b)[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

CMalwareScript::CMalwareScript(CFolderLookup& folders, std::u16string_view text,
                               CDiagnosticSink& sink)
    : folders_(folders), sink_(sink), text_(text) {}

void CMalwareScript::Report(int32_t line, std::u16string_view format,
                            std::initializer_list<FormatArg> args) {
    std::u16string prefix = Format16(u"Line %3d: ", {line});
    message_ = prefix + Format16(format, args);
    sink_.ShowDiagnostic(message_, kCaption);
}

bool CMalwareScript::ReadLine() {
    const std::size_t size = text_.size();
    for (;;) {
        while (next_ < size && text_[next_] == u'\n') ++next_;
        if (next_ >= size) {
            ++lineCounter_;
            return false;
        }
        const std::size_t start = next_;
        bool blank = true;
        while (next_ < size && text_[next_] != u'\n') {
            const char16_t c = text_[next_];
            if (c != u' ' && c != u'\t' && c != u'\r') blank = false;
            ++next_;
        }
        ++lineCounter_;
        if (blank) continue;
        std::size_t end = next_;
        if (text_[end - 1] == u'\r') --end;
        lineStart_ = start;
        lineEnd_ = end;
        cursor_ = start;
        return true;
    }
}

std::u16string CMalwareScript::ReadWord() {
    while (cursor_ < lineEnd_ && IsBlank(text_[cursor_])) ++cursor_;
    if (cursor_ == lineEnd_) return {};
    std::u16string word;
    if (text_[cursor_] == u'"') {
        if (cursor_ + 1 < lineEnd_ && text_[cursor_ + 1] == u'"') {
            cursor_ += 2;
            return {};
        }
        std::size_t close = cursor_ + 1;
        while (close < lineEnd_ && text_[close] != u'"') ++close;
        if (close == lineEnd_) {
            Report(lineCounter_,
                   u"An argument starts with \" character, but doesn't contain an \" end "
                   u"character. Word ignored.\n");
            return {};
        }
        word.assign(text_, cursor_ + 1, close - cursor_ - 1);
        cursor_ = close + 1;
    } else {
        const std::size_t start = cursor_;
        while (cursor_ < lineEnd_ && !IsBlank(text_[cursor_])) ++cursor_;
        word.assign(text_, start, cursor_ - start);
    }
    word = ExpandRegistryRoot(word);
    if (word.find(u'%') != std::u16string::npos && !ExpandPathVariables(word, folders_)) {
        return {};
    }
    return word;
}

bool CMalwareScript::HeaderTest() {
    const std::u16string word = ReadWord();
    bool ok;
    if (word.size() == 1) {
        ok = word == u"[" && EqualsIgnoreCase(ReadWord(), u"Malware");
    } else {
        ok = EqualsIgnoreCase(word, u"[Malware");
    }
    if (!ok && headerRequired_) {
        Report(lineCounter_, u"New malware description block must begin.\n");
    }
    return ok;
}

bool CMalwareScript::ReadName(CMalwareDescription& description) {
    const std::u16string word = ReadWord();
    if (word.empty()) {
        Report(lineCounter_, u"Malware name was not provided.\n");
        return false;
    }
    const std::size_t dot = word.find(u'.');
    if (dot == std::u16string::npos || dot == 0) {
        Report(lineCounter_, u"Malware name must be base_name.variant_name, provided \"%s\".\n",
               {word});
        return false;
    }
    description.baseName = word.substr(0, dot);
    description.variantName = word.substr(dot + 1);
    if (!description.variantName.empty() && description.variantName.back() == u']') {
        description.variantName.pop_back();
    }
    return true;
}

CMalwareScript::SignatureLine CMalwareScript::ReadSignatureLine(CMalwareDescription& description) {
    const std::u16string keyword = ReadWord();
    std::optional<std::string>* slot;
    if (EqualsIgnoreCase(keyword, u"SIGNATURE_MEM")) {
        slot = &description.memorySignature;
    } else if (EqualsIgnoreCase(keyword, u"SIGNATURE_FILE")) {
        slot = &description.fileSignature;
    } else if (description.memorySignature || description.fileSignature) {
        return SignatureLine::NotSignature;
    } else {
        Report(lineCounter_,
               u"The line should start with \"SIGNATURE_MEM\" or \"SIGNATURE_FILE\" keywords.\n");
        return SignatureLine::Failed;
    }

    const std::u16string value = ReadWord();
    if (value.size() % 2 != 0) {
        Report(lineCounter_, u"The line contains a signature with odd length (must be even): %d.\n",
               {static_cast<long long>(value.size())});
        return SignatureLine::Failed;
    }
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (!IsHexDigit(value[i])) {
            Report(lineCounter_, u"The line contains a bad character encountered at position %d.\n",
                   {static_cast<long long>(i + 1)});
            return SignatureLine::Failed;
        }
    }
    if (value.empty()) {
        Report(lineCounter_, u"Signature empty.\n");
        return SignatureLine::Failed;
    }
    // Every unit is a hexadecimal digit now, so the 8-bit form is exact.
    std::string digits(value.size(), '\0');
    for (std::size_t i = 0; i < value.size(); ++i) digits[i] = static_cast<char>(value[i]);
    if (slot->has_value()) {
        Report(lineCounter_, u"This type of signature has already been provided.\n");
        return SignatureLine::Failed;
    }
    *slot = std::move(digits);
    return SignatureLine::Stored;
}

bool CMalwareScript::ReadActionLine(CMalwareDescription& description) {
    cursor_ = lineStart_;
    const std::u16string keyword = ReadWord();
    CMalwareAction action;
    action.kind = ActionKindFromKeyword(keyword);
    const std::u16string name = KindName(action.kind);
    auto readList = [&] {
        for (std::u16string word = ReadWord(); !word.empty(); word = ReadWord()) {
            action.arguments.push_back(std::move(word));
        }
    };
    // Reads the next word into `out`; on an empty word reports `format`.
    auto require = [&](std::u16string& out, std::u16string_view format) {
        out = ReadWord();
        if (out.empty()) Report(lineCounter_, format, {name});
        return !out.empty();
    };

    switch (action.kind) {
    case MalwareActionKind::Unknown:
        Report(lineCounter_, u"Invalid action name \"%s\".\n", {keyword});
        return false;
    case MalwareActionKind::KillProcess:
    case MalwareActionKind::RemoveFile:
    case MalwareActionKind::RemoveFromHosts:
    case MalwareActionKind::RemoveRunReg:
    case MalwareActionKind::RemoveRegKey:
    case MalwareActionKind::AddRegKey:
        readList();
        break;
    case MalwareActionKind::RenameFile: {
        std::u16string first, second;
        if (!require(first, u"The %s action must have two or three arguments (none provided).\n") ||
            !require(second, u"The %s action must have two or three arguments (one provided).\n")) {
            return false;
        }
        std::u16string third = ReadWord();
        if (third.empty()) {
            action.namedArguments[arg::kOldValue] = std::move(first);
            action.namedArguments[arg::kNewValue] = std::move(second);
        } else {
            action.namedArguments[arg::kDirectory] = std::move(first);
            action.namedArguments[arg::kOldValue] = std::move(second);
            action.namedArguments[arg::kNewValue] = std::move(third);
        }
        break;
    }
    case MalwareActionKind::CleanSystemIni:
    case MalwareActionKind::CleanWinIni:
    case MalwareActionKind::ShowPopupInfo: {
        std::u16string word;
        if (!require(word, u"The argument for the %s action was not provided.\n")) return false;
        action.arguments.push_back(std::move(word));
        break;
    }
    case MalwareActionKind::RestoreHosts:
        break;
    case MalwareActionKind::RemoveRegValue: {
        std::u16string key;
        if (!require(key, u"The key argument for the %s action was not provided.\n")) return false;
        action.namedArguments[arg::kKey] = std::move(key);
        readList();
        break;
    }
    case MalwareActionKind::ReplaceRegValue: {
        static constexpr const char16_t* kMessages[4] = {
            u"The %s action must have four arguments (none provided).\n",
            u"The %s action must have four arguments (one provided).\n",
            u"The %s action must have four arguments (two provided).\n",
            u"The %s action must have four arguments (three provided).\n",
        };
        static constexpr const char* kNames[4] = {arg::kKey, arg::kValueName, arg::kOldValue,
                                                  arg::kNewValue};
        for (int i = 0; i < 4; ++i) {
            std::u16string word;
            if (!require(word, kMessages[i])) return false;
            action.namedArguments[kNames[i]] = std::move(word);
        }
        break;
    }
    case MalwareActionKind::AddRegValue: {
        std::u16string key, value;
        if (!require(key, u"The %s action must have at least two arguments (none provided).\n") ||
            !require(value, u"The %s action must have at least two arguments (one provided).\n")) {
            return false;
        }
        action.namedArguments[arg::kKey] = std::move(key);
        const std::size_t colon = value.rfind(u':');
        if (colon != std::u16string::npos && colon != 0) {
            action.namedArguments[arg::kDataType] = value.substr(colon + 1);
            value.resize(colon);
        }
        action.namedArguments[arg::kValue] = std::move(value);
        std::u16string data = ReadWord();
        if (!data.empty()) action.namedArguments[arg::kData] = std::move(data);
        break;
    }
    }
    description.actions.push_back(std::move(action));
    return true;
}

bool CMalwareScript::CheckDuplicateName(const CMalwareDescription& description) {
    for (const CMalwareDescription& other : descriptions_) {
        if (EqualsIgnoreCase(other.baseName, description.baseName) &&
            EqualsIgnoreCase(other.variantName, description.variantName)) {
            Report(lineCounter_, u"A malware with %s.%s name has already been specified.\n",
                   {description.baseName, description.variantName});
            return false;
        }
    }
    return true;
}

bool CMalwareScript::CheckDuplicateSignatures(const CMalwareDescription& description) {
    for (const CMalwareDescription& other : descriptions_) {
        if (SameSignature(other.memorySignature, description.memorySignature)) {
            Report(lineCounter_ - 1,
                   u"A malware description with the same memory signature has already been "
                   u"provided.\n");
            return false;
        }
        if (SameSignature(other.fileSignature, description.fileSignature)) {
            Report(lineCounter_ - 1,
                   u"A malware description with the same file signature has already been "
                   u"provided.\n");
            return false;
        }
    }
    return true;
}

bool CMalwareScript::Parse() {
    const bool ok = ParseBlocks();
    if (!ok) descriptions_.clear();
    return ok;
}

bool CMalwareScript::ParseBlocks() {
    static constexpr const char16_t* kEndOfFile =
        u"End of file reached before the signatures and actions have been provided.\n";
    if (!ReadLine()) return true;
    for (;;) {
        headerRequired_ = true;
        if (!HeaderTest()) return false;
        CMalwareDescription description;
        if (!ReadName(description) || !CheckDuplicateName(description)) return false;

        if (!ReadLine()) {
            Report(lineCounter_, kEndOfFile);
            return false;
        }
        if (ReadSignatureLine(description) != SignatureLine::Stored) return false;
        if (!ReadLine()) {
            Report(lineCounter_, kEndOfFile);
            return false;
        }

        bool exhausted = false;
        switch (ReadSignatureLine(description)) {
        case SignatureLine::Failed:
            return false;
        case SignatureLine::Stored:
            if (!CheckDuplicateSignatures(description)) return false;
            exhausted = !ReadLine();
            break;
        case SignatureLine::NotSignature:
            cursor_ = lineStart_;
            break;
        }

        headerRequired_ = false;
        while (!exhausted) {
            cursor_ = lineStart_;
            if (HeaderTest()) break;
            if (!ReadActionLine(description)) return false;
            exhausted = !ReadLine();
        }
        descriptions_.push_back(std::move(description));
        if (exhausted) return true;
        cursor_ = lineStart_;
    }
}
