#include "support/pe_fixture.h"

#include <cstdio>
#include <cstring>

#include "signature/signature.h"

namespace {

constexpr uint32_t kFileAlign = 0x200;
constexpr uint32_t kSectionAlign = 0x1000;
constexpr uint32_t kHeadersSize = 0x400;

uint32_t AlignUp(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

void Put16(std::vector<uint8_t>& b, std::size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(std::vector<uint8_t>& b, std::size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Reflected CRC table of the signature CRC, and its inverse by top byte.
struct CrcTables {
    uint32_t table[256];
    uint8_t byTop[256];
    CrcTables() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
            byTop[c >> 24] = static_cast<uint8_t>(i);
        }
    }
};
const CrcTables& Tables() {
    static const CrcTables t;
    return t;
}

}  // namespace

std::vector<uint8_t> FixtureBytes(uint32_t seed, std::size_t count) {
    std::vector<uint8_t> out(count);
    uint32_t x = 0x9E3779B9u * (seed + 1) | 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 11);
    }
    return out;
}

std::vector<uint8_t> ForgeSignatureBytes(const uint8_t head[5], uint16_t anchorWord, uint32_t length,
                                         uint32_t anchorOffset, uint32_t crc, uint32_t seed) {
    std::vector<uint8_t> s = FixtureBytes(seed, length);
    std::memcpy(s.data(), head, 5);
    s[anchorOffset] = static_cast<uint8_t>(anchorWord);
    s[anchorOffset + 1] = static_cast<uint8_t>(anchorWord >> 8);
    // Four free bytes after the head, clear of the anchor word.
    uint32_t k = 5;
    while (k + 4 <= length && anchorOffset + 1 >= k && anchorOffset < k + 4) ++k;
    const CrcTables& t = Tables();
    // Register before the free bytes, running forward from the start value.
    uint32_t a = SignatureCrc(kSignatureCrcInit, s.data() + 5, k - 5);
    // Register needed after them, running backward from the wanted CRC.
    uint32_t b = crc;
    for (uint32_t i = length; i-- > k + 4;) {
        const uint8_t idx = t.byTop[b >> 24];
        b = ((b ^ t.table[idx]) << 8) | ((idx ^ s[i]) & 0xFF);
    }
    uint8_t idx[4];
    uint32_t x = b;
    for (int j = 3; j >= 0; --j) {
        idx[j] = t.byTop[x >> 24];
        x = (x ^ t.table[idx[j]]) << 8;
    }
    for (int j = 0; j < 4; ++j) {
        s[k + j] = static_cast<uint8_t>((a ^ idx[j]) & 0xFF);
        a = t.table[idx[j]] ^ (a >> 8);
    }
    return s;
}

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

FixtureLayout BuildPe(const FixturePlan& plan) {
    std::vector<FixtureSection> sections;
    uint32_t codeIndex = 0;
    if (plan.runnable) {
        FixtureSection code;
        code.name = ".text";
        code.data.assign(64, 0xCC);
        code.characteristics = 0x60000020;
        sections.push_back(code);
        codeIndex = 0;
    }
    const std::size_t userFirst = sections.size();
    sections.insert(sections.end(), plan.sections.begin(), plan.sections.end());
    if (plan.runnable) {
        FixtureSection imports;
        imports.name = ".idata";
        imports.data.assign(256, 0);
        sections.push_back(imports);
    }

    const uint32_t optionalSize = plan.pe32plus ? 240 : 224;
    FixtureLayout layout;
    layout.ntHeadersOffset = 0x40;
    layout.sectionTableOffset = layout.ntHeadersOffset + 24 + optionalSize;
    uint32_t fileOffset = kHeadersSize, rva = kSectionAlign;
    std::vector<uint32_t> raw(sections.size()), virt(sections.size()), offsets(sections.size()), rvas(sections.size());
    for (std::size_t i = 0; i < sections.size(); ++i) {
        raw[i] = sections[i].rawSize != 0 ? sections[i].rawSize
                                          : AlignUp(static_cast<uint32_t>(sections[i].data.size()), kFileAlign);
        virt[i] = sections[i].virtualSize != 0 ? sections[i].virtualSize : raw[i];
        offsets[i] = fileOffset;
        rvas[i] = rva;
        fileOffset += AlignUp(raw[i], kFileAlign);
        rva += AlignUp(virt[i] == 0 ? 1 : virt[i], kSectionAlign);
    }
    std::vector<uint8_t>& b = layout.bytes;
    b.assign(fileOffset, 0);
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const std::size_t n = std::min<std::size_t>(sections[i].data.size(), raw[i]);
        std::memcpy(b.data() + offsets[i], sections[i].data.data(), n);
    }

    const uint64_t imageBase = plan.pe32plus ? 0x140000000ull : 0x400000ull;
    uint32_t importRva = 0, iatRva = 0;
    if (plan.runnable) {
        // Import of Sleep from KERNEL32.dll: descriptor, lookup table, address
        // table, hint/name, library name.
        const std::size_t s = sections.size() - 1;
        const uint32_t base = offsets[s], r = rvas[s];
        const uint32_t thunk = plan.pe32plus ? 8 : 4;
        const uint32_t ilt = 40, iat = ilt + 2 * thunk, hint = iat + 2 * thunk, name = hint + 8;
        Put32(b, base + 0, r + ilt);
        Put32(b, base + 12, r + name);
        Put32(b, base + 16, r + iat);
        for (uint32_t table : {ilt, iat}) {
            if (plan.pe32plus) Put64(b, base + table, r + hint);
            else Put32(b, base + table, r + hint);
        }
        std::memcpy(b.data() + base + hint + 2, "Sleep", 6);
        std::memcpy(b.data() + base + name, "KERNEL32.dll", 13);
        importRva = r;
        iatRva = r + iat;

        // Entry code: Sleep(INFINITE) in a loop.
        const uint32_t c = offsets[codeIndex], code = rvas[codeIndex];
        std::vector<uint8_t> ins;
        if (plan.pe32plus) {
            ins = {0x48, 0x83, 0xEC, 0x28, 0xB9, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x15, 0, 0, 0, 0, 0xEB, 0xF3};
            const uint32_t disp = iatRva - (code + 15);
            for (int i = 0; i < 4; ++i) ins[11 + i] = static_cast<uint8_t>(disp >> (8 * i));
        } else {
            ins = {0x6A, 0xFF, 0xFF, 0x15, 0, 0, 0, 0, 0xEB, 0xF6};
            const uint32_t address = static_cast<uint32_t>(imageBase) + iatRva;
            for (int i = 0; i < 4; ++i) ins[4 + i] = static_cast<uint8_t>(address >> (8 * i));
        }
        std::memcpy(b.data() + c, ins.data(), ins.size());
    }

    // DOS header.
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 60, layout.ntHeadersOffset);
    // NT headers.
    const std::size_t e = layout.ntHeadersOffset;
    std::memcpy(b.data() + e, "PE\0\0", 4);
    Put16(b, e + 4, plan.pe32plus ? 0x8664 : 0x014C);
    Put16(b, e + 6, static_cast<uint32_t>(sections.size()));
    Put16(b, e + 20, optionalSize);
    uint32_t characteristics = 0x0002 | 0x0001;  // executable, no relocations
    characteristics |= plan.pe32plus ? 0x0020 : 0x0100;
    if (plan.dll) characteristics |= 0x2000;
    Put16(b, e + 22, characteristics);
    const std::size_t o = e + 24;
    Put16(b, o, plan.pe32plus ? 0x20B : 0x10B);
    uint32_t entry = plan.entryPoint;
    if (entry == 0) entry = plan.runnable ? rvas[codeIndex] : (sections.empty() ? 0 : rvas[userFirst < sections.size() ? userFirst : 0]);
    Put32(b, o + 16, entry);
    Put32(b, o + 20, sections.empty() ? 0 : rvas[0]);
    if (plan.pe32plus) {
        Put64(b, o + 24, imageBase);
    } else {
        Put32(b, o + 28, static_cast<uint32_t>(imageBase));
    }
    Put32(b, o + 32, kSectionAlign);
    Put32(b, o + 36, kFileAlign);
    Put16(b, o + 40, 4);   // operating system version
    Put16(b, o + 48, 4);   // subsystem version
    Put32(b, o + 56, rva);  // size of image
    Put32(b, o + 60, kHeadersSize);
    Put16(b, o + 68, 3);   // console
    const std::size_t sizes = o + 72;
    const uint64_t reserve = 0x100000, commit = 0x1000;
    if (plan.pe32plus) {
        Put64(b, sizes, reserve);
        Put64(b, sizes + 8, commit);
        Put64(b, sizes + 16, reserve);
        Put64(b, sizes + 24, commit);
        Put32(b, sizes + 36, 16);
    } else {
        Put32(b, sizes, reserve);
        Put32(b, sizes + 4, commit);
        Put32(b, sizes + 8, reserve);
        Put32(b, sizes + 12, commit);
        Put32(b, sizes + 20, 16);
    }
    const std::size_t directories = o + (plan.pe32plus ? 112 : 96);
    if (plan.runnable) {
        Put32(b, directories + 8 * 1, importRva);
        Put32(b, directories + 8 * 1 + 4, 40);
        Put32(b, directories + 8 * 12, iatRva);
        Put32(b, directories + 8 * 12 + 4, plan.pe32plus ? 16 : 8);
    }
    // Section table.
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const std::size_t h = layout.sectionTableOffset + 40 * i;
        std::memcpy(b.data() + h, sections[i].name.data(), std::min<std::size_t>(8, sections[i].name.size()));
        Put32(b, h + 8, virt[i]);
        Put32(b, h + 12, rvas[i]);
        Put32(b, h + 16, raw[i]);
        Put32(b, h + 20, offsets[i]);
        Put32(b, h + 36, sections[i].characteristics);
    }
    for (std::size_t i = userFirst; i < userFirst + plan.sections.size(); ++i) {
        layout.sectionOffsets.push_back(offsets[i]);
        layout.sectionRvas.push_back(rvas[i]);
    }
    return layout;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}
