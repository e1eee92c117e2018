// tesmora-sig quarantine: the entries the program kept before changing
// files, listed, put back or deleted.
#include <cstring>
#include <string>

#include "common/text16.h"
#include "quarantine/quarantine_store.h"
#include "tools/commands.h"
#include "tools/tool_io.h"

#ifdef _WIN32
#include "quarantine/quarantine_win.h"
#endif

namespace {

constexpr const char* kUsage =
    "usage: tesmora-sig quarantine [--folder DIR] list|restore ID|purge\n";

int Usage(const std::string& problem) {
    WriteErr("tesmora-sig quarantine: " + problem + "\n" + kUsage);
    return 2;
}

std::string U8(std::u16string_view text) { return Utf16ToUtf8(text); }

int List(CQuarantineFiles& files, const std::string& folder) {
    QuarantineListing listing;
    if (!ListQuarantine(files, listing)) {
        WriteErr("tesmora-sig quarantine: cannot list " + folder + "\n");
        return 2;
    }
    std::string out;
    for (const QuarantineEntry& e : listing.entries) {
        out += U8(e.id) + "\t" + U8(e.time) + "\t" + U8(e.action) + "\t" + U8(e.family) + "\t" +
               std::to_string(e.size) + "\t" + e.sha256 + "\t" + U8(e.originalPath) + "\n";
    }
    WriteOut(out);
    for (const std::u16string& name : listing.damaged) {
        WriteErr("tesmora-sig quarantine: damaged entry " + U8(name) + "\n");
    }
    return listing.damaged.empty() ? 0 : 1;
}

int Restore(CQuarantineFiles& files, const std::string& id) {
    QuarantineEntry entry;
    switch (RestoreQuarantined(files, Utf8ToUtf16(id), entry)) {
        case RestoreResult::kRestored:
            WriteOut("restored " + U8(entry.originalPath) + "\n");
            return 0;
        case RestoreResult::kExists:
            WriteErr("tesmora-sig quarantine: " + U8(entry.originalPath) +
                     " exists; nothing restored, the entry is kept\n");
            return 1;
        case RestoreResult::kLinked:
            WriteErr("tesmora-sig quarantine: a folder of " + U8(entry.originalPath) +
                     " is a link; nothing restored, the entry is kept\n");
            return 1;
        case RestoreResult::kNoEntry: WriteErr("tesmora-sig quarantine: no entry " + id + "\n"); return 2;
        case RestoreResult::kDamaged: WriteErr("tesmora-sig quarantine: entry " + id + " is damaged\n"); return 2;
        case RestoreResult::kFailed:
            WriteErr("tesmora-sig quarantine: cannot write " + U8(entry.originalPath) + "\n");
            return 2;
    }
    return 2;
}

int Purge(CQuarantineFiles& files) {
    const PurgeCount count = PurgeQuarantine(files);
    WriteOut(std::to_string(count.removed) + " entries removed\n");
    if (count.failed == 0) return 0;
    WriteErr("tesmora-sig quarantine: " + std::to_string(count.failed) + " entries could not be removed\n");
    return 2;
}

// For tests: a new entry of the file PATH, as the program would keep it.
int Keep(CQuarantineFiles& files, const std::string& path, const std::string& family, const std::string& action) {
    const std::optional<std::vector<uint8_t>> content = ReadWholeFile(path);
    if (!content) {
        WriteErr("tesmora-sig quarantine: cannot read " + path + "\n");
        return 2;
    }
    const std::optional<QuarantineEntry> entry = KeepBytes(files, *content, Utf8ToUtf16(path), Utf8ToUtf16(family),
                                                           Utf8ToUtf16(action), CurrentUtcTime(), FreshEntryTag());
    if (!entry) {
        WriteErr("tesmora-sig quarantine: cannot keep " + path + "\n");
        return 2;
    }
    WriteOut(U8(entry->id) + "\n");
    return 0;
}

}  // namespace

int RunQuarantineCommand(int argc, char** argv) {
    std::string folder;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--folder") == 0) {
            if (i + 1 >= argc) return Usage("--folder needs DIR");
            folder = argv[++i];
        } else if (std::strncmp(a, "--folder=", 9) == 0) {
            folder = a + 9;
        } else {
            return Usage(std::string("unknown option '") + a + "'");
        }
    }
    if (folder.empty()) {
#ifdef _WIN32
        folder = U8(DefaultQuarantineFolder());
#endif
        if (folder.empty()) return Usage("--folder DIR is needed");
    }
    if (i >= argc) return Usage("no action given");
    const std::string action = argv[i];
    const int extra = argc - i - 1;
    const std::unique_ptr<CQuarantineFiles> files = OpenQuarantineFiles(Utf8ToUtf16(folder));
    if (action == "list" && extra == 0) return List(*files, folder);
    if (action == "restore" && extra == 1) return Restore(*files, argv[i + 1]);
    if (action == "purge" && extra == 0) return Purge(*files);
    if (action == "keep" && extra == 3) return Keep(*files, argv[i + 1], argv[i + 2], argv[i + 3]);
    return Usage("bad action '" + action + "' or wrong number of arguments");
}
