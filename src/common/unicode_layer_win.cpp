#include "common/unicode_layer_win.h"

#if defined(__i386__)

#include <cstring>
#include <string>

#include "cli/command_line.h"
#include "common/string_table.h"
#include "common/unicode_layer_functions.h"

// Every function has an import pointer of its own ("__imp__Name@Bytes", the
// symbol that calls through a dllimport declaration use), a resolver stub the
// pointer holds until the first call, and a failure stub for a function that
// neither unicows.dll nor the system has.
extern "C" {
#define TESMORA_DECLARE_STUBS(dll, name, bytes, kind)                 \
    void tesmora_stub_##name() __asm__("tesmora_stub_" #name);        \
    void tesmora_fail_##name() __asm__("tesmora_fail_" #name);        \
    void (*tesmora_slot_##name)() __asm__("__imp__" #name "@" #bytes) = &tesmora_stub_##name;
TESMORA_UNICODE_LAYER_FUNCTIONS(TESMORA_DECLARE_STUBS)
#undef TESMORA_DECLARE_STUBS

void* TesmoraLayerResolve(void (**slot)()) __asm__("tesmora_layer_resolve");
void TesmoraLayerNotImplemented() __asm__("tesmora_layer_not_implemented");
}

// Name@Bytes: the direct-call entry (declarations without dllimport) jumps
// through the import pointer, as an import library's would.
// stub: push the import pointer's address, resolve it (the resolver stores
// the target there) and jump to the target with the caller's stack intact.
// fail: ERROR_CALL_NOT_IMPLEMENTED and 0, popping the arguments (stdcall).
#define TESMORA_STUB_CODE(dll, name, bytes, kind)                    \
    ".globl _" #name "@" #bytes "\n"                                \
    "_" #name "@" #bytes ":\n"                                      \
    "  jmp *__imp__" #name "@" #bytes "\n"                          \
    ".globl tesmora_stub_" #name "\n"                                \
    "tesmora_stub_" #name ":\n"                                      \
    "  pushl $__imp__" #name "@" #bytes "\n"                         \
    "  jmp tesmora_layer_common\n"                                   \
    ".globl tesmora_fail_" #name "\n"                                \
    "tesmora_fail_" #name ":\n"                                      \
    "  call tesmora_layer_not_implemented\n"                         \
    "  xorl %eax, %eax\n"                                            \
    "  ret $" #bytes "\n"
__asm__(
    ".text\n"
    "tesmora_layer_common:\n"
    "  pushl %ecx\n"
    "  pushl %edx\n"
    "  pushl 8(%esp)\n"
    "  call tesmora_layer_resolve\n"
    "  addl $4, %esp\n"
    "  popl %edx\n"
    "  popl %ecx\n"
    "  addl $4, %esp\n"
    "  jmp *%eax\n"
    TESMORA_UNICODE_LAYER_FUNCTIONS(TESMORA_STUB_CODE));
#undef TESMORA_STUB_CODE

namespace {

enum Kind { Wide, System };

struct LayerEntry {
    void (**slot)();
    const char* dll;
    const char* name;
    Kind kind;
    void (*fail)();
};

#define TESMORA_ENTRY(dll, name, bytes, kind) {&tesmora_slot_##name, #dll ".DLL", #name, kind, &tesmora_fail_##name},
const LayerEntry kEntries[] = {TESMORA_UNICODE_LAYER_FUNCTIONS(TESMORA_ENTRY)};
#undef TESMORA_ENTRY

// Decided once, at the first call through the layer (during the runtime's
// start, before any other thread exists).
enum class Family { Unknown, Nt, Windows9x };
Family g_family = Family::Unknown;
HMODULE g_unicows = nullptr;

// The full path of this program; empty when it does not fit.
std::string ProgramPath() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return n == 0 || n >= MAX_PATH ? std::string() : std::string(path, n);
}

// "folder of this program\name"; empty when it does not fit.
std::string BesideProgram(const char* name) {
    std::string result = ProgramPath();
    if (result.empty()) return result;
    const std::size_t slash = result.find_last_of("\\/");
    result.erase(slash == std::string::npos ? 0 : slash + 1);
    return result + name;
}

HMODULE SystemModule(const char* dll) {
    if (HMODULE loaded = GetModuleHandleA(dll)) return loaded;
    char path[MAX_PATH];
    const UINT n = GetSystemDirectoryA(path, MAX_PATH);
    if (n == 0 || n + 1 + std::strlen(dll) >= MAX_PATH) return nullptr;
    return LoadLibraryA((std::string(path, n) + "\\" + dll).c_str());
}

// ASCII texts of the string table as the 8-bit text of the narrow functions.
std::string Narrow(const char16_t* text) {
    std::string out;
    for (; *text != 0; ++text) out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
    return out;
}

bool IsConsoleProgram() {
    const auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_CUI;
}

// Tells that unicows.dll is missing, with narrow functions only (they are
// real on 9x/ME), and ends the program.
[[noreturn]] void ReportMissingLayer() {
    const std::string text = Narrow(LoadText(IDS_UNICODE_LAYER_MISSING));
    if (IsConsoleProgram()) {
        const std::string line = text + "\r\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        ExitProcess(static_cast<UINT>(kExitUnicodeLayerMissing));
    }
    // The command line through the narrow function and the real converter.
    const char* narrowLine = GetCommandLineA();
    std::u16string line;
    if (const int n = MultiByteToWideChar(CP_ACP, 0, narrowLine, -1, nullptr, 0); n > 1) {
        std::wstring wide(static_cast<std::size_t>(n), L'\0');
        MultiByteToWideChar(CP_ACP, 0, narrowLine, -1, wide.data(), n);
        line.assign(wide.begin(), wide.end() - 1);
    }
    // The program's file name without folder and extension: the default log name.
    std::string name = ProgramPath().substr(BesideProgram("").size());
    if (const std::size_t dot = name.find_last_of('.'); dot != std::string::npos) name.erase(dot);
    bool helpPrinted = true;
    const CommandLineOptions options = ParseCommandLine(line, std::u16string(name.begin(), name.end()), helpPrinted,
                                                        [](std::u16string_view) { return true; });
    if (!options.silent) {
        MessageBoxA(nullptr, text.c_str(), Narrow(LoadText(IDS_UNICODE_LAYER_CAPTION)).c_str(), MB_OK | MB_ICONSTOP);
    } else if (options.logEnabled) {
        // The log's own form: UTF-16LE, paragraphs ending in \r\n.
        std::string bytes;
        for (char c : text + "\r\n") {
            bytes.push_back(c);
            bytes.push_back('\0');
        }
        const std::string file = Narrow(options.logFileName.c_str());
        HANDLE log = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, options.append ? OPEN_ALWAYS : CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (log != INVALID_HANDLE_VALUE) {
            if (options.append) SetFilePointer(log, 0, nullptr, FILE_END);
            DWORD written = 0;
            WriteFile(log, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
            CloseHandle(log);
        }
    }
    ExitProcess(static_cast<UINT>(kExitUnicodeLayerMissing));
}

void DecideFamily() {
    if (g_family != Family::Unknown) return;
    // The high bit of GetVersion: the 9x/ME family.
    g_family = (GetVersion() & 0x80000000u) != 0 ? Family::Windows9x : Family::Nt;
    if (g_family == Family::Windows9x) {
        const std::string path = BesideProgram("unicows.dll");
        g_unicows = path.empty() ? nullptr : LoadLibraryA(path.c_str());
        if (g_unicows == nullptr) ReportMissingLayer();
    }
}

}  // namespace

void* TesmoraLayerResolve(void (**slot)()) {
    DecideFamily();
    for (const LayerEntry& entry : kEntries) {
        if (entry.slot != slot) continue;
        FARPROC target = nullptr;
        if (entry.kind == Wide && g_unicows != nullptr) target = GetProcAddress(g_unicows, entry.name);
        if (target == nullptr) target = GetProcAddress(SystemModule(entry.dll), entry.name);
        void (*function)() = target != nullptr ? reinterpret_cast<void (*)()>(target) : entry.fail;
        *slot = function;  // an aligned pointer store: a second resolver stores the same value
        return reinterpret_cast<void*>(function);
    }
    ExitProcess(static_cast<UINT>(kExitUnicodeLayerMissing));  // not reached: every stub has an entry
}

void TesmoraLayerNotImplemented() { SetLastError(ERROR_CALL_NOT_IMPLEMENTED); }

void BindUnicodeLayer() {
    DecideFamily();
    for (const LayerEntry& entry : kEntries) TesmoraLayerResolve(entry.slot);
}

FARPROC UnicodeLayerProcAddress(const char* name) {
    DecideFamily();
    return g_unicows != nullptr ? GetProcAddress(g_unicows, name) : nullptr;
}

bool UnicodeLayerUsesUnicows() {
    DecideFamily();
    return g_unicows != nullptr;
}

// Linked into every program (see src/CMakeLists.txt) so that these import
// pointers take the place of the import libraries' ones.
extern "C" const int tesmora_unicode_layer_anchor = 1;

#else  // 64-bit: no layer

void BindUnicodeLayer() {}
FARPROC UnicodeLayerProcAddress(const char*) { return nullptr; }
bool UnicodeLayerUsesUnicows() { return false; }
extern "C" const int tesmora_unicode_layer_anchor = 0;

#endif
