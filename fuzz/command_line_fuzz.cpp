// Arbitrary text as a command line through both tokenizers: the program's
// own (token walk and option parse) and the analyst tool's argv split.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "fuzz_input.h"
#include "tools/arguments.h"

namespace {

// The words as a command line the C runtime splits back into them.
std::u16string Quote(const std::vector<std::u16string>& words) {
    std::u16string line;
    for (const std::u16string& w : words) {
        if (!line.empty()) line += u' ';
        if (!w.empty() && w.find_first_of(u" \t\"") == std::u16string::npos) {
            line += w;
            continue;
        }
        line += u'"';
        std::size_t slashes = 0;
        for (const char16_t c : w) {
            if (c == u'\\') {
                ++slashes;
                continue;
            }
            line.append(c == u'"' ? 2 * slashes + 1 : slashes, u'\\');
            slashes = 0;
            line += c;
        }
        line.append(2 * slashes, u'\\');
        line += u'"';
    }
    return line;
}

void WalkTokens(const std::u16string& line) {
    const char16_t* const begin = line.c_str();
    std::size_t length = 0;
    while (begin[length] != 0) ++length;
    const char16_t* position = begin;
    for (std::size_t steps = 0;; ++steps) {
        if (steps > length) std::abort();  // every token moves the walk on
        const char16_t* end = nullptr;
        const char16_t* token = NextToken(begin, position, &end);
        if (token == nullptr || end == nullptr) break;
        if (token < position || end < token || end >= begin + length) std::abort();
        position = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CFuzzInput in(data, size);
    const bool helpBefore = in.U8() & 1;
    const std::u16string line = in.RestText();

    WalkTokens(line);

    bool helpPrinted = helpBefore;
    int asked = 0;
    std::u16string askedName;
    const CommandLineOptions options = ParseCommandLine(line, u"tesmora", helpPrinted, [&](std::u16string_view name) {
        ++asked;
        askedName = std::u16string(name);
        return (name.size() & 1) != 0;
    });
    std::size_t helps = 0;
    for (const CommandLineMessage& m : options.messages) {
        if (m.kind == CommandLineMessage::kHelp) {
            if (!m.text.empty()) std::abort();
            ++helps;
        }
    }
    if (helps > (helpBefore ? 0u : 1u) || (helps == 1) != (helpPrinted && !helpBefore)) std::abort();
    if (helpBefore && !helpPrinted) std::abort();
    if (options.logEnabled) {
        if (asked != 1 || askedName != options.logFileName) std::abort();
        if (options.logFileName.size() > kMaxTokenLength ||
            options.logFileName.find_first_of(u"*?") != std::u16string::npos) {
            std::abort();
        }
    } else if (asked != 0) {
        std::abort();
    }
    for (const std::u16string& d : options.drives) {
        if (d.size() != 2 || d[1] != u':' || line.find(d) == std::u16string::npos) std::abort();
    }

    // Split, quote, split again: the same words.
    const std::vector<std::u16string> words = SplitCommandLine(line);
    if (SplitCommandLine(Quote(words)) != words) std::abort();
    for (const std::u16string& w : words) {
        if (w.size() > line.size()) std::abort();
    }
    return 0;
}
