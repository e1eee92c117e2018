// "127.0.0.1 localhost\r\n#c\n1.2.3.4 bad" becomes, after DisableAllHostEntries,
// "# 127.0.0.1 localhost\r\n#c\n# 1.2.3.4 bad\n\r\n127.0.0.1\t\tlocalhost\r\n".
// DisableHostEntries(text, "BAD") gives "127.0.0.1 localhost\r\n#c\n# 1.2.3.4 bad\n".
#include "removal/hosts_text.h"

#include "common/text16.h"

namespace {

constexpr std::size_t kWordLimit = 260;
constexpr char16_t kLocalhostLine[] = u"\r\n127.0.0.1\t\tlocalhost\r\n";

bool IsScanSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f';
}

// The word a "%260s" scan reads from `s`; empty when there is none.
std::u16string_view ScanWord(std::u16string_view s) {
    std::size_t i = 0;
    while (i < s.size() && IsScanSpace(s[i])) ++i;
    std::size_t end = i;
    while (end < s.size() && end - i < kWordLimit && !IsScanSpace(s[end])) ++end;
    return s.substr(i, end - i);
}

bool IsEntry(std::u16string_view word) { return !word.empty() && word[0] != u'#'; }

// Calls `fn(line)` for every non-empty run between LF characters.
template <typename Fn>
void ForEachLine(std::u16string_view text, Fn fn) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(u'\n', start);
        if (end == std::u16string_view::npos) end = text.size();
        if (end > start) fn(text.substr(start, end - start));
        start = end + 1;
    }
}

void Append(std::u16string& out, std::u16string_view line, bool disable) {
    if (disable) out += u"# ";
    out += line;
    out += u'\n';
}

}  // namespace

std::u16string DisableAllHostEntries(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size() + text.size() / 8 + 32);
    ForEachLine(text, [&](std::u16string_view line) { Append(out, line, IsEntry(ScanWord(line))); });
    out += kLocalhostLine;
    return out;
}

std::optional<std::u16string> DisableHostEntries(std::u16string_view text, std::u16string_view host) {
    std::u16string out;
    out.reserve(text.size() + 64);
    bool changed = false;
    ForEachLine(text, [&](std::u16string_view line) {
        std::size_t lead = 0;
        while (lead < line.size() && (line[lead] == u' ' || line[lead] == u'\t')) ++lead;
        const std::u16string_view rest = line.substr(lead);
        const std::u16string_view w1 = ScanWord(rest);
        bool match = false;
        if (IsEntry(w1)) {
            // The second word is read from past the first word's end and the
            // one character after it.
            const std::size_t from = static_cast<std::size_t>(w1.data() - rest.data()) + w1.size() + 1;
            const std::u16string_view w2 = from < rest.size() ? ScanWord(rest.substr(from)) : std::u16string_view();
            match = EqualsIgnoreCase(w1, host) || (!w2.empty() && EqualsIgnoreCase(w2, host));
        }
        changed = changed || match;
        Append(out, line, match);
    });
    if (!changed) return std::nullopt;
    return out;
}
