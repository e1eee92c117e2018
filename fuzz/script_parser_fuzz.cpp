// Arbitrary bytes, read as UTF-16LE text, through the script parser.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "script/fixed_folders.h"
#include "script/parser.h"

namespace {

class CheckingSink : public CDiagnosticSink {
public:
    void ShowDiagnostic(std::u16string_view text, std::u16string_view caption) override {
        // Every diagnostic is one line of text ending in a line feed.
        if (text.empty() || text.back() != u'\n' || caption != CMalwareScript::kCaption) std::abort();
        ++count;
    }
    int count = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string text;
    text.reserve(size / 2);
    for (size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));

    CFixedFolders folders;
    CheckingSink sink;
    CMalwareScript script(folders, text, sink);
    const bool ok = script.Parse();
    if (!ok && (sink.count == 0 || !script.Descriptions().empty())) std::abort();
    if (ok) {
        for (const CMalwareDescription& d : script.Descriptions()) {
            if (d.baseName.empty() || (!d.memorySignature && !d.fileSignature)) std::abort();
        }
    }
    return 0;
}
