// A stand-in for unicows.dll in the tests (the real one is Microsoft's and
// never part of this project): each wide function the Unicode layer asks for
// jumps to the system's own function and is counted. At unload the counts go
// to the file that TESMORA_UNICOWS_COUNTS names, one "Name<TAB>calls" line
// per function called, appended.
#include <windows.h>

#include <cstdio>

#include "common/unicode_layer_functions.h"

// Wide functions the programs bind by name at run time.
#define TESMORA_TEST_LAYER_BOUND(X)              \
    X(SHELL32, SHGetSpecialFolderPathW, 16, Wide) \
    X(SHELL32, SHFileOperationW, 4, Wide)         \
    X(KERNEL32, GetLongPathNameW, 12, Wide)       \
    X(KERNEL32, LoadLibraryExW, 12, Wide)         \
    X(VERSION, GetFileVersionInfoSizeW, 8, Wide)  \
    X(VERSION, GetFileVersionInfoW, 16, Wide)     \
    X(VERSION, VerQueryValueW, 16, Wide)

#define TESMORA_TEST_LAYER_ALL(X) TESMORA_UNICODE_LAYER_FUNCTIONS(X) TESMORA_TEST_LAYER_BOUND(X)

// Only the wide functions: the layer takes the others from the system.
#define TESMORA_IF_Wide(...) __VA_ARGS__
#define TESMORA_IF_System(...)

extern "C" {
#define TESMORA_SLOTS(dll, name, bytes, kind) \
    TESMORA_IF_##kind(void* tu_target_##name __asm__("tu_target_" #name) = nullptr; \
                      volatile LONG tu_count_##name __asm__("tu_count_" #name) = 0;)
TESMORA_TEST_LAYER_ALL(TESMORA_SLOTS)
#undef TESMORA_SLOTS
}

// _tu_Name (exported as Name): count the call, then jump to the system's function.
#define TESMORA_EXPORT_CODE(dll, name, bytes, kind) \
    TESMORA_IF_##kind(".globl _tu_" #name "\n"      \
                      "_tu_" #name ":\n"            \
                      "  lock incl tu_count_" #name "\n" \
                      "  jmp *tu_target_" #name "\n")
__asm__(".text\n" TESMORA_TEST_LAYER_ALL(TESMORA_EXPORT_CODE));
#undef TESMORA_EXPORT_CODE

namespace {

struct Forward {
    const char* dll;
    const char* name;
    void** target;
    volatile LONG* count;
};

#define TESMORA_FORWARD(dll, name, bytes, kind) \
    TESMORA_IF_##kind({#dll ".DLL", #name, &tu_target_##name, &tu_count_##name},)
const Forward kForwards[] = {TESMORA_TEST_LAYER_ALL(TESMORA_FORWARD)};
#undef TESMORA_FORWARD

void Bind() {
    for (const Forward& f : kForwards) {
        HMODULE module = GetModuleHandleA(f.dll);
        if (module == nullptr) module = LoadLibraryA(f.dll);
        *f.target = module != nullptr ? reinterpret_cast<void*>(GetProcAddress(module, f.name)) : nullptr;
    }
}

void WriteCounts() {
    char path[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA("TESMORA_UNICOWS_COUNTS", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    std::FILE* out = std::fopen(path, "ab");
    if (out == nullptr) return;
    for (const Forward& f : kForwards) {
        if (*f.count != 0) std::fprintf(out, "%s\t%ld\n", f.name, static_cast<long>(*f.count));
    }
    std::fclose(out);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) Bind();
    if (reason == DLL_PROCESS_DETACH) WriteCounts();
    return TRUE;
}
