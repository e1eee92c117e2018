#include "scanner/streams.h"

#include <algorithm>

#include "scanner/pe_headers.h"

namespace {

// Reads and drops `count` bytes in pieces; false when the stream ends first.
bool ReadOver(CBackupStream& stream, uint64_t count) {
    uint8_t piece[4096];
    while (count != 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(count, sizeof piece));
        if (stream.Read(piece, want) != want) return false;
        count -= want;
    }
    return true;
}

}  // namespace

std::vector<StreamInfo> ReadStreamHeaders(CBackupStream& stream) {
    constexpr std::size_t kHeaderSize = 20;  // id, attributes, 64-bit size, name size
    constexpr std::size_t kTypeSuffix = 6;   // ":$DATA"
    constexpr std::size_t kMaxNameUnits = 260;
    std::vector<StreamInfo> list;
    for (;;) {
        uint8_t header[kHeaderSize];
        if (stream.Read(header, kHeaderSize) != kHeaderSize) break;
        StreamInfo info;
        info.streamId = pe::Read32(header);
        info.attributes = pe::Read32(header + 4);
        info.size = pe::Read32(header + 8) | static_cast<uint64_t>(pe::Read32(header + 12)) << 32;
        const uint32_t nameBytes = pe::Read32(header + 16);
        if (nameBytes != 0 && info.size != 0) {
            // The name is read whatever its length, so that the walk stays in
            // step; one too long to keep is read over, never held whole (its
            // size comes from the file system and may be anything).
            const std::size_t units = nameBytes / 2;
            if (units > kMaxNameUnits) {
                if (!ReadOver(stream, nameBytes)) break;
            } else {
                std::vector<uint8_t> raw(nameBytes);
                if (stream.Read(raw.data(), raw.size()) != raw.size()) break;
                if (units > kTypeSuffix) {
                    for (std::size_t i = 0; i + kTypeSuffix < units; ++i) {
                        info.name.push_back(static_cast<char16_t>(raw[2 * i] | raw[2 * i + 1] << 8));
                    }
                    info.nameLength = static_cast<uint32_t>(units - 5);
                    list.insert(list.begin(), std::move(info));
                }
            }
        } else if (nameBytes != 0 && !stream.Skip(nameBytes)) {
            break;
        }
        if (!stream.Skip(info.size)) break;
    }
    return list;
}
