// A harmless program for tests that need a process to find: it sleeps for the
// milliseconds given as its argument (30 s by default), then exits with 0.
#include <windows.h>

#include <cstdlib>

int wmain(int argc, wchar_t** argv) {
    const DWORD ms = argc > 1 ? static_cast<DWORD>(wcstoul(argv[1], nullptr, 10)) : 30000;
    Sleep(ms);
    return 0;
}
