// Single-core throughput of the signature index beside its peers, on one
// buffer in one run:
//   buffer     >= 256 MB of the Windows DLLs and EXEs shipped by Wine,
//              concatenated (and repeated when there are fewer)
//   signatures the eight file signatures of the carried script and four
//              random ones of the built-in removers' file lengths, each
//              planted three times at known offsets
//   engines    FindInFile (each search method), FindInMemory, a plain walk
//              of every bucket at every position, YARA (hex strings),
//              Hyperscan (literals, block mode) and memchr for an absent byte
// Every engine must report exactly the planted offsets; a disagreement makes
// the run fail (exit status 1). Two more rows scan the first megabyte 256
// times, in cache, as the scanners' freshly read blocks are. A table of the
// goals, each met or missed, closes the output.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "removers/remover.h"
#include "script/fixed_folders.h"
#include "script/parser.h"
#include "signature/hex_codec.h"
#include "signature/signature.h"
#include "signature/signature_index.h"

#if defined(TESMORA_BENCH_YARA)
#include <yara.h>
#endif
#if defined(TESMORA_BENCH_HYPERSCAN)
#include <hs.h>
#endif

extern const unsigned char g_embeddedScript[];
extern const std::size_t g_embeddedScript_size;

namespace {

struct Hit {
    std::size_t signature;
    std::size_t offset;
    bool operator<(const Hit& o) const { return offset != o.offset ? offset < o.offset : signature < o.signature; }
    bool operator==(const Hit& o) const { return offset == o.offset && signature == o.signature; }
};

struct Signature {
    std::string name;
    std::vector<uint8_t> bytes;
};

class CQuietSink : public CDiagnosticSink {
public:
    void ShowDiagnostic(std::u16string_view, std::u16string_view) override { failed = true; }
    bool failed = false;
};

std::vector<uint8_t> DecodeHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    std::size_t count = 0;
    HexCodecLenient(reinterpret_cast<const uint8_t*>(hex.data()), hex.size(), bytes, count, kHexDecode, nullptr);
    return bytes;
}

CSignature RecordFromHex(const std::string& hex) {
    const auto text = BuildSignatureRecord(hex);
    if (!text) return CSignature();
    return CSignature::FromBytes(DecodeHex(*text).data());
}

std::string ToHex(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> text;
    std::size_t count = 0;
    HexCodec(bytes.data(), bytes.size(), text, count, kHexEncode);
    return std::string(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(count));
}

bool EndsWith(const std::string& s, const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    if (s.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i]) return false;
    }
    return true;
}

std::vector<uint8_t> LoadCorpus(const std::string& dir, std::size_t size, std::size_t& files) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (EndsWith(name, ".dll") || EndsWith(name, ".exe")) names.push_back(dir + "/" + name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    std::vector<uint8_t> all;
    for (const std::string& path : names) {
        FILE* f = std::fopen(path.c_str(), "rb");
        if (f == nullptr) continue;
        uint8_t chunk[1 << 16];
        std::size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) != 0) all.insert(all.end(), chunk, chunk + n);
        std::fclose(f);
        ++files;
        if (all.size() >= size) break;
    }
    if (all.empty()) return all;
    std::vector<uint8_t> buffer(size);
    for (std::size_t at = 0; at < size; at += all.size()) {
        std::memcpy(buffer.data() + at, all.data(), std::min(all.size(), size - at));
    }
    return buffer;
}

// The plain walk: every position, its whole bucket, no prefilter.
const SignatureIndexEntry* PlainWalk(const CSignatureIndex& index, const uint8_t* b, std::size_t n,
                                     std::size_t& start) {
    start = 0;
    if (n < 3) return nullptr;
    for (std::size_t p = 0; p + 1 < n; ++p) {
        for (const SignatureIndexEntry* e = index.Bucket(static_cast<uint16_t>(b[p] | b[p + 1] << 8)); e != nullptr;
             e = e->next) {
            if (e->fileLength == 0) continue;
            if (p < e->fileAnchorOffset) continue;
            const std::size_t s = p - e->fileAnchorOffset;
            if (e->fileLength > n - s || (e->kinds & kMatchesInFiles) == 0) continue;
            if (std::memcmp(b + s, e->fileHead, 5) != 0) continue;
            if (SignatureCrc(kSignatureCrcInit, b + s + 5, e->fileLength - 5) != e->fileCrc) continue;
            start = s;
            return e;
        }
    }
    return nullptr;
}

const char* MethodName(SearchMethod p) {
    switch (p) {
        case SearchMethod::Auto: return "auto";
        case SearchMethod::Scalar: return "scalar";
        case SearchMethod::Sse2: return "sse2";
        case SearchMethod::Ssse3: return "ssse3";
        case SearchMethod::Avx2: return "avx2";
        case SearchMethod::Avx512bw: return "avx512bw";
    }
    return "?";
}

#if defined(TESMORA_BENCH_YARA)
struct YaraScan {
    std::vector<Hit>* hits;
};
int YaraCallback(YR_SCAN_CONTEXT* context, int message, void* data, void* user) {
    if (message != CALLBACK_MSG_RULE_MATCHING) return CALLBACK_CONTINUE;
    auto* scan = static_cast<YaraScan*>(user);
    YR_RULE* rule = static_cast<YR_RULE*>(data);
    const std::size_t id = std::strtoul(rule->identifier + 1, nullptr, 10);
    YR_STRING* string;
    yr_rule_strings_foreach(rule, string) {
        YR_MATCH* match;
        yr_string_matches_foreach(context, string, match) {
            scan->hits->push_back({id, static_cast<std::size_t>(match->base + match->offset)});
        }
    }
    return CALLBACK_CONTINUE;
}
#endif

#if defined(TESMORA_BENCH_HYPERSCAN)
struct HsScan {
    std::vector<Hit>* hits;
    const std::vector<Signature>* signatures;
};
int HsCallback(unsigned id, unsigned long long, unsigned long long to, unsigned, void* user) {
    auto* scan = static_cast<HsScan*>(user);
    scan->hits->push_back({id, static_cast<std::size_t>(to - (*scan->signatures)[id].bytes.size())});
    return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    std::size_t mb = 256;
    std::string dir = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
    int repeat = 5;
    std::string only;  // run only the engines whose names start with this
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--mb") == 0) mb = std::strtoul(argv[i + 1], nullptr, 10);
        if (std::strcmp(argv[i], "--dir") == 0) dir = argv[i + 1];
        if (std::strcmp(argv[i], "--repeat") == 0) repeat = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--only") == 0) only = argv[i + 1];
    }
    const std::size_t size = mb << 20;
    std::size_t files = 0;
    std::vector<uint8_t> buffer = LoadCorpus(dir, size, files);
    if (buffer.empty()) {
        std::fprintf(stderr, "tesmora_bench: no DLLs or EXEs in %s (--dir)\n", dir.c_str());
        return 2;
    }

    // The carried script's file signatures, then four random ones.
    std::u16string text;
    for (std::size_t i = 2; i + 1 < g_embeddedScript_size; i += 2) {
        text.push_back(static_cast<char16_t>(g_embeddedScript[i] | g_embeddedScript[i + 1] << 8));
    }
    CFixedFolders folders;
    CQuietSink sink;
    CMalwareScript script(folders, text, sink);
    if (!script.Parse()) {
        std::fprintf(stderr, "tesmora_bench: the carried script does not parse\n");
        return 2;
    }
    std::vector<Signature> signatures;
    std::vector<std::unique_ptr<CMalwareRemover>> owned;
    std::vector<CMalwareRemover*> table(g_builtinRemovers, g_builtinRemovers + kBuiltinRemoverCount);
    std::vector<const CMalwareRemover*> removerOf;  // signature id -> remover
    for (const CMalwareDescription& d : script.Descriptions()) {
        if (!d.fileSignature) continue;
        signatures.push_back({"script " + std::to_string(signatures.size()), DecodeHex(*d.fileSignature)});
        owned.push_back(std::make_unique<CScriptedMalware>(RecordFromHex(d.memorySignature.value_or("")),
                                                           RecordFromHex(*d.fileSignature), d.baseName,
                                                           d.variantName, d.actions));
    }
    uint64_t x = 0x5DEECE66Dull;
    for (std::size_t length : {136u, 126u, 64u, 91u}) {
        std::vector<uint8_t> bytes(length);
        for (auto& b : bytes) {
            x = x * 6364136223846793005ull + 1442695040888963407ull;
            b = static_cast<uint8_t>(x >> 56);
        }
        signatures.push_back({"random " + std::to_string(length), bytes});
        const CSignature record = RecordFromHex(ToHex(bytes));
        owned.push_back(std::make_unique<CScriptedMalware>(record, record, u"Random", u"X", std::vector<CMalwareAction>()));
    }
    for (auto& r : owned) {
        table.push_back(r.get());
        removerOf.push_back(r.get());
    }

    // memchr looks for a byte the data lacks, in a copy of its own where that
    // byte is made absent if every value occurs; the engines scan the data as is.
    std::size_t histogram[256] = {};
    for (uint8_t b : buffer) ++histogram[b];
    const int absent = static_cast<int>(std::min_element(histogram, histogram + 256) - histogram);
    std::vector<uint8_t> unplanted = buffer;
    std::string absentNote = "absent in the data";
    if (histogram[absent] != 0) {
        for (auto& b : unplanted) {
            if (b == absent) b = static_cast<uint8_t>(absent ^ 1);
        }
        absentNote = "made absent in memchr's copy (" + std::to_string(histogram[absent]) + " occurrences)";
    }

    // Signature by signature: the last one's first planting lies past 90 % of
    // the buffer, so an engine that stops once every pattern has matched
    // still reads nearly all of it.
    std::vector<Hit> planted;
    for (std::size_t i = 0; i < signatures.size(); ++i) {
        for (std::size_t k = 0; k < 3; ++k) {
            const std::size_t slot = 3 * i + k;
            const std::size_t offset = (slot + 1) * (size / (3 * signatures.size() + 1)) + 4099 * slot % 65536;
            std::memcpy(buffer.data() + offset, signatures[i].bytes.data(), signatures[i].bytes.size());
            planted.push_back({i, offset});
        }
    }
    std::sort(planted.begin(), planted.end());
    std::vector<Hit> plantedRandom;  // the ones with memory records too
    for (const Hit& h : planted) {
        if (h.signature >= signatures.size() - 4) plantedRandom.push_back(h);
    }

    auto idOf = [&](const SignatureIndexEntry* e) -> std::size_t {
        for (std::size_t i = 0; i < removerOf.size(); ++i) {
            if (removerOf[i] == e->remover) return i;
        }
        return 9999;  // a built-in's own record: never planted
    };

    // Every engine is a pass over the buffer that records what it found.
    // Rounds run each engine once in turn and each keeps its best time, so a
    // busy moment of the machine does not fall on one engine alone.
    struct Engine {
        std::string name;
        std::function<void()> run;
        std::vector<Hit> hits;
        const std::vector<Hit>* want = nullptr;
        int rounds = 0;
        double best = 1e30;
        std::string note;
        const Engine* base = nullptr;  // the row the ratio compares with; null: FindInFile, auto
    };
    std::vector<std::unique_ptr<Engine>> engines;
    auto add = [&](std::string name, const std::vector<Hit>* want, int rounds) -> Engine& {
        engines.push_back(std::make_unique<Engine>());
        Engine& e = *engines.back();
        e.name = std::move(name);
        e.want = want;
        e.rounds = rounds;
        return e;
    };
    const uint8_t* data = buffer.data();

    std::vector<std::unique_ptr<CSignatureIndex>> indexes;  // one per search method
    std::vector<SearchMethod> paths = {SearchMethod::Auto};
    for (SearchMethod p : {SearchMethod::Avx512bw, SearchMethod::Avx2, SearchMethod::Ssse3, SearchMethod::Sse2,
                           SearchMethod::Scalar}) {
        if (CSignatureIndex::IsSupported(p)) paths.push_back(p);
    }
    Engine* ours = nullptr;
    Engine* scalar = nullptr;
    for (SearchMethod p : paths) {
        indexes.push_back(std::make_unique<CSignatureIndex>());
        CSignatureIndex* ix = indexes.back().get();
        ix->Build(table.data(), table.size());
        ix->UseMethod(p);
        Engine& e = add(std::string("FindInFile, ") + MethodName(p) +
                            (p == SearchMethod::Auto ? std::string(" (") + MethodName(ix->ActiveMethod(kMatchesInFiles)) + ")"
                                                   : std::string()),
                        &planted, repeat);
        e.run = [&e, ix, data, size, &idOf] {
            e.hits.clear();
            std::size_t pos = 0;
            std::size_t start = 0;
            while (const SignatureIndexEntry* hit = ix->FindInFile(data + pos, size - pos, start)) {
                e.hits.push_back({idOf(hit), pos + start});
                pos += start + 1;
            }
        };
        if (p == SearchMethod::Auto) ours = &e;
        if (p == SearchMethod::Scalar) scalar = &e;
    }

    CSignatureIndex& index = *indexes.front();
    Engine& memory = add(std::string("FindInMemory (") + MethodName(index.ActiveMethod(kMatchesInMemory)) + ")",
                         &plantedRandom, repeat);
    memory.run = [&] {
        // FindInMemory gives no start: a hit goes on after the planted
        // offset of its signature (or counts as a mismatch at pos).
        memory.hits.clear();
        std::size_t pos = 0;
        while (const SignatureIndexEntry* e = index.FindInMemory(data + pos, size - pos)) {
            const std::size_t id = idOf(e);
            std::size_t start = pos;
            for (const Hit& h : plantedRandom) {
                if (h.signature == id && h.offset >= pos) {
                    start = h.offset;
                    break;
                }
            }
            memory.hits.push_back({id, start});
            pos = start + 1;
        }
    };
    // As the memory scanner reads: 64 KB blocks stepping 64,512 bytes. A
    // block reports its first hit; the planted signatures lie far apart.
    Engine& blocks = add("FindInMemory, 64 KB blocks", &plantedRandom, repeat);
    blocks.run = [&] {
        blocks.hits.clear();
        for (std::size_t off = 0; off < size; off += 64512) {
            const std::size_t n = std::min<std::size_t>(65536, size - off);
            if (const SignatureIndexEntry* e = index.FindInMemory(data + off, n)) {
                const std::vector<uint8_t>& sig = signatures[idOf(e)].bytes;
                const uint8_t* at = static_cast<const uint8_t*>(memmem(data + off, n, sig.data(), sig.size()));
                const Hit h{idOf(e), at != nullptr ? static_cast<std::size_t>(at - data) : off};
                if (blocks.hits.empty() || !(blocks.hits.back() == h)) blocks.hits.push_back(h);
            }
        }
    };

    // The first megabyte (no planted signature) 256 times over: the data in
    // cache, as the scanners' freshly read blocks are.
    constexpr std::size_t kCached = 1 << 20;
    static const std::vector<Hit> kNone;
    Engine& cachedOurs = add("FindInFile, 1 MB in cache", &kNone, repeat);
    cachedOurs.run = [&] {
        cachedOurs.hits.clear();
        for (std::size_t k = 0; k < size / kCached; ++k) {
            std::size_t start = 0;
            if (const SignatureIndexEntry* e = index.FindInFile(data, kCached, start)) cachedOurs.hits.push_back({idOf(e), start});
        }
    };

    Engine& plain = add("plain bucket walk", &planted, std::min(repeat, 2));
    plain.run = [&] {
        plain.hits.clear();
        std::size_t pos = 0;
        std::size_t start = 0;
        while (const SignatureIndexEntry* e = PlainWalk(index, data + pos, size - pos, start)) {
            plain.hits.push_back({idOf(e), pos + start});
            pos += start + 1;
        }
    };

    Engine* yara = nullptr;
#if defined(TESMORA_BENCH_YARA)
    yr_initialize();
    YR_COMPILER* compiler = nullptr;
    YR_RULES* compiled = nullptr;
    {
        std::string rules;
        for (std::size_t i = 0; i < signatures.size(); ++i) {
            std::string hex;
            for (uint8_t b : signatures[i].bytes) {
                char two[4];
                std::snprintf(two, sizeof two, "%02X ", b);
                hex += two;
            }
            rules += "rule s" + std::to_string(i) + " { strings: $a = { " + hex + "} condition: $a }\n";
        }
        if (yr_compiler_create(&compiler) == ERROR_SUCCESS && yr_compiler_add_string(compiler, rules.c_str(), nullptr) == 0 &&
            yr_compiler_get_rules(compiler, &compiled) == ERROR_SUCCESS) {
            // YARA reports every match of a string; its fast mode (the first
            // of each string only) is not used, so it does the same work as ours.
            Engine& e = add("YARA " YR_VERSION " (libyara)", &planted, std::min(repeat, 2));
            e.run = [&e, compiled, data, size] {
                e.hits.clear();
                YaraScan scan{&e.hits};
                yr_rules_scan_mem(compiled, data, size, 0, YaraCallback, &scan, 0);
                std::sort(e.hits.begin(), e.hits.end());
                e.hits.erase(std::unique(e.hits.begin(), e.hits.end()), e.hits.end());
            };
            yara = &e;
        } else {
            add("YARA: the rules do not compile", nullptr, 0);
        }
    }
#else
    add("YARA: not built (libyara-dev missing)", nullptr, 0);
#endif

    Engine* hyperscan = nullptr;
    std::vector<Hit> firstPlanted;  // each signature's first planting, for SINGLEMATCH
    {
        std::vector<bool> seen(signatures.size());
        for (const Hit& h : planted) {
            if (!seen[h.signature]) firstPlanted.push_back(h);
            seen[h.signature] = true;
        }
    }
#if defined(TESMORA_BENCH_HYPERSCAN)
    std::vector<hs_database_t*> databases;
    std::vector<hs_scratch_t*> scratches;
    for (bool single : {true, false}) {
        std::vector<const char*> expressions;
        std::vector<std::size_t> lengths;
        std::vector<unsigned> ids;
        for (std::size_t i = 0; i < signatures.size(); ++i) {
            expressions.push_back(reinterpret_cast<const char*>(signatures[i].bytes.data()));
            lengths.push_back(signatures[i].bytes.size());
            ids.push_back(static_cast<unsigned>(i));
        }
        std::vector<unsigned> flags(signatures.size(), single ? HS_FLAG_SINGLEMATCH : 0u);
        hs_database_t* db = nullptr;
        hs_compile_error_t* error = nullptr;
        hs_scratch_t* scratch = nullptr;
        if (hs_compile_lit_multi(expressions.data(), flags.data(), ids.data(), lengths.data(),
                                 static_cast<unsigned>(signatures.size()), HS_MODE_BLOCK, nullptr, &db, &error) != HS_SUCCESS ||
            hs_alloc_scratch(db, &scratch) != HS_SUCCESS) {
            add(std::string("Hyperscan: ") + (error != nullptr ? error->message : "no database"), nullptr, 0);
            if (error != nullptr) hs_free_compile_error(error);
            continue;
        }
        databases.push_back(db);
        scratches.push_back(scratch);
        Engine& e = add(std::string("Hyperscan ") + std::string(hs_version()).substr(0, 5) +
                            (single ? ", SINGLEMATCH" : ", all matches"),
                        single ? &firstPlanted : &planted, repeat);
        e.run = [&e, db, scratch, data, size, &signatures] {
            e.hits.clear();
            HsScan scan{&e.hits, &signatures};
            hs_scan(db, reinterpret_cast<const char*>(data), static_cast<unsigned>(size), 0, scratch, HsCallback, &scan);
        };
        if (single) {
            hyperscan = &e;
            Engine& cached = add("Hyperscan, SINGLEMATCH, 1 MB in cache", &kNone, repeat);
            cached.base = &cachedOurs;
            cached.run = [&cached, db, scratch, data, size, &signatures] {
                cached.hits.clear();
                HsScan scan{&cached.hits, &signatures};
                for (std::size_t k = 0; k < size / kCached; ++k) {
                    hs_scan(db, reinterpret_cast<const char*>(data), static_cast<unsigned>(kCached), 0, scratch, HsCallback,
                            &scan);
                }
            };
        }
    }
#else
    add("Hyperscan: not built (libhyperscan-dev missing)", nullptr, 0);
#endif

    bool present = false;
    {
        char note[96];
        std::snprintf(note, sizeof note, "byte 0x%02X %s", absent, absentNote.c_str());
        Engine& e = add("memchr, absent byte", nullptr, repeat);
        e.note = note;
        e.run = [&] { present = present || std::memchr(unplanted.data(), absent, size) != nullptr; };
    }

    for (const auto& e : engines) {
        if (!only.empty() && e->name.compare(0, only.size(), only) != 0 && e->name.compare(0, 6, "memchr") != 0) {
            e->rounds = 0;
            e->want = nullptr;
            e->note = "left out (--only)";
        }
    }
    int rounds = 0;
    for (const auto& e : engines) rounds = std::max(rounds, e->rounds);
    // Before each pass, untimed, a read of other memory larger than the
    // caches: no engine finds the tail of the buffer left in cache by the one
    // before it (memchr's copy is another buffer, so it never would).
    std::vector<uint64_t> flush((64u << 20) / sizeof(uint64_t), 1);
    uint64_t flushed = 0;
    for (int r = 0; r < rounds; ++r) {
        for (const auto& e : engines) {
            if (r >= e->rounds) continue;
            for (std::size_t i = 0; i < flush.size(); i += 8) flushed += flush[i];
            const auto t0 = std::chrono::steady_clock::now();
            e->run();
            const auto t1 = std::chrono::steady_clock::now();
            e->best = std::min(e->best, std::chrono::duration<double>(t1 - t0).count());
        }
    }
    if (flushed == 0) std::printf("(the cache flush read nothing)\n");

#if defined(TESMORA_BENCH_YARA)
    if (compiled != nullptr) yr_rules_destroy(compiled);
    if (compiler != nullptr) yr_compiler_destroy(compiler);
    yr_finalize();
#endif
#if defined(TESMORA_BENCH_HYPERSCAN)
    for (hs_scratch_t* s : scratches) hs_free_scratch(s);
    for (hs_database_t* d : databases) hs_free_database(d);
#endif


    std::printf("buffer: %zu MB of %zu PE files from %s; %zu signatures, %zu planted; %zu detectors indexed\n", mb,
                files, dir.c_str(), signatures.size(), planted.size(), table.size());
    std::printf("best of %d rounds, engines taking turns; ours/engine: time of the engine over time of\n"
                "FindInFile, auto (of FindInFile, 1 MB in cache for the cached Hyperscan row)\n\n", repeat);
    std::printf("%-36s %8s %12s  %s\n", "engine", "GB/s", "ours/engine", "result");
    bool allOk = !present;
    if (present) std::printf("memchr found its byte: the figure is not a full pass\n");
    for (const auto& e : engines) {
        std::string result = e->note;
        if (e->want != nullptr) {
            std::vector<Hit> got = e->hits;
            std::sort(got.begin(), got.end());
            const bool ok = got == *e->want;
            allOk = allOk && ok;
            result = std::to_string(got.size()) + (ok ? " found, as planted" : " found, NOT as planted");
        }
        if (e->best >= 1e30) {
            std::printf("%-36s %8s %12s  %s\n", e->name.c_str(), "-", "-", result.c_str());
            continue;
        }
        char ratio[32] = "-";
        const Engine* base = e->base != nullptr ? e->base : ours;
        if (base->best < 1e30) std::snprintf(ratio, sizeof ratio, "%.2f", e->best / base->best);
        std::printf("%-36s %8.2f %12s  %s\n", e->name.c_str(), size / e->best / 1e9, ratio, result.c_str());
    }
    // Each goal with the figure it judges; a goal whose engines did not run
    // is missed.
    auto ran = [&](const Engine* e) { return e != nullptr && e->best < 1e30; };
    std::printf("\n%-48s %12s  %s\n", "goal", "measured", "verdict");
    auto goal = [](const char* name, bool known, const std::string& figure, bool met) {
        std::printf("%-48s %12s  %s\n", name, known ? figure.c_str() : "-",
                    !known ? "missed (not run)" : met ? "met" : "MISSED");
    };
    auto times = [](double x) {
        char text[32];
        std::snprintf(text, sizeof text, "%.2fx", x);
        return std::string(text);
    };
    const bool withHyperscan = ran(ours) && ran(hyperscan);
    goal("FindInFile >= 2x Hyperscan SINGLEMATCH", withHyperscan,
         withHyperscan ? times(hyperscan->best / ours->best) : "", withHyperscan && hyperscan->best >= 2 * ours->best);
    const bool withYara = ran(ours) && ran(yara);
    goal("FindInFile >= 30x YARA", withYara, withYara ? times(yara->best / ours->best) : "",
         withYara && yara->best >= 30 * ours->best);
    {
        char figure[32] = "";
        if (ran(scalar)) std::snprintf(figure, sizeof figure, "%.2f GB/s", size / scalar->best / 1e9);
        goal("FindInFile, scalar >= 1 GB/s", ran(scalar), figure, ran(scalar) && size / scalar->best / 1e9 >= 1);
    }
    {
        const bool known = ran(&blocks) && ran(&memory);
        char figure[32] = "";
        if (known) std::snprintf(figure, sizeof figure, "%+.1f %%", 100 * (blocks.best / memory.best - 1));
        goal("FindInMemory, 64 KB blocks within 20% of one pass", known, figure,
             known && blocks.best <= 1.2 * memory.best);
    }
    if (!allOk) std::printf("FAILED: an engine disagreed with the planted signatures\n");
    return allOk ? 0 : 1;
}
