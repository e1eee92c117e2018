#include "tools/arguments.h"

std::vector<std::u16string> SplitCommandLine(std::u16string_view line) {
    std::vector<std::u16string> words;
    std::size_t i = 0;
    const std::size_t n = line.size();
    auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    while (true) {
        while (i < n && blank(line[i])) ++i;
        if (i >= n) break;
        std::u16string word;
        bool quoted = false;
        while (i < n && (quoted || !blank(line[i]))) {
            std::size_t slashes = 0;
            while (i < n && line[i] == u'\\') {
                ++slashes;
                ++i;
            }
            if (i < n && line[i] == u'"') {
                word.append(slashes / 2, u'\\');
                if (slashes % 2 == 1) {
                    word.push_back(u'"');
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                word.append(slashes, u'\\');
                if (i < n && (quoted || !blank(line[i]))) word.push_back(line[i++]);
            }
        }
        words.push_back(std::move(word));
    }
    return words;
}
