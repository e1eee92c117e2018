// tesmora-fixture: writes a harmless synthetic PE file for tests and
// benchmarks.
//   tesmora-fixture OUT [--pe32plus] [--dll] [--runnable] [--plant HEX]... [--builtin N]...
//   tesmora-fixture --hex-builtin N
// Each --plant puts the decoded bytes of HEX, each --builtin bytes forged to
// match built-in remover N's file signature (0 Sober.J ... 3 W32/Stanit), into
// a data section of their own. --hex-builtin prints those forged bytes as
// hexadecimal text (for other tools' rule files).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "removers/remover.h"
#include "support/pe_fixture.h"

namespace {

std::vector<uint8_t> ForgedBuiltin(int n) {
    const CMalwareRemover& r = *g_builtinRemovers[n];
    uint32_t len = 0;
    return ForgeSignatureBytes(r.GetFileSignatureHead(len), r.GetFileSignatureAnchorWord(), r.GetFileSignatureLength(),
                               r.GetFileSignatureAnchorOffset(), r.GetFileSignatureCrc(), 100 + n);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--hex-builtin") == 0) {
        const int n = std::atoi(argv[2]);
        if (n < 0 || n >= kBuiltinRemoverCount) return 2;
        for (uint8_t b : ForgedBuiltin(n)) std::printf("%02X", b);
        std::printf("\n");
        return 0;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: tesmora-fixture OUT [--pe32plus] [--dll] [--runnable] [--plant HEX]... [--builtin N]...\n");
        return 2;
    }
    FixturePlan plan;
    plan.sections.push_back(FixtureSection{".text", FixtureBytes(1, 1024), 0, 0, 0x60000020});
    uint32_t seed = 10;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        FixtureSection s;
        s.data = FixtureBytes(seed++, 256);
        if (a == "--pe32plus") {
            plan.pe32plus = true;
            continue;
        } else if (a == "--dll") {
            plan.dll = true;
            continue;
        } else if (a == "--runnable") {
            plan.runnable = true;
            continue;
        } else if (a == "--plant" && i + 1 < argc) {
            const std::vector<uint8_t> bytes = FromHex(argv[++i]);
            s.data.insert(s.data.begin() + 100, bytes.begin(), bytes.end());
        } else if (a == "--builtin" && i + 1 < argc) {
            const int n = std::atoi(argv[++i]);
            if (n < 0 || n >= kBuiltinRemoverCount) return 2;
            const std::vector<uint8_t> bytes = ForgedBuiltin(n);
            s.data.insert(s.data.begin() + 100, bytes.begin(), bytes.end());
        } else {
            std::fprintf(stderr, "tesmora-fixture: unknown argument %s\n", a.c_str());
            return 2;
        }
        plan.sections.push_back(s);
    }
    return WriteBytes(argv[1], BuildPe(plan).bytes) ? 0 : 1;
}
