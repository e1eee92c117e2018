#include "removers/stanit_repair.h"

#include <algorithm>
#include <vector>

#include "removers/removal_system.h"

namespace {

constexpr uint32_t kEntryPointField = 40;  // AddressOfEntryPoint in the NT headers, PE32 and PE32+

bool ReadExact(CRepairFile& file, uint64_t offset, uint8_t* buffer, std::size_t count) {
    return file.ReadAt(offset, buffer, count) == static_cast<int64_t>(count);
}

bool WriteExact(CRepairFile& file, uint64_t offset, const uint8_t* buffer, std::size_t count) {
    return file.WriteAt(offset, buffer, count) == static_cast<int64_t>(count);
}

}  // namespace

uint32_t StanitEntryOffset(const ExecutableHeaders& headers) {
    return RvaToFileOffset(headers.sectionCount, headers.sectionTable,
                           pe::Read32(headers.ntHeaders + kEntryPointField));
}

int32_t RepairStanitFile(CRepairFile* file, const ExecutableHeaders& headers) {
    const uint64_t o = StanitEntryOffset(headers);
    if (o == stanit::kDropperEntryOffset) return kStanitDropper;
    if (file == nullptr) return kStanitNotOpened;

    uint8_t code[stanit::kEntryCodeSize];
    if (!ReadExact(*file, o, code, sizeof code)) return kStanitIoFailed;
    // push edx; pushad; mov ecx, imm32; call
    if (code[0] != 0x52 || code[1] != 0x60 || code[2] != 0xB9 || code[7] != 0xE8) return kStanitRepaired;

    // The displaced entry point goes back into the optional header, which must
    // lie inside the file.
    const uint64_t size = file->Size();
    const uint64_t field = static_cast<uint64_t>(pe::Read32(headers.dosHeader + 60)) + kEntryPointField;
    if (field > size || size - field < 4) return kStanitIoFailed;
    if (!WriteExact(*file, field, code + 3, 4)) return kStanitIoFailed;

    // The virus code is zeroed up to the end of the file at most.
    const std::size_t zeroCount = static_cast<std::size_t>(std::min<uint64_t>(stanit::kVirusCodeSize, size - o));
    const std::vector<uint8_t> zeros(zeroCount, 0);
    if (!WriteExact(*file, o, zeros.data(), zeros.size())) return kStanitIoFailed;

    uint8_t trail[stanit::kTrailSize];
    if (!ReadExact(*file, o + stanit::kTrailOffset, trail, sizeof trail)) return kStanitRepaired;
    return std::all_of(trail, trail + sizeof trail, [](uint8_t b) { return b == 0; }) ? kStanitRepaired
                                                                                       : kStanitHostOverwritten;
}
