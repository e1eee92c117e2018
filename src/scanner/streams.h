// NTFS alternate data streams as BackupRead lists them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One alternate data stream of a file.
struct StreamInfo {
    uint32_t streamId = 0;
    uint32_t attributes = 0;
    uint64_t size = 0;
    uint32_t nameLength = 0;  // units of the name minus 5
    std::u16string name;      // ":name" without the ":$DATA" type suffix
};

// Source of the BackupRead byte sequence of a file: Read fills up to `count`
// bytes and returns how many (0 at the end or on failure); Skip passes over
// `count` bytes and returns false on failure.
class CBackupStream {
public:
    virtual ~CBackupStream() = default;
    virtual std::size_t Read(uint8_t* buffer, std::size_t count) = 0;
    virtual bool Skip(uint64_t count) = 0;
};

// Walks the 20-byte stream headers of `stream`: every stream with a name and
// data becomes an entry, the newest first. Names longer than 260 units are
// passed over (their data is still skipped).
std::vector<StreamInfo> ReadStreamHeaders(CBackupStream& stream);
