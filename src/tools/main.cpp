// tesmora-sig: the analyst's command-line tool over the product's own parser
// and signature code.
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include "common/bind_win.h"
#include "common/unicode_layer_win.h"
#endif

#include "common/text16.h"
#include "tools/arguments.h"
#include "tools/commands.h"
#include "tools/tool_io.h"

namespace {

constexpr const char* kHelp =
    "usage: tesmora-sig COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  check [--folder NAME=VALUE]... [SCRIPT]\n"
    "      Parses a malware description script (UTF-16LE with byte-order mark,\n"
    "      or UTF-8) with the product's parser; without SCRIPT, the script the\n"
    "      program carries. Diagnostics go to standard error exactly as the\n"
    "      program would show them; on success one line per description:\n"
    "      NAME<TAB>mem=BYTES<TAB>file=BYTES<TAB>actions=COUNT[<TAB>records=...]\n"
    "      --folder sets a path variable (NAME without percent signs, e.g.\n"
    "      WINDIR=D:\\WIN); an empty VALUE makes the variable empty.\n"
    "      Exit status: 0 parsed, 1 parse error, 2 usage or I/O error.\n"
    "  quarantine [--folder DIR] list|restore ID|purge\n"
    "      The copies the program keeps before it deletes, renames over or\n"
    "      repairs a file, in DIR (on Windows by default\n"
    "      %WINDIR%\\Tesmora\\Quarantine; elsewhere DIR is needed).\n"
    "      list: one line per entry, sorted by ID:\n"
    "      ID<TAB>TIME<TAB>ACTION<TAB>FAMILY<TAB>SIZE<TAB>SHA256<TAB>PATH;\n"
    "      damaged entries named on standard error (exit status 1).\n"
    "      restore ID: writes the original back to PATH, never over a file\n"
    "      that is there, and deletes the entry. Exit status: 0 restored,\n"
    "      1 refused (something at PATH), 2 no such entry, damaged or error.\n"
    "      purge: deletes every entry and prints how many.\n"
    "      keep PATH FAMILY ACTION (for tests only): keeps a copy of PATH as\n"
    "      the program would and prints the new ID.\n"
    "  record HEX\n"
    "      Prints the 15-byte search record of the signature HEX as 30\n"
    "      hexadecimal digits; exit status 1 when no record can be built.\n"
    "  scan [--json] [--script SCRIPT] PATH...\n"
    "      Detection only: searches the PE executables among the files and\n"
    "      folders given (folders recursively, symbolic links not followed)\n"
    "      with the program's detectors and region rules, the carried script's\n"
    "      or SCRIPT's. Prints PATH<TAB>NAME for each detected file (with\n"
    "      --json one UTF-8 JSON document whose detection records are those of\n"
    "      tesmora.exe's /REPORT, see docs/report.schema.json) and a summary on\n"
    "      standard error; never changes a file.\n"
    "      Exit status: 0 nothing found, 1 something found, 2 error or a path\n"
    "      that could not be read (when nothing was found).\n"
    "  --help\n"
    "      Shows this text.\n";

int Run(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        WriteOut(kHelp);
        return argc < 2 ? 2 : 0;
    }
    if (std::strcmp(argv[1], "check") == 0) return RunCheckCommand(argc - 1, argv + 1);
    if (std::strcmp(argv[1], "quarantine") == 0) return RunQuarantineCommand(argc - 1, argv + 1);
    if (std::strcmp(argv[1], "record") == 0) return RunRecordCommand(argc - 1, argv + 1);
    if (std::strcmp(argv[1], "scan") == 0) return RunScanCommand(argc - 1, argv + 1);
    WriteErr(std::string("tesmora-sig: unknown command '") + argv[1] + "' (see tesmora-sig --help)\n");
    return 2;
}

}  // namespace

#ifdef _WIN32
// A narrow entry point: the wide arguments come from GetCommandLineW, which
// every Windows has (the runtime's wide start needs NT).
int main(int, char**) {
    BindUnicodeLayer();
    RestrictLibrarySearch();
    std::vector<std::string> args;
    for (const std::u16string& word : SplitCommandLine(reinterpret_cast<const char16_t*>(GetCommandLineW()))) {
        args.push_back(Utf16ToUtf8(word));
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return Run(static_cast<int>(args.size()), argv.data());
}
#else
int main(int argc, char** argv) { return Run(argc, argv); }
#endif
