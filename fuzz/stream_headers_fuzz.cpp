// Arbitrary bytes as the BackupRead sequence of a file through the stream
// header walk. Mode byte even: the rest of the input is the sequence as it
// stands, hostile sizes included; every entry must then be well formed.
// Mode odd: the rest describes streams (per stream a flags byte, a name
// length, a data length, then the name), which are written out as BackupRead
// would; the walk must list exactly the named streams with data whose names
// it keeps, newest first.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "scanner/streams.h"

namespace {

class CBytesStream : public CBackupStream {
public:
    explicit CBytesStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    std::size_t Read(uint8_t* buffer, std::size_t count) override {
        const std::size_t n = count < bytes_.size() - at_ ? count : bytes_.size() - at_;
        if (n != 0) std::memcpy(buffer, bytes_.data() + at_, n);
        at_ += n;
        return n;
    }
    bool Skip(uint64_t count) override {
        if (count > bytes_.size() - at_) return false;
        at_ += static_cast<std::size_t>(count);
        return true;
    }

private:
    std::vector<uint8_t> bytes_;
    std::size_t at_ = 0;
};

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CFuzzInput in(data, size);
    if (in.U8() % 2 == 0) {
        const std::size_t length = in.Remaining();
        CBytesStream stream(in.Rest());
        const std::vector<StreamInfo> list = ReadStreamHeaders(stream);
        if (list.size() > length / 20) std::abort();  // one entry per header at most
        for (const StreamInfo& s : list) {
            if (s.size == 0 || s.name.empty() || s.name.size() > 254 || s.nameLength != s.name.size() + 1) std::abort();
        }
        return 0;
    }

    std::vector<uint8_t> bytes;
    std::vector<StreamInfo> expected;
    while (in.Remaining() > 0) {
        const uint8_t flags = in.U8();
        const std::size_t units = static_cast<std::size_t>(in.U8()) * (flags & 1 ? 2 : 1);  // up to 510
        const uint32_t dataSize = in.U8();
        std::u16string name = in.Text(units);
        name.resize(units, u'x');
        Put32(bytes, flags & 2 ? 1 : 4);  // main data or alternate data
        Put32(bytes, 0);
        Put32(bytes, dataSize);
        Put32(bytes, 0);
        Put32(bytes, static_cast<uint32_t>(2 * units));
        for (const char16_t c : name) {
            bytes.push_back(static_cast<uint8_t>(c));
            bytes.push_back(static_cast<uint8_t>(c >> 8));
        }
        bytes.insert(bytes.end(), dataSize, 0xAB);
        if (units > 6 && units <= 260 && dataSize != 0) {
            StreamInfo s;
            s.streamId = flags & 2 ? 1 : 4;
            s.size = dataSize;
            s.nameLength = static_cast<uint32_t>(units - 5);
            s.name = name.substr(0, units - 6);
            expected.insert(expected.begin(), s);
        }
    }
    CBytesStream stream(bytes);
    const std::vector<StreamInfo> list = ReadStreamHeaders(stream);
    if (list.size() != expected.size()) std::abort();
    for (std::size_t i = 0; i < list.size(); ++i) {
        const StreamInfo& a = list[i];
        const StreamInfo& b = expected[i];
        if (a.streamId != b.streamId || a.attributes != 0 || a.size != b.size || a.nameLength != b.nameLength ||
            a.name != b.name) {
            std::abort();
        }
    }
    return 0;
}
