// tesmora-sig check: the product's parser over a script file or the carried
// script, with the diagnostics on standard error.
#include <cstddef>
#include <cstring>
#include <string>

#include "common/text16.h"
#include "script/fixed_folders.h"
#include "script/parser.h"
#include "signature/signature.h"
#include "tools/commands.h"
#include "tools/tool_io.h"
#include "tools/tool_script.h"

namespace {

// "-" without a signature, else whether it yields a search record.
const char* RecordState(const std::optional<std::string>& hex) {
    if (!hex) return "-";
    return BuildSignatureRecord(hex) ? "yes" : "no";
}

int Usage(const std::string& problem) {
    WriteErr("tesmora-sig check: " + problem +
             "\nusage: tesmora-sig check [--folder NAME=VALUE]... [SCRIPT]\n");
    return 2;
}

}  // namespace

int RunCheckCommand(int argc, char** argv) {
    CFixedFolders folders;
    LoadDefaultFolders(folders);
    const char* scriptPath = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--folder") == 0 || std::strncmp(a, "--folder=", 9) == 0) {
            std::string assignment;
            if (a[8] == '=') {
                assignment = a + 9;
            } else if (i + 1 < argc) {
                assignment = argv[++i];
            } else {
                return Usage("--folder needs NAME=VALUE");
            }
            const std::size_t eq = assignment.find('=');
            if (eq == std::string::npos || eq == 0) return Usage("--folder needs NAME=VALUE, got '" + assignment + "'");
            if (!folders.Set(Utf8ToUtf16(assignment.substr(0, eq)), Utf8ToUtf16(assignment.substr(eq + 1)))) {
                return Usage("unknown folder variable '" + assignment.substr(0, eq) +
                             "' (SYSDIR, WINDIR, PROGRAM_FILES, HOME, TEMPDIR, "
                             "TEMPORARY_INTERNET_FILES, COOKIES)");
            }
        } else if (a[0] == '-' && a[1] != '\0') {
            return Usage(std::string("unknown option '") + a + "'");
        } else if (scriptPath != nullptr) {
            return Usage("only one SCRIPT may be given");
        } else {
            scriptPath = a;
        }
    }

    const std::optional<std::u16string> text = LoadScriptText(scriptPath, "check");
    if (!text) return 2;

    CStderrSink sink;
    CMalwareScript script(folders, *text, sink);
    if (!script.Parse()) return 1;
    std::string out;
    for (const CMalwareDescription& d : script.Descriptions()) {
        const std::size_t mem = d.memorySignature ? d.memorySignature->size() / 2 : 0;
        const std::size_t file = d.fileSignature ? d.fileSignature->size() / 2 : 0;
        out += Utf16ToUtf8(d.baseName) + "." + Utf16ToUtf8(d.variantName) + "\tmem=" + std::to_string(mem) +
               "\tfile=" + std::to_string(file) + "\tactions=" + std::to_string(d.actions.size()) +
               "\trecords=" + RecordState(d.memorySignature) + "," + RecordState(d.fileSignature) + "\n";
    }
    WriteOut(out);
    return 0;
}
