// Arbitrary pane text and clock through the log text and its bytes, as one
// program run adds them after whatever the log file already holds: the file
// keeps its old bytes, and the new ones read back as the separator (when
// appending), the time stamp and the pane's text with "\r" as "\r\n".
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/text16.h"
#include "fuzz_input.h"
#include "scan/report.h"

namespace {

std::u16string Number(int v) { return AsciiToUtf16(std::to_string(v)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CFuzzInput in(data, size);
    const bool append = in.U8() & 1;
    LocalTime time;
    for (int* field : {&time.year, &time.month, &time.day, &time.hour, &time.minute, &time.second}) {
        *field = static_cast<int>(in.U32());
    }
    const std::vector<uint8_t> existing = in.Bytes(in.U16());
    const std::u16string pane = in.RestText();

    // The writer puts the run's bytes after the existing ones (or in place
    // of them when not appending).
    const std::string bytes = Utf16LeBytes(LogText(append, time, pane));
    std::vector<uint8_t> file = append ? existing : std::vector<uint8_t>();
    file.insert(file.end(), bytes.begin(), bytes.end());
    if (append && !std::equal(existing.begin(), existing.end(), file.begin())) std::abort();

    const std::size_t from = append ? existing.size() : 0;
    if ((file.size() - from) % 2 != 0) std::abort();
    std::u16string text;
    for (std::size_t i = from; i + 1 < file.size(); i += 2) text.push_back(static_cast<char16_t>(file[i] | file[i + 1] << 8));

    std::u16string_view rest(text);
    if (append) {
        const std::u16string separator = std::u16string(75, u'-') + u"\r\n\r\n";
        if (rest.substr(0, separator.size()) != separator) std::abort();
        rest.remove_prefix(separator.size());
    }
    const std::u16string stamp = u"[" + Number(time.day) + u"/" + Number(time.month) + u"/" + Number(time.year) + u" " +
                                 Number(time.hour) + u":" + Number(time.minute) + u":" + Number(time.second) + u"]\r\n";
    if (rest.substr(0, stamp.size()) != stamp) std::abort();
    rest.remove_prefix(stamp.size());

    // Every "\r" of the pane is followed by an added "\n", nothing else changes.
    std::size_t at = 0;
    for (const char16_t c : pane) {
        if (at >= rest.size() || rest[at++] != c) std::abort();
        if (c == u'\r' && (at >= rest.size() || rest[at++] != u'\n')) std::abort();
    }
    if (at != rest.size()) std::abort();
    return 0;
}
